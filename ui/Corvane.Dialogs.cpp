#include "Corvane.Dialogs.h"

#include "Corvane.Errors.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <exception>

namespace Corvane {

namespace {

class TSystemDialogs final : public IDialogs {
public:
  void Warning(QWidget* aParent, const QString& aText) override {
    QMessageBox::warning(aParent, QApplication::applicationName(), aText, QMessageBox::Ok);
  }

  void Error(QWidget* aParent, const QString& aText) override {
    QMessageBox::critical(aParent, QApplication::applicationName(), aText, QMessageBox::Ok);
  }

  bool SaveFile(QWidget* aParent, const TSaveFileRequest& aRequest, QString* aFileName) override {
    QFileDialog LDialog(aParent);
    LDialog.setAcceptMode(QFileDialog::AcceptSave);
    LDialog.setFileMode(QFileDialog::AnyFile);
    LDialog.setNameFilter(aRequest.Filter);
    LDialog.setDefaultSuffix(aRequest.DefaultSuffix);
    LDialog.setDirectory(aRequest.Directory);
    LDialog.selectFile(aRequest.ProposedFile);
    // Overwrite confirmation is the dialog's default; the folder check is ours, since the
    // dialog would accept a path into a folder that does not exist.
    while (LDialog.exec() == QDialog::Accepted) {
      const QStringList LFiles = LDialog.selectedFiles();
      if (LFiles.isEmpty()) return false;
      const QFileInfo LInfo(LFiles.first());
      if (LInfo.absoluteDir().exists()) {
        *aFileName = LInfo.absoluteFilePath();
        return true;
      }
      QMessageBox::warning(&LDialog, QApplication::applicationName(),
                           QStringLiteral("A pasta não existe:\n") + QDir::toNativeSeparators(LInfo.absolutePath()));
    }
    return false;
  }

  bool OpenFile(QWidget* aParent, const TOpenFileRequest& aRequest, QString* aFileName) override {
    QFileDialog LDialog(aParent, aRequest.Title);
    LDialog.setAcceptMode(QFileDialog::AcceptOpen);
    LDialog.setFileMode(QFileDialog::ExistingFile);
    LDialog.setNameFilters({aRequest.Filter, QStringLiteral("Todos os arquivos (*)")});
    LDialog.setDirectory(aRequest.Directory);
    if (LDialog.exec() != QDialog::Accepted || LDialog.selectedFiles().isEmpty()) return false;
    *aFileName = QFileInfo(LDialog.selectedFiles().first()).absoluteFilePath();
    return true;
  }
};

std::shared_ptr<IDialogs>& Installed() {
  static std::shared_ptr<IDialogs> LDialogs;
  return LDialogs;
}

}  // namespace

IDialogs& TDialogs::Current() {
  static TSystemDialogs LSystem;
  const auto& LInstalled = Installed();
  return LInstalled ? *LInstalled : static_cast<IDialogs&>(LSystem);
}

std::shared_ptr<IDialogs> TDialogs::Install(std::shared_ptr<IDialogs> aDialogs) {
  std::shared_ptr<IDialogs> LPrevious = std::move(Installed());
  Installed() = std::move(aDialogs);
  return LPrevious;
}

QString CurrentErrorMessage() {
  try {
    throw;
  } catch (const TCorvaneError& E) {
    return E.Message();
  } catch (const std::exception& E) {
    return QString::fromLocal8Bit(E.what());
  } catch (...) {
    return QStringLiteral("Erro desconhecido.");
  }
}

void RunGuarded(QWidget* aParent, const std::function<void()>& aAction) {
  try {
    aAction();
  } catch (...) {
    const QString LMessage = CurrentErrorMessage();
    TDialogs::Current().Error(aParent, LMessage);
  }
}

}  // namespace Corvane
