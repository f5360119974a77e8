#pragma once
// Target rows found as the server compares keys: the key values are cast to their columns'
// types, so a case- or accent-insensitive collation finds the row its statement will meet.
#include "Corvane.ReplayRecords.h"

#include <functional>
#include <map>
#include <memory>

namespace Corvane::Replay {

// A key value the target's column cannot take: which key of the lookup and which column.
class TKeyFailure : public TCorvaneError {
public:
  TKeyFailure(int aKey, int aColumn, const QString& aMessage) : TCorvaneError(aMessage), Key(aKey), Column(aColumn) {}
  int Key;
  int Column;  // -1 when the server did not say
};

class TRowLookup {
public:
  struct TRow {
    int Key = 0;  // which of the keys looked up met the row
    QByteArray DbKey;
    std::vector<TValue> Values;  // the selected columns
  };
  using TKeyValue = std::function<const TValue&(int aKey, int aColumn)>;

  // aKeys: columns of aTable compared with the keys; NULL meets NULL, as MATCHING compares.
  // aSelect: the columns each row is read with, aWide those read as BLOB text. aFilter, when
  // given, narrows the rows (a condition on aTable's columns).
  TRowLookup(TDbConnection& aConnection, const QString& aTable, const QStringList& aKeys, const QStringList& aSelect,
             const std::vector<bool>& aWide, const QString& aFilter = {});
  // Every row each of the aCount keys meets; a key value that cannot be bound fails with TKeyFailure.
  void Find(int aCount, const TKeyValue& aValue, const std::function<void(TRow&&)>& aRow);

private:
  TDbQuery& Query(int aBatch);
  TDbConnection& FConnection;
  QString FTable;
  QStringList FKeys;
  QStringList FSelect;
  std::vector<bool> FWide;
  QString FFilter;
  std::map<int, std::unique_ptr<TDbQuery>> FQueries;  // by the number of keys they look up
};

}  // namespace Corvane::Replay
