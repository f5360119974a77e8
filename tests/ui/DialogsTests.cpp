// The real save dialog behind the seam, driven from timers while it runs modally: the proposed
// file, the filter and default extension, the overwrite confirmation and the folder check.
#include "UiTestSupport.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

// Calls aStep with the active modal widget of type T once it is shown.
template <typename T>
void WhenModal(const std::function<void(T*)>& aStep) {
  auto LTimer = new QTimer(qApp);
  LTimer->setInterval(10);
  QObject::connect(LTimer, &QTimer::timeout, [LTimer, aStep] {
    if (T* LWidget = qobject_cast<T*>(QApplication::activeModalWidget())) {
      LTimer->stop();
      LTimer->deleteLater();
      aStep(LWidget);
    }
  });
  LTimer->start();
}

void TypeFileName(QFileDialog* aDialog, const QString& aName) {
  auto LEdit = aDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(LEdit, nullptr);
  LEdit->setText(aName);
}

class TSaveDialogTest : public ::testing::Test {
protected:
  void SetUp() override {
    TDialogs::Install(nullptr);  // the real dialogs
    FRequest.Filter = "Script SQL (*.sql)";
    FRequest.DefaultSuffix = "sql";
    FRequest.Directory = FFolder.path();
    FRequest.ProposedFile = FFolder.filePath("NFSe_42.sql");
  }
  QTemporaryDir FFolder;
  TSaveFileRequest FRequest;
};

}  // namespace

TEST_F(TSaveDialogTest, ProposesTheFileAndAppendsTheDefaultExtension) {
  QStringList LSeenFiles, LSeenFilters;
  WhenModal<QFileDialog>([&](QFileDialog* aDialog) {
    LSeenFiles = aDialog->selectedFiles();
    LSeenFilters = aDialog->nameFilters();
    EXPECT_EQ(aDialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(aDialog->defaultSuffix(), "sql");
    TypeFileName(aDialog, "outro");
    static_cast<QDialog*>(aDialog)->accept();  // as the Save button does
  });
  QString LFile;
  EXPECT_TRUE(TDialogs::Current().SaveFile(nullptr, FRequest, &LFile));
  EXPECT_EQ(LSeenFiles, QStringList{FFolder.filePath("NFSe_42.sql")});
  EXPECT_EQ(LSeenFilters, QStringList{"Script SQL (*.sql)"});
  EXPECT_EQ(LFile, FFolder.filePath("outro.sql"));
}

TEST_F(TSaveDialogTest, AsksBeforeReplacingAnExistingFile) {
  WriteFileBytes(FRequest.ProposedFile, "antigo");
  bool LAsked = false;
  WhenModal<QFileDialog>([&](QFileDialog* aDialog) {
    WhenModal<QMessageBox>([&, aDialog](QMessageBox* aBox) {
      LAsked = true;
      aBox->button(QMessageBox::No) ? aBox->button(QMessageBox::No)->click() : aBox->reject();
      // Declined: the dialog is still there; give up.
      QTimer::singleShot(0, aDialog, [aDialog] { aDialog->reject(); });
    });
    static_cast<QDialog*>(aDialog)->accept();  // as the Save button does
  });
  QString LFile;
  EXPECT_FALSE(TDialogs::Current().SaveFile(nullptr, FRequest, &LFile));
  EXPECT_TRUE(LAsked);
  EXPECT_EQ(ReadFileBytes(FRequest.ProposedFile), "antigo");
}

TEST_F(TSaveDialogTest, RefusesAFolderThatDoesNotExist) {
  bool LWarned = false;
  WhenModal<QFileDialog>([&](QFileDialog* aDialog) {
    TypeFileName(aDialog, FFolder.filePath("nao/existe/x.sql"));
    WhenModal<QMessageBox>([&](QMessageBox* aBox) {
      LWarned = aBox->text().contains(QDir::toNativeSeparators(FFolder.filePath("nao/existe")));
      aBox->accept();
      // The dialog comes back; cancel it this time.
      WhenModal<QFileDialog>([](QFileDialog* aAgain) { aAgain->reject(); });
    });
    static_cast<QDialog*>(aDialog)->accept();  // as the Save button does
  });
  QString LFile;
  EXPECT_FALSE(TDialogs::Current().SaveFile(nullptr, FRequest, &LFile));
  EXPECT_TRUE(LWarned);
  EXPECT_TRUE(LFile.isEmpty());
}

TEST_F(TSaveDialogTest, QtsOwnTextsSpeakBrazilianPortuguese) {
  // The set-up installs Qt's translations; the program loads them at start.
  ASSERT_TRUE(static_cast<TCorvaneApplication*>(qApp)->Translated());
  QString LButtons;
  WhenModal<QFileDialog>([&](QFileDialog* aDialog) {
    for (QPushButton* LButton : aDialog->findChildren<QPushButton*>()) LButtons += LButton->text() + "|";
    aDialog->reject();
  });
  QString LFile;
  EXPECT_FALSE(TDialogs::Current().SaveFile(nullptr, FRequest, &LFile));
  EXPECT_TRUE(LButtons.contains("Cancelar")) << LButtons.toStdString();
  EXPECT_FALSE(LButtons.contains("Cancel|")) << LButtons.toStdString();
}

int main(int argc, char** argv) { return RunUiTests(argc, argv); }
