// Export benchmark: one Nota Fiscal of N items, exported as an operator would, against the
// floor of reading the same tables with one plain query each through the same layer; then the
// replay of that slice, preview and read-back included, against isql replaying the same file,
// each into an empty database of the same schema.
//
//   corvane-bench N [RUNS]    builds the database with demo/make-bench.sh and measures
//   CORVANE_BENCH_REPLAY=0    leaves the replay out
#include "Corvane.Catalogue.h"
#include "Corvane.Connection.h"
#include "Corvane.Errors.h"
#include "Corvane.Replayer.h"
#include "Corvane.Scenario.Documents.h"
#include "Corvane.Scenario.NotaFiscal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace Corvane;

namespace {

std::unique_ptr<TDbConnection> Connect(const QString& aParameters) {
  // Set up as an export run sets up its own connection.
  auto LConnection = std::make_unique<TDbConnection>();
  LConnection->SetLoginPrompt(false);
  LConnection->SetParams(aParameters);
  LConnection->SetSilent(true);
  LConnection->SetReadOnly(true);
  LConnection->SetIsolation(TIsolation::tiSnapshot);
  LConnection->Open();
  return LConnection;
}

double ExportOnce(const QString& aParameters, const QString& aFile) {
  QElapsedTimer LTimer;
  LTimer.start();
  auto LConnection = Connect(aParameters);
  TNotaFiscalSlice::New(LConnection.get(), "900001")->SaveToFile(aFile);
  return LTimer.nsecsElapsed() / 1e9;
}

// Rows of the slice per table, from the description lines of the script.
QMap<QString, int> SliceTables(const QString& aFile) {
  QMap<QString, int> LTables;
  QFile LFile(aFile);
  if (!LFile.open(QIODevice::ReadOnly)) return LTables;
  int LLine = 0;
  while (!LFile.atEnd()) {
    const QByteArray LText = LFile.readLine();
    ++LLine;
    // Rows start at line 6 and take three lines each; the first is "-- TABLE | KEY=...".
    if (LLine >= 6 && (LLine - 6) % 3 == 0 && LText.startsWith("-- ") && LText.contains(" | "))
      ++LTables[QString::fromUtf8(LText.mid(3, LText.indexOf(" | ") - 3))];
  }
  return LTables;
}

// The floor: every row of the slice's tables read with one plain query per table.
double LowerBound(const QString& aParameters, const QMap<QString, int>& aTables, qint64& aRows) {
  QElapsedTimer LTimer;
  LTimer.start();
  auto LConnection = Connect(aParameters);
  LConnection->StartTransaction();
  aRows = 0;
  {
    TSliceCatalogue LCatalogue(*LConnection);
    LCatalogue.BeginRun(true);
    for (auto LTable = aTables.cbegin(); LTable != aTables.cend(); ++LTable) {
      TDbQuery LQuery(*LConnection);
      LQuery.SetSQL("SELECT " + LCatalogue.Columns(LTable.key()) + " FROM \"" + LTable.key() + "\"");
      LQuery.Open();
      for (; !LQuery.Eof(); LQuery.Next()) ++aRows;
    }
    LCatalogue.EndRun();
  }
  LConnection->Rollback();
  return LTimer.nsecsElapsed() / 1e9;
}

// CPU seconds the local Firebird server has used so far (user and system), or -1 when it
// cannot be read: the share of a run spent in the server rather than in the client.
double ServerSeconds() {
  QProcess LFind;
  LFind.start("pgrep", {"-x", "firebird"});
  LFind.waitForFinished();
  const QString LPid = QString::fromLatin1(LFind.readAllStandardOutput()).section('\n', 0, 0).trimmed();
  QFile LStat("/proc/" + LPid + "/stat");
  if (LPid.isEmpty() || !LStat.open(QIODevice::ReadOnly)) return -1;
  const QList<QByteArray> LFields = LStat.readAll().split(' ');
  if (LFields.size() < 15) return -1;
  return (LFields[13].toDouble() + LFields[14].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

double Median(std::vector<double> aValues) {
  std::sort(aValues.begin(), aValues.end());
  const size_t LMiddle = aValues.size() / 2;
  return aValues.size() % 2 ? aValues[LMiddle] : (aValues[LMiddle - 1] + aValues[LMiddle]) / 2;
}

// A fresh empty database of the benchmark's schema; returns its settings file.
QString MakeEmpty(const QString& aDatabase) {
  QProcess LMake;
  LMake.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  LMake.start("bash", {QStringLiteral(CORVANE_SOURCE_DIR) + "/demo/make-empty.sh", aDatabase});
  LMake.waitForFinished(-1);
  if (LMake.exitCode() != 0) throw TCorvaneError("make-empty.sh falhou");
  return QString::fromUtf8(LMake.readAllStandardOutput()).section("settings in ", 1).trimmed();
}

// The replay as corvane-cli runs it: the script read and checked, a UTF8 connection of its
// own, preview, statements, read-back, the search for rows only in the target and commit.
double ReplayOnce(const QString& aIni, const QString& aScript, int& aInserted) {
  TSliceConnection::SetConfigFile(aIni);
  QString LParameters = TSliceConnection::Instance().ExportParameters();
  TSliceConnection::Release();
  QElapsedTimer LTimer;
  LTimer.start();
  const TSliceScript LScript = TSliceScript::ReadFile(aScript);
  TDbConnection LConnection;
  TSliceReplayer::OpenTarget(LConnection, LParameters);
  // As corvane-cli: the canned document's relations, searched for rows only in the target.
  const TReplayResult LResult =
      TSliceReplayer(LConnection).Related(DocumentRelations(LScript.RootTable())).Run(LScript);
  if (LResult.Divergent != 0 || !LResult.Committed) throw TCorvaneError("replay divergente");
  aInserted = LResult.Inserted;
  return LTimer.nsecsElapsed() / 1e9;
}

// isql as support staff ran it: isql-fb -b -ch UTF8 -i FILE DATABASE.
double IsqlOnce(const QString& aDatabase, const QString& aScript, const QString& aPassword) {
  QProcess LIsql;
  QProcessEnvironment LEnvironment = QProcessEnvironment::systemEnvironment();
  LEnvironment.insert("ISC_USER", "SYSDBA");
  LEnvironment.insert("ISC_PASSWORD", aPassword);
  LIsql.setProcessEnvironment(LEnvironment);
  QElapsedTimer LTimer;
  LTimer.start();
  LIsql.start("isql-fb", {"-b", "-ch", "UTF8", "-i", aScript, "localhost:" + aDatabase});
  LIsql.waitForFinished(-1);
  const double LSeconds = LTimer.nsecsElapsed() / 1e9;
  if (LIsql.exitCode() != 0) throw TCorvaneError("isql falhou: " + QString::fromUtf8(LIsql.readAllStandardError()));
  return LSeconds;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication LApplication(argc, argv);
  const QStringList LArguments = LApplication.arguments();
  const int LItems = LArguments.value(1).toInt();
  const int LRuns = qMax(2, LArguments.value(2, "5").toInt());
  if (LItems <= 0) {
    std::fprintf(stderr, "uso: corvane-bench N [EXECUCOES]\n");
    return 2;
  }
  try {
    const QString LDemo = QStringLiteral(CORVANE_SOURCE_DIR) + "/demo/make-bench.sh";
    QProcess LMake;
    LMake.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    LMake.start("bash", {LDemo, QString::number(LItems)});
    LMake.waitForFinished(-1);
    const QString LMade = QString::fromUtf8(LMake.readAllStandardOutput());
    if (LMake.exitCode() != 0) throw TCorvaneError("make-bench.sh falhou");
    const QString LIni = LMade.section("settings in ", 1).trimmed();

    TSliceConnection::SetConfigFile(LIni);
    const QString LParameters = TSliceConnection::Instance().ExportParameters();

    QTemporaryDir LDir;
    const QString LFile = LDir.filePath("slice.sql");
    const double LCold = ExportOnce(LParameters, LFile);
    std::vector<double> LWarm, LBounds;
    double LServerExport = 0, LServerBound = 0;
    qint64 LBoundRows = 0;
    const QMap<QString, int> LTables = SliceTables(LFile);
    LBounds.push_back(LowerBound(LParameters, LTables, LBoundRows));  // warms the same pages
    for (int I = 1; I < LRuns; ++I) {
      const double LStart = ServerSeconds();
      LWarm.push_back(ExportOnce(LParameters, LFile));
      const double LMiddle = ServerSeconds();
      LBounds.push_back(LowerBound(LParameters, LTables, LBoundRows));
      LServerExport += LMiddle - LStart;
      LServerBound += ServerSeconds() - LMiddle;
    }
    qint64 LRows = 0;
    for (const int LCount : LTables) LRows += LCount;
    const double LExport = Median(LWarm), LBound = Median(LBounds);
    rusage LUsage{};
    getrusage(RUSAGE_SELF, &LUsage);
    const double LRss = LUsage.ru_maxrss / 1024.0;
    const double LScript = QFileInfo(LFile).size() / 1048576.0;
    std::printf("items=%d rows=%lld bound_rows=%lld tables=%lld cold_s=%.3f export_s=%.3f bound_s=%.3f "
                "rows_per_s=%.0f us_per_row=%.2f script_mb=%.1f rss_mb=%.1f rss_limit_mb=%.1f server_export_s=%.3f "
                "server_bound_s=%.3f\n",
                LItems, static_cast<long long>(LRows), static_cast<long long>(LBoundRows),
                static_cast<long long>(LTables.size()), LCold, LExport, LBound, LRows / LExport,
                1e6 * LExport / LRows, LScript, LRss, 4 * LScript + 64, LServerExport / (LRuns - 1),
                LServerBound / (LRuns - 1));
    std::printf("ratio=%.2f rows=%lld export_s=%.3f bound_s=%.3f rss_mb=%.1f\n", LExport / LBound,
                static_cast<long long>(LRows), LExport, LBound, LRss);
    std::fflush(stdout);
    TSliceConnection::Release();

    if (qEnvironmentVariable("CORVANE_BENCH_REPLAY", "1") != "0") {
      // Side by side in the same run, each into an empty database of its own.
      const QString LFolder = QFileInfo(LIni).absolutePath();
      const QString LOurs = LFolder + "/replay-" + QString::number(LItems) + ".fdb";
      const QString LTheirs = LFolder + "/replay-isql-" + QString::number(LItems) + ".fdb";
      const QString LOursIni = MakeEmpty(LOurs);
      MakeEmpty(LTheirs);
      const QString LPassword = LParameters.section("Password=", 1).section("\r\n", 0, 0);
      int LInserted = 0;
      const double LReplay = ReplayOnce(LOursIni, LFile, LInserted);
      const double LIsql = IsqlOnce(LTheirs, LFile, LPassword);
      if (LInserted != LRows) throw TCorvaneError("replay gravou " + QString::number(LInserted) + " registros");
      std::printf("replay_ratio=%.3f rows=%lld replay_s=%.3f isql_s=%.3f us_per_row=%.1f\n", LReplay / LIsql,
                  static_cast<long long>(LRows), LReplay, LIsql, 1e6 * LReplay / LRows);
      TSliceConnection::Release();
      for (const QString& LDatabase : {LOurs, LTheirs}) {
        QFile::remove(LDatabase);
        QFile::remove(LDatabase.chopped(4) + ".ini");
      }
    }
  } catch (const TCorvaneError& LError) {
    std::fprintf(stderr, "ERRO: %s\n", LError.Message().toUtf8().constData());
    return 1;
  }
  return 0;
}
