// The main window driven as an operator would: validation, proposed files, the log, the
// running state, the close refusal and whole exports against a real server.
#include "Corvane.ListaTabelasView.h"
#include "Corvane.MainForm.h"
#include "UiTestSupport.h"

#include <QClipboard>
#include <QDir>
#include <QKeyEvent>
#include <QPointer>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

const QRegularExpression GLogLine(QStringLiteral("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] - (.*)$"));

class TMainFormTest : public TUiTest {
protected:
  void SetUp() override {
    TUiTest::SetUp();
    FView = std::make_unique<TCorvaneView>();
    FView->show();
    FView->activateWindow();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    // A test that left an export running waits for it: the window must outlive its callbacks.
    WaitFor([this] { return !FView->Exporting(); });
    FView.reset();
    TUiTest::TearDown();
  }

  // The log's lines with their time stamps checked and removed.
  QStringList LogMessages() const {
    QStringList LMessages;
    const QString LText = FView->mmoLog->toPlainText();
    if (LText.isEmpty()) return LMessages;
    for (const QString& LLine : LText.split('\n')) {
      const auto LMatch = GLogLine.match(LLine);
      EXPECT_TRUE(LMatch.hasMatch()) << "not a log line: " << LLine.toStdString();
      LMessages << LMatch.captured(2);
    }
    return LMessages;
  }

  void TypeInto(QWidget* aWidget, const QString& aText) {
    for (const QChar LChar : aText) {
      QKeyEvent LPress(QEvent::KeyPress, 0, Qt::NoModifier, QString(LChar));
      QApplication::sendEvent(aWidget, &LPress);
    }
  }

  // Controls that an export disables, and the state they should be in.
  void ExpectRunning(bool aRunning) {
    EXPECT_EQ(FView->Exporting(), aRunning);
    for (QWidget* LControl : {static_cast<QWidget*>(FView->btnGerarScript), static_cast<QWidget*>(FView->edtNFSID),
                              static_cast<QWidget*>(FView->btnGerarNotaFiscalScript),
                              static_cast<QWidget*>(FView->edtNotaNum), static_cast<QWidget*>(FView->pnlSair),
                              static_cast<QWidget*>(FView->imgSair)})
      EXPECT_EQ(LControl->isEnabled(), !aRunning) << LControl->objectName().toStdString();
    // These stay usable during an export.
    EXPECT_TRUE(FView->pnlMaximizar->isEnabled());
    EXPECT_TRUE(FView->btnListaTabelas->isEnabled());
    EXPECT_TRUE(FView->mmoLog->isEnabled());
    EXPECT_EQ(FView->btnGerarScript->text(), aRunning ? "Gerando..." : "Gerar Script");
    EXPECT_EQ(FView->btnGerarNotaFiscalScript->text(), "Gerar Script");
  }

  QString ExecutableFolder() const { return QCoreApplication::applicationDirPath(); }

  std::unique_ptr<TCorvaneView> FView;
};

class TMainFormDatabaseTest : public TMainFormTest {
protected:
  static void SetUpTestSuite() { FDatabase = new TTestDatabase("mainform", NFSeSchema()); }
  static void TearDownTestSuite() {
    delete FDatabase;
    FDatabase = nullptr;
  }
  static TTestDatabase* FDatabase;
};
TTestDatabase* TMainFormDatabaseTest::FDatabase = nullptr;

}  // namespace

TEST_F(TMainFormTest, ShowsItsTitleCaptionAndDesignLayout) {
  EXPECT_EQ(FView->windowTitle(), "CorvaneView");
  EXPECT_EQ(FView->lblTitulo->text(), "Corvane - Versão 1.01 - 14/10/2026");
  EXPECT_TRUE(FView->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(FView->size(), QSize(900, 700));
  EXPECT_EQ(FView->pnlTitulo->geometry(), QRect(1, 1, 898, 25));
  EXPECT_EQ(FView->pnlPrincipal->geometry(), QRect(1, 26, 898, 673));
  // From the right: close, maximise, title.
  EXPECT_EQ(FView->pnlSair->geometry(), QRect(898 - 3 - 20, 2, 20, 21));
  EXPECT_EQ(FView->pnlMaximizar->geometry(), QRect(898 - 3 - 20 - 3 - 20, 2, 20, 21));
  EXPECT_EQ(FView->lblTitulo->geometry(), QRect(7, 3, 898 - 46 - 7 - 3, 22));
  EXPECT_EQ(FView->pnlNFSeIndex->geometry(), QRect(7, 4, 189, 133));
  EXPECT_EQ(FView->pnlNFse->geometry(), QRect(1, 1, 187, 131));
  EXPECT_EQ(FView->pnlNFSeTitulo->geometry(), QRect(0, 0, 187, 20));
  EXPECT_EQ(FView->edtNFSID->geometry(), QRect(8, 48, 167, 25));
  EXPECT_EQ(FView->btnGerarNotaFiscalScript->geometry(), QRect(8, 83, 167, 34));
  EXPECT_EQ(FView->pnlNotaFiscalIndex->geometry(), QRect(7, 150, 189, 133));
  EXPECT_EQ(FView->pnlLogIndex->geometry(), QRect(200, 3, 694, 667));
  EXPECT_EQ(FView->mmoLog->geometry(), QRect(1, 1, 692, 665));
  EXPECT_EQ(FView->btnListaTabelas->geometry(), QRect(8, 618, 186, 41));
  EXPECT_EQ(FView->edtNFSID->placeholderText(), "Informe o NFSID");
  EXPECT_EQ(FView->edtNotaNum->placeholderText(), "Informe o NOTANUM");
  EXPECT_EQ(FView->edtNotaNum->maxLength(), 6);
  EXPECT_TRUE(FView->mmoLog->isReadOnly());
  EXPECT_EQ(FView->imgMaximizar->toolTip(), "Deixar maximizado ou normal o formulário");
  EXPECT_FALSE(FView->imgSair->Picture().isNull());
  EXPECT_FALSE(FView->btnListaTabelas->icon().isNull());
  for (QWidget* LButton : {static_cast<QWidget*>(FView->btnGerarScript),
                           static_cast<QWidget*>(FView->btnGerarNotaFiscalScript),
                           static_cast<QWidget*>(FView->btnListaTabelas)})
    EXPECT_EQ(LButton->focusPolicy(), Qt::NoFocus);
}

TEST_F(TMainFormTest, MaximiseTogglesAndTheLogFollowsTheEdges) {
  const QRect LNormal = FView->geometry();
  Click(FView->imgMaximizar);
  ASSERT_TRUE(WaitFor([this] { return FView->isMaximized(); }, 5000));
  WaitFor([&] { return FView->geometry() != LNormal; }, 2000);
  QCoreApplication::processEvents();
  const QSize LContent = FView->pnlPrincipal->size();
  EXPECT_EQ(FView->pnlLogIndex->geometry(), QRect(200, 3, LContent.width() - 204, LContent.height() - 6));
  EXPECT_EQ(FView->btnListaTabelas->geometry(), QRect(8, LContent.height() - 55, 186, 41));
  EXPECT_EQ(FView->edtNFSID->geometry(), QRect(8, 48, 167, 25));

  Click(FView->pnlMaximizar);
  ASSERT_TRUE(WaitFor([this] { return !FView->isMaximized(); }, 5000));
  WaitFor([&] { return FView->geometry() == LNormal; }, 2000);
  EXPECT_EQ(FView->geometry(), LNormal);
  EXPECT_EQ(FView->pnlLogIndex->geometry(), QRect(200, 3, 694, 667));
}

TEST_F(TMainFormTest, KeyboardOrderIsNFSIDLogNotaNum) {
  FView->edtNFSID->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), FView->edtNFSID);
  for (QWidget* LNext : {static_cast<QWidget*>(FView->mmoLog), static_cast<QWidget*>(FView->edtNotaNum)}) {
    QKeyEvent LTab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &LTab);
    EXPECT_EQ(QApplication::focusWidget(), LNext) << LNext->objectName().toStdString();
  }
}

TEST_F(TMainFormTest, ErrorEscapingAnEventHandlerIsShownAndTheProgramGoesOn) {
  EXPECT_EQ(QCoreApplication::applicationName(), "Corvane");
  EXPECT_EQ(QCoreApplication::applicationVersion(), "1.0.0");
  QMetaObject::invokeMethod(
      qApp, [] { throw TCorvaneError("falha fora de qualquer janela"); }, Qt::QueuedConnection);
  QCoreApplication::processEvents();
  EXPECT_EQ(FDialogs->Errors, QStringList{"falha fora de qualquer janela"});
  FView->edtNotaNum->setText("");
  FView->btnGerarNotaFiscalScript->click();
  EXPECT_EQ(LogMessages(), QStringList{"Informe o NOTANUM da nota fiscal própria."});
}

TEST_F(TMainFormTest, OnlyDigitsCanBeTypedAsNFSIDWhileNotaNumTakesAnything) {
  TypeInto(FView->edtNFSID, "4a2 -");
  EXPECT_EQ(FView->edtNFSID->text(), "42");
  TypeInto(FView->edtNotaNum, "12a/xyz9");
  EXPECT_EQ(FView->edtNotaNum->text(), "12a/xy");  // at most 6 characters
}

TEST_F(TMainFormTest, InvalidNFSIDShowsTheWarningClearsTheLogAndStartsNothing) {
  for (const QString LText : {QString(), QStringLiteral("   "), QStringLiteral("0"), QStringLiteral("-5"),
                              QStringLiteral("9223372036854775808"), QStringLiteral("99999999999999999999"),
                              QStringLiteral("1 2"), QStringLiteral("0x10"), QStringLiteral("4.5")}) {
    SCOPED_TRACE(LText.toStdString());
    FDialogs->Warnings.clear();
    FView->mmoLog->setPlainText("linha de uma exportação anterior");
    FView->edtNotaNum->setFocus();
    FView->edtNFSID->setText(LText);
    FView->btnGerarScript->click();
    EXPECT_EQ(FDialogs->Warnings, QStringList{"Informe um NFSID válido."});
    EXPECT_EQ(FView->mmoLog->toPlainText(), "");
    EXPECT_TRUE(FDialogs->SaveRequests.isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), FView->edtNFSID);
    EXPECT_FALSE(FView->Exporting());
  }
}

TEST_F(TMainFormTest, ValidNFSIDProposesItsFileAndCancelLeavesTheWindowIdle) {
  const QList<QPair<QString, QString>> LCases{{" 42 ", "NFSe_42.sql"},
                                              {"\t42\r\n", "NFSe_42.sql"},
                                              {"007", "NFSe_7.sql"},
                                              {"+15", "NFSe_15.sql"},
                                              {"9223372036854775807", "NFSe_9223372036854775807.sql"}};
  for (const auto& [LText, LFile] : LCases) {
    SCOPED_TRACE(LText.toStdString());
    FDialogs->SaveRequests.clear();
    FView->edtNFSID->setText(LText);
    FView->btnGerarScript->click();
    EXPECT_TRUE(FDialogs->Warnings.isEmpty());
    ASSERT_EQ(FDialogs->SaveRequests.size(), 1);
    const TSaveFileRequest& LRequest = FDialogs->SaveRequests.first();
    EXPECT_EQ(LRequest.ProposedFile, ExecutableFolder() + "/" + LFile);
    EXPECT_EQ(LRequest.Directory, ExecutableFolder());
    EXPECT_EQ(LRequest.Filter, "Script SQL (*.sql)");
    EXPECT_EQ(LRequest.DefaultSuffix, "sql");
    EXPECT_EQ(FView->mmoLog->toPlainText(), "");  // cancelled: nothing logged
    ExpectRunning(false);
    EXPECT_FALSE(FView->HasExportTask());
  }
}

TEST_F(TMainFormTest, NotaNumRule) {
  // Blanks only: one time-stamped line, no box, focus back to the box.
  FView->mmoLog->setPlainText("anterior");
  FView->edtNotaNum->setText("   ");
  FView->edtNFSID->setFocus();
  FView->btnGerarNotaFiscalScript->click();
  EXPECT_EQ(LogMessages(), QStringList{"Informe o NOTANUM da nota fiscal própria."});
  EXPECT_TRUE(FDialogs->Warnings.isEmpty());
  EXPECT_TRUE(FDialogs->SaveRequests.isEmpty());
  EXPECT_EQ(QApplication::focusWidget(), FView->edtNotaNum);

  // Any text is taken trimmed and unchanged; the file name keeps out of other folders.
  const QList<QPair<QString, QString>> LCases{
      {"12a", "NotaFiscal_12a.sql"}, {" 0012 ", "NotaFiscal_0012.sql"}, {"1/2", "NotaFiscal_1_2.sql"},
      {"..", "NotaFiscal___.sql"},   {"a:b*?", "NotaFiscal_a_b__.sql"}};
  for (const auto& [LText, LFile] : LCases) {
    SCOPED_TRACE(LText.toStdString());
    FDialogs->SaveRequests.clear();
    FView->edtNotaNum->setText(LText);
    FView->btnGerarNotaFiscalScript->click();
    ASSERT_EQ(FDialogs->SaveRequests.size(), 1);
    EXPECT_EQ(FDialogs->SaveRequests.first().ProposedFile, ExecutableFolder() + "/" + LFile);
    EXPECT_EQ(FView->mmoLog->toPlainText(), "");
  }
}

// A number copied from a report often brings blanks along. They must go before the length
// limit applies, and a value too long even without them is refused, never cut into another.
TEST_F(TMainFormTest, PastedValuesLoseTheirBlanksBeforeTheLimitAndAreNeverCut) {
  const auto LPasteInto = [](TDigitsEdit* aEdit, const QString& aText, int aWay) {
    QGuiApplication::clipboard()->setText(aText);
    aEdit->setFocus();
    if (aWay == 0) {
      QKeyEvent LPress(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
      QApplication::sendEvent(aEdit, &LPress);
    } else if (aWay == 1) {
      aEdit->paste();
    } else {
      aEdit->setText(aText);
    }
  };
  const QList<QPair<QString, QString>> LNotaCases{
      {" 000123", "000123"}, {"000123 ", "000123"}, {" 000123 ", "000123"}, {"\t000123", "000123"},
      {"000123\r\n", "000123"}, {" 12 ", " 12 "}};
  for (int LWay = 0; LWay < 3; ++LWay) {
    for (const auto& [LPasted, LValue] : LNotaCases) {
      SCOPED_TRACE(QStringLiteral("way %1, pasted [%2]").arg(LWay).arg(LPasted).toStdString());
      FView->edtNotaNum->QLineEdit::setText(QString());
      LPasteInto(FView->edtNotaNum, LPasted, LWay);
      EXPECT_EQ(FView->edtNotaNum->text(), LValue);
      FDialogs->SaveRequests.clear();
      FView->btnGerarNotaFiscalScript->click();
      ASSERT_EQ(FDialogs->SaveRequests.size(), 1);
      EXPECT_EQ(FDialogs->SaveRequests.first().ProposedFile,
                ExecutableFolder() + "/NotaFiscal_" + TrimWhiteSpace(LValue) + ".sql");
    }
    // Too long even without blanks: refused whole, the previous value stays.
    for (const QString LPasted : {QStringLiteral("0001234"), QStringLiteral(" 1234567 "), QStringLiteral("12345 7")}) {
      SCOPED_TRACE(QStringLiteral("way %1, pasted [%2]").arg(LWay).arg(LPasted).toStdString());
      FView->edtNotaNum->QLineEdit::setText(QStringLiteral("999"));
      FView->edtNotaNum->end(false);
      LPasteInto(FView->edtNotaNum, LPasted, LWay);
      EXPECT_EQ(FView->edtNotaNum->text(), "999");
    }
  }
  // Typed: a blank typed first goes when the value would not fit with it.
  FView->edtNotaNum->QLineEdit::setText(QString());
  TypeInto(FView->edtNotaNum, " 000123");
  EXPECT_EQ(FView->edtNotaNum->text(), "000123");

  // The NFSID box keeps whole numbers whole at its own limit too.
  const int LLimit = FView->edtNFSID->maxLength();
  FView->edtNFSID->QLineEdit::setText(QStringLiteral("42"));
  FView->edtNFSID->end(false);
  LPasteInto(FView->edtNFSID, QString(LLimit, QLatin1Char('1')), 1);
  EXPECT_EQ(FView->edtNFSID->text(), "42");
  FView->edtNFSID->QLineEdit::setText(QString());
  LPasteInto(FView->edtNFSID, " " + QString(LLimit - 1, QLatin1Char('0')) + "7\t", 0);
  FDialogs->SaveRequests.clear();
  FView->btnGerarScript->click();
  ASSERT_EQ(FDialogs->SaveRequests.size(), 1);
  EXPECT_EQ(FDialogs->SaveRequests.first().ProposedFile, ExecutableFolder() + "/NFSe_7.sql");
}

TEST_F(TMainFormTest, MissingDatabasePathLogsTheStartErrorAndReturnsToIdle) {
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = QDir::temp().filePath("corvane-nunca.sql");
  FView->edtNFSID->setText("42");
  FView->btnGerarScript->click();
  EXPECT_EQ(LogMessages(), (QStringList{"Iniciando NFSe 42. Aguarde...",
                                        "ERRO ao iniciar: Configure [BANCO] CAMINHO no config.ini ao lado do executavel."}));
  ExpectRunning(false);
  EXPECT_FALSE(FView->HasExportTask());

  FView->edtNotaNum->setText("12a");
  FView->btnGerarNotaFiscalScript->click();
  EXPECT_EQ(LogMessages(), (QStringList{"Iniciando nota fiscal 12a. Aguarde...",
                                        "ERRO ao iniciar: Configure [BANCO] CAMINHO no config.ini ao lado do executavel."}));
  ExpectRunning(false);
}

TEST_F(TMainFormTest, MissingConfigFileIsReportedAtTheFirstStartOnly) {
  QFile::remove(FConfigFolder.filePath("config.ini"));
  FDialogs->CancelSave = false;
  FView->edtNFSID->setText("42");
  FView->btnGerarScript->click();
  const QStringList LMessages = LogMessages();
  ASSERT_EQ(LMessages.size(), 2);
  EXPECT_TRUE(LMessages.at(1).startsWith("ERRO ao iniciar: Arquivo de configuracao nao encontrado: "));
  ExpectRunning(false);
}

TEST_F(TMainFormTest, RunningStateRefusesToCloseUntilTheCompletionArrives) {
  // A database that does not exist: the start succeeds and the run fails on the worker.
  WriteConfig(DatabaseFolder() + "/corvane-nao-existe.fdb");
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = QDir::temp().filePath("corvane-running.sql");

  FView->edtNFSID->setText("42");
  FView->btnGerarScript->click();
  // The completion never runs inside the start: the window is in its running state now.
  ExpectRunning(true);
  EXPECT_TRUE(FView->HasExportTask());

  // No way of closing passes: the system's request, the blank content panel.
  EXPECT_FALSE(FView->close());
  Click(FView->pnlPrincipal, {500, 650});
  EXPECT_TRUE(FView->isVisible());
  // A second start is ignored, the log untouched.
  const QString LLog = FView->mmoLog->toPlainText();
  FView->btnGerarScriptClick();
  FView->btnGerarNotaFiscalScriptClick();
  EXPECT_TRUE(FView->mmoLog->toPlainText().startsWith(LLog));

  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  ExpectRunning(false);
  EXPECT_FALSE(FView->HasExportTask());
  const QStringList LMessages = LogMessages();
  ASSERT_EQ(LMessages.size(), 3) << LMessages.join("\n").toStdString();
  EXPECT_EQ(LMessages.at(0), "Iniciando NFSe 42. Aguarde...");
  EXPECT_EQ(LMessages.at(1), "Conectando ao banco de origem...");
  EXPECT_TRUE(LMessages.at(2).startsWith("ERRO: ")) << LMessages.at(2).toStdString();
  EXPECT_GT(LMessages.at(2).size(), 6);

  // The same for a Nota Fiscal run: only the NFSe button changes its caption.
  FView->edtNotaNum->setText("77");
  FView->btnGerarNotaFiscalScript->click();
  ExpectRunning(true);
  EXPECT_EQ(LogMessages().first(), "Iniciando nota fiscal 77. Aguarde...");
  EXPECT_FALSE(FView->close());
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  ExpectRunning(false);
  EXPECT_TRUE(LogMessages().last().startsWith("ERRO: "));
}

TEST_F(TMainFormTest, IdleWindowClosesByItsButtonAndByTheBlankContentPanel) {
  Click(FView->imgSair);
  EXPECT_FALSE(FView->isVisible());
  FView->show();
  Click(FView->pnlNFse, {100, 125});  // inside a group: not the blank content panel
  EXPECT_TRUE(FView->isVisible());
  Click(FView->pnlPrincipal, {100, 400});
  EXPECT_FALSE(FView->isVisible());
}

TEST_F(TMainFormTest, CoveredTablesWithoutDatabasePathShowsAnErrorBoxAndNoWindow) {
  FView->btnListaTabelas->click();
  EXPECT_EQ(FDialogs->Errors, QStringList{"Configure [BANCO] CAMINHO no config.ini ao lado do executavel."});
  EXPECT_TRUE(FView->findChildren<TListaTabelasView*>().isEmpty());
  // The main window goes on working.
  FView->edtNotaNum->setText(" ");
  FView->btnGerarNotaFiscalScript->click();
  EXPECT_EQ(LogMessages(), QStringList{"Informe o NOTANUM da nota fiscal própria."});
}

TEST_F(TMainFormDatabaseTest, NFSeExportFromTheButtonToTheWrittenScript) {
  WriteConfig(FDatabase->Path());
  QTemporaryDir LFolder;
  const QString LFile = LFolder.filePath("NFSe_42.sql");
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = LFile;
  FView->edtNFSID->setText(" 42 ");
  FView->btnGerarScript->click();
  ExpectRunning(true);
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  ExpectRunning(false);

  const QStringList LMessages = LogMessages();
  ASSERT_GE(LMessages.size(), 5) << LMessages.join("\n").toStdString();
  EXPECT_EQ(LMessages.at(0), "Iniciando NFSe 42. Aguarde...");
  EXPECT_EQ(LMessages.at(1), "Conectando ao banco de origem...");
  EXPECT_EQ(LMessages.at(2), "Conexao estabelecida. Gerando script...");
  EXPECT_TRUE(LMessages.contains("Registro 2: NFSRES exportado."));
  EXPECT_EQ(LMessages.at(LMessages.size() - 2), "Gravando arquivo SQL...");
  EXPECT_EQ(LMessages.last(), "Script gerado em: " + LFile);
  EXPECT_TRUE(ReadFileBytes(LFile).contains("\"NFSPRO\""));
  // Idle again: the window closes.
  EXPECT_TRUE(FView->close());
}

// The check box sits in the free space of the left column, which Cancelar takes over while an
// export runs; ticked, the export masks by mascaramento.ini beside the executable.
TEST_F(TMainFormDatabaseTest, MaskCheckBoxExportsByTheRulesBesideTheProgram) {
  const QRect LBox = FView->chkMascarar->geometry();
  EXPECT_EQ(FView->chkMascarar->text(), "Mascarar dados pessoais");
  EXPECT_TRUE(FView->chkMascarar->isVisible());
  EXPECT_FALSE(FView->chkMascarar->isChecked());
  for (QWidget* LOther : {static_cast<QWidget*>(FView->pnlNFSeIndex), static_cast<QWidget*>(FView->pnlNotaFiscalIndex),
                          static_cast<QWidget*>(FView->pnlDocumentoIndex), static_cast<QWidget*>(FView->pnlLogIndex),
                          static_cast<QWidget*>(FView->btnListaTabelas)})
    EXPECT_FALSE(LBox.intersects(LOther->geometry())) << LOther->objectName().toStdString();
  EXPECT_TRUE(FView->pnlPrincipal->rect().contains(LBox));

  WriteConfig(FDatabase->Path());
  const QString LRules = QDir(ExecutableFolder()).filePath("mascaramento.ini");
  QFile::remove(LRules);
  struct TRemove {
    QString File;
    ~TRemove() { QFile::remove(File); }
  } LRemove{LRules};
  QTemporaryDir LFolder;
  const QString LFile = LFolder.filePath("NFSe_42.sql");
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = LFile;
  FView->edtNFSID->setText("42");
  FView->chkMascarar->setChecked(true);
  // Without the rules file nothing starts.
  FView->btnGerarScript->click();
  EXPECT_FALSE(FView->Exporting());
  ASSERT_EQ(LogMessages().size(), 1);
  EXPECT_TRUE(LogMessages().first().startsWith("ERRO: ")) << LogMessages().first().toStdString();
  EXPECT_FALSE(QFileInfo::exists(LFile));

  WriteFileBytes(LRules, "[Mascaramento]\r\nCLIENTE.NOME=nome\r\n");
  FView->btnGerarScript->click();
  EXPECT_FALSE(FView->chkMascarar->isVisible());
  EXPECT_TRUE(FView->btnCancelar->isVisible());
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  EXPECT_TRUE(FView->chkMascarar->isVisible());
  const QStringList LMessages = LogMessages();
  EXPECT_EQ(LMessages.first(), "Dados pessoais serão mascarados conforme " + LRules + ".");
  EXPECT_EQ(LMessages.last(), "Script gerado em: " + LFile) << LMessages.join("\n").toStdString();
  const QByteArray LScript = ReadFileBytes(LFile);
  EXPECT_TRUE(LScript.contains("-- Dados pessoais mascarados pelas regras de " + LRules.toUtf8()));
  EXPECT_TRUE(LScript.contains("\"CLIENTE\""));
  EXPECT_FALSE(LScript.contains(QByteArray("Padaria").toHex().toUpper()));
}

TEST_F(TMainFormDatabaseTest, PastedNotaNumWithBlanksExportsTheDocumentItNames) {
  const TTestDatabase LDemo("pasted-notanum", DemoSql(), "WIN1252");
  WriteConfig(LDemo.Path());
  QTemporaryDir LFolder;
  const QString LFile = LFolder.filePath("NotaFiscal_000123.sql");
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = LFile;
  QGuiApplication::clipboard()->setText(QStringLiteral(" 000123"));
  FView->edtNotaNum->setFocus();
  QKeyEvent LPaste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
  QApplication::sendEvent(FView->edtNotaNum, &LPaste);
  FView->btnGerarNotaFiscalScript->click();
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  EXPECT_EQ(LogMessages().last(), "Script gerado em: " + LFile);
  const QByteArray LScript = ReadFileBytes(LFile);
  EXPECT_TRUE(LScript.contains("\r\n-- NOTAFI | NOTANUM=000123\r\n")) << LScript.left(2000).toStdString();
}

TEST_F(TMainFormDatabaseTest, NotaFiscalFailureOfTheRunIsLoggedAsError) {
  // The small database has no NOTAFI table: the exporter's failure arrives as "ERRO: ".
  WriteConfig(FDatabase->Path());
  QTemporaryDir LFolder;
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = LFolder.filePath("NotaFiscal_1.sql");
  FView->edtNotaNum->setText("1");
  FView->btnGerarNotaFiscalScript->click();
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  const QStringList LMessages = LogMessages();
  EXPECT_EQ(LMessages.mid(0, 3), (QStringList{"Iniciando nota fiscal 1. Aguarde...", "Conectando ao banco de origem...",
                                              "Conexao estabelecida. Gerando script..."}));
  EXPECT_TRUE(LMessages.last().startsWith("ERRO: ")) << LMessages.join("\n").toStdString();
  EXPECT_FALSE(QFile::exists(LFolder.filePath("NotaFiscal_1.sql")));
}

TEST_F(TMainFormDatabaseTest, CoveredTablesOpensModallyOverTheMainWindowAndIsDestroyedAfter) {
  WriteConfig(FDatabase->Path());
  QPointer<TListaTabelasView> LSeen;
  bool LChecked = false;
  QTimer::singleShot(0, [&] {
    const auto LViews = FView->findChildren<TListaTabelasView*>();
    ASSERT_EQ(LViews.size(), 1);
    LSeen = LViews.first();
    EXPECT_TRUE(LSeen->isVisible());
    EXPECT_TRUE(LSeen->isModal());
    EXPECT_EQ(LSeen->windowTitle(), "ListaTabelasView");
    EXPECT_EQ(LSeen->lblTitulo->text(), "Tabelas Contempladas - Versão 1.00");
    EXPECT_EQ(LSeen->geometry().center(), FView->geometry().center());
    EXPECT_TRUE(LSeen->rdtAjuda->toPlainText().contains("Total: 16"));
    LChecked = true;
    // A click on the 3-px strip around the text closes it.
    Click(LSeen->pnlPrincipal, {1, 300});
  });
  FView->btnListaTabelas->click();
  EXPECT_TRUE(LChecked);
  EXPECT_TRUE(FDialogs->Errors.isEmpty()) << FDialogs->Errors.join("\n").toStdString();
  EXPECT_TRUE(LSeen.isNull());
  EXPECT_TRUE(FView->isVisible());
}

int main(int argc, char** argv) { return RunUiTests(argc, argv); }

TEST_F(TMainFormDatabaseTest, CancelarStopsALongExportLeavesNoFileAndReturnsToIdle) {
  // Every item has a product of its own: a lookup per row, so the run takes seconds.
  const TTestDatabase LLarge("mainform-cancel", QString(NFSeSchema()) + R"SQL(
COMMIT;
CREATE TABLE PRODUTO (PRODUTO INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(40));
ALTER TABLE NFSPRO ADD PRODUTO INTEGER REFERENCES PRODUTO;
COMMIT;
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE I INTEGER = 3;
BEGIN
  WHILE (I < 40000) DO
  BEGIN
    INSERT INTO PRODUTO VALUES (:I, 'Produto ' || :I);
    INSERT INTO NFSPRO VALUES (42, :I, 'Item ' || :I, :I);
    I = I + 1;
  END
END^
SET TERM ; ^
COMMIT;
)SQL");
  WriteConfig(LLarge.Path());
  QTemporaryDir LFolder;
  const QString LFile = LFolder.filePath("NFSe_42.sql");
  WriteFileBytes(LFile, "-- o script de antes\r\n");  // an earlier export must survive a stopped one
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = LFile;
  EXPECT_FALSE(FView->btnCancelar->isVisible());
  FView->edtNFSID->setText("42");
  FView->btnGerarScript->click();
  ExpectRunning(true);
  EXPECT_TRUE(FView->btnCancelar->isVisible());

  // Closing is refused with a message that points to Cancelar.
  EXPECT_FALSE(FView->close());
  ASSERT_EQ(FDialogs->Warnings.size(), 1);
  EXPECT_TRUE(FDialogs->Warnings.first().contains("Cancelar"));

  // Stopped in the middle of the walk.
  ASSERT_TRUE(WaitFor([this] { return FView->mmoLog->toPlainText().contains("Registro 100: "); }));
  FView->btnCancelar->click();
  EXPECT_FALSE(FView->btnCancelar->isEnabled());
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  ExpectRunning(false);
  EXPECT_FALSE(FView->btnCancelar->isVisible());
  const QStringList LMessages = LogMessages();
  EXPECT_TRUE(LMessages.contains("Cancelamento solicitado. Aguarde..."));
  EXPECT_EQ(LMessages.last(), "Exportacao interrompida pelo usuario. Nenhum arquivo foi gravado.");
  EXPECT_FALSE(LMessages.join("\n").contains("ERRO")) << LMessages.join("\n").toStdString();
  EXPECT_FALSE(LMessages.contains("Gravando arquivo SQL..."));
  EXPECT_EQ(ReadFileBytes(LFile), "-- o script de antes\r\n");
  EXPECT_EQ(QDir(LFolder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"NFSe_42.sql"});

  // The next export runs to its end as usual.
  FView->btnGerarScript->click();
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  EXPECT_EQ(LogMessages().last(), "Script gerado em: " + LFile);
  EXPECT_TRUE(FView->close());
}

TEST_F(TMainFormDatabaseTest, OtherDocumentsPanelListsTheFileAndExportsTheChosenOne) {
  // The documents file beside the executable, as the program reads it.
  const QString LDocuments = QDir(ExecutableFolder()).filePath("documentos.ini");
  WriteFileBytes(LDocuments, "[Pedido]\r\nTitulo=Pedido de Venda\r\nTabela=PEDRES\r\nChave=PEDNUM\r\n"
                             "Relacao1=PEDRES:PEDPRO:PEDNUM:PEDNUM\r\n"
                             "[Item]\r\nTitulo=Item de pedido\r\nTabela=PEDPRO\r\nChave=PEDNUM,ITEM\r\n");
  struct TRemove {
    QString File;
    ~TRemove() { QFile::remove(File); }
  } LRemove{LDocuments};
  const TTestDatabase LDemo("mainform-documents", DemoSql(), "WIN1252");
  WriteConfig(LDemo.Path());
  FView->CarregarDocumentos();
  ASSERT_EQ(FView->cbxDocumento->count(), 2);
  EXPECT_EQ(FView->cbxDocumento->itemText(0), "Pedido de Venda");
  // One edit box per key column of the chosen document.
  FView->cbxDocumento->setCurrentIndex(1);
  ASSERT_EQ(FView->edtChaves.size(), 2);
  EXPECT_EQ(FView->edtChaves[1]->placeholderText(), "Informe ITEM");
  FView->cbxDocumento->setCurrentIndex(0);
  ASSERT_EQ(FView->edtChaves.size(), 1);

  // A blank key is asked for before anything starts.
  FView->btnGerarDocumento->click();
  EXPECT_EQ(LogMessages(), QStringList{"Informe PEDNUM do documento Pedido de Venda."});
  EXPECT_TRUE(FDialogs->SaveRequests.isEmpty());

  QTemporaryDir LFolder;
  const QString LFile = LFolder.filePath("Pedido_5001.sql");
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = LFile;
  FView->edtChaves[0]->setText(" 5001 ");
  FView->btnGerarDocumento->click();
  EXPECT_TRUE(FDialogs->SaveRequests.last().ProposedFile.endsWith("/Pedido_5001.sql"));
  ExpectRunning(true);
  EXPECT_FALSE(FView->btnGerarDocumento->isEnabled());
  EXPECT_FALSE(FView->edtChaves[0]->isEnabled());
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  ExpectRunning(false);
  EXPECT_TRUE(FView->btnGerarDocumento->isEnabled());
  const QStringList LMessages = LogMessages();
  EXPECT_EQ(LMessages.first(), "Iniciando Pedido de Venda 5001. Aguarde...");
  EXPECT_EQ(LMessages.last(), "Script gerado em: " + LFile) << LMessages.join("\n").toStdString();
  const QByteArray LScript = ReadFileBytes(LFile);
  EXPECT_EQ(LScript.count("UPDATE OR INSERT INTO \"PEDPRO\""), 3);
}

TEST_F(TMainFormDatabaseTest, LargeExportLogKeepsEveryLineInOrderAndEndsWithTheRun) {
  // Twenty thousand rows: the lines arrive far faster than one repaint each.
  const TTestDatabase LLarge("mainform-large-log", QString(NFSeSchema()) + R"SQL(
COMMIT;
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE I INTEGER = 3;
BEGIN
  WHILE (I < 20000) DO
  BEGIN
    INSERT INTO NFSPRO VALUES (42, :I, 'Item ' || :I);
    I = I + 1;
  END
END^
SET TERM ; ^
COMMIT;
)SQL");
  WriteConfig(LLarge.Path());
  TSliceConnection::Release();
  FView->MostrarOrigem();
  EXPECT_EQ(FView->lblOrigem->text(), "Origem: localhost:" + LLarge.Path());
  QTemporaryDir LFolder;
  const QString LFile = LFolder.filePath("NFSe_42.sql");
  FDialogs->CancelSave = false;
  FDialogs->SaveAnswer = LFile;
  FView->edtNFSID->setText("42");
  FView->btnGerarScript->click();
  EXPECT_TRUE(FView->pgbExportacao->isVisible());
  EXPECT_EQ(FView->mmoLog->geometry().height(), 665 - 21);  // the bar is under the log, not over it
  // Controls idle again means the log is complete: nothing may arrive afterwards.
  ASSERT_TRUE(WaitFor([this] { return !FView->Exporting(); }));
  const QStringList LMessages = LogMessages();
  QCoreApplication::processEvents();
  WaitFor([] { return false; }, 300);
  EXPECT_EQ(LogMessages(), LMessages);
  EXPECT_FALSE(FView->pgbExportacao->isVisible());
  EXPECT_EQ(FView->mmoLog->geometry(), QRect(1, 1, 692, 665));

  ASSERT_GE(LMessages.size(), 6);
  EXPECT_EQ(LMessages.mid(0, 3), (QStringList{"Iniciando NFSe 42. Aguarde...", "Conectando ao banco de origem...",
                                              "Conexao estabelecida. Gerando script..."}));
  // Every row once, numbered without a gap, in the order reported.
  int LNext = 1, LTotal = -1;
  for (const QString& LMessage : LMessages) {
    if (LMessage.startsWith("Registro ")) {
      EXPECT_TRUE(LMessage.startsWith("Registro " + QString::number(LNext) + ": ")) << LMessage.toStdString();
      ++LNext;
    } else if (LMessage.startsWith("Total de registros exportados: ")) {
      LTotal = LMessage.section(": ", 1).toInt();
    }
  }
  EXPECT_EQ(LNext - 1, LTotal);
  EXPECT_GE(LTotal, 20000);
  EXPECT_EQ(LMessages.at(LMessages.size() - 2), "Gravando arquivo SQL...");
  EXPECT_EQ(LMessages.last(), "Script gerado em: " + LFile);
}
