// Exports only read their source. The demo database gets two counters that database
// triggers advance at every commit and every rollback; exports through the exporter, the
// background task and the command line, successful or not, must leave every row and every
// sequence as they were, commit nothing and change no record, and the transaction they
// read in, seen from the monitoring tables while the run is under way, is read-only snapshot.
#include "Corvane.Exporter.h"
#include "Corvane.Literals.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"
#include "ExportObservation.h"
#include "TestDatabase.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

const auto* const GEnvironment = ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

const char* const CCounters = R"SQL(
COMMIT;
CREATE SEQUENCE G_COMMITS;
CREATE SEQUENCE G_ROLLBACKS;
CREATE SEQUENCE G_UNTOUCHED START WITH 41;
SET TERM ^ ;
CREATE TRIGGER TR_COUNT_COMMITS ON TRANSACTION COMMIT AS
  DECLARE X BIGINT; BEGIN X = GEN_ID(G_COMMITS, 1); END^
CREATE TRIGGER TR_COUNT_ROLLBACKS ON TRANSACTION ROLLBACK AS
  DECLARE X BIGINT; BEGIN X = GEN_ID(G_ROLLBACKS, 1); END^
SET TERM ; ^
)SQL";

// Every row of every table and the value of every sequence, as sorted lines.
QStringList Contents(TDbConnection& aConnection) {
  QStringList LLines;
  const QStringList LTables = QueryRows(aConnection,
                                        "SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                                        "AND RDB$VIEW_BLR IS NULL ORDER BY 1");
  for (const QString& LTable : LTables) {
    for (const QString& LRow : QueryRows(aConnection, "SELECT * FROM " + TSqlLiterals::QuoteName(LTable), true))
      LLines << LTable + " " + LRow;
  }
  const QStringList LSequences =
      QueryRows(aConnection, "SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                             "AND RDB$GENERATOR_NAME NOT IN ('G_COMMITS', 'G_ROLLBACKS')");
  for (const QString& LSequence : LSequences) {
    LLines << LSequence + " = " +
                  QueryRows(aConnection, "SELECT GEN_ID(" + TSqlLiterals::QuoteName(LSequence) + ", 0) FROM RDB$DATABASE", true)
                      .join("");
  }
  LLines.sort();
  return LLines;
}

std::int64_t Counter(TDbConnection& aConnection, const QString& aName) {
  return QueryRows(aConnection, "SELECT GEN_ID(" + aName + ", 0) FROM RDB$DATABASE").value(0).toLongLong();
}

// Records written in the database since it was opened (it stays open through the watcher).
QString RecordChanges(TDbConnection& aConnection) {
  return QueryRows(aConnection,
                   "SELECT r.MON$RECORD_INSERTS, r.MON$RECORD_UPDATES, r.MON$RECORD_DELETES, r.MON$RECORD_BACKOUTS "
                   "FROM MON$DATABASE d JOIN MON$RECORD_STATS r ON r.MON$STAT_ID = d.MON$STAT_ID",
                   true)
      .join("");
}

struct TSeenTransaction {
  bool ReadOnly = false;
  int Isolation = -1;  // 0 consistency, 1 concurrency (snapshot), 2 and 3 read committed
};

class TSourceIntegrityTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { GDatabase = new TTestDatabase("source", DemoSql() + CCounters, "WIN1252"); }
  static void TearDownTestSuite() {
    delete GDatabase;
    GDatabase = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(FFolder.isValid());
    FWatcher = GDatabase->Connect("UTF8");
  }

  // The user transactions of other attachments, read from a connection of its own; called
  // from inside a run, where the run's transaction is the only other one.
  static QList<TSeenTransaction> OtherTransactions() {
    QList<TSeenTransaction> LSeen;
    auto LProbe = GDatabase->Connect("UTF8");
    LProbe->StartTransaction();
    TDbQuery LQuery(*LProbe);
    LQuery.SetSQL(
        "SELECT t.MON$READ_ONLY, t.MON$ISOLATION_MODE FROM MON$TRANSACTIONS t JOIN MON$ATTACHMENTS a "
        "ON a.MON$ATTACHMENT_ID = t.MON$ATTACHMENT_ID WHERE t.MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
        "AND a.MON$SYSTEM_FLAG = 0");
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next())
      LSeen.append({LQuery.Field(0).Value().AsInteger() == 1, int(LQuery.Field(1).Value().AsInteger())});
    LQuery.Close();
    LProbe->Rollback();
    return LSeen;
  }

  // An observer that looks at the monitoring tables at the first row a run writes.
  TObservedExporter::TObserver Probe(QList<TSeenTransaction>& aSeen, int& aProbes) {
    return [&aSeen, &aProbes](const QString& aMessage) {
      if (aProbes > 0 || !aMessage.startsWith(QLatin1String("Registro "))) return;
      ++aProbes;
      aSeen = OtherTransactions();
    };
  }

  static TTestDatabase* GDatabase;
  QTemporaryDir FFolder;
  std::unique_ptr<TDbConnection> FWatcher;
};
TTestDatabase* TSourceIntegrityTest::GDatabase = nullptr;

TEST_F(TSourceIntegrityTest, CountersSeeCommitsAndRollbacks) {
  // The instrument itself: a commit and a rollback elsewhere are counted.
  const std::int64_t LCommits = Counter(*FWatcher, "G_COMMITS");
  const std::int64_t LRollbacks = Counter(*FWatcher, "G_ROLLBACKS");
  GDatabase->Execute("SELECT 1 FROM RDB$DATABASE;");
  EXPECT_GT(Counter(*FWatcher, "G_COMMITS"), LCommits);
  EXPECT_GT(Counter(*FWatcher, "G_ROLLBACKS"), LRollbacks);
}

TEST_F(TSourceIntegrityTest, ExportsOfEveryKindLeaveTheSourceAsItWas) {
  const QStringList LBefore = Contents(*FWatcher);
  ASSERT_GT(LBefore.size(), 50);
  const QString LChangesBefore = RecordChanges(*FWatcher);
  const std::int64_t LCommits = Counter(*FWatcher, "G_COMMITS");
  const std::int64_t LRollbacks = Counter(*FWatcher, "G_ROLLBACKS");

  // 1. The exporter itself, on a connection set up for read-write, read-committed work: the
  //    run picks its own transaction options.
  {
    auto LConnection = GDatabase->Connect("WIN1252");
    LConnection->SetReadOnly(false);
    LConnection->SetIsolation(TIsolation::tiReadCommitted);
    QList<TSeenTransaction> LSeen;
    int LProbes = 0;
    TObservedExporter::Wrap(TNotaFiscalSlice::New(LConnection.get(), "000123"), Probe(LSeen, LProbes))
        ->Progress({})
        ->SaveToFile(FFolder.filePath("direct.sql"));
    ASSERT_EQ(LProbes, 1);
    ASSERT_EQ(LSeen.size(), 1);
    EXPECT_TRUE(LSeen[0].ReadOnly);
    EXPECT_EQ(LSeen[0].Isolation, 1) << "snapshot (concurrency)";
    EXPECT_FALSE(LConnection->InTransaction());
    EXPECT_FALSE(LConnection->ReadOnly()) << "the connection's own options come back";
  }

  // 2. The background task, probed from its pool thread.
  {
    QList<TSeenTransaction> LSeen;
    int LProbes = 0;
    TTaskOutcome LOutcome;
    TSliceExportTask::RunScenario(
        GDatabase->Params(), FFolder.filePath("task.sql"),
        [&](TDbConnection* aConnection) {
          return TObservedExporter::Wrap(TNFSeSlice::New(aConnection, 1001), Probe(LSeen, LProbes));
        },
        LOutcome.Completed(), LOutcome.ProgressCallback());
    ASSERT_TRUE(LOutcome.Wait());
    EXPECT_EQ(LOutcome.ErrorMessage, "");
    ASSERT_EQ(LSeen.size(), 1);
    EXPECT_TRUE(LSeen[0].ReadOnly);
    EXPECT_EQ(LSeen[0].Isolation, 1);
  }

  // 3. A run that fails after its transaction started, and 4. the command-line program.
  {
    auto LConnection = GDatabase->Connect("WIN1252");
    EXPECT_THROW(TNotaFiscalSlice::New(LConnection.get(), "999999")->SaveToFile(FFolder.filePath("none.sql")),
                 TCorvaneError);
  }
  const QString LConfig = FFolder.filePath("config.ini");
  WriteFileBytes(LConfig, QString("[Firebird]\nUserName=%1\nPassword=%2\n[BANCO]\nCAMINHO=%3\n")
                              .arg(ServerUser(), ServerPassword(), GDatabase->Path())
                              .toUtf8());
  const TCliRun LCli = RunCliProgram({"nota", "000124", "-o", FFolder.filePath("cli.sql"), "--config", LConfig});
  EXPECT_EQ(LCli.ExitCode, 0) << LCli.Err.toStdString();

  for (const char* LFile : {"direct.sql", "task.sql", "cli.sql"})
    EXPECT_TRUE(ReadFileBytes(FFolder.filePath(LFile)).contains("COMMIT;")) << LFile;
  EXPECT_EQ(Counter(*FWatcher, "G_COMMITS"), LCommits) << "an export committed a transaction";
  // Four runs, each one rollback (the watcher's own reads add theirs).
  EXPECT_GE(Counter(*FWatcher, "G_ROLLBACKS") - LRollbacks, 4);
  EXPECT_EQ(RecordChanges(*FWatcher), LChangesBefore) << "records were inserted, updated or deleted";
  EXPECT_EQ(Contents(*FWatcher), LBefore);
}

}  // namespace
