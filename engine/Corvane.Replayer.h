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

// One column of a changed row: what the target held and what the script writes (values
// as messages show them: long text shortened, BLOBs as size and a short hash).
struct TReplayColumnChange {
  QString Column;
  QString Old;
  QString New;
};

// One row the replay changes: its record, its description and the columns whose values
// differ from what the target held.
struct TReplayChange {
  int Record = 0;
  QString Description;
  QStringList Columns;
  QList<TReplayColumnChange> Values;  // one per column of Columns
};

struct TReplayTable {
  QString Table;
  int Inserted = 0;
  int Changed = 0;
  int Unchanged = 0;
  QList<TReplayChange> ChangedRows;
  int TargetOnly = 0;  // rows of the document's relations that only the target holds
};

// A written row that reads back different in one column (a trigger of the target, say); or,
// with Note, a record that met the row of another record (the target compares keys otherwise).
struct TReplayDivergence {
  int Record = 0;
  QString Description;
  QString Column;
  QString Written;
  QString Read;
  QString Note;
};

// A relation of the document, as the export walked it: rows of Child whose ForeignKeys
// columns equal the ParentKeys columns of a Parent row (comma lists), narrowed by Filter.
struct TReplayRelation {
  QString Parent;
  QString Child;
  QString ForeignKeys;
  QString ParentKeys;
  QString Filter;
};

// A row that the document's relations reach in the target and the script does not hold.
struct TReplayTargetRow {
  QString Table;
  QString Description;  // "TABLE | KEY=VALUE, ..."
};

// A column of the script the target lacks, left out (SkipMissingColumns), and how many
// values other than NULL it would have written.
struct TReplayDroppedColumn {
  QString Table;
  QString Column;
  int Values = 0;
};

// A sequence a dry run moved (a trigger of the target, say): sequences are outside transactions.
struct TReplaySequence {
  QString Name;
  qint64 Before = 0;
  qint64 After = 0;
};

// What the replay found for one record of the script, as its progress line says it:
// "novo", "inalterado", "alterado em COLUMNS" or, for a key written again later, "gravado
// agora e completado adiante".
struct TReplayRecordState {
  int Record = 0;
  QString Table;
  QString Description;
  QString State;
};

struct TReplayResult {
  QList<TReplayTable> Tables;  // in order of first appearance in the script
  QList<TReplayRecordState> Records;  // in the order of the script
  QList<TReplayDivergence> Divergences;
  QList<TReplayTargetRow> TargetOnly;  // deleted when Mirrored
  QList<TReplayDroppedColumn> Dropped;
  QList<TReplaySequence> Sequences;
  int Inserted = 0;
  int Changed = 0;
  int Unchanged = 0;
  int Divergent = 0;  // rows with at least one divergence
  bool Mirrored = false;
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
  // The document's relations, through which the rows only the target holds are found.
  TSliceReplayer& Related(const QList<TReplayRelation>& aRelations);
  // Deletes the rows only the target holds, in the same transaction.
  TSliceReplayer& Mirror(bool aMirror);
  // Leaves out the columns the target lacks instead of refusing the script.
  TSliceReplayer& SkipMissingColumns(bool aSkip);

  // Fails, with everything rolled back, when the target cannot take the script (every
  // problem named in one message, before any statement runs), when a statement fails (the
  // message names the record, its table and key and the server's text) or when a row to
  // delete for the mirror is still referenced from outside the document.
  TReplayResult Run(const TSliceScript& aScript);

private:
  TDbConnection& FConnection;
  bool FDryRun = false;
  bool FMirror = false;
  bool FSkipMissing = false;
  QList<TReplayRelation> FRelations;
  TProgress FProgress;
  TCancellationPtr FCancellation;
};

}  // namespace Corvane
