// Exports that meet a fault: the server stopped in the middle of a large document, a target
// folder that does not exist or cannot be written, a file system that fills up while the
// script is written. Each ends with a clear error, leaves nothing behind and keeps an
// existing target file as it was; after the fault the next export works.
//
// The server that is stopped is a second Firebird instance this test starts itself (as the
// firebird user, on a port of its own, with its own lock folder and copies of the
// configuration and security database); the shared server on 3050 is never touched.
#include "Corvane.Exporter.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"
#include "ExportObservation.h"
#include "TestDatabase.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <csignal>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

const auto* const GEnvironment = ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

const QByteArray COldScript = "-- versao anterior do script, que nenhuma falha pode alterar\n";

bool PortOpen(int aPort) {
  const int LSocket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (LSocket < 0) return false;
  sockaddr_in LAddress{};
  LAddress.sin_family = AF_INET;
  LAddress.sin_port = htons(std::uint16_t(aPort));
  LAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool LOpen = ::connect(LSocket, reinterpret_cast<sockaddr*>(&LAddress), sizeof LAddress) == 0;
  ::close(LSocket);
  return LOpen;
}

bool SameFileContent(const QString& aFile, const QByteArray& aContent) { return ReadFileBytes(aFile) == aContent; }

// ---------------------------------------------------------------------------------------
// A Firebird server of the test's own.

class TOwnServer {
public:
  // Prepares the folder and starts the server; Problem() says why when it cannot run here.
  TOwnServer() {
    const QString LRoot = QStringLiteral("/usr/lib/x86_64-linux-gnu/firebird/3.0");
    const passwd* LUser = ::getpwnam("firebird");
    if (!QFileInfo::exists(CProgram) || !QFileInfo::exists(LRoot + "/firebird.msg") || !LUser) {
      FProblem = "o servidor Firebird 3 do Debian nao esta instalado";
      return;
    }
    if (::geteuid() != 0) {
      FProblem = "somente root pode iniciar um servidor como o usuario firebird";
      return;
    }
    FUid = LUser->pw_uid;
    FGid = LUser->pw_gid;
    FFolder = std::make_unique<QTemporaryDir>(QStringLiteral("/var/tmp/corvane-server-XXXXXX"));
    const QString LDir = FFolder->path();
    QDir().mkpath(LDir + "/lock");
    QDir().mkpath(LDir + "/data");
    // The configuration of the installed server, listening elsewhere and with a security
    // database of its own (the shared server holds the installed one exclusively).
    const QByteArray LConf = ReadFileBytes("/etc/firebird/3.0/firebird.conf") +
                             "\nRemoteBindAddress = 127.0.0.1\nSecurityDatabase = " + LDir.toUtf8() +
                             "/security3.fdb\n";
    WriteFileBytes(LDir + "/databases.conf", "security.db = " + LDir.toUtf8() + "/security3.fdb\n");
    for (const char* LFile : {"plugins.conf", "fbtrace.conf"})
      QFile::copy(QStringLiteral("/etc/firebird/3.0/") + LFile, LDir + "/" + LFile);
    QFile::link(LRoot + "/firebird.msg", LDir + "/firebird.msg");
    // Character sets other than the built-in ones come from the intl module below the root;
    // a linked folder loads the library but leaves the sets undefined, copies work.
    QDir().mkpath(LDir + "/intl");
    QFile::copy(LRoot + "/intl/libfbintl.so", LDir + "/intl/libfbintl.so");
    QFile::copy("/etc/firebird/3.0/fbintl.conf", LDir + "/intl/fbintl.conf");
    if (!QFile::copy("/var/lib/firebird/3.0/system/security3.fdb", LDir + "/security3.fdb")) {
      FProblem = "nao foi possivel copiar o banco de seguranca do servidor";
      return;
    }
    // The server writes its folders and the security database; the rest it only reads.
    for (const QString& LPath : {LDir, LDir + "/lock", LDir + "/data", LDir + "/intl", LDir + "/security3.fdb"})
      if (::chown(LPath.toLocal8Bit().constData(), FUid, FGid) != 0) FProblem = "chown falhou: " + LPath;
    if (!FProblem.isEmpty()) return;
    // The first free port that the server really gets: another run of these tests may take
    // a port between the check and the start.
    for (int LPort = 3055; LPort < 3075; ++LPort) {
      if (PortOpen(LPort)) continue;
      FPort = LPort;
      WriteFileBytes(LDir + "/firebird.conf", LConf + "RemoteServicePort = " + QByteArray::number(LPort) + "\n");
      if (Start()) return;
      Stop();
    }
    FProblem = "o servidor proprio nao abriu nenhuma porta entre 3055 e 3074";
  }
  ~TOwnServer() { Stop(); }

  const QString& Problem() const { return FProblem; }
  int Port() const { return FPort; }
  QString DataFolder() const { return FFolder->path() + "/data"; }

  bool Start() {
    Stop();
    FProcess = std::make_unique<QProcess>();
    QProcessEnvironment LEnvironment = QProcessEnvironment::systemEnvironment();
    LEnvironment.insert("FIREBIRD", FFolder->path());
    LEnvironment.insert("FIREBIRD_LOCK", FFolder->path() + "/lock");
    FProcess->setProcessEnvironment(LEnvironment);
    FProcess->setStandardOutputFile(FFolder->path() + "/server.log", QIODevice::Append);
    FProcess->setStandardErrorFile(FFolder->path() + "/server.log", QIODevice::Append);
    const uid_t LUid = FUid;
    const gid_t LGid = FGid;
    FProcess->setChildProcessModifier([LUid, LGid]() {
      // In the child, before exec: become the firebird user for good.
      if (::setgroups(0, nullptr) != 0 || ::setgid(LGid) != 0 || ::setuid(LUid) != 0) ::_exit(127);
    });
    // -d keeps the server in the foreground, so that the process started here is the server.
    FProcess->start(CProgram, {QStringLiteral("-d")});
    if (!FProcess->waitForStarted(10000)) return false;
    FPid = FProcess->processId();
    const QDeadlineTimer LDeadline(20000);
    while (!PortOpen(FPort)) {
      if (LDeadline.hasExpired() || FProcess->state() != QProcess::Running) return false;
      QThread::msleep(50);
    }
    // A server that lost the port to another one ends at once; the one listening is not ours.
    return !FProcess->waitForFinished(300) && PortOpen(FPort);
  }

  // Kills the server this object started, and only that one; callable from a run's thread.
  // The process cannot have been reaped yet: that happens only in Stop, on the test's thread.
  void Kill() const {
    if (FPid > 0) ::kill(pid_t(FPid), SIGKILL);
  }

  void Stop() {
    if (!FProcess) return;
    if (FProcess->state() == QProcess::Running) ::kill(pid_t(FProcess->processId()), SIGKILL);
    FProcess->waitForFinished(20000);
    FPid = 0;
    FProcess.reset();
  }

private:
  static inline const QString CProgram = QStringLiteral("/usr/sbin/firebird");
  QString FProblem;
  int FPort = 0;
  uid_t FUid = 0;
  gid_t FGid = 0;
  std::unique_ptr<QTemporaryDir> FFolder;
  std::unique_ptr<QProcess> FProcess;
  std::atomic<qint64> FPid{0};
};

class TServerStopTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    GServer = new TOwnServer();
    if (!GServer->Problem().isEmpty()) return;
    // A large Nota Fiscal, made by the shared server in the own server's folder; once the
    // shared server has let the file go, only the own server opens it.
    GDatabase = new QString(GServer->DataFolder() + "/bench.fdb");
    QProcess LMake;
    QProcessEnvironment LEnvironment = QProcessEnvironment::systemEnvironment();
    LEnvironment.insert("CORVANE_DB_PASSWORD", ServerPassword());
    LMake.setProcessEnvironment(LEnvironment);
    LMake.start("bash", {QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../demo/make-bench.sh",
                         QString::number(CItems), *GDatabase});
    if (!LMake.waitForFinished(300000) || LMake.exitCode() != 0)
      GMakeError = new QString(QString::fromUtf8(LMake.readAllStandardError()));
  }
  static void TearDownTestSuite() {
    delete GServer;  // kills the server; its folder, the database included, goes with it
    GServer = nullptr;
    delete GDatabase;
    GDatabase = nullptr;
    delete GMakeError;
    GMakeError = nullptr;
  }
  void SetUp() override {
    if (!GServer->Problem().isEmpty()) GTEST_SKIP() << "sem servidor proprio: " << GServer->Problem().toStdString();
    ASSERT_EQ(GMakeError, nullptr) << GMakeError->toStdString();
    ASSERT_TRUE(FFolder.isValid());
  }

  static QString Params() {
    return QString("DriverID=FB\r\nProtocol=TCPIP\r\nServer=127.0.0.1/%1\r\nDatabase=%2\r\nUser_Name=%3\r\n"
                   "Password=%4\r\nCharacterSet=WIN1252\r\n")
        .arg(QString::number(GServer->Port()), *GDatabase, ServerUser(), ServerPassword());
  }

  // Runs the large Nota Fiscal in the background; with aKillAt > 0 the server is killed from
  // inside the run, when it reports its aKillAt-th row.
  TTaskOutcome Export(const QString& aFile, int aKillAt) {
    TTaskOutcome LOutcome;
    int LRows = 0;
    TSliceExportTask::RunScenario(
        Params(), aFile,
        [aKillAt, &LRows](TDbConnection* aConnection) {
          return TObservedExporter::Wrap(TNotaFiscalSlice::New(aConnection, "900001"),
                                         [aKillAt, &LRows](const QString& aMessage) {
                                           if (aMessage.startsWith(QLatin1String("Registro ")) && ++LRows == aKillAt)
                                             GServer->Kill();
                                         });
        },
        LOutcome.Completed(), LOutcome.ProgressCallback());
    EXPECT_TRUE(LOutcome.Wait()) << "the run never completed";
    FRowsSeen = LRows;
    return LOutcome;
  }

  static constexpr int CItems = 400;
  static TOwnServer* GServer;
  static QString* GDatabase;
  static QString* GMakeError;
  QTemporaryDir FFolder;
  int FRowsSeen = 0;
};
TOwnServer* TServerStopTest::GServer = nullptr;
QString* TServerStopTest::GDatabase = nullptr;
QString* TServerStopTest::GMakeError = nullptr;

// What the client library says when its server goes away, in any of its forms.
bool IsLostConnectionMessage(const QString& aMessage) {
  for (const char* LPart : {"connection", "network", "shutdown", "connect"})
    if (aMessage.contains(QLatin1String(LPart), Qt::CaseInsensitive)) return true;
  return false;
}

TEST_F(TServerStopTest, StoppedInTheMiddleTheRunFailsOnceLeavesNoFileAndTheNextRunWorks) {
  // No target yet: none appears.
  const QString LNew = FFolder.filePath("nota-900001.sql");
  const TTaskOutcome LFirst = Export(LNew, 200);
  EXPECT_EQ(LFirst.Completions, 1);
  EXPECT_EQ(LFirst.FileName, LNew);
  EXPECT_TRUE(IsLostConnectionMessage(LFirst.ErrorMessage)) << LFirst.ErrorMessage.toStdString();
  RecordProperty("message", LFirst.ErrorMessage.toStdString());
  EXPECT_FALSE(LFirst.Progress.contains(QStringLiteral("Gravando arquivo SQL...")));
  const int LRowsOfFirst = FRowsSeen;
  EXPECT_TRUE(FolderEntries(FFolder.path()).isEmpty()) << FolderEntries(FFolder.path()).join(", ").toStdString();

  // An existing target stays as it was.
  ASSERT_TRUE(GServer->Start());
  const QString LOld = FFolder.filePath("existente.sql");
  WriteFileBytes(LOld, COldScript);
  const TTaskOutcome LSecond = Export(LOld, 50);
  EXPECT_EQ(LSecond.Completions, 1);
  EXPECT_TRUE(IsLostConnectionMessage(LSecond.ErrorMessage)) << LSecond.ErrorMessage.toStdString();
  EXPECT_TRUE(SameFileContent(LOld, COldScript));
  EXPECT_EQ(FolderEntries(FFolder.path()), QStringList{"existente.sql"});

  // Restarted, the same export completes and replaces the old file.
  ASSERT_TRUE(GServer->Start());
  const TTaskOutcome LThird = Export(LOld, 0);
  EXPECT_EQ(LThird.Completions, 1);
  EXPECT_EQ(LThird.ErrorMessage.toStdString(), "");
  const QByteArray LScript = ReadFileBytes(LOld);
  EXPECT_TRUE(LScript.endsWith("COMMIT;\r\n"));
  EXPECT_GT(LScript.count("UPDATE OR INSERT INTO \"NOTAPRO\""), CItems - 1);
  // Rows already fetched may still be written after the kill, but not the whole document.
  EXPECT_LT(LRowsOfFirst, FRowsSeen);
  EXPECT_EQ(FolderEntries(FFolder.path()), QStringList{"existente.sql"});
}

// ---------------------------------------------------------------------------------------
// Target folders and full file systems, against the shared server.

class TTargetFaultTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { GDemo = new TTestDatabase("faults", DemoSql(), "WIN1252"); }
  static void TearDownTestSuite() {
    delete GDemo;
    GDemo = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(FFolder.isValid()); }

  // The message of a failed in-process export of NFSe aNFSID into aFile; empty when it worked.
  static QString SaveError(const QString& aFile, std::int64_t aNFSID = 1003) {
    auto LConnection = GDemo->Connect("WIN1252");
    try {
      TNFSeSlice::New(LConnection.get(), aNFSID)->SaveToFile(aFile);
    } catch (const TCorvaneError& aError) {
      return aError.Message();
    }
    return {};
  }

  // A settings file corvane-cli reads, in a folder anyone may read.
  QString WriteConfig() {
    const QString LFile = FFolder.filePath("config.ini");
    WriteFileBytes(LFile, QString("[Firebird]\nUserName=%1\nPassword=%2\n[BANCO]\nCAMINHO=%3\n")
                              .arg(ServerUser(), ServerPassword(), GDemo->Path())
                              .toUtf8());
    ::chmod(FFolder.path().toLocal8Bit().constData(), 0755);
    ::chmod(LFile.toLocal8Bit().constData(), 0644);
    return LFile;
  }

  static TTestDatabase* GDemo;
  QTemporaryDir FFolder;
};
TTestDatabase* TTargetFaultTest::GDemo = nullptr;

TEST_F(TTargetFaultTest, MissingFolderFailsInEveryFrontEndWithoutCreatingIt) {
  const QString LFile = FFolder.filePath("nao/existe/NFSe_1003.sql");
  const QString LError = SaveError(LFile);
  EXPECT_TRUE(LError.startsWith("Nao foi possivel criar o arquivo " + LFile + ": ")) << LError.toStdString();
  EXPECT_FALSE(QFileInfo::exists(FFolder.filePath("nao")));

  TTaskOutcome LOutcome;
  TSliceExportTask::Run(GDemo->Params(), 1003, LFile, LOutcome.Completed(), LOutcome.ProgressCallback());
  ASSERT_TRUE(LOutcome.Wait());
  EXPECT_EQ(LOutcome.Completions, 1);
  EXPECT_EQ(LOutcome.ErrorMessage, LError);

  const TCliRun LRun = RunCliProgram({"nfse", "1003", "-o", LFile, "--config", WriteConfig(), "--quiet"});
  EXPECT_EQ(LRun.ExitCode, 1);
  EXPECT_TRUE(LRun.Err.contains("ERRO: " + LError)) << LRun.Err.toStdString();
  EXPECT_EQ(FolderEntries(FFolder.path()), QStringList{"config.ini"});
}

TEST_F(TTargetFaultTest, FolderThatCannotBeWrittenKeepsItsFileAndGetsNoOther) {
  const QString LFolder = FFolder.filePath("somente-leitura");
  QDir().mkpath(LFolder);
  const QString LFile = LFolder + "/NFSe_1003.sql";
  WriteFileBytes(LFile, COldScript);
  ::chmod(LFile.toLocal8Bit().constData(), 0666);  // the file could be replaced; the folder takes no new one
  ::chmod(LFolder.toLocal8Bit().constData(), 0555);
  const QString LConfig = WriteConfig();

  TCliRun LRun;
  if (::geteuid() == 0) {
    // Root writes anywhere: the program runs as nobody instead.
    const passwd* LNobody = ::getpwnam("nobody");
    if (!LNobody) GTEST_SKIP() << "sem o usuario nobody";
    const uid_t LUid = LNobody->pw_uid;
    const gid_t LGid = LNobody->pw_gid;
    LRun = RunCliProgram({"nfse", "1003", "-o", LFile, "--config", LConfig, "--quiet"}, [LUid, LGid](QProcess& aProcess) {
      aProcess.setWorkingDirectory("/");
      aProcess.setChildProcessModifier([LUid, LGid]() {
        if (::setgroups(0, nullptr) != 0 || ::setgid(LGid) != 0 || ::setuid(LUid) != 0) ::_exit(127);
      });
    });
  } else {
    LRun = RunCliProgram({"nfse", "1003", "-o", LFile, "--config", LConfig, "--quiet"});
  }
  EXPECT_EQ(LRun.ExitCode, 1) << LRun.Err.toStdString();
  // The folder refused the temporary file; the target itself could have been replaced.
  EXPECT_EQ(LRun.Err.toStdString(), ("ERRO: Nao foi possivel criar o arquivo temporario na pasta " + LFolder + ": Permission denied\n").toStdString());
  EXPECT_TRUE(SameFileContent(LFile, COldScript));
  EXPECT_EQ(FolderEntries(LFolder), QStringList{"NFSe_1003.sql"});
  ::chmod(LFolder.toLocal8Bit().constData(), 0755);
}

// A file size limit on the program: the same failure as a full disk, wherever the tests run.
TEST_F(TTargetFaultTest, FileSizeLimitReachedWhileWritingFailsAndKeepsTheOldFile) {
  const QString LConfig = WriteConfig();
  const QString LFile = FFolder.filePath("NFSe.sql");
  WriteFileBytes(LFile, COldScript);
  // Below one buffer of Qt's (NFSe 1003, some 6 KB) and above it (NFSe 1001, some 25 KB).
  for (const char* LNFSID : {"1003", "1001"}) {
    const TCliRun LRun = RunCliProgram({"nfse", LNFSID, "-o", LFile, "--config", LConfig, "--quiet"}, [](QProcess& aProcess) {
      aProcess.setChildProcessModifier([]() {
        // Past the limit a write fails with EFBIG instead of the signal ending the program.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit LLimit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &LLimit);
      });
    });
    EXPECT_EQ(LRun.ExitCode, 1) << LNFSID << ": " << LRun.Out.toStdString() << LRun.Err.toStdString();
    EXPECT_TRUE(LRun.Err.startsWith("ERRO: Nao foi possivel gravar o arquivo " + LFile + ": File too large"))
        << LRun.Err.toStdString();
    EXPECT_TRUE(SameFileContent(LFile, COldScript)) << LNFSID;
    EXPECT_EQ(FolderEntries(FFolder.path()), (QStringList{"NFSe.sql", "config.ini"})) << LNFSID;
  }
  // Without the limit the same program writes the file.
  EXPECT_EQ(RunCliProgram({"nfse", "1003", "-o", LFile, "--config", LConfig, "--quiet"}).ExitCode, 0);
  EXPECT_TRUE(ReadFileBytes(LFile).endsWith("COMMIT;\r\n"));
}

// A real full file system: a small tmpfs, where mounting is allowed.
TEST_F(TTargetFaultTest, FileSystemFillingUpDuringTheWriteFailsAndKeepsTheOldFile) {
  const QString LMount = FFolder.filePath("pequeno");
  QDir().mkpath(LMount);
  if (::mount("tmpfs", LMount.toLocal8Bit().constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0)
    GTEST_SKIP() << "sem permissao para montar um tmpfs: " << std::strerror(errno);
  struct TUnmount {
    QString FPath;
    ~TUnmount() { ::umount2(FPath.toLocal8Bit().constData(), MNT_DETACH); }
  } LUnmount{LMount};

  const QString LFile = LMount + "/NFSe.sql";
  WriteFileBytes(LFile, COldScript);
  // Everything but one page taken.
  const QString LFiller = LMount + "/ocupado";
  {
    QFile LOut(LFiller);
    ASSERT_TRUE(LOut.open(QIODevice::WriteOnly));
    const QByteArray LPage(4096, 'x');
    while (LOut.write(LPage) == LPage.size() && LOut.flush()) {
    }
  }
  QFile::resize(LFiller, QFileInfo(LFiller).size() - 4096);

  for (const std::int64_t LNFSID : {1003, 1001}) {
    const QString LError = SaveError(LFile, LNFSID);
    EXPECT_EQ(LError.toStdString(), ("Nao foi possivel gravar o arquivo " + LFile + ": No space left on device").toStdString())
        << LNFSID;
    EXPECT_TRUE(SameFileContent(LFile, COldScript)) << LNFSID;
    EXPECT_EQ(FolderEntries(LMount), (QStringList{"NFSe.sql", "ocupado"})) << LNFSID;
  }
  // Room again: the export replaces the old file.
  QFile::remove(LFiller);
  EXPECT_EQ(SaveError(LFile, 1001).toStdString(), "");
  EXPECT_TRUE(ReadFileBytes(LFile).endsWith("COMMIT;\r\n"));
}

}  // namespace
