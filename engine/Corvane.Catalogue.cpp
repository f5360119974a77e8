#include "Corvane.Catalogue.h"

#include "Corvane.Literals.h"

namespace Corvane {

namespace {

const QString CPrimaryKeySql = QStringLiteral(
    "SELECT TRIM(s.RDB$FIELD_NAME) AS FIELD_NAME FROM RDB$RELATION_CONSTRAINTS c JOIN RDB$INDEX_SEGMENTS s "
    "ON s.RDB$INDEX_NAME = c.RDB$INDEX_NAME WHERE c.RDB$RELATION_NAME = :T AND c.RDB$CONSTRAINT_TYPE = "
    "'PRIMARY KEY' ORDER BY s.RDB$FIELD_POSITION");

const QString CColumnsSql = QStringLiteral(
    "SELECT TRIM(r.RDB$FIELD_NAME) AS FIELD_NAME, f.RDB$DIMENSIONS FROM RDB$RELATION_FIELDS r JOIN RDB$FIELDS f "
    "ON f.RDB$FIELD_NAME = r.RDB$FIELD_SOURCE WHERE r.RDB$RELATION_NAME = :T AND f.RDB$COMPUTED_BLR IS NULL "
    "ORDER BY r.RDB$FIELD_POSITION");

const QString CForeignKeysSql = QStringLiteral(
    "SELECT TRIM(c.RDB$CONSTRAINT_NAME) AS FK_NAME, TRIM(p.RDB$RELATION_NAME) AS P_TABLE, "
    "TRIM(s.RDB$FIELD_NAME) AS C_FIELD, TRIM(ps.RDB$FIELD_NAME) AS P_FIELD FROM RDB$RELATION_CONSTRAINTS c "
    "JOIN RDB$REF_CONSTRAINTS r ON r.RDB$CONSTRAINT_NAME = c.RDB$CONSTRAINT_NAME JOIN RDB$RELATION_CONSTRAINTS p "
    "ON p.RDB$CONSTRAINT_NAME = r.RDB$CONST_NAME_UQ JOIN RDB$INDEX_SEGMENTS s ON s.RDB$INDEX_NAME = "
    "c.RDB$INDEX_NAME JOIN RDB$INDEX_SEGMENTS ps ON ps.RDB$INDEX_NAME = p.RDB$INDEX_NAME AND "
    "ps.RDB$FIELD_POSITION = s.RDB$FIELD_POSITION WHERE c.RDB$RELATION_NAME = :T ORDER BY "
    "c.RDB$CONSTRAINT_NAME, s.RDB$FIELD_POSITION");

}  // namespace

TSliceCatalogue::TLease::~TLease() {
  if (FQuery) FCatalogue->Return(std::move(FQuery));
}

void TSliceCatalogue::BeginRun(bool aCaching) {
  EndRun();
  FCaching = aCaching;
}

void TSliceCatalogue::EndRun() noexcept {
  FIdle.clear();
  FPrimaryKeys.clear();
  FColumns.clear();
  FForeignKeys.clear();
}

TSliceCatalogue::TLease TSliceCatalogue::Query(const QString& aSQL) {
  auto LIdle = FIdle.find(aSQL);
  if (LIdle != FIdle.end() && !LIdle->second.empty()) {
    std::unique_ptr<TDbQuery> LQuery = std::move(LIdle->second.back());
    LIdle->second.pop_back();
    return TLease(*this, std::move(LQuery));
  }
  auto LQuery = std::make_unique<TDbQuery>(FConnection);
  LQuery->SetSQL(aSQL);
  return TLease(*this, std::move(LQuery));
}

void TSliceCatalogue::Return(std::unique_ptr<TDbQuery> aQuery) noexcept {
  try {
    aQuery->Close();
    if (FCaching) FIdle[aQuery->SQL()].push_back(std::move(aQuery));
  } catch (...) {
    // A query that cannot be closed is dropped; its owner frees the statement.
  }
}

QStringList TSliceCatalogue::PrimaryKey(const QString& aTable) {
  if (FCaching) {
    const auto LFound = FPrimaryKeys.constFind(aTable);
    if (LFound != FPrimaryKeys.constEnd()) return *LFound;
  }
  QStringList LResult;
  {
    TLease LQuery = Query(CPrimaryKeySql);
    LQuery->SetParam(QStringLiteral("T"), TValue::Text(aTable));
    LQuery->Open();
    for (; !LQuery->Eof(); LQuery->Next()) LResult << LQuery->Field(0).TextForm();
  }
  if (LResult.isEmpty()) throw TCorvaneError("Tabela sem chave primaria: " + aTable);
  if (FCaching) FPrimaryKeys.insert(aTable, LResult);
  return LResult;
}

QString TSliceCatalogue::Columns(const QString& aTable) {
  if (FCaching) {
    const auto LFound = FColumns.constFind(aTable);
    if (LFound != FColumns.constEnd()) return *LFound;
  }
  QString LResult;
  {
    TLease LQuery = Query(CColumnsSql);
    LQuery->SetParam(QStringLiteral("T"), TValue::Text(aTable));
    LQuery->Open();
    for (; !LQuery->Eof(); LQuery->Next()) {
      const QString LName = LQuery->Field(0).TextForm();
      if (!LQuery->Field(1).IsNull())
        throw TCorvaneError("Campo ARRAY ainda nao suportado: " + aTable + "." + LName);
      if (!LResult.isEmpty()) LResult += QLatin1String(", ");
      LResult += TSqlLiterals::QuoteName(LName);
    }
  }
  if (LResult.isEmpty()) throw TCorvaneError("Tabela inexistente ou sem campos gravaveis: " + aTable);
  if (FCaching) FColumns.insert(aTable, LResult);
  return LResult;
}

QList<TForeignKey> TSliceCatalogue::ForeignKeys(const QString& aTable) {
  if (FCaching) {
    const auto LFound = FForeignKeys.constFind(aTable);
    if (LFound != FForeignKeys.constEnd()) return *LFound;
  }
  QList<TForeignKey> LResult;
  {
    TLease LQuery = Query(CForeignKeysSql);
    LQuery->SetParam(QStringLiteral("T"), TValue::Text(aTable));
    LQuery->Open();
    for (; !LQuery->Eof(); LQuery->Next()) {
      const QString LName = LQuery->FieldByName(QStringLiteral("FK_NAME")).TextForm();
      // Consecutive rows of one constraint form one foreign key.
      if (LResult.isEmpty() || LResult.last().Name != LName)
        LResult.append(TForeignKey{LName, LQuery->FieldByName(QStringLiteral("P_TABLE")).TextForm(), {}});
      LResult.last().Links.append(TForeignKeyLink{LQuery->FieldByName(QStringLiteral("C_FIELD")).TextForm(),
                                                  LQuery->FieldByName(QStringLiteral("P_FIELD")).TextForm()});
    }
  }
  if (FCaching) FForeignKeys.insert(aTable, LResult);
  return LResult;
}

}  // namespace Corvane
