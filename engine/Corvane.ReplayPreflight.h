#pragma once
// The check of the target before a replay writes anything: every table the script writes
// keeps rows, every column exists and takes values, every MATCHING list is a key of the
// target, and every required column is filled. All problems are named at once.
#include "Corvane.ReplayRecords.h"

#include <QHash>

namespace Corvane::Replay {

struct TTargetColumn {
  TColumnType Type;
  bool Supported = true;
  bool Computed = false;
  bool Required = false;  // NOT NULL without a default value
  bool Wide = false;
};

// What the catalogue of the target says of one table.
struct TTargetTable {
  bool Exists = false;
  int RelationType = 0;  // RDB$RELATION_TYPE: 0 keeps rows; views, external and temporary tables do not
  QStringList Order;     // columns in their order
  QHash<QString, TTargetColumn> Columns;
  QList<QStringList> UniqueKeys;  // the primary key first
  bool FillsOnInsert = false;     // a BEFORE INSERT trigger may give values of its own
  QStringList PrimaryKey() const { return UniqueKeys.isEmpty() ? QStringList() : UniqueKeys.first(); }
};

class TTargetCatalogue {
public:
  explicit TTargetCatalogue(TDbConnection& aConnection) : FConnection(aConnection) {}
  // Read once per table, within the replay's transaction.
  const TTargetTable& Table(const QString& aTable);

private:
  TDbConnection& FConnection;
  QHash<QString, TTargetTable> FTables;
};

// A column of the script the target lacks, left out with --skip-missing-columns.
struct TDroppedColumn {
  QString Table;
  QString Column;
};

// Gives each shape its target types (and leaves out the columns the target lacks when
// aSkipMissing); fails naming every problem when the target cannot take the script.
QList<TDroppedColumn> Preflight(TTargetCatalogue& aCatalogue, std::vector<TShape>& aShapes, const QStringList& aTables,
                                bool aSkipMissing);

}  // namespace Corvane::Replay
