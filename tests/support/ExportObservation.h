#pragma once
// Helpers of the reliability tests: an application object for queued completions, an
// exporter that lets a test act in the middle of a run, the outcome of a task run, the
// built command-line program, and listings of folders.
#include "Corvane.ExportTask.h"
#include "Corvane.Exporter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace Corvane::Testing {

// Queued calls need an application object and its event loop on the test's thread.
class TApplicationEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    static int LArgc = 1;
    static char LName[] = "corvane-tests";
    static char* LArgv[] = {LName, nullptr};
    FApplication = std::make_unique<QCoreApplication>(LArgc, LArgv);
  }
  void TearDown() override { FApplication.reset(); }

private:
  std::unique_ptr<QCoreApplication> FApplication;
};

// Runs the event loop until aDone holds or the time is up.
inline bool WaitFor(const std::function<bool()>& aDone, int aMilliseconds = 120000) {
  const QDeadlineTimer LDeadline(aMilliseconds);
  QTimer LTick;
  LTick.start(20);
  while (!aDone()) {
    if (LDeadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

// Lets late queued calls (a second completion, say) arrive.
inline void Settle(int aMilliseconds = 300) {
  const QDeadlineTimer LDeadline(aMilliseconds);
  while (!LDeadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Wraps a real exporter and calls aObserver with every progress message, synchronously, on
// the thread of the run and while its transaction is open; then passes the message on.
class TObservedExporter final : public ISliceExporter, public std::enable_shared_from_this<TObservedExporter> {
public:
  using TObserver = std::function<void(const QString& aMessage)>;
  static ISliceExporterPtr Wrap(ISliceExporterPtr aInner, TObserver aObserver) {
    return std::make_shared<TObservedExporter>(std::move(aInner), std::move(aObserver));
  }
  TObservedExporter(ISliceExporterPtr aInner, TObserver aObserver)
      : FInner(std::move(aInner)), FObserver(std::move(aObserver)) {}

  ISliceExporterPtr Table(const QString& aTable) override { return Self(FInner->Table(aTable)); }
  ISliceExporterPtr Key(const QString& aField, const TValue& aValue) override { return Self(FInner->Key(aField, aValue)); }
  ISliceExporterPtr IncludeChildren(const QString& aTable, const QString& aForeignKey,
                                    const QString& aParentKey) override {
    return Self(FInner->IncludeChildren(aTable, aForeignKey, aParentKey));
  }
  ISliceExporterPtr IncludeRelated(const QString& aParentTable, const QString& aTable, const QString& aForeignKeys,
                                   const QString& aParentKeys, const QString& aFilter) override {
    return Self(FInner->IncludeRelated(aParentTable, aTable, aForeignKeys, aParentKeys, aFilter));
  }
  ISliceExporterPtr Dependencies(bool aEnabled) override { return Self(FInner->Dependencies(aEnabled)); }
  ISliceExporterPtr DeferCycles(bool aEnabled) override { return Self(FInner->DeferCycles(aEnabled)); }
  ISliceExporterPtr SkipArrays(bool aEnabled) override { return Self(FInner->SkipArrays(aEnabled)); }
  ISliceExporterPtr Cancellation(const TCancellationPtr& aCancellation) override {
    return Self(FInner->Cancellation(aCancellation));
  }
  ISliceExporterPtr Booleans(bool aEnabled) override { return Self(FInner->Booleans(aEnabled)); }
  ISliceExporterPtr UnlimitedChains(bool aEnabled) override { return Self(FInner->UnlimitedChains(aEnabled)); }
  ISliceExporterPtr Masking(const TMaskRulesPtr& aRules) override { return Self(FInner->Masking(aRules)); }
  ISliceExporterPtr Progress(const TSliceProgress& aCallback) override {
    FInner->Progress([LObserver = FObserver, aCallback](const QString& aMessage) {
      LObserver(aMessage);
      if (aCallback) aCallback(aMessage);
    });
    return shared_from_this();
  }
  void ListTables(QStringList* aTables) override { FInner->ListTables(aTables); }
  QString Generate() override { return FInner->Generate(); }
  void SaveToFile(const QString& aFileName) override { FInner->SaveToFile(aFileName); }

private:
  ISliceExporterPtr Self(const ISliceExporterPtr&) { return shared_from_this(); }
  ISliceExporterPtr FInner;
  TObserver FObserver;
};

// What one background run delivered.
struct TTaskOutcome {
  int Completions = 0;
  QString FileName;
  QString ErrorMessage;
  QStringList Progress;
  TSliceExportCompleted Completed() {
    return [this](const QString& aFileName, const QString& aErrorMessage) {
      ++Completions;
      FileName = aFileName;
      ErrorMessage = aErrorMessage;
    };
  }
  TSliceProgress ProgressCallback() {
    return [this](const QString& aMessage) { Progress << aMessage; };
  }
  // Waits for the completion, then a little longer for any second one.
  bool Wait(int aMilliseconds = 300000) {
    const bool LDone = WaitFor([this] { return Completions > 0; }, aMilliseconds);
    Settle();
    return LDone;
  }
};

// The built corvane-cli beside the tests (build/tests -> build/cli), unless CORVANE_CLI names another.
inline QString CliProgram() {
  const QString LOverride = qEnvironmentVariable("CORVANE_CLI");
  if (!LOverride.isEmpty()) return LOverride;
  const QString LTests = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
  return QDir(LTests).absoluteFilePath(QStringLiteral("../cli/corvane-cli"));
}

struct TCliRun {
  int ExitCode = -1;
  bool Crashed = false;  // ended by a signal
  QString Out;
  QString Err;
};

// Runs corvane-cli; aPrepare may change the process before it starts (user, limits).
inline TCliRun RunCliProgram(const QStringList& aArguments,
                             const std::function<void(QProcess&)>& aPrepare = {}) {
  TCliRun LRun;
  QProcess LProcess;
  if (aPrepare) aPrepare(LProcess);
  LProcess.start(CliProgram(), aArguments);
  if (!LProcess.waitForFinished(300000)) {
    LProcess.kill();
    LProcess.waitForFinished();
    LRun.Err = "did not finish: " + LProcess.errorString();
    LRun.Crashed = true;
    return LRun;
  }
  LRun.Crashed = LProcess.exitStatus() != QProcess::NormalExit;
  LRun.ExitCode = LRun.Crashed ? -1 : LProcess.exitCode();
  LRun.Out = QString::fromUtf8(LProcess.readAllStandardOutput());
  LRun.Err = QString::fromUtf8(LProcess.readAllStandardError());
  return LRun;
}

// Names in a folder, hidden ones included: a temporary file left behind shows up here.
inline QStringList FolderEntries(const QString& aFolder) {
  return QDir(aFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace Corvane::Testing
