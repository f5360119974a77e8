#include "Corvane.ReplayLookup.h"

#include "Corvane.Literals.h"

#include <QRegularExpression>

namespace Corvane::Replay {

namespace {

constexpr int CBatches[] = {64, 16, 4, 1};  // keys looked up by one query, largest first

}  // namespace

TRowLookup::TRowLookup(TDbConnection& aConnection, const QString& aTable, const QStringList& aKeys,
                       const QStringList& aSelect, const std::vector<bool>& aWide, const QString& aFilter)
    : FConnection(aConnection), FTable(aTable), FKeys(aKeys), FSelect(aSelect), FWide(aWide), FFilter(aFilter) {
  FWide.resize(std::size_t(FSelect.size()), false);
}

// The keys as a derived table joined to the target: each key finds its row through the whole
// key, and its position comes back with the row, so no text is compared on this side.
TDbQuery& TRowLookup::Query(int aBatch) {
  std::unique_ptr<TDbQuery>& LQuery = FQueries[aBatch];
  if (LQuery) return *LQuery;
  const QString LTable = TSqlLiterals::QuoteName(FTable);
  QString LKeyRows;
  for (int I = 0; I < aBatch; ++I) {
    LKeyRows += I ? QLatin1String(" UNION ALL SELECT ") : QLatin1String("SELECT ");
    LKeyRows += QString::number(I) + (I ? QString() : QStringLiteral(" AS \"K$I\""));
    for (qsizetype J = 0; J < FKeys.size(); ++J)
      LKeyRows += ", CAST(:K" + QString::number(I) + "_" + QString::number(J) + " AS TYPE OF COLUMN " + LTable + "." +
                  TSqlLiterals::QuoteName(FKeys[J]) + ") AS \"K$" + QString::number(J) + "\"";
    LKeyRows += QLatin1String(" FROM RDB$DATABASE");
  }
  // The table keeps its own name, as in the export's lookups: a relation's filter may name it.
  QStringList LJoin, LNames{QStringLiteral("\"K$\".\"K$I\""), LTable + ".RDB$DB_KEY"};
  for (qsizetype J = 0; J < FKeys.size(); ++J)
    LJoin << LTable + "." + TSqlLiterals::QuoteName(FKeys[J]) + " IS NOT DISTINCT FROM \"K$\".\"K$" +
                 QString::number(J) + "\"";
  for (qsizetype I = 0; I < FSelect.size(); ++I) {
    const QString LName = LTable + "." + TSqlLiterals::QuoteName(FSelect[I]);
    LNames << (FWide[std::size_t(I)] ? "CAST(" + LName + " AS BLOB SUB_TYPE TEXT CHARACTER SET UTF8)" : LName);
  }
  LQuery = std::make_unique<TDbQuery>(FConnection);
  LQuery->SetSQL("SELECT " + LNames.join(QLatin1String(", ")) + " FROM (" + LKeyRows + ") \"K$\" JOIN " + LTable +
                 " ON " + LJoin.join(QLatin1String(" AND ")) +
                 (FFilter.trimmed().isEmpty() ? QString() : " WHERE (" + FFilter + ")"));
  return *LQuery;
}

void TRowLookup::Find(int aCount, const TKeyValue& aValue, const std::function<void(TRow&&)>& aRow) {
  const int LKeys = int(FKeys.size());
  const int LColumns = int(FSelect.size());
  for (int LStart = 0; LStart < aCount;) {
    // Few sizes, each prepared once: a table of a handful of rows needs no query for 64.
    const int LLeft = aCount - LStart;
    int LBatch = 1;
    for (const int LSize : CBatches)
      if (LSize <= LLeft) {
        LBatch = LSize;
        break;
      }
    TDbQuery& LQuery = Query(LBatch);
    std::vector<TRow> LRows;
    try {
      for (int I = 0; I < LBatch; ++I)
        for (int J = 0; J < LKeys; ++J) LQuery.SetParam(I * LKeys + J, aValue(LStart + I, J));
      for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) {
        TRow LRow;
        LRow.Key = LStart + int(LQuery.Field(0).Value().AsInteger());
        LRow.DbKey = LQuery.Field(1).Value().AsBytes();
        LRow.Values.reserve(std::size_t(LColumns));
        for (int I = 0; I < LColumns; ++I)
          LRow.Values.push_back(Carried(LQuery.Field(I + 2).Value(), FWide[std::size_t(I)]));
        LRows.push_back(std::move(LRow));
      }
      LQuery.Close();
    } catch (const TCorvaneError& aError) {
      LQuery.Close();
      static const QRegularExpression CParameter(QStringLiteral("parametro K(\\d+)_(\\d+)"));
      const QRegularExpressionMatch LMatch = CParameter.match(aError.Message());
      if (LMatch.hasMatch())
        throw TKeyFailure(LStart + LMatch.captured(1).toInt(), LMatch.captured(2).toInt(), aError.Message());
      if (LBatch == 1) throw TKeyFailure(LStart, -1, aError.Message());
      // The server refused one of the keys: alone, each says which.
      for (int I = 0; I < LBatch; ++I) {
        try {
          Find(
              1, [&](int, int aColumn) -> const TValue& { return aValue(LStart + I, aColumn); },
              [&](TRow&& aRow) {
                aRow.Key = LStart + I;
                LRows.push_back(std::move(aRow));
              });
        } catch (const TKeyFailure& aFailure) {
          throw TKeyFailure(LStart + I, aFailure.Column, aFailure.Message());
        }
      }
    }
    for (TRow& LRow : LRows) aRow(std::move(LRow));
    LStart += LBatch;
  }
}

}  // namespace Corvane::Replay
