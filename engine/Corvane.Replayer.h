#pragma once
// The replay of a slice script on a target database: the structure checked first, every
// statement in one read-write transaction with a preview of what it changes, every written
// row read back before the commit. A dry run does all of it and always rolls back.
#include "Corvane.Database.h"
#include "Corvane.ScriptReader.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace Corvane {

// One row the replay changes: its record, its description and the columns whose values
// differ from what the target held.
struct TReplayChange {
  int Record = 0;
  QString Description;
  QStringList Columns;
};

struct TReplayTable {
  QString Table;
  int Inserted = 0;
  int Changed = 0;
  int Unchanged = 0;
  QList<TReplayChange> ChangedRows;
};

// A written row that reads back different in one column (a trigger of the target, say).
struct TReplayDivergence {
  int Record = 0;
  QString Description;
  QString Column;
  QString Written;
  QString Read;
};

struct TReplayResult {
  QList<TReplayTable> Tables;  // in order of first appearance in the script
  QList<TReplayDivergence> Divergences;
  int Inserted = 0;
  int Changed = 0;
  int Unchanged = 0;
  int Divergent = 0;  // rows with at least one divergence
  bool Committed = false;
};

class TSliceReplayer {
public:
  using TProgress = std::function<void(const QString& aMessage)>;

  // aConnection: open, character set UTF8 (the script's), no active transaction; not owned.
  explicit TSliceReplayer(TDbConnection& aConnection);
  // Opens aConnection on the target of aParameters (the settings' parameter list) as a replay
  // needs it: no login prompt, silent, character set UTF8 whatever the settings say.
  static void OpenTarget(TDbConnection& aConnection, const QString& aParameters);
  TSliceReplayer& DryRun(bool aDryRun);
  TSliceReplayer& Progress(const TProgress& aProgress);
  // The stop request of the run: honoured in every phase (between records and by the server
  // call in flight) until the commit starts, which is the only point of no return. A run
  // stopped before it rolls back and fails with a TCancelledError; a request that arrives
  // during the commit lets it finish (the result says Committed).
  TSliceReplayer& Cancellation(const TCancellationPtr& aCancellation);

  // Fails, with everything rolled back, when the target lacks a table or column that the
  // script writes (all of them named in one message, before any statement runs) or when a
  // statement fails (the message names the record, its table and key and the server's text).
  TReplayResult Run(const TSliceScript& aScript);

private:
  TDbConnection& FConnection;
  bool FDryRun = false;
  TProgress FProgress;
  TCancellationPtr FCancellation;
};

}  // namespace Corvane
