#pragma once
// The slice exporter: given a connection, a root table, key values and configured
// relations, it walks the rows of one document and writes the slice script.
#include "Corvane.Catalogue.h"
#include "Corvane.Database.h"
#include "Corvane.IdentitySet.h"
#include "Corvane.Masking.h"
#include "Corvane.Values.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>
#include <functional>
#include <memory>

namespace Corvane {

using TSliceProgress = std::function<void(const QString& aMessage)>;

class ISliceExporter;
using ISliceExporterPtr = std::shared_ptr<ISliceExporter>;

class ISliceExporter {
public:
  virtual ~ISliceExporter() = default;
  virtual ISliceExporterPtr Table(const QString& aTable) = 0;
  virtual ISliceExporterPtr Key(const QString& aField, const TValue& aValue) = 0;
  virtual ISliceExporterPtr IncludeChildren(const QString& aTable, const QString& aForeignKey,
                                            const QString& aParentKey) = 0;
  virtual ISliceExporterPtr IncludeRelated(const QString& aParentTable, const QString& aTable,
                                           const QString& aForeignKeys, const QString& aParentKeys,
                                           const QString& aFilter) = 0;
  virtual ISliceExporterPtr Dependencies(bool aEnabled) = 0;
  virtual ISliceExporterPtr Progress(const TSliceProgress& aCallback) = 0;
  virtual void ListTables(QStringList* aTables) = 0;
  virtual QString Generate() = 0;
  virtual void SaveToFile(const QString& aFileName) = 0;
  // Options beyond the document's usual shape, both off by default.
  // Rows in a cycle of foreign keys: the cycle is broken at a reference whose columns are all
  // nullable; its row is written first with them NULL and completed by a second statement
  // once the referenced row is written. Off: a cycle fails the run.
  virtual ISliceExporterPtr DeferCycles(bool aEnabled) = 0;
  // Array columns (Firebird has no literal for them) are left out of the statements. Off:
  // an array column fails the run.
  virtual ISliceExporterPtr SkipArrays(bool aEnabled) = 0;
  // The stop request of the runs: honoured between rows and by the server call in flight; a
  // stopped run rolls back, writes no file and fails with a TCancelledError. Empty: none.
  virtual ISliceExporterPtr Cancellation(const TCancellationPtr& aCancellation) = 0;
  // BOOLEAN values written as TRUE and FALSE. Off: a BOOLEAN value fails the run.
  virtual ISliceExporterPtr Booleans(bool aEnabled) = 0;
  // Chains of rows referencing rows (a tree, a linked list) of any length. Off: a chain of
  // more than 128 rows fails the run.
  virtual ISliceExporterPtr UnlimitedChains(bool aEnabled) = 0;
  // Personal data masked by these rules where values become literals (and in the key values
  // of the comments); the header names the rules file. Empty (the default): no masking.
  virtual ISliceExporterPtr Masking(const TMaskRulesPtr& aRules) = 0;
};

// Splits a comma list of column names: blanks (codes 1..32) around and between items,
// double-quoted items with "" for one quote.
QStringList ParseNameList(const QString& aList);

class TSqlLiterals;
class TScriptSink;

class TSliceExporter final : public ISliceExporter,
                             public std::enable_shared_from_this<TSliceExporter> {
public:
  // One configured relation: rows of TableName whose ForeignKey columns equal the
  // ParentKey columns of a ParentTable row (comma lists paired by position), narrowed by Filter.
  struct TChild {
    QString ParentTable;
    QString TableName;
    QString ForeignKey;
    QString ParentKey;
    QString Filter;
    // Worked out once when configured: the two column lists and the message of its walk.
    QStringList ForeignKeyFields;
    QStringList ParentKeyFields;
    QString Message;
  };

  // aConnection is not owned and must outlive every run.
  static ISliceExporterPtr New(TDbConnection* aConnection);
  static std::shared_ptr<TSliceExporter> Create(TDbConnection* aConnection);
  ~TSliceExporter() override;

  ISliceExporterPtr Table(const QString& aTable) override;
  ISliceExporterPtr Key(const QString& aField, const TValue& aValue) override;
  ISliceExporterPtr IncludeChildren(const QString& aTable, const QString& aForeignKey,
                                    const QString& aParentKey) override;
  ISliceExporterPtr IncludeRelated(const QString& aParentTable, const QString& aTable,
                                   const QString& aForeignKeys, const QString& aParentKeys,
                                   const QString& aFilter) override;
  ISliceExporterPtr Dependencies(bool aEnabled) override;
  ISliceExporterPtr Progress(const TSliceProgress& aCallback) override;
  void ListTables(QStringList* aTables) override;
  QString Generate() override;
  void SaveToFile(const QString& aFileName) override;
  ISliceExporterPtr DeferCycles(bool aEnabled) override;
  ISliceExporterPtr SkipArrays(bool aEnabled) override;
  ISliceExporterPtr Cancellation(const TCancellationPtr& aCancellation) override;
  ISliceExporterPtr Booleans(bool aEnabled) override;
  ISliceExporterPtr UnlimitedChains(bool aEnabled) override;
  ISliceExporterPtr Masking(const TMaskRulesPtr& aRules) override;

  // A row's identity while it is built: on the stack, one allocation when done.
  using TIdentityText = QVarLengthArray<char16_t, 128>;

  // Within one read-only snapshot the catalogue cannot change, so a run keeps catalogue
  // answers and prepared statements until it ends. Off: every lookup queries again.
  void SetRunCache(bool aEnabled) { FRunCache = aEnabled; }
  // The relations configured so far, in order: what a replay of the document looks through
  // for rows the target holds and the document does not.
  const QList<TChild>& Children() const { return FChildren; }

private:
  explicit TSliceExporter(TDbConnection* aConnection);

  // A row to write (Table, its Key, the Row and its origin as Text) or, without Table, a
  // progress message (Text): what the walk hands to the writer, in order.
  struct TWriteItem {
    QString Table;
    QStringList Key;
    TDbRow Row;
    QString Text;
    QStringList Nulls;        // columns written as NULL, for references still to come
    bool Completion = false;  // the second statement of a row written before without them
  };
  class TWriteQueue;

  // A reference of a row in a cycle left NULL until the row it references is written.
  struct TDeferral {
    QString OwnerTable;
    QStringList OwnerKey;
    TDbRow OwnerRow;
    QString OwnerIdentity;
    QString ForeignKey;
    QStringList Columns;  // the referencing columns
    QString Text;         // the comment of the completing statement
    QString ParentTable;
    TDbRow ParentRow;
    QString ParentIdentity;
    QString ParentOrigin;
  };
  // One row of the chain in progress: the walk keeps the chain itself, not the call stack,
  // so that a chain of any length fits.
  struct TChainFrame {
    QString Table;
    QString Identity;
    TDbRow Row;
    QString Origin;
    QStringList Key;
    QList<TForeignKey> ForeignKeys;          // the row's, walked in order; empty without dependencies
    qsizetype Next = 0;                      // the next of them
    enum class TStage { sParents, sParentDone, sCompletionDone } Stage = TStage::sParents;
    const TForeignKey* Following = nullptr;  // the key whose parent is being visited
    QString Link;                            // its columns, for the origin of a deferred reference
    QString ParentIdentity;                  // the identity of that parent
    QString Completing;                      // sCompletionDone: the row that had to be written
    QString CompletingTable;
    QList<TDeferral> Deferred;               // this row's references left for later
  };

  void Report(const QString& aMessage);
  // Runs aWork; once a stop has been requested, whatever ends it becomes the stop's own error.
  template <typename TWork>
  auto Stoppable(TWork&& aWork) -> decltype(aWork());
  void CheckStop() const {
    if (FCancellation) FCancellation->Check(CExportStopped);
  }
  void CheckRun() const;
  void RunScript(TScriptSink& aSink);
  void SaveScript(const QString& aFileName);
  void Walk(const std::function<void()>& aWalk);
  void Emit(TWriteItem&& aItem);
  void Write(const TWriteItem& aItem);
  void WriteRow(const TWriteItem& aItem);
  QString Describe(const QString& aTable, const QStringList& aKey, const TDbRow& aRow) const;
  void CheckRelationTree() const;
  void VisitRows(const QString& aTable, TRowBatch aRows, const QString& aOrigin);
  TRowBatch RelationRows(const TChild& aChild, const TDbRow& aRow);
  bool RelationsWalked(const QString& aTable, const TDbRow& aRow);
  void Visit(const QString& aTable, const TDbRow& aRow, const QString& aOrigin);
  void Enter(const QString& aTable, const TDbRow& aRow, const QString& aOrigin);
  void FollowParent(TChainFrame& aFrame);
  void Leave();
  void LoadRelationKeys(const QString& aTable, const TDbRow& aRow);
  void BreakCycle(const QString& aTable, const QString& aIdentity, const TDbRow& aRow, const QString& aOrigin,
                  qsizetype aStart);
  void ReportArrays(const QString& aTable);
  const TDeferral* CompletionFor(const TForeignKey& aForeignKey, const QString& aParentIdentity) const;
  void Written(const QString& aIdentity);
  void Complete(const TDeferral& aDeferral);
  void ResolvePending();
  QString RowDescription(const QString& aTable, const TDbRow& aRow);
  QString RowIdentity(const QString& aTable, const QStringList& aKey, const TDbRow& aRow) const;
  void AppendIdentityPart(TIdentityText& aIdentity, const TValue& aValue, const QString& aColumn) const;
  void AppendIdentityTable(TIdentityText& aIdentity, const QString& aTable) const;
  QString ParentIdentity(const TForeignKey& aForeignKey, int aIndex, const TDbRow& aRow);
  void ReadAhead(const QString& aTable, const QList<TDbRow>& aRows, bool aWithRelations, int aDepth,
                 QSet<QString>& aComing);

  TDbConnection* FConnection;
  QString FTable;
  QStringList FKeys;
  QList<TValue> FValues;
  QList<TChild> FChildren;
  bool FDependencies = true;
  bool FDeferCycles = false;
  bool FSkipArrays = false;
  TCancellationPtr FCancellation;
  bool FUnlimitedChains = false;
  TMaskRulesPtr FMaskRules;
  std::unique_ptr<TMasker> FMasker;  // the run's, when masking
  QList<TChainFrame> FChain;     // the chain of rows being written, innermost last
  QHash<QString, qsizetype> FInChain;  // their identities and places in FChain
  TIdentitySet FRelationsWalked;  // rows whose relations were walked
  QList<TDeferral> FPending;     // written rows whose deferred parent is not written yet
  QSet<QString> FPendingParents;
  bool FResolving = false;
  bool FCompleted = false;       // the writer wrote a completing statement
  QSet<QString> FArraysReported;
  TIdentitySet FVisited;
  mutable QHash<QString, qsizetype> FTableNumbers;  // of the run, for identities
  TScriptSink* FSink = nullptr;  // where the run's lines go, set while it runs
  QString FRowLines;   // the lines of the row being written
  int FCount = 0;
  TSliceProgress FProgress;
  QString FCharacterSet;
  std::unique_ptr<TSqlLiterals> FLiterals;     // the writer's
  std::unique_ptr<TSqlLiterals> FKeyLiterals;  // the walk's, for identities: converters are not shared
  TWriteQueue* FQueue = nullptr;               // set while the walk runs on its own thread
  TDbBlobReader* FBlobs = nullptr;             // the writer's, meanwhile
  TDbBlobReader* FWalkBlobs = nullptr;         // the walk's, for relations keyed on BLOBs
  std::unique_ptr<TSliceCatalogue> FCatalogue;
  bool FRunCache = true;
  struct TStatementFrame {
    int Fields = 0;
    QString Head;
    QString Tail;
  };
  QHash<QString, TStatementFrame> FStatementFrames;
  mutable QString FScratch;  // one key literal at a time, reused by the walk
};

// Comment text: one line, control characters escaped (see PrintableText), so that neither the
// script nor a terminal that shows it takes them as commands.
QString CommentText(const QString& aText);

}  // namespace Corvane
