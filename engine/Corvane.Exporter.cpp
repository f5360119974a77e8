#include "Corvane.Exporter.h"

#include "Corvane.Catalogue.h"
#include "Corvane.Errors.h"
#include "Corvane.Literals.h"

#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

namespace Corvane {

namespace {

constexpr int CMaxChain = 128;             // rows in progress in one parent chain
constexpr qsizetype CMaxStatement = 65000;  // UTF-8 bytes of one statement
const QString CRootOrigin = QStringLiteral("Registro principal selecionado para exportacao.");

qsizetype Utf8Length(const QString& aText) {
  qsizetype LLength = 0;
  const QChar* LChar = aText.constData();
  const QChar* LEnd = LChar + aText.size();
  for (; LChar < LEnd; ++LChar) {
    const char16_t LUnit = LChar->unicode();
    if (LUnit < 0x80)
      LLength += 1;
    else if (LUnit < 0x800)
      LLength += 2;
    else if (QChar::isHighSurrogate(LUnit) && LChar + 1 < LEnd && LChar[1].isLowSurrogate()) {
      LLength += 4;
      ++LChar;
    } else
      LLength += 3;
  }
  return LLength;
}

// Restores the connection's transaction options, and rolls back a transaction the run
// started, whatever way the run ends. The export never commits.
class TRunGuard {
public:
  TRunGuard(TDbConnection& aConnection, TSliceCatalogue& aCatalogue)
      : FConnection(aConnection), FCatalogue(aCatalogue),
        FReadOnly(aConnection.ReadOnly()), FIsolation(aConnection.Isolation()) {}
  ~TRunGuard() {
    FCatalogue.EndRun();
    if (FStarted && FConnection.InTransaction()) {
      try {
        FConnection.Rollback();
      } catch (...) {
        // The run's own failure is the one to report.
      }
    }
    FConnection.SetReadOnly(FReadOnly);
    FConnection.SetIsolation(FIsolation);
  }
  void Started() { FStarted = true; }
  // The normal end: a failed rollback is reported like any other failure.
  void Finish() {
    FCatalogue.EndRun();
    FConnection.Rollback();
  }

private:
  TDbConnection& FConnection;
  TSliceCatalogue& FCatalogue;
  bool FReadOnly;
  TIsolation FIsolation;
  bool FStarted = false;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Configuration

TSliceExporter::TSliceExporter(TDbConnection* aConnection) : FConnection(aConnection) {}

TSliceExporter::~TSliceExporter() = default;

std::shared_ptr<TSliceExporter> TSliceExporter::Create(TDbConnection* aConnection) {
  if (!aConnection) throw TCorvaneError("Informe uma conexao para o exportador.");
  QString LCharacterSet = aConnection->Param(QStringLiteral("CharacterSet")).trimmed();
  for (QChar& LChar : LCharacterSet)
    if (LChar >= QLatin1Char('a') && LChar <= QLatin1Char('z')) LChar = QChar(LChar.unicode() - 32);
  auto LLiterals = std::make_unique<TSqlLiterals>(LCharacterSet);  // refuses other sets
  std::shared_ptr<TSliceExporter> LExporter(new TSliceExporter(aConnection));
  LExporter->FCharacterSet = LCharacterSet;
  LExporter->FLiterals = std::move(LLiterals);
  LExporter->FCatalogue = std::make_unique<TSliceCatalogue>(*aConnection);
  return LExporter;
}

ISliceExporterPtr TSliceExporter::New(TDbConnection* aConnection) { return Create(aConnection); }

ISliceExporterPtr TSliceExporter::Table(const QString& aTable) {
  FTable = aTable.trimmed();
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Key(const QString& aField, const TValue& aValue) {
  if (aField.trimmed().isEmpty() || aValue.IsNull() || aValue.IsUnassigned())
    throw TCorvaneError("Informe campo e valor da chave.");
  if (FKeys.contains(aField)) throw TCorvaneError("Campo de chave repetido: " + aField);
  FKeys.append(aField);
  FValues.append(aValue);
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::IncludeChildren(const QString& aTable, const QString& aForeignKey,
                                                  const QString& aParentKey) {
  return IncludeRelated(FTable, aTable, aForeignKey, aParentKey, QString());
}

ISliceExporterPtr TSliceExporter::IncludeRelated(const QString& aParentTable, const QString& aTable,
                                                 const QString& aForeignKeys, const QString& aParentKeys,
                                                 const QString& aFilter) {
  FChildren.append(TChild{aParentTable, aTable, aForeignKeys, aParentKeys, aFilter});
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Dependencies(bool aEnabled) {
  FDependencies = aEnabled;
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Progress(const TSliceProgress& aCallback) {
  FProgress = aCallback;
  return shared_from_this();
}

void TSliceExporter::ListTables(QStringList* aTables) {
  if (!aTables) throw TArgumentError("Informe a lista de tabelas.");
  QStringList LSorted;
  const auto LAdd = [&LSorted](const QString& aName) {
    const auto LLess = [](const QString& aLeft, const QString& aRight) {
      return QString::compare(aLeft, aRight, Qt::CaseInsensitive) < 0;
    };
    const auto LAt = std::lower_bound(LSorted.begin(), LSorted.end(), aName, LLess);
    if (LAt != LSorted.end() && QString::compare(*LAt, aName, Qt::CaseInsensitive) == 0) return;
    LSorted.insert(LAt, aName);
  };
  for (const QString& LName : std::as_const(*aTables)) LAdd(LName);
  if (!FTable.isEmpty()) LAdd(FTable);
  for (const TChild& LChild : std::as_const(FChildren)) {
    LAdd(LChild.ParentTable);
    LAdd(LChild.TableName);
  }
  *aTables = LSorted;
}

void TSliceExporter::Report(const QString& aMessage) {
  if (FProgress) FProgress(aMessage);
}

// A relation walked from its own child rows would never end, so a configuration whose
// relations lead from a table back to itself is refused before anything is read.
void TSliceExporter::CheckRelationTree() const {
  enum TMark { mNew, mOpen, mDone };
  QHash<QString, TMark> LMarks;
  std::function<void(const QString&)> LWalk = [&](const QString& aTable) {
    LMarks[aTable] = mOpen;
    for (const TChild& LChild : FChildren) {
      if (LChild.ParentTable != aTable) continue;
      const TMark LMark = LMarks.value(LChild.TableName, mNew);
      if (LMark == mOpen)
        throw TCorvaneError("Relacionamentos configurados formam um ciclo na tabela " + LChild.TableName +
                            ". Exportacao cancelada.");
      if (LMark == mNew) LWalk(LChild.TableName);
    }
    LMarks[aTable] = mDone;
  };
  for (const TChild& LChild : FChildren)
    if (LMarks.value(LChild.ParentTable, mNew) == mNew) LWalk(LChild.ParentTable);
}

// ---------------------------------------------------------------------------------------
// One run: header, root rows with everything they lead to, footer.

QString TSliceExporter::Generate() {
  if (FTable.isEmpty() || FKeys.isEmpty()) throw TCorvaneError("Informe tabela e chave antes de gerar o script.");
  if (FConnection->InTransaction())
    throw TCorvaneError("Utilize uma conexao sem transacao ativa para exportar.");
  CheckRelationTree();

  FScript.clear();
  FVisited.clear();
  FVisiting.clear();
  FCount = 0;
  Report("Consultando " + FTable + " e suas dependencias...");

  QString LCondition;
  for (qsizetype I = 0; I < FKeys.size(); ++I) {
    if (I > 0) LCondition += QLatin1String(" AND ");
    LCondition += TSqlLiterals::QuoteName(FKeys[I]) + QLatin1String(" = :P") + QString::number(I);
  }

  TRunGuard LGuard(*FConnection, *FCatalogue);
  FConnection->SetReadOnly(true);
  FConnection->SetIsolation(TIsolation::tiSnapshot);
  FCatalogue->BeginRun(FRunCache);
  FConnection->StartTransaction();
  LGuard.Started();

  FScript << QStringLiteral("-- Corvane: executar com isql -b -ch UTF8 -i arquivo.sql no destino.")
          << QStringLiteral("-- UPDATE OR INSERT preserva registros extras existentes no destino.")
          << QStringLiteral(
                 "-- Triggers do destino permanecem ativos. Conferir versao do schema antes de importar.")
          << QStringLiteral("SET SQL DIALECT 3;") << QStringLiteral("SET AUTODDL OFF;");
  {
    TDbQuery LRoot(*FConnection);
    LRoot.SetSQL("SELECT " + FCatalogue->Columns(FTable) + " FROM " + TSqlLiterals::QuoteName(FTable) +
                 " WHERE " + LCondition);
    for (qsizetype I = 0; I < FValues.size(); ++I) LRoot.SetParam("P" + QString::number(I), FValues[I]);
    LRoot.Open();
    if (LRoot.Eof()) throw TCorvaneError("Registro nao encontrado em " + FTable + ".");
    for (; !LRoot.Eof(); LRoot.Next()) {
      Visit(FTable, LRoot, CRootOrigin);
      VisitChildren(FTable, LRoot);
    }
  }
  FScript << "-- Registros exportados: " + QString::number(FCount) << QStringLiteral("COMMIT;");
  Report("Total de registros exportados: " + QString::number(FCount));
  LGuard.Finish();

  QString LText;
  qsizetype LSize = 0;
  for (const QString& LLine : std::as_const(FScript)) LSize += LLine.size() + 2;
  LText.reserve(LSize);
  for (const QString& LLine : std::as_const(FScript)) {
    LText += LLine;
    LText += QLatin1String("\r\n");
  }
  FScript.clear();  // the joined text replaces the lines; nothing else reads them
  return LText;
}

// ---------------------------------------------------------------------------------------
// Rows: a row is written once, after the rows it references.

QString CommentText(const QString& aText) {
  QString LResult = aText;
  LResult.replace(QLatin1Char('\r'), QLatin1String("\\r"));
  LResult.replace(QLatin1Char('\n'), QLatin1String("\\n"));
  LResult.replace(QLatin1Char('\t'), QLatin1String("\\t"));
  return LResult;
}

QString TSliceExporter::RowDescription(const QString& aTable, const TDbQuery& aRow) {
  QString LResult = CommentText(aTable) + QLatin1String(" | ");
  const QStringList LKey = FCatalogue->PrimaryKey(aTable);
  for (qsizetype I = 0; I < LKey.size(); ++I) {
    if (I > 0) LResult += QLatin1String(", ");
    LResult += CommentText(LKey[I]) + QLatin1Char('=') + CommentText(aRow.FieldByName(LKey[I]).TextForm());
  }
  return LResult;
}

void TSliceExporter::Visit(const QString& aTable, const TDbQuery& aRow, const QString& aOrigin) {
  const QStringList LKey = FCatalogue->PrimaryKey(aTable);

  // The identity: length-prefixed table name and key literals, unambiguous whatever they hold.
  QString LIdentity = QString::number(aTable.size()) + QLatin1Char(':') + aTable;
  QString LMatch;
  for (qsizetype I = 0; I < LKey.size(); ++I) {
    const QString LLiteral = FLiterals->Literal(aRow.FieldByName(LKey[I]).Value(), LKey[I]);
    LIdentity += QLatin1Char('|') + QString::number(LLiteral.size()) + QLatin1Char(':') + LLiteral;
    if (I > 0) LMatch += QLatin1String(", ");
    LMatch += TSqlLiterals::QuoteName(LKey[I]);
  }
  if (FVisited.contains(LIdentity)) return;
  if (FVisiting.contains(LIdentity))
    throw TCorvaneError("Dependencia ciclica encontrada em " + aTable + ". Exportacao cancelada.");
  if (FVisiting.size() >= CMaxChain) throw TCorvaneError("Limite de profundidade das dependencias atingido.");

  FVisiting.insert(LIdentity);
  struct TLeave {
    QSet<QString>& FSet;
    const QString& FIdentity;
    ~TLeave() { FSet.remove(FIdentity); }
  } LLeave{FVisiting, LIdentity};

  if (FDependencies) VisitParents(aTable, aRow);

  QString LStatement = QLatin1String("UPDATE OR INSERT INTO ") + TSqlLiterals::QuoteName(aTable) + QLatin1String(" (");
  QString LValues;
  for (int I = 0; I < aRow.FieldCount(); ++I) {
    const TDbField& LField = aRow.Field(I);
    if (I > 0) {
      LStatement += QLatin1String(", ");
      LValues += QLatin1String(", ");
    }
    LStatement += TSqlLiterals::QuoteName(LField.Name());
    FLiterals->AppendLiteral(LValues, LField.Value(), LField.Name());
  }
  LStatement += QLatin1String(") VALUES (") + LValues + QLatin1String(") MATCHING (") + LMatch + QLatin1String(");");
  if (Utf8Length(LStatement) > CMaxStatement)
    throw TCorvaneError("Registro de " + aTable + " excede o limite SQL de 65 KB desta versao. " +
                        "Um pacote com importacao parametrizada sera necessario para BLOBs grandes.");

  FScript << QLatin1String("-- ") + RowDescription(aTable, aRow) << QLatin1String("-- ") + CommentText(aOrigin)
          << LStatement;
  FVisited.insert(LIdentity);
  ++FCount;
  Report("Registro " + QString::number(FCount) + ": " + aTable + " exportado.");
}

// ---------------------------------------------------------------------------------------
// The walk: parents through the catalogue's foreign keys, children through the relations.

void TSliceExporter::VisitParents(const QString& aTable, const TDbQuery& aRow) {
  const QList<TForeignKey> LForeignKeys = FCatalogue->ForeignKeys(aTable);
  for (const TForeignKey& LForeignKey : LForeignKeys) {
    QString LCondition;
    QString LLink;
    QList<TValue> LValues;
    bool LHasNull = false;
    for (const TForeignKeyLink& LPair : LForeignKey.Links) {
      if (!LValues.isEmpty()) {
        LLink += QLatin1String(", ");
        LCondition += QLatin1String(" AND ");
      }
      LLink += LPair.ChildField + QLatin1String(" -> ") + LForeignKey.ParentTable + QLatin1Char('.') + LPair.ParentField;
      const TDbField& LField = aRow.FieldByName(LPair.ChildField);
      LHasNull = LHasNull || LField.IsNull();
      LCondition += TSqlLiterals::QuoteName(LPair.ParentField) + QLatin1String(" = :P") + QString::number(LValues.size());
      LValues.append(LField.Value());
    }
    if (LHasNull) continue;  // a key with a null column references nothing

    TSliceCatalogue::TLease LParent =
        FCatalogue->Query("SELECT " + FCatalogue->Columns(LForeignKey.ParentTable) + " FROM " +
                          TSqlLiterals::QuoteName(LForeignKey.ParentTable) + " WHERE " + LCondition);
    for (qsizetype I = 0; I < LValues.size(); ++I) LParent->SetParam("P" + QString::number(I), LValues[I]);
    LParent->Open();
    if (LParent->Eof()) throw TCorvaneError("Dependencia nao encontrada: " + LForeignKey.Name);
    Visit(LForeignKey.ParentTable, *LParent,
          "Referenciado por " + RowDescription(aTable, aRow) + "; vinculo: " + LLink + "; FK: " + LForeignKey.Name);
  }
}

void TSliceExporter::VisitChildren(const QString& aTable, const TDbQuery& aRow) {
  for (const TChild& LChild : std::as_const(FChildren)) {
    if (LChild.ParentTable != aTable) continue;
    const QStringList LForeignKey = ParseNameList(LChild.ForeignKey);
    const QStringList LParentKey = ParseNameList(LChild.ParentKey);
    if (LForeignKey.isEmpty() || LForeignKey.size() != LParentKey.size())
      throw TCorvaneError("Campos de relacionamento invalidos: " + LChild.TableName);
    QString LCondition;
    for (qsizetype I = 0; I < LForeignKey.size(); ++I) {
      if (I > 0) LCondition += QLatin1String(" AND ");
      LCondition += TSqlLiterals::QuoteName(LForeignKey[I]) + QLatin1String(" = :R") + QString::number(I);
    }
    if (!LChild.Filter.isEmpty()) LCondition += QLatin1String(" AND (") + LChild.Filter + QLatin1Char(')');
    Report("Consultando registros relacionados em " + LChild.TableName + "...");

    TSliceCatalogue::TLease LRows = FCatalogue->Query("SELECT " + FCatalogue->Columns(LChild.TableName) + " FROM " +
                                                      TSqlLiterals::QuoteName(LChild.TableName) + " WHERE " +
                                                      LCondition);
    for (qsizetype I = 0; I < LParentKey.size(); ++I)
      LRows->SetParam("R" + QString::number(I), aRow.FieldByName(LParentKey[I]).Value());
    LRows->Open();
    const QString LOrigin = "Filho de " + RowDescription(aTable, aRow);
    for (; !LRows->Eof(); LRows->Next()) {
      Visit(LChild.TableName, *LRows, LOrigin);
      VisitChildren(LChild.TableName, *LRows);
    }
  }
}

QStringList ParseNameList(const QString& aList) {
  QStringList LItems;
  if (aList.isEmpty()) return LItems;
  const auto LIsBlank = [](QChar aChar) { return aChar.unicode() >= 1 && aChar.unicode() <= 32; };
  const qsizetype LSize = aList.size();
  qsizetype I = 0;
  while (true) {
    while (I < LSize && LIsBlank(aList[I])) ++I;
    QString LItem;
    if (I < LSize && aList[I] == QLatin1Char('"')) {
      ++I;
      while (I < LSize) {
        if (aList[I] == QLatin1Char('"')) {
          if (I + 1 < LSize && aList[I + 1] == QLatin1Char('"')) {
            LItem += QLatin1Char('"');
            I += 2;
            continue;
          }
          ++I;
          break;
        }
        LItem += aList[I++];
      }
    } else {
      while (I < LSize && aList[I] != QLatin1Char(',') && !LIsBlank(aList[I])) LItem += aList[I++];
    }
    LItems << LItem;
    while (I < LSize && LIsBlank(aList[I])) ++I;
    if (I >= LSize) break;
    if (aList[I] == QLatin1Char(',')) {
      ++I;
      if (I >= LSize) {  // a comma at the very end yields an empty last item
        LItems << QString();
        break;
      }
    }
    // Otherwise a blank ended an unquoted item and the next item starts here.
  }
  return LItems;
}

// ---------------------------------------------------------------------------------------
// Saving: the script reaches the target only once it is complete.

void TSliceExporter::SaveToFile(const QString& aFileName) {
  const QString LScript = Generate();
  Report(QStringLiteral("Gravando arquivo SQL..."));
  const QByteArray LBytes = LScript.toUtf8();
  // The bytes go to a temporary file beside the target, which replaces the target only
  // after every byte has been written and flushed: a failure leaves any old file intact.
  QSaveFile LFile(aFileName);
  LFile.setDirectWriteFallback(false);
  if (!LFile.open(QIODevice::WriteOnly))
    throw TCorvaneError("Nao foi possivel criar o arquivo " + aFileName + ": " + LFile.errorString());
  if (LFile.write(LBytes) != LBytes.size()) {
    const QString LError = LFile.errorString();
    LFile.cancelWriting();
    throw TCorvaneError("Nao foi possivel gravar o arquivo " + aFileName + ": " + LError);
  }
  if (!LFile.commit())
    throw TCorvaneError("Nao foi possivel gravar o arquivo " + aFileName + ": " + LFile.errorString());
}

}  // namespace Corvane
