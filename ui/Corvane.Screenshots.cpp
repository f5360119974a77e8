// Renders the windows to PNG files, the main window after a finished NFSe export, so that
// their layout can be looked at without a desktop. Used by scripts/screenshots.sh.
//   corvane-screenshots --config FILE --nfsid N --out DIR [--target FILE]
// With --target (the settings of an empty database of the demo schema) the replay window too,
// in each of its states: chosen, running, applied, previewed after the target drifted,
// filtered, and applied again with the mirror.
#include "Corvane.Application.h"
#include "Corvane.Connection.h"
#include "Corvane.Dialogs.h"
#include "Corvane.ListaTabelasView.h"
#include "Corvane.MainForm.h"
#include "Corvane.Replayer.h"
#include "Corvane.ReproduzirView.h"

#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <cstdio>

namespace {

using namespace Corvane;

// Answers the save dialog with a file in the output folder and prints any box it is asked for.
class TScriptedDialogs final : public IDialogs {
public:
  explicit TScriptedDialogs(const QString& aFolder) : FFolder(aFolder) {}
  void Warning(QWidget*, const QString& aText) override { std::fprintf(stderr, "aviso: %s\n", qPrintable(aText)); }
  void Error(QWidget*, const QString& aText) override {
    std::fprintf(stderr, "erro: %s\n", qPrintable(aText));
    FFailed = true;
  }
  bool SaveFile(QWidget*, const TSaveFileRequest& aRequest, QString* aFileName) override {
    *aFileName = FFolder + "/" + QFileInfo(aRequest.ProposedFile).fileName();
    return true;
  }
  bool Failed() const { return FFailed; }

private:
  QString FFolder;
  bool FFailed = false;
};

bool SavePicture(QWidget& aWindow, const QString& aFile) {
  const bool LOk = aWindow.grab().save(aFile, "PNG");
  std::printf("%s %s\n", LOk ? "wrote" : "could not write", qPrintable(aFile));
  return LOk;
}

}  // namespace

int main(int argc, char** argv) {
  TCorvaneApplication LApplication(argc, argv);
  QCommandLineParser LParser;
  LParser.addOption({"config", "config.ini to read", "file"});
  LParser.addOption({"nfsid", "NFSID of the demo export", "number", "1"});
  LParser.addOption({"out", "folder of the pictures", "folder", "screenshots"});
  LParser.addOption({"target", "settings of an empty target for the replay window", "file"});
  LParser.process(LApplication);

  const QString LFolder = QDir(LParser.value("out")).absolutePath();
  QDir().mkpath(LFolder);
  if (LParser.isSet("config")) TSliceConnection::SetConfigFile(QFileInfo(LParser.value("config")).absoluteFilePath());
  auto LDialogs = std::make_shared<TScriptedDialogs>(LFolder);
  TDialogs::Install(LDialogs);

  int LResult = 0;
  {
    TCorvaneView LMain;
    LMain.show();
    LMain.edtNFSID->setText(LParser.value("nfsid"));
    LMain.btnGerarScript->click();
    QCoreApplication::processEvents();
    if (!SavePicture(LMain, LFolder + "/corvane-main-exportando.png")) LResult = 1;
    const QDeadlineTimer LDeadline(120000);
    while (LMain.Exporting() && !LDeadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    std::printf("%s\n", qPrintable(LMain.mmoLog->toPlainText()));
    if (!SavePicture(LMain, LFolder + "/corvane-main.png")) LResult = 1;

    TListaTabelasView LList(&LMain);
    try {
      LList.ListarTabelas();
    } catch (...) {
      std::fprintf(stderr, "erro: %s\n", qPrintable(CurrentErrorMessage()));
      LResult = 1;
    }
    LList.show();
    QCoreApplication::processEvents();
    if (!SavePicture(LList, LFolder + "/corvane-lista-tabelas.png")) LResult = 1;
    LList.close();

    if (LParser.isSet("target")) {
      const QString LScript = LFolder + "/NFSe_" + LParser.value("nfsid") + ".sql";
      TReproduzirView LView(&LMain);
      LView.show();
      LView.AbrirDestino(QFileInfo(LParser.value("target")).absoluteFilePath());
      LView.AbrirScript(LScript);
      QCoreApplication::processEvents();
      if (!SavePicture(LView, LFolder + "/corvane-reproduzir-1-escolhido.png")) LResult = 1;
      const auto LWait = [&LView] {
        const QDeadlineTimer LLimit(120000);
        while (LView.Running() && !LLimit.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::processEvents();
      };
      LView.btnAplicar->click();
      QCoreApplication::processEvents();
      if (!SavePicture(LView, LFolder + "/corvane-reproduzir-2-em-andamento.png")) LResult = 1;
      LWait();
      if (!SavePicture(LView, LFolder + "/corvane-reproduzir-3-aplicado.png")) LResult = 1;
      // The support database drifts: a value changed, an item added.
      try {
        TDbConnection LTarget;
        TSliceReplayer::OpenTarget(LTarget, TSliceConnection::ParametersOf(LParser.value("target")));
        LTarget.StartTransaction();
        for (const char* LSql : {"UPDATE NFSPRO SET QUANTIDADE = 7 WHERE NFSID = 1001 AND ITEM = 1",
                                 "INSERT INTO NFSPRO SELECT NFSID, 9, SERCOD, 1, VALOR_UNITARIO, VALOR_UNITARIO, 0, "
                                 "ALIQ_ISS, 'Item lancado so no suporte' FROM NFSPRO WHERE NFSID = 1001 AND ITEM = 1"}) {
          TDbQuery LQuery(LTarget);
          LQuery.SetSQL(LSql);
          LQuery.Open();
        }
        LTarget.Commit();
      } catch (...) {
        std::fprintf(stderr, "erro: %s\n", qPrintable(CurrentErrorMessage()));
        LResult = 1;
      }
      LView.btnConferir->click();
      LWait();
      if (!SavePicture(LView, LFolder + "/corvane-reproduzir-4-conferido.png")) LResult = 1;
      LView.cbxSituacao->setCurrentText("alterado");
      QCoreApplication::processEvents();
      if (!SavePicture(LView, LFolder + "/corvane-reproduzir-5-filtro.png")) LResult = 1;
      LView.cbxSituacao->setCurrentIndex(0);
      LView.chkEspelhar->setChecked(true);
      LView.btnAplicar->click();
      LWait();
      if (!SavePicture(LView, LFolder + "/corvane-reproduzir-6-espelhado.png")) LResult = 1;
      std::printf("%s\n", qPrintable(LView.mmoMensagens->toPlainText()));
      LView.close();
    }
  }
  TSliceConnection::Release();
  return LDialogs->Failed() ? 1 : LResult;
}
