// The background export task: message order, one completion per run, callbacks only on the
// application thread and never inside the starting call, failures turned into the outcome.
#include "Corvane.ExportTask.h"
#include "Corvane.Errors.h"
#include "TestDatabase.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

// Queued calls need an application object and its event loop on the test's thread.
class TApplicationEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    static int LArgc = 1;
    static char LName[] = "TaskTests";
    static char* LArgv[] = {LName, nullptr};
    FApplication = std::make_unique<QCoreApplication>(LArgc, LArgv);
  }
  void TearDown() override { FApplication.reset(); }

private:
  std::unique_ptr<QCoreApplication> FApplication;
};
const auto* const GEnvironment = ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

// Runs the event loop until aDone holds or the time is up.
bool WaitFor(const std::function<bool()>& aDone, int aMilliseconds = 120000) {
  const QDeadlineTimer LDeadline(aMilliseconds);
  QTimer LTick;
  LTick.start(20);
  while (!aDone()) {
    if (LDeadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Lets queued calls that should not exist show up.
void Settle() {
  const QDeadlineTimer LDeadline(300);
  while (!LDeadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Everything a run delivered, in arrival order, and where it was delivered.
struct TRecorder {
  QStringList Events;  // "progress: ..." and "completed: file | error"
  QStringList Progress;
  int Completions = 0;
  QString FileName;
  QString ErrorMessage;
  bool Starting = false;  // true while the starting call runs
  bool CalledWhileStarting = false;
  bool CalledOffThread = false;

  void Note() {
    if (Starting) CalledWhileStarting = true;
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) CalledOffThread = true;
  }
  TSliceProgress ProgressCallback() {
    return [this](const QString& aMessage) {
      Note();
      Progress << aMessage;
      Events << "progress: " + aMessage;
    };
  }
  TSliceExportCompleted CompletedCallback() {
    return [this](const QString& aFileName, const QString& aErrorMessage) {
      Note();
      ++Completions;
      FileName = aFileName;
      ErrorMessage = aErrorMessage;
      Events << "completed: " + aFileName + " | " + aErrorMessage;
    };
  }
  bool WaitDone() { return WaitFor([this] { return Completions > 0; }); }
};

// Parameters of a server that cannot be reached: nothing listens on port 1.
QString UnreachableParameters() {
  return "DriverID=FB\r\nProtocol=TCPIP\r\nServer=127.0.0.1/1\r\nDatabase=/var/tmp/corvane-tests/none.fdb\r\n"
         "User_Name=SYSDBA\r\nPassword=x\r\nCharacterSet=WIN1252\r\n";
}

class TTaskDatabaseTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { FDatabase = new TTestDatabase("task", NFSeSchema()); }
  static void TearDownTestSuite() {
    delete FDatabase;
    FDatabase = nullptr;
  }
  static TTestDatabase* FDatabase;
  QTemporaryDir FFolder;
};
TTestDatabase* TTaskDatabaseTest::FDatabase = nullptr;

}  // namespace

TEST(TaskTest, MissingCompletionFailsAtOnceAndStartsNothing) {
  TRecorder LRecorder;
  try {
    TSliceExportTask::Run(UnreachableParameters(), 1, "x.sql", TSliceExportCompleted(), LRecorder.ProgressCallback());
    FAIL() << "no error raised";
  } catch (const TArgumentError& E) {
    EXPECT_EQ(E.Message(), "Informe o callback de conclusao.");
  }
  EXPECT_THROW(TSliceExportTask::RunScenario(UnreachableParameters(), "x.sql",
                                             [](TDbConnection*) -> ISliceExporterPtr { return nullptr; }, {}, {}),
               TArgumentError);
  Settle();
  EXPECT_TRUE(LRecorder.Events.isEmpty()) << LRecorder.Events.join("\n").toStdString();
}

TEST(TaskTest, UnreachableServerEndsAfterTheFirstMessageOnTheApplicationThread) {
  const QString LFile = QDir::temp().filePath("corvane-task-unreachable.sql");
  QFile::remove(LFile);
  TRecorder LRecorder;
  LRecorder.Starting = true;
  const TSliceExportHandle LHandle = TSliceExportTask::Run(UnreachableParameters(), 42, LFile,
                                                           LRecorder.CompletedCallback(), LRecorder.ProgressCallback());
  LRecorder.Starting = false;
  ASSERT_TRUE(LHandle);
  ASSERT_TRUE(LRecorder.WaitDone());
  Settle();

  EXPECT_EQ(LRecorder.Progress, QStringList{"Conectando ao banco de origem..."});
  EXPECT_EQ(LRecorder.Completions, 1);
  EXPECT_EQ(LRecorder.FileName, LFile);
  EXPECT_FALSE(LRecorder.ErrorMessage.isEmpty());
  EXPECT_TRUE(LRecorder.Events.last().startsWith("completed: "));
  EXPECT_FALSE(LRecorder.CalledWhileStarting);
  EXPECT_FALSE(LRecorder.CalledOffThread);
  EXPECT_FALSE(QFile::exists(LFile));
}

TEST(TaskTest, RunsWithoutProgressCallbackEachCompleteOnce) {
  // Several runs at once, none with a progress callback: each delivers exactly its own completion.
  TRecorder LFirst, LSecond, LThird;
  TSliceExportTask::Run(UnreachableParameters(), 1, "a.sql", LFirst.CompletedCallback(), {});
  TSliceExportTask::RunNotaFiscal(UnreachableParameters(), "12", "b.sql", LSecond.CompletedCallback(), nullptr);
  TSliceExportTask::Run(UnreachableParameters(), 3, "c.sql", LThird.CompletedCallback(), {});
  ASSERT_TRUE(WaitFor([&] { return LFirst.Completions && LSecond.Completions && LThird.Completions; }));
  Settle();
  EXPECT_EQ(LFirst.Completions, 1);
  EXPECT_EQ(LSecond.Completions, 1);
  EXPECT_EQ(LThird.Completions, 1);
  EXPECT_EQ(LFirst.FileName, "a.sql");
  EXPECT_EQ(LSecond.FileName, "b.sql");
  EXPECT_EQ(LThird.FileName, "c.sql");
  EXPECT_FALSE(LSecond.ErrorMessage.isEmpty());
}

TEST_F(TTaskDatabaseTest, NFSeRunReportsInOrderAndCompletesLast) {
  const QString LFile = FFolder.filePath("NFSe_42.sql");
  TRecorder LRecorder;
  LRecorder.Starting = true;
  TSliceExportTask::Run(FDatabase->Params(), 42, LFile, LRecorder.CompletedCallback(), LRecorder.ProgressCallback());
  LRecorder.Starting = false;
  ASSERT_TRUE(LRecorder.WaitDone());
  Settle();

  ASSERT_EQ(LRecorder.ErrorMessage, "") << LRecorder.Events.join("\n").toStdString();
  EXPECT_EQ(LRecorder.Completions, 1);
  EXPECT_EQ(LRecorder.FileName, LFile);
  ASSERT_GE(LRecorder.Progress.size(), 4);
  EXPECT_EQ(LRecorder.Progress.at(0), "Conectando ao banco de origem...");
  EXPECT_EQ(LRecorder.Progress.at(1), "Conexao estabelecida. Gerando script...");
  EXPECT_EQ(LRecorder.Progress.last(), "Gravando arquivo SQL...");
  // Parent before child, then the configured relations in order.
  const QStringList LRows = LRecorder.Progress.filter("exportado.");
  EXPECT_EQ(LRows, (QStringList{"Registro 1: CLIENTE exportado.", "Registro 2: NFSRES exportado.",
                                "Registro 3: NFSPRO exportado.", "Registro 4: NFSPRO exportado.",
                                "Registro 5: DUPREC exportado."}));
  EXPECT_TRUE(LRecorder.Events.last().startsWith("completed: "));
  EXPECT_FALSE(LRecorder.CalledWhileStarting);
  EXPECT_FALSE(LRecorder.CalledOffThread);
  EXPECT_TRUE(ReadFileBytes(LFile).contains("\"NFSRES\""));
}

TEST_F(TTaskDatabaseTest, BlankNotaNumFailsAfterBothConnectionMessages) {
  const QString LFile = FFolder.filePath("NotaFiscal.sql");
  TRecorder LRecorder;
  TSliceExportTask::RunNotaFiscal(FDatabase->Params(), "   ", LFile, LRecorder.CompletedCallback(),
                                  LRecorder.ProgressCallback());
  ASSERT_TRUE(LRecorder.WaitDone());
  Settle();
  EXPECT_EQ(LRecorder.Progress,
            (QStringList{"Conectando ao banco de origem...", "Conexao estabelecida. Gerando script..."}));
  EXPECT_EQ(LRecorder.ErrorMessage, "Informe o NOTANUM.");
  EXPECT_EQ(LRecorder.Completions, 1);
  EXPECT_FALSE(QFile::exists(LFile));
}

TEST_F(TTaskDatabaseTest, ExporterFailureArrivesAfterItsEarlierMessages) {
  const QString LFile = FFolder.filePath("NFSe_404.sql");
  TRecorder LRecorder;
  TSliceExportTask::Run(FDatabase->Params(), 404, LFile, LRecorder.CompletedCallback(), LRecorder.ProgressCallback());
  ASSERT_TRUE(LRecorder.WaitDone());
  Settle();
  EXPECT_EQ(LRecorder.ErrorMessage, "Registro nao encontrado em NFSRES.");
  EXPECT_EQ(LRecorder.Progress.mid(0, 2),
            (QStringList{"Conectando ao banco de origem...", "Conexao estabelecida. Gerando script..."}));
  EXPECT_TRUE(LRecorder.Events.last().startsWith("completed: "));
  EXPECT_FALSE(QFile::exists(LFile));
}

TEST_F(TTaskDatabaseTest, EveryKindOfFailureBecomesANonEmptyMessage) {
  struct TCase {
    const char* Name;
    TSliceExporterFactory Factory;
    QString Expected;  // empty: any non-empty text
  };
  const QList<TCase> LCases{
      {"std::exception", [](TDbConnection*) -> ISliceExporterPtr { throw std::runtime_error("falhou aqui"); },
       "falhou aqui"},
      {"non-standard", [](TDbConnection*) -> ISliceExporterPtr { throw 42; }, {}},
      {"error without text", [](TDbConnection*) -> ISliceExporterPtr { throw TCorvaneError(""); }, {}},
      {"no exporter", [](TDbConnection*) -> ISliceExporterPtr { return nullptr; }, {}},
  };
  for (const TCase& LCase : LCases) {
    SCOPED_TRACE(LCase.Name);
    TRecorder LRecorder;
    TSliceExportTask::RunScenario(FDatabase->Params(), "f.sql", LCase.Factory, LRecorder.CompletedCallback(),
                                  LRecorder.ProgressCallback());
    ASSERT_TRUE(LRecorder.WaitDone());
    Settle();
    EXPECT_EQ(LRecorder.Completions, 1);
    EXPECT_FALSE(LRecorder.ErrorMessage.trimmed().isEmpty());
    if (!LCase.Expected.isEmpty()) EXPECT_EQ(LRecorder.ErrorMessage, LCase.Expected);
  }
}
