#include "Corvane.TypedNames.h"

#include "Corvane.Errors.h"
#include "Corvane.Exporter.h"

namespace Corvane {

namespace {

QString Pick(const QString& aTyped, const QStringList& aNames) {
  if (aNames.contains(aTyped)) return aTyped;
  const QString LUpper = aTyped.toUpper();
  return aNames.contains(LUpper) ? LUpper : aTyped;
}

}  // namespace

QString TTypedNames::Table(const QString& aTyped) {
  const QString LTyped = aTyped.trimmed();
  return Pick(LTyped, Names(QStringLiteral("SELECT TRIM(TRAILING FROM RDB$RELATION_NAME) FROM RDB$RELATIONS "
                                           "WHERE RDB$RELATION_NAME = :P0 OR RDB$RELATION_NAME = :P1"),
                            {LTyped, LTyped.toUpper()}));
}

const QStringList& TTypedNames::Columns(const QString& aTable) {
  const auto LKnown = FColumns.constFind(aTable);
  if (LKnown != FColumns.constEnd()) return *LKnown;
  return *FColumns.insert(aTable, Names(QStringLiteral("SELECT TRIM(TRAILING FROM RDB$FIELD_NAME) "
                                                       "FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = :P0"),
                                        {aTable}));
}

QString TTypedNames::Column(const QString& aTable, const QString& aTyped) { return Pick(aTyped.trimmed(), Columns(aTable)); }

QString TTypedNames::ColumnList(const QString& aTable, const QString& aList) {
  if (aList.contains(QLatin1Char('"'))) return aList;
  const QStringList LTyped = ParseNameList(aList);
  QStringList LNames;
  for (const QString& LName : LTyped) LNames << Column(aTable, LName);
  return LNames == LTyped ? aList : LNames.join(QLatin1String(", "));
}

QStringList TTypedNames::Names(const QString& aSql, const QStringList& aParams) {
  QStringList LNames;
  const bool LOwn = !FConnection.InTransaction();
  try {
    if (LOwn) FConnection.StartTransaction();
    TDbQuery LQuery(FConnection);
    LQuery.SetSQL(aSql);
    for (qsizetype I = 0; I < aParams.size(); ++I) LQuery.SetParam("P" + QString::number(I), TValue::Text(aParams[I]));
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) LNames << LQuery.Field(0).Value().AsText();
  } catch (const TCorvaneError&) {
    // names that cannot be looked up stay as typed
  }
  if (LOwn && FConnection.InTransaction()) {
    try {
      FConnection.Rollback();
    } catch (const TCorvaneError&) {
    }
  }
  return LNames;
}

}  // namespace Corvane
