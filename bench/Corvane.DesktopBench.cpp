// The desktop program against the command line on one large Nota Fiscal: the main window,
// offscreen, from the click on "Gerar Script" until the log is complete and the controls are
// idle again, against corvane-cli writing its full log to a pipe.
//
//   corvane-desktop-bench SETTINGS NOTANUM CORVANE_CLI [RUNS]
// Prints: desktop_ratio=<desktop/cli> desktop_s=... cli_s=... rows=... lines=...
#include "Corvane.Application.h"
#include "Corvane.Connection.h"
#include "Corvane.Dialogs.h"
#include "Corvane.MainForm.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Corvane;

namespace {

class TFixedFile final : public IDialogs {
public:
  explicit TFixedFile(const QString& aFile) : FFile(aFile) {}
  void Warning(QWidget*, const QString& aText) override { std::fprintf(stderr, "aviso: %s\n", qPrintable(aText)); }
  void Error(QWidget*, const QString& aText) override { std::fprintf(stderr, "erro: %s\n", qPrintable(aText)); }
  bool SaveFile(QWidget*, const TSaveFileRequest&, QString* aFileName) override {
    *aFileName = FFile;
    return true;
  }

private:
  QString FFile;
};

double Median(std::vector<double> aValues) {
  std::sort(aValues.begin(), aValues.end());
  return aValues[aValues.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TCorvaneApplication LApplication(argc, argv);
  const QStringList LArguments = LApplication.arguments();
  if (LArguments.size() < 4) {
    std::fprintf(stderr, "uso: corvane-desktop-bench SETTINGS NOTANUM CORVANE_CLI [RUNS]\n");
    return 2;
  }
  const QString LSettings = QFileInfo(LArguments[1]).absoluteFilePath();
  const QString LNotaNum = LArguments[2];
  const QString LCli = LArguments[3];
  const int LRuns = qMax(1, LArguments.value(4, "3").toInt());
  QTemporaryDir LFolder;
  const QString LFile = LFolder.filePath("desktop.sql");
  TSliceConnection::SetConfigFile(LSettings);
  TDialogs::Install(std::make_shared<TFixedFile>(LFile));

  std::vector<double> LCliTimes, LDesktopTimes;
  qsizetype LLines = 0, LRows = 0;
  bool LComplete = true;
  TCorvaneView LView;
  LView.show();
  for (int I = 0; I < LRuns; ++I) {
    QProcess LProcess;
    QElapsedTimer LTimer;
    LTimer.start();
    LProcess.start(LCli, {"nota", LNotaNum, "-o", LFolder.filePath("cli.sql"), "--config", LSettings});
    QByteArray LOutput;
    while (!LProcess.waitForFinished(50)) LOutput += LProcess.readAllStandardError();
    LOutput += LProcess.readAllStandardError();
    LCliTimes.push_back(LTimer.nsecsElapsed() / 1e9);
    if (LProcess.exitCode() != 0) {
      std::fprintf(stderr, "corvane-cli falhou: %s\n", LOutput.right(500).constData());
      return 1;
    }
    const qsizetype LCliRows = LOutput.count("Registro ");

    LView.edtNotaNum->setText(LNotaNum);
    LTimer.restart();
    LView.btnGerarNotaFiscalScript->click();
    while (LView.Exporting()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    LDesktopTimes.push_back(LTimer.nsecsElapsed() / 1e9);
    // Every line the export reported, in the log, and the outcome last.
    const QStringList LLog = LView.mmoLog->toPlainText().split('\n');
    LLines = LLog.size();
    LRows = 0;
    for (const QString& LLine : LLog)
      if (LLine.contains(" - Registro ")) ++LRows;
    if (LRows != LCliRows || !LLog.last().contains("Script gerado em: ")) LComplete = false;
  }
  const double LDesktop = Median(LDesktopTimes), LCliTime = Median(LCliTimes);
  std::printf("desktop_ratio=%.2f desktop_s=%.3f cli_s=%.3f rows=%lld lines=%lld log_complete=%s\n", LDesktop / LCliTime,
              LDesktop, LCliTime, static_cast<long long>(LRows), static_cast<long long>(LLines),
              LComplete ? "yes" : "no");
  TSliceConnection::Release();
  return LComplete ? 0 : 1;
}
