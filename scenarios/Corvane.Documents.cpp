#include "Corvane.Documents.h"

#include "Corvane.Errors.h"
#include "Corvane.IniFile.h"
#include "Corvane.Literals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace Corvane {

// ---------------------------------------------------------------------------------------
// Relations and their filters

QString FilterProblem(const QString& aFilter) {
  int LDepth = 0;
  QChar LQuote;  // inside a literal (') or a quoted name (")
  for (qsizetype I = 0; I < aFilter.size(); ++I) {
    const QChar LChar = aFilter[I];
    if (!LQuote.isNull()) {
      if (LChar == LQuote) {
        if (I + 1 < aFilter.size() && aFilter[I + 1] == LQuote)
          ++I;  // a doubled quote stays inside
        else
          LQuote = QChar();
      }
      continue;
    }
    if (LChar == u'\'' || LChar == u'"') {
      LQuote = LChar;
    } else if (LChar == u'(') {
      ++LDepth;
    } else if (LChar == u')') {
      if (--LDepth < 0) return QStringLiteral("fecha um parentese que nao abriu");
    } else if (LChar == u';') {
      return QStringLiteral("contem ; (fim de comando)");
    } else if ((LChar == u'-' && aFilter.mid(I, 2) == QLatin1String("--")) ||
               (LChar == u'/' && aFilter.mid(I, 2) == QLatin1String("/*"))) {
      return QStringLiteral("contem um comentario");
    } else if (LChar.unicode() < 0x20 && LChar != u'\t') {
      return QStringLiteral("contem caractere de controle");
    }
  }
  if (!LQuote.isNull()) return QStringLiteral("tem aspas sem fechamento");
  if (LDepth > 0) return QStringLiteral("tem parentese sem fechamento");
  return {};
}

TDocumentRelation TDocumentRelation::Parse(const QString& aText, const QString& aWhere) {
  QStringList LParts;
  qsizetype LStart = 0;
  for (int LPart = 0; LPart < 4; ++LPart) {
    const qsizetype LColon = aText.indexOf(u':', LStart);
    if (LColon < 0) {
      LParts << aText.mid(LStart);
      LStart = -1;
      break;
    }
    LParts << aText.mid(LStart, LColon - LStart);
    LStart = LColon + 1;
  }
  const auto LFail = [&](const QString& aWhat) {
    throw TCorvaneError(aWhere + ": " + aWhat + ": " + CommentText(aText));
  };
  if (LParts.size() < 4) LFail(QStringLiteral("espera PARENT:CHILD:FK_COLUMNS:PARENT_COLUMNS[:FILTER]"));
  for (const QString& LPart : LParts)
    if (LPart.trimmed().isEmpty()) LFail(QStringLiteral("parte vazia em PARENT:CHILD:FK_COLUMNS:PARENT_COLUMNS"));
  TDocumentRelation LRelation{LParts[0], LParts[1], LParts[2], LParts[3], LStart < 0 ? QString() : aText.mid(LStart),
                              aText};
  if (ParseNameList(LRelation.ForeignKeys).size() != ParseNameList(LRelation.ParentKeys).size())
    LFail(QStringLiteral("FK_COLUMNS e PARENT_COLUMNS com quantidades diferentes de colunas"));
  const QString LProblem = FilterProblem(LRelation.Filter);
  if (!LProblem.isEmpty()) LFail("o filtro " + LProblem + " e precisa ser uma unica condicao");
  return LRelation;
}

const TDocumentRelation* UnreachedRelation(const QString& aRoot, const QList<TDocumentRelation>& aRelations) {
  QSet<QString> LReached{aRoot.trimmed()};
  QList<const TDocumentRelation*> LWaiting;
  for (const TDocumentRelation& LRelation : aRelations) LWaiting << &LRelation;
  for (bool LGrown = true; LGrown;) {
    LGrown = false;
    for (qsizetype I = 0; I < LWaiting.size();) {
      if (LReached.contains(LWaiting[I]->Parent)) {
        LReached.insert(LWaiting[I]->Child);
        LWaiting.removeAt(I);
        LGrown = true;
      } else {
        ++I;
      }
    }
  }
  return LWaiting.isEmpty() ? nullptr : LWaiting.first();
}

// Key texts as values of their columns' types, so that a date or a number is compared
// as one. When the server cannot describe the columns the texts stay texts, and the export
// reports what is wrong as it does for any key.
QList<TValue> KeyValuesOf(TDbConnection& aConnection, const QString& aTable, const QList<QPair<QString, QString>>& aKeys) {
  QList<TValue> LValues;
  for (const auto& LKey : aKeys) LValues << TValue::Text(LKey.second);
  QList<TValueKind> LKinds;
  try {
    QString LColumns;
    for (const auto& LKey : aKeys) LColumns += (LColumns.isEmpty() ? "" : ", ") + TSqlLiterals::QuoteName(LKey.first);
    aConnection.StartTransaction();
    {
      TDbQuery LQuery(aConnection);
      LQuery.SetSQL("SELECT " + LColumns + " FROM " + TSqlLiterals::QuoteName(aTable) + " WHERE 1 = 0");
      LQuery.Open();
      for (int I = 0; I < LQuery.FieldCount(); ++I) LKinds << LQuery.Field(I).Kind();
    }
    aConnection.Rollback();
  } catch (const TCorvaneError&) {
    try {
      aConnection.Rollback();
    } catch (const TCorvaneError&) {
    }
    return LValues;
  }
  for (qsizetype I = 0; I < aKeys.size() && I < LKinds.size(); ++I)
    if (!ValueFromText(aKeys[I].second, LKinds[I], LValues[I]))
      throw TCorvaneError("Valor invalido para a chave " + aKeys[I].first + ": " + aKeys[I].second + " (esperado " +
                          ValueTextForm(LKinds[I]) + ").");
  return LValues;
}

// ---------------------------------------------------------------------------------------
// One document

ISliceExporterPtr TDocument::Configure(TDbConnection* aConnection) const {
  ISliceExporterPtr LExporter = TSliceExporter::New(aConnection)->Table(Table);
  for (const TDocumentRelation& LRelation : Relations)
    LExporter->IncludeRelated(LRelation.Parent, LRelation.Child, LRelation.ForeignKeys, LRelation.ParentKeys,
                              LRelation.Filter);
  LExporter->Dependencies(Dependencies);
  // Options beyond the built-in documents: set only when asked, so the built-in ones configure
  // exactly as they always have.
  if (DeferCycles) LExporter->DeferCycles(true);
  if (SkipArrays) LExporter->SkipArrays(true);
  if (Booleans) LExporter->Booleans(true);
  if (UnlimitedChains) LExporter->UnlimitedChains(true);
  if (!MaskRules.isEmpty()) LExporter->Masking(TMaskRules::Load(MaskRules));
  return LExporter;
}

QList<TReplayRelation> TDocument::ReplayRelations() const {
  QList<TReplayRelation> LRelations;
  for (const TDocumentRelation& LRelation : Relations)
    LRelations.append(TReplayRelation{LRelation.Parent, LRelation.Child, LRelation.ForeignKeys, LRelation.ParentKeys,
                                      LRelation.Filter});
  return LRelations;
}

QStringList TDocument::Tables() const {
  QStringList LTables{Table};
  for (const TDocumentRelation& LRelation : Relations)
    for (const QString& LTable : {LRelation.Parent, LRelation.Child})
      if (!LTables.contains(LTable)) LTables << LTable;
  return LTables;
}

QString TDocument::Describe() const {
  return BuiltIn ? "Documento " + Name : "Documento " + Name + " (" + QDir::toNativeSeparators(Source) + ")";
}

void TDocument::CheckKeyIsUnique(TDbConnection& aConnection) const {
  // Every active unique index of the table: primary keys and unique constraints have one, and
  // a unique index alone makes a key just as well.
  QList<QStringList> LUniqueKeys;
  aConnection.StartTransaction();
  try {
    TDbQuery LQuery(aConnection);
    LQuery.SetSQL(QStringLiteral(
        "SELECT TRIM(I.RDB$INDEX_NAME), TRIM(S.RDB$FIELD_NAME), "
        "(SELECT COUNT(*) FROM RDB$RELATION_CONSTRAINTS C WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME AND "
        "C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY') "
        "FROM RDB$INDICES I JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
        "WHERE I.RDB$RELATION_NAME = :T AND I.RDB$UNIQUE_FLAG = 1 AND COALESCE(I.RDB$INDEX_INACTIVE, 0) = 0 "
        "AND I.RDB$EXPRESSION_BLR IS NULL ORDER BY 3 DESC, 1, S.RDB$FIELD_POSITION"));
    LQuery.SetParam(QStringLiteral("T"), TValue::Text(Table));
    QString LIndex;
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) {
      if (LQuery.Field(0).TextForm() != LIndex) {
        LIndex = LQuery.Field(0).TextForm();
        LUniqueKeys.append(QStringList());
      }
      LUniqueKeys.last() << LQuery.Field(1).TextForm();
    }
  } catch (...) {
    aConnection.Rollback();
    throw;
  }
  aConnection.Rollback();
  QStringList LKeys;
  for (const QString& LKey : Keys) LKeys << LKey.trimmed();
  const QStringList* LClosest = nullptr;
  QStringList LMissing;
  for (const QStringList& LUnique : std::as_const(LUniqueKeys)) {
    QStringList LLacking;
    for (const QString& LColumn : LUnique)
      if (!LKeys.contains(LColumn)) LLacking << LColumn;
    if (LLacking.isEmpty()) return;
    // The primary key comes first; otherwise the key that lacks fewest columns.
    if (!LClosest || LLacking.size() < LMissing.size()) {
      LClosest = &LUnique;
      LMissing = LLacking;
    }
  }
  if (!LClosest)
    throw TCorvaneError(Describe() + ": a tabela " + Table +
                        " nao tem chave primaria nem chave unica; a Chave nao identifica um unico registro.");
  throw TCorvaneError(Describe() + ": a Chave " + Keys.join(QLatin1Char(',')) +
                      " nao cobre a chave primaria nem uma chave unica de " + Table + "; faltam: " +
                      LMissing.join(QLatin1String(", ")) + ".");
}

// ---------------------------------------------------------------------------------------
// The registry

namespace {

TDocument BuiltInDocument(const QString& aName, const QString& aTitle, const QString& aTable, const QString& aKey,
                          const QList<QStringList>& aRelations) {
  TDocument LDocument;
  LDocument.Name = aName;
  LDocument.Title = aTitle;
  LDocument.Table = aTable;
  LDocument.Keys = QStringList{aKey};
  LDocument.BuiltIn = true;
  for (const QStringList& LParts : aRelations)
    LDocument.Relations.append(TDocumentRelation{LParts[0], LParts[1], LParts[2], LParts[3], LParts[4],
                                                 LParts.mid(0, 4).join(u':') +
                                                     (LParts[4].isEmpty() ? QString() : ":" + LParts[4])});
  return LDocument;
}

const QList<TDocument>& BuiltInDocuments() {
  // The order of the relations is the order in which each parent row's related rows are
  // written. In the COMISSAO_PAGAMENTO_INDIVID relation the parent row points to the related
  // row (GF_Y7_ID -> Y7_ID), unlike the two relations above it.
  static const QList<TDocument> LDocuments{
      BuiltInDocument(QStringLiteral("NFSe"), QStringLiteral("Nota Fiscal de Servico"), QStringLiteral("NFSRES"),
                      QStringLiteral("NFSID"),
                      {{"NFSRES", "NFSPRO", "NFSID", "NFSID", ""}, {"NFSRES", "DUPREC", "E9_NFSID", "NFSID", ""}}),
      BuiltInDocument(
          QStringLiteral("NotaFiscal"), QStringLiteral("Nota Fiscal de Saida"), QStringLiteral("NOTAFI"),
          QStringLiteral("NOTANUM"),
          {{"NOTAFI", "NOTAPRO", "NOTANUM", "NOTANUM", ""},
           {"NOTAFI", "PEDRES", "PEDNUM", "PEDNUM", ""},
           {"NOTAFI", "DUPREC", "E9_PEDNUM", "PEDNUM", ""},
           {"NOTAFI", "NOTA_ITEM", "NOTANUM", "NOTANUM", ""},
           {"NOTAPRO", "DOC_FISCAL_ITEM", "ER_NOTANUM,ER_PROCOD", "NOTANUM,PROCOD", ""},
           {"NOTAFI", "DEVOLUCAO_SAIDAS_ITEM", "DJ_ORIGEM_ID1", "NOTANUM", "DJ_ORIGEM = 'N'"},
           {"NOTAFI", "COMISSAO_MOVIMENTOS", "Y3_ORIGEM_ID1", "NOTANUM", "Y3_ORIGEM = 'N'"},
           {"NOTAFI", "ENTREGAFUTURA_CONTROLE", "BG_NOTANUM", "NOTANUM", ""},
           {"COMISSAO_MOVIMENTOS", "COMISSAO_DEVOLUCAO_ABATER", "GE_Y3_ID", "Y3_ID", ""},
           {"COMISSAO_DEVOLUCAO_ABATER", "COMISSAO_DEVOLUCAO_REFER", "GF_GE_ID", "GE_ID", ""},
           {"COMISSAO_DEVOLUCAO_REFER", "COMISSAO_PAGAMENTO_INDIVID", "Y7_ID", "GF_Y7_ID", ""},
           {"DEVOLUCAO_SAIDAS_ITEM", "DOCUMENTO_REFERENCIADO", "BH_BG_ID_ORIGEM,BH_PROCOD", "DJ_ID,DJ_PROCOD",
            "BH_TIPO_ORIGEM = 'DV'"},
           {"DOCUMENTO_REFERENCIADO", "DEVOLUCAO_ENTRADAS_ITEM", "DI_ID,DI_PROCOD", "BH_BG_ID_DESTINO,BH_PROCOD",
            ""}}),
  };
  return LDocuments;
}

// Sim/Nao values of the options.
bool ReadYesNo(const QString& aValue, bool* aResult) {
  const QString LValue = aValue.trimmed().toLower();
  if (LValue == QLatin1String("sim") || LValue == QLatin1String("s") || LValue == QLatin1String("1")) {
    *aResult = true;
    return true;
  }
  if (LValue == QLatin1String("nao") || LValue == QString::fromUtf8("não") || LValue == QLatin1String("n") ||
      LValue == QLatin1String("0")) {
    *aResult = false;
    return true;
  }
  return false;
}

class TDocumentFileReader {
public:
  explicit TDocumentFileReader(const QString& aFile) : FFile(QDir::toNativeSeparators(aFile)) {}

  [[noreturn]] void Fail(const QString& aSection, const QString& aKey, const QString& aText, int aLine = 0) const {
    QString LWhere = "Arquivo de documentos " + FFile;
    if (aLine > 0) LWhere += ", linha " + QString::number(aLine);
    if (!aSection.isEmpty()) LWhere += ", secao [" + aSection + "]";
    if (!aKey.isEmpty()) LWhere += ", chave " + aKey;
    throw TCorvaneError(LWhere + ": " + aText);
  }

  TDocument Read(const TIniFile& aIni, const QString& aSection) const {
    TDocument LDocument;
    LDocument.Name = aSection;
    LDocument.Source = FFile;
    LDocument.Booleans = true;
    LDocument.UnlimitedChains = true;
    const auto LValue = [&](const QString& aKey) { return aIni.ReadString(aSection, aKey).trimmed(); };
    if (aSection.isEmpty() || aSection.contains(QRegularExpression(QStringLiteral("[\\s:]"))))
      Fail(aSection, {}, QStringLiteral("o nome do documento nao pode ser vazio nem ter espacos ou dois-pontos."));
    LDocument.Title = aIni.HasKey(aSection, "Titulo") ? LValue("Titulo") : aSection;
    LDocument.Table = LValue("Tabela");
    if (LDocument.Table.isEmpty()) Fail(aSection, "Tabela", QStringLiteral("informe a tabela principal do documento."));
    LDocument.Keys = ParseNameList(LValue("Chave"));
    if (LDocument.Keys.isEmpty() || LDocument.Keys.contains(QString())) Fail(aSection, "Chave", QStringLiteral("informe as colunas da chave, separadas por virgula."));
    if (QSet<QString>(LDocument.Keys.begin(), LDocument.Keys.end()).size() != LDocument.Keys.size())
      Fail(aSection, "Chave", QStringLiteral("coluna repetida."));

    static const QRegularExpression LRelationKey(QStringLiteral("^Relacao([1-9][0-9]*)$"),
                                                 QRegularExpression::CaseInsensitiveOption);
    QMap<int, QString> LRelations;
    for (const QString& LKey : aIni.Keys(aSection)) {
      const auto LMatch = LRelationKey.match(LKey);
      if (LMatch.hasMatch()) {
        LRelations.insert(LMatch.captured(1).toInt(), LKey);
        continue;
      }
      bool* LOption = nullptr;
      if (LKey.compare(QLatin1String("Dependencias"), Qt::CaseInsensitive) == 0)
        LOption = &LDocument.Dependencies;
      else if (LKey.compare(QLatin1String("AdiarCiclos"), Qt::CaseInsensitive) == 0)
        LOption = &LDocument.DeferCycles;
      else if (LKey.compare(QLatin1String("IgnorarArrays"), Qt::CaseInsensitive) == 0)
        LOption = &LDocument.SkipArrays;
      else if (LKey.compare(QLatin1String("Booleanos"), Qt::CaseInsensitive) == 0)
        LOption = &LDocument.Booleans;
      else if (LKey.compare(QLatin1String("ProfundidadeIlimitada"), Qt::CaseInsensitive) == 0)
        LOption = &LDocument.UnlimitedChains;
      else if (LKey.compare(QLatin1String("Mascaramento"), Qt::CaseInsensitive) == 0) {
        const QString LRules = LValue(LKey);
        if (LRules.isEmpty()) Fail(aSection, LKey, QStringLiteral("informe o arquivo de regras de mascaramento."));
        // Relative to the documents file, so that the pair travels together.
        LDocument.MaskRules = QFileInfo(QFileInfo(FFile).absoluteDir(), LRules).absoluteFilePath();
        continue;
      } else if (LKey.compare(QLatin1String("Titulo"), Qt::CaseInsensitive) == 0 ||
               LKey.compare(QLatin1String("Tabela"), Qt::CaseInsensitive) == 0 ||
               LKey.compare(QLatin1String("Chave"), Qt::CaseInsensitive) == 0)
        continue;
      else
        Fail(aSection, LKey,
             QStringLiteral("chave desconhecida (conhecidas: Titulo, Tabela, Chave, Relacao1, Relacao2, ..., "
                            "Dependencias, AdiarCiclos, IgnorarArrays, Booleanos, ProfundidadeIlimitada, Mascaramento)."));
      if (!ReadYesNo(aIni.ReadString(aSection, LKey), LOption))
        Fail(aSection, LKey, QStringLiteral("use Sim ou Nao."));
    }
    int LExpected = 1;
    for (auto LAt = LRelations.cbegin(); LAt != LRelations.cend(); ++LAt, ++LExpected) {
      if (LAt.key() != LExpected)
        Fail(aSection, LAt.value(),
             "as relacoes sao numeradas a partir de 1, sem lacunas: falta Relacao" + QString::number(LExpected) + ".");
      const QString LWhere = "Arquivo de documentos " + FFile + ", secao [" + aSection + "], chave " + LAt.value();
      LDocument.Relations.append(TDocumentRelation::Parse(aIni.ReadString(aSection, LAt.value()), LWhere));
    }
    if (const TDocumentRelation* LUnreached = UnreachedRelation(LDocument.Table, LDocument.Relations)) {
      const qsizetype LIndex = LUnreached - LDocument.Relations.constData();
      Fail(aSection, LRelations.value(int(LIndex) + 1),
           "a relacao nunca seria percorrida: " + LUnreached->Parent +
               " nao e a Tabela do documento nem a tabela filha de outra relacao (maiusculas e minusculas contam).");
    }
    return LDocument;
  }

private:
  QString FFile;
};

}  // namespace

TDocumentRegistry TDocumentRegistry::BuiltIn() {
  TDocumentRegistry LRegistry;
  LRegistry.FDocuments = BuiltInDocuments();
  return LRegistry;
}

const TDocument& TDocumentRegistry::NFSe() { return BuiltInDocuments()[0]; }
const TDocument& TDocumentRegistry::NotaFiscal() { return BuiltInDocuments()[1]; }

QString TDocumentRegistry::DefaultFile() {
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("documentos.ini"));
}

TDocumentRegistry TDocumentRegistry::Load(const QString& aFile) {
  TDocumentRegistry LRegistry = BuiltIn();
  if (!QFileInfo::exists(aFile)) return LRegistry;
  const TDocumentFileReader LReader(aFile);
  QFile LFile(aFile);
  if (!LFile.open(QIODevice::ReadOnly)) LReader.Fail({}, {}, "nao foi possivel ler: " + LFile.errorString());
  const TIniFile LIni = TIniFile::Parse(LFile.readAll());
  if (!LIni.Problems().isEmpty()) {
    const TIniProblem& LProblem = LIni.Problems().first();
    LReader.Fail(LProblem.Section, LProblem.Key, LProblem.Text + ".", LProblem.Line);
  }
  for (const QString& LSection : LIni.Sections()) {
    if (LRegistry.Find(LSection))
      LReader.Fail(LSection, {}, QStringLiteral("ja existe um documento com esse nome."));
    LRegistry.FDocuments.append(LReader.Read(LIni, LSection));
  }
  return LRegistry;
}

const TDocument* TDocumentRegistry::Find(const QString& aName) const {
  for (const TDocument& LDocument : FDocuments)
    if (LDocument.Name.compare(aName.trimmed(), Qt::CaseInsensitive) == 0) return &LDocument;
  return nullptr;
}

QList<TReplayRelation> DocumentRelations(const QString& aRootTable) {
  for (const TDocument& LDocument : BuiltInDocuments())
    if (LDocument.Table == aRootTable) return LDocument.ReplayRelations();
  return {};
}

QList<const TDocument*> TDocumentRegistry::ByRoot(const QString& aTable) const {
  QList<const TDocument*> LDocuments;
  for (const TDocument& LDocument : FDocuments)
    if (LDocument.Table == aTable) LDocuments << &LDocument;
  return LDocuments;
}

}  // namespace Corvane
