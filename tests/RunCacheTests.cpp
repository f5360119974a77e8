// The run cache (catalogue answers, prepared statements, rows read ahead in batches) is a
// matter of speed only: every document exports to the same bytes and the same progress
// messages with the cache on and off.
#include "Corvane.Exporter.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"
#include "TestDatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

QString GPath;  // the demo documents plus a generated Nota Fiscal 900001 of 700 items

std::unique_ptr<TDbConnection> Connect() {
  auto LConnection = std::make_unique<TDbConnection>();
  LConnection->SetParams("DriverID=FB\r\nProtocol=TCPIP\r\nServer=localhost\r\nDatabase=" + GPath +
                         "\r\nUser_Name=" + ServerUser() + "\r\nPassword=" + ServerPassword() +
                         "\r\nCharacterSet=WIN1252\r\n");
  LConnection->SetReadOnly(true);
  LConnection->SetIsolation(TIsolation::tiSnapshot);
  LConnection->Open();
  return LConnection;
}

class RunCacheTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // Large enough to cross the batch sizes of reading ahead.
    GPath = DatabaseFolder() + "/runcache-" + QString::number(QCoreApplication::applicationPid()) + ".fdb";
    const QString LScript = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../demo/make-bench.sh";
    QProcess LMake;
    LMake.start("bash", {LScript, "700", GPath});
    LMake.waitForFinished(300000);
    if (LMake.exitCode() != 0) ADD_FAILURE() << LMake.readAllStandardError().toStdString();
  }
  static void TearDownTestSuite() {
    QFile::remove(GPath);
    QFile::remove(GPath.chopped(4) + ".ini");
  }

  // The script and the messages of one export, with the run cache on or off.
  static std::pair<QString, QStringList> Export(const std::function<ISliceExporterPtr(TDbConnection*)>& aScenario,
                                                bool aCache) {
    auto LConnection = Connect();
    QStringList LMessages;
    ISliceExporterPtr LExporter = aScenario(LConnection.get());
    std::dynamic_pointer_cast<TSliceExporter>(LExporter)->SetRunCache(aCache);
    LExporter->Progress([&](const QString& aMessage) { LMessages << aMessage; });
    QString LScript;
    try {
      LScript = LExporter->Generate();
    } catch (const TCorvaneError& LError) {
      LMessages << "ERRO: " + LError.Message();
    }
    return {LScript, LMessages};
  }
};

}  // namespace

TEST_F(RunCacheTest, DemoDocumentsExportAlikeWithAndWithoutTheCache) {
  const std::vector<std::pair<const char*, std::function<ISliceExporterPtr(TDbConnection*)>>> LDocuments = {
      {"NFSe 1001", [](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, 1001); }},
      {"NFSe 1003", [](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, 1003); }},
      {"NFSe 9999", [](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, 9999); }},
      {"Nota 000123", [](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, "000123"); }},
      {"Nota 000124", [](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, "000124"); }},
      {"Nota 900001", [](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, "900001"); }},
  };
  for (const auto& [LName, LScenario] : LDocuments) {
    const auto LPlain = Export(LScenario, false);
    const auto LCached = Export(LScenario, true);
    EXPECT_EQ(LCached.first, LPlain.first) << LName;
    EXPECT_EQ(LCached.second, LPlain.second) << LName;
  }
  EXPECT_TRUE(Export([](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, "900001"); }, true)
                  .first.contains("-- Registros exportados: "));
}

TEST_F(RunCacheTest, FailuresInTheMiddleOfAWalkArriveAtTheSamePoint) {
  // A relation whose filter names a column that does not exist, and one whose parent key
  // names a missing column: both fail when walked, after the same messages.
  const auto LBadFilter = [](TDbConnection* aConnection) {
    return TNotaFiscalSlice::Configure(aConnection)
        ->IncludeRelated("NOTAPRO", "NOTA_ITEM", "NOTANUM,PROCOD", "NOTANUM,PROCOD", "NO_SUCH_COLUMN = 1")
        ->Key("NOTANUM", TValue::Text("900001"));
  };
  const auto LBadParentKey = [](TDbConnection* aConnection) {
    return TNotaFiscalSlice::Configure(aConnection)
        ->IncludeRelated("NOTAPRO", "NOTA_ITEM", "NOTANUM", "NO_SUCH_COLUMN", "")
        ->Key("NOTANUM", TValue::Text("900001"));
  };
  for (const auto& LScenario : {std::function<ISliceExporterPtr(TDbConnection*)>(LBadFilter),
                                std::function<ISliceExporterPtr(TDbConnection*)>(LBadParentKey)}) {
    const auto LPlain = Export(LScenario, false);
    const auto LCached = Export(LScenario, true);
    ASSERT_TRUE(LPlain.second.last().startsWith("ERRO: ")) << LPlain.second.last().toStdString();
    EXPECT_EQ(LCached.second, LPlain.second);
  }
}
