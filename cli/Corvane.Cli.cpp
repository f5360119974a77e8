// corvane-cli: the slice exports of the desktop program for scripts and support work.
// Exit status: 0 success, 1 the export failed (no file written), 2 bad command line, 128 plus
// the signal's number when SIGINT, SIGTERM or SIGHUP stopped the run (130, 143, 129).
#include "Corvane.Connection.h"
#include "Corvane.Documents.h"
#include "Corvane.Errors.h"
#include "Corvane.ExportTask.h"
#include "Corvane.Exporter.h"
#include "Corvane.Literals.h"
#include "Corvane.ReplayTask.h"
#include "Corvane.Replayer.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"
#include "Corvane.StopSignals.h"
#include "Corvane.TypedNames.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QStringList>
#include <QTime>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

using namespace Corvane;

namespace {

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "1.0.0"
#endif

const char* const CUsage =
    "Uso:\n"
    "  corvane-cli nfse NFSID -o FILE [--mask FILE] [--config FILE] [--quiet]\n"
    "  corvane-cli nota NOTANUM -o FILE [--mask FILE] [--config FILE] [--quiet]\n"
    "  corvane-cli tables [--config FILE]\n"
    "  corvane-cli export --table TABLE --key COLUMN=VALUE [--key COLUMN=VALUE]...\n"
    "                     [--related PARENT:CHILD:FK_COLUMNS:PARENT_COLUMNS[:FILTER]]...\n"
    "                     [--no-dependencies] [--defer-cycles] [--skip-arrays]\n"
    "                     -o FILE [--mask FILE] [--config FILE] [--quiet]\n"
    "  corvane-cli replay SCRIPT --config TARGET.ini [--dry-run] [--mirror] [--skip-missing-columns]\n"
    "                     [--related PARENT:CHILD:FK_COLUMNS:PARENT_COLUMNS[:FILTER]]... [--doc NAME] [--docs FILE] [--quiet]\n"
    "  corvane-cli docs [--docs FILE]\n"
    "  corvane-cli doc NAME VALUE... -o FILE [--mask FILE] [--docs FILE] [--config FILE] [--quiet]\n"
    "  corvane-cli --help | --version\n"
    "\n"
    "  nfse     exporta a NFSe (NFSRES) de codigo interno NFSID\n"
    "  nota     exporta a nota fiscal propria (NOTAFI) de numero NOTANUM\n"
    "  tables   lista as tabelas contempladas pelos dois cenarios\n"
    "  export   exporta um registro de qualquer tabela com os relacionamentos informados; nomes\n"
    "           sem aspas valem em qualquer caixa, campos BOOLEAN sao gravados como TRUE/FALSE e\n"
    "           cadeias de dependencias nao tem limite de comprimento\n"
    "  docs     lista os documentos: os dois embutidos e os de documentos.ini\n"
    "  doc      exporta o documento NAME de chave VALUE... (na ordem da Chave do documento)\n"
    "  --docs   arquivo de documentos (padrao: documentos.ini ao lado do executavel)\n"
    "  --defer-cycles  registros em ciclos de chaves estrangeiras sao gravados antes sem uma\n"
    "                  referencia anulavel do ciclo e completados depois\n"
    "  --skip-arrays   deixa campos ARRAY de fora do script\n"
    "  --mask   mascara dados pessoais pelas regras do arquivo (secao [Mascaramento]); a chave\n"
    "           vem de Chave= ou de CORVANE_CHAVE_MASCARA, senao e sorteada a cada exportacao\n"
    "  replay   reproduz um script do Corvane no banco de destino: confere a estrutura, mostra o que\n"
    "           cada registro muda, grava tudo numa transacao e confere o que foi gravado\n"
    "  --dry-run  faz tudo isso e desfaz a transacao: a previa do que o script faria\n"
    "  --mirror   exclui, na mesma transacao, os registros das relacoes do documento que so o\n"
    "             destino tem (NFSe e nota fiscal: relacoes conhecidas; export: repita os --related)\n"
    "  --skip-missing-columns  deixa de fora os campos que o destino nao tem\n"
    "  --config arquivo de configuracao (padrao: config.ini ao lado do executavel)\n"
    "  --quiet  nao mostra o progresso\n"
    "  --verbose  num terminal, uma linha por registro em vez da linha de progresso\n";

enum TExit { exOk = 0, exFailed = 1, exUsage = 2 };

// The stop request of this process's one run, set by the signal watcher.
const TCancellationPtr GStop = std::make_shared<TCancellation>();

// The exit status of a run that a signal stopped.
int StoppedExit() { return 128 + (Cli::StopSignal() ? Cli::StopSignal() : SIGINT); }

// On a terminal the row lines of a run become one line rewritten in place: rows written,
// tables met and the time since the run began. Any other line ends it first.
class TProgressLine {
public:
  TProgressLine() { FTimer.start(); }
  bool FEnabled = false;

  // True when aMessage was a row line and is shown in place.
  bool Take(const QString& aMessage) {
    static const QString LPrefix = QStringLiteral("Registro ");
    // The walk's steps from row to row come as often as rows do: folded in as well.
    static const QString LStep = QStringLiteral("Consultando registros relacionados em ");
    if (FEnabled && aMessage.startsWith(LStep)) {
      if (!FShown || !FLastDraw.isValid() || FLastDraw.elapsed() >= 100) Draw();
      return true;
    }
    if (!FEnabled || !aMessage.startsWith(LPrefix)) return false;
    const qsizetype LColon = aMessage.indexOf(u':');
    if (LColon < 0) return false;
    ++FRows;
    // "Registro N: TABLE exportado." or, replaying, "Registro N: TABLE | KEY=... - state."
    QString LTable = aMessage.mid(LColon + 2);
    const qsizetype LBar = LTable.indexOf(QStringLiteral(" | "));
    LTable = LBar >= 0 ? LTable.left(LBar) : LTable.section(u' ', 0, 0);
    FTables.insert(LTable);
    if (FShown && FLastDraw.isValid() && FLastDraw.elapsed() < 100) return true;
    Draw();
    return true;
  }
  // Ends the line in place, leaving its last state on screen.
  void End() {
    if (!FShown) return;
    Draw();
    std::fputc('\n', stderr);
    std::fflush(stderr);
    FShown = false;
  }

private:
  void Draw() {
    const qint64 LSeconds = FTimer.elapsed() / 1000;
    const QString LLine = QString::number(FRows) + " registros gravados, " + QString::number(FTables.size()) +
                          " tabelas, " + QString::asprintf("%lld:%02lld", LSeconds / 60, LSeconds % 60) +
                          " decorridos";
    const QByteArray LBytes = ("\r\033[K" + LLine).toUtf8();
    std::fwrite(LBytes.constData(), 1, static_cast<size_t>(LBytes.size()), stderr);
    std::fflush(stderr);
    FShown = true;
    FLastDraw.start();
  }

  qint64 FRows = 0;
  QSet<QString> FTables;
  QElapsedTimer FTimer;
  QElapsedTimer FLastDraw;
  bool FShown = false;
};

TProgressLine GProgressLine;

// Whatever a line carries (keys, names, server messages), it stays one harmless line.
void Write(FILE* aStream, const QString& aLine) {
  GProgressLine.End();
  const QByteArray LBytes = (PrintableText(aLine) + u'\n').toUtf8();
  std::fwrite(LBytes.constData(), 1, static_cast<size_t>(LBytes.size()), aStream);
  std::fflush(aStream);
}

void Log(const QString& aMessage) {
  if (GProgressLine.Take(aMessage)) return;
  Write(stderr, QTime::currentTime().toString("hh:mm:ss") + " - " + aMessage);
}

class TUsageError {
public:
  explicit TUsageError(const QString& aMessage) : FMessage(aMessage) {}
  const QString& Message() const { return FMessage; }

private:
  QString FMessage;
};

struct TCommand {
  QString Name;
  QStringList Positional;
  QString Output;
  QString Config;
  bool Quiet = false;
  bool Verbose = false;
  QString Table;
  QList<QPair<QString, QString>> Keys;
  QList<TDocumentRelation> Related;
  QString Docs;  // the documents file, --docs
  QString Doc;   // the document of a replay, --doc
  QString Mask;  // the masking rules file, --mask
  bool Dependencies = true;
  bool DeferCycles = false;
  bool SkipArrays = false;
  bool DryRun = false;
  bool Mirror = false;
  bool SkipMissingColumns = false;
};

// Options may come in any order after the command; "--" ends them, so a NOTANUM that begins
// with a hyphen can still be given.
TCommand ParseArguments(const QStringList& aArguments) {
  TCommand LCommand;
  LCommand.Name = aArguments.value(0);
  bool LOptionsEnded = false;
  auto LTakeValue = [&](qsizetype& aIndex, const QString& aOption, QString aInline, bool aHasInline) {
    if (aHasInline) return aInline;
    if (aIndex + 1 >= aArguments.size()) throw TUsageError("falta o valor de " + aOption);
    return aArguments[++aIndex];
  };
  auto LSetOnce = [](QString& aTarget, const QString& aOption, const QString& aValue) {
    if (!aTarget.isNull()) throw TUsageError(aOption + " informado mais de uma vez");
    aTarget = aValue;
  };

  const bool LIsExport = LCommand.Name == "export";
  const bool LIsReplay = LCommand.Name == "replay";
  for (qsizetype LIndex = 1; LIndex < aArguments.size(); ++LIndex) {
    const QString LArgument = aArguments[LIndex];
    // No option begins with a digit: -5 is a (refused) NFSID, not an unknown option.
    const bool LNegativeNumber = LArgument.size() > 1 && LArgument[1].isDigit();
    if (LOptionsEnded || !LArgument.startsWith('-') || LArgument == "-" || LNegativeNumber) {
      LCommand.Positional << LArgument;
      continue;
    }
    if (LArgument == "--") {
      LOptionsEnded = true;
      continue;
    }
    QString LName = LArgument;
    QString LInline;
    bool LHasInline = false;
    if (LArgument.startsWith("--")) {
      const qsizetype LEqual = LArgument.indexOf('=');
      if (LEqual > 0) {
        LName = LArgument.left(LEqual);
        LInline = LArgument.mid(LEqual + 1);
        LHasInline = true;
      }
    }
    if (LName == "-o" || LName == "--output") {
      LSetOnce(LCommand.Output, "-o", LTakeValue(LIndex, LName, LInline, LHasInline));
    } else if (LName == "--config") {
      LSetOnce(LCommand.Config, "--config", LTakeValue(LIndex, LName, LInline, LHasInline));
    } else if (LName == "--doc" && LCommand.Name == "replay") {
      LSetOnce(LCommand.Doc, "--doc", LTakeValue(LIndex, LName, LInline, LHasInline));
    } else if (LName == "--docs" && (LCommand.Name == "docs" || LCommand.Name == "doc" || LCommand.Name == "replay")) {
      LSetOnce(LCommand.Docs, "--docs", LTakeValue(LIndex, LName, LInline, LHasInline));
    } else if (LName == "--quiet" && !LHasInline) {
      LCommand.Quiet = true;
    } else if (LName == "--verbose" && !LHasInline) {
      LCommand.Verbose = true;
    } else if (LIsExport && LName == "--table") {
      LSetOnce(LCommand.Table, "--table", LTakeValue(LIndex, LName, LInline, LHasInline));
    } else if (LIsExport && LName == "--key") {
      const QString LValue = LTakeValue(LIndex, LName, LInline, LHasInline);
      const qsizetype LEqual = LValue.indexOf('=');
      if (LEqual < 0) throw TUsageError("--key espera COLUMN=VALUE: " + LValue);
      LCommand.Keys.append({LValue.left(LEqual), LValue.mid(LEqual + 1)});
    } else if ((LIsExport || LIsReplay) && LName == "--related") {
      const QString LValue = LTakeValue(LIndex, LName, LInline, LHasInline);
      try {
        LCommand.Related.append(TDocumentRelation::Parse(LValue, QStringLiteral("--related")));
      } catch (const TCorvaneError& aError) {
        throw TUsageError(aError.Message());
      }
    } else if (LIsExport && LName == "--no-dependencies" && !LHasInline) {
      LCommand.Dependencies = false;
    } else if (LName == "--mask" && (LIsExport || LCommand.Name == "nfse" || LCommand.Name == "nota" ||
                                     LCommand.Name == "doc")) {
      LSetOnce(LCommand.Mask, "--mask", LTakeValue(LIndex, LName, LInline, LHasInline));
      if (LCommand.Mask.isEmpty()) throw TUsageError("--mask sem arquivo");
    } else if (LIsExport && LName == "--defer-cycles" && !LHasInline) {
      LCommand.DeferCycles = true;
    } else if (LIsExport && LName == "--skip-arrays" && !LHasInline) {
      LCommand.SkipArrays = true;
    } else if (LIsReplay && LName == "--dry-run" && !LHasInline) {
      LCommand.DryRun = true;
    } else if (LIsReplay && LName == "--mirror" && !LHasInline) {
      LCommand.Mirror = true;
    } else if (LIsReplay && LName == "--skip-missing-columns" && !LHasInline) {
      LCommand.SkipMissingColumns = true;
    } else {
      throw TUsageError("opcao desconhecida: " + LArgument);
    }
  }
  return LCommand;
}

void RequirePositional(const TCommand& aCommand, qsizetype aCount, const QString& aWhat) {
  if (aCommand.Positional.size() < aCount) throw TUsageError("informe " + aWhat);
  if (aCommand.Positional.size() > aCount) throw TUsageError("argumento inesperado: " + aCommand.Positional.value(aCount));
}

// The NFSID check of the main window: a whole signed 64-bit number above zero.
std::optional<qint64> ParseNFSID(const QString& aText) {
  bool LOk = false;
  const qint64 LValue = TrimBlanks(aText).toLongLong(&LOk, 10);
  if (!LOk || LValue <= 0) return std::nullopt;
  return LValue;
}

// The exporter walks a relation only from rows of its PARENT table reached as root or child
// rows: a relation that no chain from the root table reaches would be left out silently.
void CheckRelationsReachable(const TCommand& aCommand, const QString& aRoot) {
  if (const TDocumentRelation* LUnreached = UnreachedRelation(aRoot, aCommand.Related))
    throw TUsageError("--related " + LUnreached->Text + " nunca seria percorrido: PARENT " + LUnreached->Parent +
                      " nao e a tabela " + (aCommand.Name == "replay" ? QStringLiteral("do registro principal do script")
                                                                   : QStringLiteral("de --table")) +
                      " nem o CHILD de outro --related (maiusculas e minusculas contam)");
}

// The typed names of an export as the database has them; a key column the table does not have
// is named before any row is read.
TCommand ResolveNames(TDbConnection& aConnection, const TCommand& aCommand) {
  TCommand LCommand = aCommand;
  TTypedNames LNames(aConnection);
  LCommand.Table = LNames.Table(aCommand.Table);
  const bool LTableFound = !LNames.Columns(LCommand.Table).isEmpty();
  for (auto& LKey : LCommand.Keys) {
    LKey.first = LNames.Column(LCommand.Table, LKey.first);
    if (LTableFound && !LNames.Columns(LCommand.Table).contains(LKey.first))
      throw TCorvaneError("Campo " + LKey.first + " nao existe na tabela " + LCommand.Table + ".");
  }
  for (TDocumentRelation& LRelated : LCommand.Related) {
    LRelated.Parent = LNames.Table(LRelated.Parent);
    LRelated.Child = LNames.Table(LRelated.Child);
    LRelated.ForeignKeys = LNames.ColumnList(LRelated.Child, LRelated.ForeignKeys);
    LRelated.ParentKeys = LNames.ColumnList(LRelated.Parent, LRelated.ParentKeys);
  }
  return LCommand;
}

// One export as the background task runs it: a connection of its own from the parameter list,
// no login dialog, silent, read-only snapshot transactions; the connection is gone before the
// outcome is reported.
// The failures that an option of the export command gets past, with the line that says so.
QString OptionHint(const TCommand& aCommand, const QString& aError) {
  if (aCommand.Name != "export") return {};
  if (!aCommand.DeferCycles && aError.startsWith("Dependencia ciclica encontrada em "))
    return QStringLiteral("Dica: --defer-cycles grava os registros do ciclo e os completa depois.");
  if (!aCommand.SkipArrays && aError.startsWith("Campo ARRAY ainda nao suportado: "))
    return QStringLiteral("Dica: --skip-arrays deixa os campos ARRAY de fora do script.");
  return {};
}

// Runs aWork; the message of the error that ends it, or nothing when it succeeds.
QString FailureOf(const std::function<void()>& aWork) {
  try {
    aWork();
    return {};
  } catch (const TCorvaneError& aError) {
    return aError.Message();
  } catch (const std::exception& aError) {
    const QString LMessage = QString::fromUtf8(aError.what());
    return LMessage.isEmpty() ? QStringLiteral("Falha inesperada.") : LMessage;
  }
}

int RunExport(const TCommand& aCommand, const TSliceExporterFactory& aFactory) {
  const TSliceProgress LProgress = aCommand.Quiet ? TSliceProgress() : TSliceProgress(&Log);
  auto LReport = [&](const QString& aMessage) {
    if (LProgress) LProgress(aMessage);
  };
  const QString LFileName = QFileInfo(aCommand.Output).absoluteFilePath();
  const QString LError = FailureOf([&] {
    // The rules are read before connecting: a bad file fails at once.
    const TMaskRulesPtr LMask = aCommand.Mask.isNull() ? TMaskRulesPtr() : TMaskRules::Load(aCommand.Mask);
    const QString LParameters = TSliceConnection::Instance().ExportParameters();
    LReport("Conectando ao banco de origem...");
    ISliceExporterPtr LExporter;
    {
      TDbConnection LConnection;
      LConnection.SetCancellation(GStop);
      LConnection.SetLoginPrompt(false);
      LConnection.SetParams(LParameters);
      LConnection.SetSilent(true);
      LConnection.SetReadOnly(true);
      LConnection.SetIsolation(TIsolation::tiSnapshot);
      LConnection.Open();
      GStop->Check(CExportStopped);
      LReport("Conexao estabelecida. Gerando script...");
      LExporter = aFactory(&LConnection);
      if (LMask) LExporter->Masking(LMask);
      if (LProgress) LExporter->Progress(LProgress);
      LExporter->Cancellation(GStop);
      LExporter->SaveToFile(LFileName);
    }
    LExporter.reset();
  });
  TSliceConnection::Release();
  if (!LError.isEmpty() && GStop->Requested()) {
    Write(stderr, CExportStopped + " Nenhum arquivo foi gravado.");
    return StoppedExit();
  }
  if (!LError.isEmpty()) {
    Write(stderr, "ERRO: " + LError);
    const QString LHint = OptionHint(aCommand, LError);
    if (!LHint.isEmpty()) Write(stderr, LHint);
    return exFailed;
  }
  Write(stdout, "Script gerado em: " + LFileName);
  return exOk;
}

int ListTables() {
  QStringList LTables;
  const QString LError = FailureOf([&] {
    TDbConnection& LConnection = TSliceConnection::Instance().Connection();
    TNFSeSlice::Configure(&LConnection)->ListTables(&LTables);
    TNotaFiscalSlice::Configure(&LConnection)->ListTables(&LTables);
  });
  TSliceConnection::Release();
  if (!LError.isEmpty()) {
    Write(stderr, "ERRO: " + LError);
    return exFailed;
  }
  for (const QString& LTable : LTables) Write(stdout, LTable);
  Write(stdout, "Total: " + QString::number(LTables.size()));
  return exOk;
}

// The documents: the built-in ones and those of --docs FILE (which must exist) or of
// documentos.ini beside the program (which may be missing). A bad file is reported; nothing.
std::optional<TDocumentRegistry> LoadDocuments(const TCommand& aCommand) {
  try {
    if (!aCommand.Docs.isNull() && !QFileInfo::exists(aCommand.Docs))
      throw TCorvaneError("Arquivo de documentos nao encontrado: " + aCommand.Docs);
    return TDocumentRegistry::Load(aCommand.Docs.isNull() ? TDocumentRegistry::DefaultFile() : aCommand.Docs);
  } catch (const TCorvaneError& aError) {
    Write(stderr, "ERRO: " + aError.Message());
    return std::nullopt;
  }
}

int ListDocuments(const TDocumentRegistry& aRegistry) {
  for (const TDocument& LDocument : aRegistry.Documents()) {
    Write(stdout, LDocument.Name + (LDocument.BuiltIn ? QStringLiteral(" (embutido)") : QString()) + ": " +
                      LDocument.Title);
    Write(stdout, "  tabela " + LDocument.Table + ", chave " + LDocument.Keys.join(QLatin1String(", ")));
    Write(stdout, "  tabelas: " + LDocument.Tables().join(QLatin1String(", ")));
  }
  Write(stdout, "Total: " + QString::number(aRegistry.Documents().size()));
  return exOk;
}

// One document of the registry, its key values given in the order of its Chave and read as
// the columns' types, as --key reads them.
int ExportDocument(const TCommand& aCommand, const TDocumentRegistry& aRegistry) {
  if (aCommand.Positional.isEmpty()) throw TUsageError("informe o documento e os valores da chave");
  const TDocument* LFound = aRegistry.Find(aCommand.Positional.first());
  if (!LFound) {
    Write(stderr, "ERRO: Documento desconhecido: " + aCommand.Positional.first() + " (veja corvane-cli docs)");
    return exUsage;
  }
  const TDocument LDocument = *LFound;
  const QStringList LValues = aCommand.Positional.mid(1);
  if (LValues.size() != LDocument.Keys.size())
    throw TUsageError("o documento " + LDocument.Name + " espera " + QString::number(LDocument.Keys.size()) +
                      " valor(es) de chave: " + LDocument.Keys.join(QLatin1String(", ")));
  if (aCommand.Output.isEmpty()) throw TUsageError("informe o arquivo de saida com -o FILE");
  QList<QPair<QString, QString>> LKeys;
  for (qsizetype I = 0; I < LValues.size(); ++I) LKeys.append({LDocument.Keys[I], LValues[I]});
  if (!aCommand.Quiet) Log("Iniciando " + LDocument.Name + " " + LValues.join(QLatin1Char(' ')) + ". Aguarde...");
  return RunExport(aCommand, [LDocument, LKeys](TDbConnection* aConnection) {
    LDocument.CheckKeyIsUnique(*aConnection);
    ISliceExporterPtr LExporter = LDocument.Configure(aConnection);
    const QList<TValue> LTyped = KeyValuesOf(*aConnection, LDocument.Table, LKeys);
    for (qsizetype I = 0; I < LKeys.size(); ++I) LExporter->Key(LKeys[I].first, LTyped[I]);
    return LExporter;
  });
}

// The replay of a script on the target of the settings: the script is checked before any
// connection, the connection speaks UTF8 (the script's encoding), and the outcome ends with
// the one summary line.
int Replay(const TCommand& aCommand) {
  const QString LFileName = aCommand.Positional.first();
  std::optional<TSliceScript> LScript;
  try {
    LScript = TSliceScript::ReadFile(LFileName);
  } catch (const TCorvaneError& aError) {
    Write(stderr, "ERRO: " + aError.Message());
    return exUsage;
  }
  // The document's relations: those given, else those of the document named by --doc, else
  // those of the one document whose root table is the script's root record's.
  const QString LRoot = LScript->RootTable();
  QList<TReplayRelation> LRelations;
  for (const TDocumentRelation& LRelated : aCommand.Related)
    LRelations.append(TReplayRelation{LRelated.Parent, LRelated.Child, LRelated.ForeignKeys, LRelated.ParentKeys,
                                      LRelated.Filter});
  if (!aCommand.Doc.isNull() && !aCommand.Related.isEmpty()) throw TUsageError("use --doc ou --related, nao ambos");
  if (LRelations.isEmpty()) {
    const std::optional<TDocumentRegistry> LRegistry = LoadDocuments(aCommand);
    if (!LRegistry) return exUsage;
    if (!aCommand.Doc.isNull()) {
      const TDocument* LDocument = LRegistry->Find(aCommand.Doc);
      if (!LDocument) {
        Write(stderr, "ERRO: Documento desconhecido: " + aCommand.Doc + " (veja corvane-cli docs)");
        return exUsage;
      }
      if (LDocument->Table != LRoot) {
        Write(stderr, "ERRO: O script e de " + LRoot + ", e o documento " + LDocument->Name + " e de " +
                          LDocument->Table + ".");
        return exUsage;
      }
      LRelations = LDocument->ReplayRelations();
    } else {
      const QList<const TDocument*> LDocuments = LRegistry->ByRoot(LRoot);
      if (LDocuments.size() == 1) {
        LRelations = LDocuments.first()->ReplayRelations();
      } else if (LDocuments.size() > 1 && aCommand.Mirror) {
        QStringList LNames;
        for (const TDocument* LDocument : LDocuments) LNames << LDocument->Name;
        Write(stderr, "ERRO: Varios documentos tem a tabela " + LRoot + " (" + LNames.join(", ") +
                          "): informe qual com --doc para usar --mirror.");
        return exUsage;
      }
    }
  } else {
    try {
      CheckRelationsReachable(aCommand, LRoot);
    } catch (const TUsageError& aError) {
      Write(stderr, "corvane-cli: " + aError.Message());
      return exUsage;
    }
  }
  if (LRelations.isEmpty() && aCommand.Mirror) {
    Write(stderr, "ERRO: as relacoes do documento de " + LRoot +
                      " nao sao conhecidas: informe-as com --related para usar --mirror.");
    return exUsage;
  }
  const TSliceProgress LProgress = aCommand.Quiet ? TSliceProgress() : TSliceProgress(&Log);
  TReplayResult LResult;
  const QString LError = FailureOf([&] {
    QString LParameters = TSliceConnection::Instance().ExportParameters();
    TSliceConnection::Release();
    if (LProgress) LProgress("Conectando ao banco de destino...");
    TDbConnection LConnection;
    LConnection.SetCancellation(GStop);
    TSliceReplayer::OpenTarget(LConnection, LParameters);
    TSliceReplayer LReplayer(LConnection);
    LReplayer.DryRun(aCommand.DryRun).Mirror(aCommand.Mirror).SkipMissingColumns(aCommand.SkipMissingColumns);
    LReplayer.Related(LRelations);
    LReplayer.Cancellation(GStop);
    if (LProgress) LReplayer.Progress(LProgress);
    LResult = LReplayer.Run(*LScript);
  });
  TSliceConnection::Release();
  if (!LError.isEmpty() && GStop->Requested() && !GStop->Committing()) {
    Write(stderr, CReplayStopped);
    return StoppedExit();
  }
  if (!LError.isEmpty()) {
    Write(stderr, "ERRO: " + LError);
    return exFailed;
  }
  for (const QString& LWarning : ReplayWarnings(LResult, !LRelations.isEmpty(), LRoot)) Write(stderr, LWarning);
  const QString LTargetOnly = aCommand.Mirror ? QStringLiteral(" excluidos") : QStringLiteral(" somente no destino");
  // --quiet hides the progress, never what the replay changes.
  for (const TReplayTable& LTable : std::as_const(LResult.Tables)) {
    Write(stdout, LTable.Table + ": " + QString::number(LTable.Inserted) + " inseridos, " +
                      QString::number(LTable.Changed) + " alterados, " + QString::number(LTable.Unchanged) +
                      " inalterados" + (LTable.TargetOnly ? ", " + QString::number(LTable.TargetOnly) + LTargetOnly : QString()));
    for (const TReplayChange& LChange : LTable.ChangedRows) {
      Write(stdout, "  alterado: Registro " + QString::number(LChange.Record) + " (" + LChange.Description + ")");
      for (const TReplayColumnChange& LValue : LChange.Values)
        Write(stdout, "    " + LValue.Column + ": " + LValue.Old + " -> " + LValue.New);
    }
  }
  for (const TReplayTargetRow& LRow : std::as_const(LResult.TargetOnly))
    Write(stdout, (aCommand.Mirror ? QStringLiteral("  excluido: ") : QStringLiteral("  somente no destino: ")) +
                      LRow.Description);
  if (aCommand.DryRun) {
    if (LResult.Sequences.isEmpty()) {
      Write(stdout, QStringLiteral("Simulacao (--dry-run): nada foi gravado no destino."));
    } else {
      QStringList LMoved;
      for (const TReplaySequence& LSequence : std::as_const(LResult.Sequences))
        LMoved << LSequence.Name + " " + QString::number(LSequence.Before) + " -> " + QString::number(LSequence.After);
      Write(stdout, "Simulacao (--dry-run): nenhum registro foi gravado no destino, mas sequencias movidas durante a "
                    "simulacao nao voltam com o rollback: " + LMoved.join(", ") + ".");
    }
  }
  // A stop that came once the commit had started let it finish: say so, plainly.
  if (LResult.Committed && GStop->Requested())
    Write(stderr, QStringLiteral("Interrupcao recebida durante a confirmacao: a transacao foi confirmada e todos os "
                                 "registros foram gravados no destino."));
  Write(stdout, ReplaySummary(LResult, aCommand.Mirror));
  return exOk;
}

int Run(const QStringList& aArguments) {
  if (aArguments.isEmpty()) throw TUsageError("informe um comando");
  const QString LName = aArguments.first();
  if (LName == "--help" || LName == "-h" || LName == "help") {
    std::fputs(CUsage, stdout);
    return exOk;
  }
  if (LName == "--version") {
    Write(stdout, QStringLiteral("corvane-cli " CORVANE_VERSION));
    return exOk;
  }
  if (LName != "nfse" && LName != "nota" && LName != "tables" && LName != "export" && LName != "replay" &&
      LName != "docs" && LName != "doc")
    throw TUsageError("comando desconhecido: " + LName);

  const TCommand LCommand = ParseArguments(aArguments);
  // A pipe or a file gets every line; a person at a terminal gets the line in place.
  GProgressLine.FEnabled = !LCommand.Verbose && isatty(fileno(stderr));
  if (!LCommand.Config.isNull()) {
    if (LCommand.Config.isEmpty()) throw TUsageError("--config sem arquivo");
    TSliceConnection::SetConfigFile(LCommand.Config);
  }

  if (LName == "tables") {
    RequirePositional(LCommand, 0, "");
    if (!LCommand.Output.isNull() || LCommand.Quiet) throw TUsageError("tables aceita apenas --config");
    return ListTables();
  }
  if (LName == "docs" || LName == "doc") {
    const std::optional<TDocumentRegistry> LRegistry = LoadDocuments(LCommand);
    if (!LRegistry) return exUsage;
    if (LName == "docs") {
      RequirePositional(LCommand, 0, "");
      if (!LCommand.Output.isNull() || LCommand.Quiet) throw TUsageError("docs aceita apenas --docs e --config");
      return ListDocuments(*LRegistry);
    }
    return ExportDocument(LCommand, *LRegistry);
  }
  if (LName == "replay") {
    RequirePositional(LCommand, 1, "o script");
    if (!LCommand.Output.isNull()) throw TUsageError("replay nao grava arquivo: -o nao se aplica");
    if (LCommand.Config.isNull()) throw TUsageError("informe o destino com --config TARGET.ini");
    return Replay(LCommand);
  }
  if (LCommand.Output.isEmpty()) throw TUsageError("informe o arquivo de saida com -o FILE");

  if (LName == "nfse") {
    RequirePositional(LCommand, 1, "o NFSID");
    const std::optional<qint64> LNFSID = ParseNFSID(LCommand.Positional.first());
    if (!LNFSID) {
      Write(stderr, QStringLiteral("ERRO: Informe um NFSID válido."));
      return exUsage;
    }
    if (!LCommand.Quiet) Log("Iniciando NFSe " + QString::number(*LNFSID) + ". Aguarde...");
    const qint64 LValue = *LNFSID;
    return RunExport(LCommand, [LValue](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, LValue); });
  }
  if (LName == "nota") {
    RequirePositional(LCommand, 1, "o NOTANUM");
    const QString LNotaNum = TrimBlanks(LCommand.Positional.first());
    if (LNotaNum.isEmpty()) {
      Write(stderr, QStringLiteral("ERRO: Informe o NOTANUM."));
      return exUsage;
    }
    if (!LCommand.Quiet) Log("Iniciando nota fiscal " + LNotaNum + ". Aguarde...");
    return RunExport(LCommand,
                     [LNotaNum](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, LNotaNum); });
  }

  // export
  RequirePositional(LCommand, 0, "");
  if (LCommand.Table.isEmpty()) throw TUsageError("informe a tabela com --table");
  if (LCommand.Keys.isEmpty()) throw TUsageError("informe ao menos um --key COLUMN=VALUE");
  CheckRelationsReachable(LCommand, LCommand.Table.trimmed());
  if (!LCommand.Quiet) Log("Iniciando " + LCommand.Table + ". Aguarde...");
  return RunExport(LCommand, [aTyped = LCommand](TDbConnection* aConnection) {
    const TCommand LCommand = ResolveNames(*aConnection, aTyped);
    ISliceExporterPtr LExporter = TSliceExporter::New(aConnection);
    LExporter->Table(LCommand.Table);
    const QList<TValue> LValues = KeyValuesOf(*aConnection, LCommand.Table.trimmed(), LCommand.Keys);
    for (qsizetype I = 0; I < LCommand.Keys.size(); ++I) LExporter->Key(LCommand.Keys[I].first, LValues[I]);
    for (const TDocumentRelation& LRelated : LCommand.Related)
      LExporter->IncludeRelated(LRelated.Parent, LRelated.Child, LRelated.ForeignKeys, LRelated.ParentKeys,
                                LRelated.Filter);
    LExporter->Dependencies(LCommand.Dependencies);
    LExporter->DeferCycles(LCommand.DeferCycles);
    LExporter->SkipArrays(LCommand.SkipArrays);
    // Beyond the engine's defaults: every Firebird 3 value and chains of any length.
    LExporter->Booleans(true);
    LExporter->UnlimitedChains(true);
    return LExporter;
  });
}

}  // namespace

int main(int argc, char* argv[]) {
  Cli::BlockStopSignals();
  Cli::WatchStopSignals(GStop);
  QCoreApplication LApplication(argc, argv);
  QStringList LArguments = LApplication.arguments();
  LArguments.removeFirst();
  try {
    return Run(LArguments);
  } catch (const TUsageError& aError) {
    Write(stderr, "corvane-cli: " + aError.Message());
    std::fputs(CUsage, stderr);
    return exUsage;
  }
}
