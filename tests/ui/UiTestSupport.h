#pragma once
// Shared pieces of the widget tests: a QApplication on the offscreen platform, dialogs that
// answer at once, a config.ini of the test's own, and waiting on the event loop.
#include "Corvane.Application.h"
#include "Corvane.Connection.h"
#include "Corvane.Dialogs.h"
#include "ExportObservation.h"
#include "TestDatabase.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace Corvane::Testing {

// Records every box and answers the save dialog without showing anything.
class TFakeDialogs final : public IDialogs {
public:
  QStringList Warnings;
  QStringList Errors;
  QList<TSaveFileRequest> SaveRequests;
  bool CancelSave = true;
  QString SaveAnswer;  // the chosen file; empty: the proposed one

  void Warning(QWidget*, const QString& aText) override { Warnings << aText; }
  void Error(QWidget*, const QString& aText) override { Errors << aText; }
  bool SaveFile(QWidget*, const TSaveFileRequest& aRequest, QString* aFileName) override {
    SaveRequests << aRequest;
    if (CancelSave) return false;
    *aFileName = SaveAnswer.isEmpty() ? aRequest.ProposedFile : SaveAnswer;
    return true;
  }
};

// Installs fake dialogs and a config.ini of its own for each test; the settings are read
// afresh from it at first use.
class TUiTest : public ::testing::Test {
protected:
  void SetUp() override {
    FDialogs = std::make_shared<TFakeDialogs>();
    TDialogs::Install(FDialogs);
    TSliceConnection::Release();
    WriteConfig(QString());
    TSliceConnection::SetConfigFile(FConfigFolder.filePath("config.ini"));
  }
  void TearDown() override {
    TSliceConnection::Release();
    TSliceConnection::SetConfigFile(QString());
    TDialogs::Install(nullptr);
  }
  // aDatabase: the CAMINHO value, none when empty.
  void WriteConfig(const QString& aDatabase) {
    QString LText = "[Firebird]\r\nUserName=" + ServerUser() + "\r\nPassword=" + ServerPassword() +
                    "\r\nCharacterSet=WIN1252\r\n";
    if (!aDatabase.isEmpty()) LText += "[BANCO]\r\nCAMINHO=" + aDatabase + "\r\n";
    WriteFileBytes(FConfigFolder.filePath("config.ini"), LText.toUtf8());
  }

  QTemporaryDir FConfigFolder;
  std::shared_ptr<TFakeDialogs> FDialogs;
};

// A left click (press and release) at aPoint, or a press alone of another button.
inline void Click(QWidget* aWidget, QPoint aPoint = {2, 2}, Qt::MouseButton aButton = Qt::LeftButton) {
  const QPointF LLocal(aPoint);
  const QPointF LGlobal(aWidget->mapToGlobal(aPoint));
  QMouseEvent LPress(QEvent::MouseButtonPress, LLocal, LGlobal, aButton, aButton, Qt::NoModifier);
  QApplication::sendEvent(aWidget, &LPress);
  QMouseEvent LRelease(QEvent::MouseButtonRelease, LLocal, LGlobal, aButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(aWidget, &LRelease);
}

// Creates the application on the offscreen platform and runs the tests.
inline int RunUiTests(int aArgc, char** aArgv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TCorvaneApplication LApplication(aArgc, aArgv);
  ::testing::InitGoogleTest(&aArgc, aArgv);
  const int LResult = RUN_ALL_TESTS();
  TSliceConnection::Release();
  return LResult;
}

}  // namespace Corvane::Testing
