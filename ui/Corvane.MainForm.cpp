#include "Corvane.MainForm.h"

#include "Corvane.Connection.h"
#include "Corvane.Dialogs.h"
#include "Corvane.ListaTabelasView.h"
#include "Corvane.ReplayTask.h"
#include "Corvane.ReproduzirView.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QTextCursor>
#include <QTime>

namespace Corvane {

TCorvaneView* CorvaneView = nullptr;

namespace {

const QSize LDesignContent(898, 673);

// Plain decimal digits with an optional sign, the whole text, within the 64-bit range.
bool TryReadNFSID(const QString& aText, qint64* aValue) {
  static const QRegularExpression LPattern(QStringLiteral("^[+-]?[0-9]+$"));
  const QString LText = TrimWhiteSpace(aText);
  if (!LPattern.match(LText).hasMatch()) return false;
  bool LOk = false;
  const qint64 LValue = LText.toLongLong(&LOk, 10);
  if (!LOk || LValue <= 0) return false;
  *aValue = LValue;
  return true;
}

// The NOTANUM may hold any characters; in the proposed file name those that would leave the
// folder or that no file name can hold become '_'.
QString FileNamePart(const QString& aText) {
  QString LResult = aText;
  for (QChar& LChar : LResult)
    if (LChar.unicode() < 32 || QStringLiteral("\\/:*?\"<>|").contains(LChar)) LChar = u'_';
  if (LResult == QStringLiteral(".") || LResult == QStringLiteral("..")) LResult.fill(u'_');
  return LResult;
}

QPushButton* NewButton(const QString& aName, const QString& aCaption, QWidget* aParent) {
  auto LButton = new QPushButton(aCaption, aParent);
  LButton->setObjectName(aName);
  LButton->setFocusPolicy(Qt::NoFocus);
  LButton->setAutoDefault(false);
  LButton->setDefault(false);
  return LButton;
}

TPanel* NewGroup(const QString& aStem, const QString& aInnerName, const QString& aCaption, const QRect& aRect,
                 QWidget* aParent, TPanel** aInner, TPanel** aCaptionStrip) {
  auto LIndex = new TPanel(aStem + QStringLiteral("Index"), aParent, clTitleBlue);
  LIndex->setGeometry(aRect);
  auto LInner = new TPanel(aInnerName, LIndex, Qt::white);
  auto LIndexLayout = new TAlignLayout(LIndex);
  LIndexLayout->AddAligned(LInner, TAlign::alClient, 0, QMargins(1, 1, 1, 1));
  auto LStrip = new TPanel(aStem + QStringLiteral("Titulo"), LInner, clTitleBlue);
  LStrip->setFont(CorvaneFont(15));
  QPalette LPalette = LStrip->palette();
  LPalette.setColor(QPalette::WindowText, Qt::white);
  LStrip->setPalette(LPalette);
  LStrip->SetCaption(aCaption);
  auto LInnerLayout = new TAlignLayout(LInner);
  LInnerLayout->AddAligned(LStrip, TAlign::alTop, 20);
  *aInner = LInner;
  *aCaptionStrip = LStrip;
  return LIndex;
}

}  // namespace

TCorvaneView::TCorvaneView(QWidget* aParent) : TFramedView(QStringLiteral("CorvaneView"), aParent) {
  SetPosition(TPosition::poScreenCenter);

  pnlNFSeIndex = NewGroup(QStringLiteral("pnlNFSe"), QStringLiteral("pnlNFse"),
                          QStringLiteral("Nota Fiscal de Serviço"), QRect(7, 4, 189, 133), pnlPrincipal, &pnlNFse,
                          &pnlNFSeTitulo);
  lblNFSID = new TLabel(QStringLiteral("lblNFSID"), QStringLiteral("Código Interno Nota Serviço"), pnlNFse);
  lblNFSID->move(8, 25);
  lblNFSID->adjustSize();
  edtNFSID = new TDigitsEdit(QStringLiteral("edtNFSID"), pnlNFse);
  edtNFSID->setGeometry(8, 48, 167, 25);
  edtNFSID->setPlaceholderText(QStringLiteral("Informe o NFSID"));
  btnGerarScript = NewButton(QStringLiteral("btnGerarScript"), QStringLiteral("Gerar Script"), pnlNFse);
  btnGerarScript->setGeometry(8, 83, 167, 34);

  pnlNotaFiscalIndex = NewGroup(QStringLiteral("pnlNotaFiscal"), QStringLiteral("pnlNotaFiscal"),
                                QStringLiteral("Nota Fiscal Saída"), QRect(7, 150, 189, 133), pnlPrincipal,
                                &pnlNotaFiscal, &pnlNotaFiscalTitulo);
  lblNotaFiscal = new TLabel(QStringLiteral("lblNotaFiscal"), QStringLiteral("Código Interno Nota Fiscal"),
                             pnlNotaFiscal);
  lblNotaFiscal->move(8, 25);
  lblNotaFiscal->adjustSize();
  edtNotaNum = new TDigitsEdit(QStringLiteral("edtNotaNum"), pnlNotaFiscal);
  edtNotaNum->setGeometry(8, 48, 167, 25);
  edtNotaNum->setMaxLength(6);
  edtNotaNum->setPlaceholderText(QStringLiteral("Informe o NOTANUM"));
  btnGerarNotaFiscalScript =
      NewButton(QStringLiteral("btnGerarNotaFiscalScript"), QStringLiteral("Gerar Script"), pnlNotaFiscal);
  btnGerarNotaFiscalScript->setGeometry(8, 83, 167, 34);

  pnlLogIndex = new TPanel(QStringLiteral("pnlLogIndex"), pnlPrincipal, clTitleBlue);
  pnlLogIndex->setFont(CorvaneFont(15));
  mmoLog = new QPlainTextEdit(pnlLogIndex);
  mmoLog->setObjectName(QStringLiteral("mmoLog"));
  mmoLog->setFrameShape(QFrame::NoFrame);
  mmoLog->setFont(CorvaneFont(15));
  mmoLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  mmoLog->setTabChangesFocus(true);
  mmoLog->setFocusPolicy(Qt::StrongFocus);
  auto LLogLayout = new TAlignLayout(pnlLogIndex);
  LLogLayout->AddAligned(mmoLog, TAlign::alClient, 0, QMargins(1, 1, 1, 1));

  btnListaTabelas = NewButton(QStringLiteral("btnListaTabelas"), QStringLiteral("Tabelas Contempladas"), pnlPrincipal);
  btnListaTabelas->setIcon(QIcon(QStringLiteral(":/corvane/tabelas.png")));
  btnListaTabelas->setIconSize(QSize(24, 24));

  // The log follows all four edges; the covered-tables button keeps to the bottom-left corner.
  auto LContentLayout = new TAlignLayout(pnlPrincipal);
  LContentLayout->AddAnchored(pnlLogIndex, QRect(200, 3, 694, 667), akLeft | akTop | akRight | akBottom,
                              LDesignContent);
  LContentLayout->AddAnchored(btnListaTabelas, QRect(8, 618, 186, 41), akLeft | akBottom, LDesignContent);

  // The documents of documentos.ini, below the two built-in ones.
  pnlDocumentoIndex = NewGroup(QStringLiteral("pnlDocumento"), QStringLiteral("pnlDocumento"),
                               QStringLiteral("Outros Documentos"), QRect(7, 296, 189, 276), pnlPrincipal,
                               &pnlDocumento, &pnlDocumentoTitulo);
  cbxDocumento = new QComboBox(pnlDocumento);
  cbxDocumento->setObjectName(QStringLiteral("cbxDocumento"));
  cbxDocumento->setGeometry(8, 26, 167, 25);
  cbxDocumento->setFocusPolicy(Qt::StrongFocus);
  pnlChaves = new QScrollArea(pnlDocumento);
  pnlChaves->setObjectName(QStringLiteral("pnlChaves"));
  pnlChaves->setGeometry(8, 56, 167, 170);
  pnlChaves->setFrameShape(QFrame::NoFrame);
  pnlChaves->setWidgetResizable(true);
  pnlChaves->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  btnGerarDocumento = NewButton(QStringLiteral("btnGerarDocumento"), QStringLiteral("Gerar Script"), pnlDocumento);
  btnGerarDocumento->setGeometry(8, 232, 167, 34);

  // In the free space of the left column, which Cancelar takes over while an export runs.
  chkMascarar = new QCheckBox(QStringLiteral("Mascarar dados pessoais"), pnlPrincipal);
  chkMascarar->setObjectName(QStringLiteral("chkMascarar"));
  chkMascarar->setToolTip(QStringLiteral("Substitui nomes, CPF/CNPJ, e-mails, telefones e endereços conforme "
                                         "mascaramento.ini, ao lado do programa."));
  chkMascarar->setFocusPolicy(Qt::StrongFocus);
  chkMascarar->setGeometry(10, 583, 185, 24);

  // Beside the groups, only while an export runs.
  btnCancelar = NewButton(QStringLiteral("btnCancelar"), QStringLiteral("Cancelar"), pnlPrincipal);
  btnCancelar->setGeometry(8, 578, 187, 34);
  btnCancelar->hide();

  // Under the log while an export runs; hidden otherwise, when the log fills its frame.
  pgbExportacao = new QProgressBar(pnlLogIndex);
  pgbExportacao->setObjectName(QStringLiteral("pgbExportacao"));
  pgbExportacao->setTextVisible(true);
  pgbExportacao->setAlignment(Qt::AlignCenter);
  pgbExportacao->hide();
  LLogLayout->AddAligned(pgbExportacao, TAlign::alBottom, 20, QMargins(1, 0, 1, 1));

  // Right of the title: which database the exports read, and the replay window.
  auto LTitleLayout = static_cast<TAlignLayout*>(pnlTitulo->layout());
  const QSize LDesignTitle(898, 25);
  lblOrigem = new TLabel(QStringLiteral("lblOrigem"), QString(), pnlTitulo);
  lblOrigem->setFont(CorvaneFont(13));
  QPalette LOrigemPalette = lblOrigem->palette();
  LOrigemPalette.setColor(QPalette::WindowText, Qt::white);
  lblOrigem->setPalette(LOrigemPalette);
  lblOrigem->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  LTitleLayout->AddAnchored(lblOrigem, QRect(330, 2, 380, 21), akRight | akTop, LDesignTitle);
  btnReproduzir = NewButton(QStringLiteral("btnReproduzir"), QStringLiteral("Reproduzir script..."), pnlTitulo);
  btnReproduzir->setFont(CorvaneFont(13));
  LTitleLayout->AddAnchored(btnReproduzir, QRect(716, 2, 130, 21), akRight | akTop, LDesignTitle);
  connect(lblOrigem, &TLabel::MouseDown, this, &TFramedView::pnlTituloMouseDown);

  FLogTimer.setSingleShot(true);
  FLogTimer.setInterval(100);
  connect(&FLogTimer, &QTimer::timeout, this, [this] { FlushLog(); });

  setTabOrder(edtNFSID, mmoLog);
  setTabOrder(mmoLog, edtNotaNum);

  const auto LBind = [this](QPushButton* aButton, void (TCorvaneView::*aHandler)()) {
    connect(aButton, &QPushButton::clicked, this, [this, aHandler]() { RunGuarded(this, [&]() { (this->*aHandler)(); }); });
  };
  LBind(btnGerarScript, &TCorvaneView::btnGerarScriptClick);
  LBind(btnGerarNotaFiscalScript, &TCorvaneView::btnGerarNotaFiscalScriptClick);
  LBind(btnListaTabelas, &TCorvaneView::btnListaTabelasClick);
  LBind(btnCancelar, &TCorvaneView::btnCancelarClick);
  LBind(btnGerarDocumento, &TCorvaneView::btnGerarDocumentoClick);
  LBind(btnReproduzir, &TCorvaneView::btnReproduzirClick);
  connect(cbxDocumento, &QComboBox::currentIndexChanged, this, [this]() { cbxDocumentoChange(); });
}

void TCorvaneView::FormShow() {
  edtNotaNum->SetDigitsOnly(false);
  mmoLog->setReadOnly(true);
  mmoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmoLog->setMaximumBlockCount(0);
  lblTitulo->setText(QStringLiteral("Corvane - Versão 1.01 - 14/10/2026"));
  CarregarDocumentos();
  MostrarOrigem();
}

void TCorvaneView::MostrarOrigem() {
  QString LText;
  try {
    // Read apart from the settings object, which is read at the first export.
    LText = DatabaseShown(TSliceConnection::ParametersOf(TSliceConnection::ConfigFile()));
  } catch (...) {
    // The settings' own message comes with the first export; here only the fact.
    LText = QStringLiteral("não configurado");
  }
  lblOrigem->setText(QStringLiteral("Origem: ") + LText);
  lblOrigem->setToolTip(lblOrigem->text());
}

void TCorvaneView::CarregarDocumentos() {
  FDocuments.clear();
  try {
    const TDocumentRegistry LRegistry = TDocumentRegistry::Load(TDocumentRegistry::DefaultFile());
    for (const TDocument& LDocument : LRegistry.Documents())
      if (!LDocument.BuiltIn) FDocuments << LDocument;
  } catch (...) {
    Log(QStringLiteral("ERRO: ") + CurrentErrorMessage());
  }
  const QSignalBlocker LBlocker(cbxDocumento);
  cbxDocumento->clear();
  for (const TDocument& LDocument : std::as_const(FDocuments)) cbxDocumento->addItem(LDocument.Title, LDocument.Name);
  if (FDocuments.isEmpty()) cbxDocumento->setPlaceholderText(QStringLiteral("Nenhum documento em documentos.ini"));
  cbxDocumentoChange();
}

void TCorvaneView::cbxDocumentoChange() {
  // One labelled edit box per key column of the chosen document, in the order of its Chave.
  auto LBox = new QWidget;
  auto LLayout = new QVBoxLayout(LBox);
  LLayout->setContentsMargins(0, 0, 0, 0);
  LLayout->setSpacing(2);
  edtChaves.clear();
  const qsizetype LIndex = cbxDocumento->currentIndex();
  if (LIndex >= 0 && LIndex < FDocuments.size())
    for (const QString& LKey : FDocuments[LIndex].Keys) {
      auto LLabel = new TLabel(QStringLiteral("lblChave") + LKey, LKey, LBox);
      auto LEdit = new QLineEdit(LBox);
      LEdit->setObjectName(QStringLiteral("edtChave") + LKey);
      LEdit->setPlaceholderText(QStringLiteral("Informe ") + LKey);
      LEdit->setFixedHeight(25);
      LEdit->setEnabled(!FExporting);
      LLayout->addWidget(LLabel);
      LLayout->addWidget(LEdit);
      edtChaves << LEdit;
    }
  LLayout->addStretch();
  pnlChaves->setWidget(LBox);  // the previous box is deleted
  btnGerarDocumento->setEnabled(!FExporting && !edtChaves.isEmpty());
}

bool TCorvaneView::CloseQuery() {
  if (!FExporting) return true;
  TDialogs::Current().Warning(
      this, QStringLiteral("Há uma exportação em andamento. Para fechar o programa, interrompa-a com o botão Cancelar."));
  return false;
}

void TCorvaneView::SetExporting(bool aValue) {
  FExporting = aValue;
  btnGerarScript->setEnabled(!aValue);
  edtNFSID->setEnabled(!aValue);
  btnGerarNotaFiscalScript->setEnabled(!aValue);
  edtNotaNum->setEnabled(!aValue);
  pnlSair->setEnabled(!aValue);
  imgSair->setEnabled(!aValue);
  btnGerarScript->setText(aValue ? QStringLiteral("Gerando...") : QStringLiteral("Gerar Script"));
  btnCancelar->setVisible(aValue);
  btnCancelar->setEnabled(aValue);
  cbxDocumento->setEnabled(!aValue);
  chkMascarar->setVisible(!aValue);
  for (QLineEdit* LEdit : std::as_const(edtChaves)) LEdit->setEnabled(!aValue);
  btnGerarDocumento->setEnabled(!aValue && !edtChaves.isEmpty());
  btnReproduzir->setEnabled(!aValue);
  if (!aValue) FCancelling = false;
  FExportedRows = 0;
  pgbExportacao->setRange(0, 0);  // busy: the number of rows is known only at the end
  pgbExportacao->setFormat(QString());
  pgbExportacao->setVisible(aValue);
  pnlLogIndex->layout()->setGeometry(pnlLogIndex->rect());
}

void TCorvaneView::LogProgress(const QString& aMessage) {
  // The rows exported so far, from the exporter's "Registro N: ..." lines.
  static const QString LPrefix = QStringLiteral("Registro ");
  if (aMessage.startsWith(LPrefix)) {
    const qsizetype LColon = aMessage.indexOf(u':', LPrefix.size());
    bool LOk = false;
    const qint64 LRow = LColon > 0 ? QStringView(aMessage).mid(LPrefix.size(), LColon - LPrefix.size()).toLongLong(&LOk) : 0;
    if (LOk) FExportedRows = LRow;
  }
  FPendingLog << QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" - ") + aMessage;
  if (!FLogTimer.isActive()) FLogTimer.start();
}

void TCorvaneView::FlushLog() {
  FLogTimer.stop();
  if (FExporting && FExportedRows > 0)
    pgbExportacao->setFormat(QString::number(FExportedRows) + QStringLiteral(" registros exportados"));
  if (FPendingLog.isEmpty()) return;
  // One insertion of the joined lines costs one layout pass instead of one per line.
  mmoLog->setUpdatesEnabled(false);
  mmoLog->appendPlainText(FPendingLog.join(u'\n'));
  FPendingLog.clear();
  QTextCursor LCursor = mmoLog->textCursor();
  LCursor.movePosition(QTextCursor::End);
  mmoLog->setTextCursor(LCursor);
  mmoLog->setUpdatesEnabled(true);
  mmoLog->ensureCursorVisible();
}

void TCorvaneView::Log(const QString& aMessage) {
  FlushLog();  // the lines that came before stay before
  mmoLog->appendPlainText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" - ") + aMessage);
  QTextCursor LCursor = mmoLog->textCursor();
  LCursor.movePosition(QTextCursor::End);
  mmoLog->setTextCursor(LCursor);
  mmoLog->ensureCursorVisible();
}

void TCorvaneView::ExportFinished(const QString& aFileName, const QString& aErrorMessage) {
  FlushLog();
  const bool LStopped = FCancelling && aErrorMessage == CExportStopped;
  FExportTask.reset();
  SetExporting(false);
  if (aErrorMessage.isEmpty())
    Log(QStringLiteral("Script gerado em: ") + aFileName);
  else if (LStopped)
    Log(aErrorMessage + QStringLiteral(" Nenhum arquivo foi gravado."));
  else
    Log(QStringLiteral("ERRO: ") + aErrorMessage);
}

bool TCorvaneView::AskScriptFile(const QString& aBaseName, QString* aFileName) {
  const QString LFolder = QCoreApplication::applicationDirPath();
  TSaveFileRequest LRequest;
  LRequest.Filter = QStringLiteral("Script SQL (*.sql)");
  LRequest.DefaultSuffix = QStringLiteral("sql");
  LRequest.Directory = LFolder;
  LRequest.ProposedFile = LFolder + QStringLiteral("/") + aBaseName + QStringLiteral(".sql");
  return TDialogs::Current().SaveFile(this, LRequest, aFileName);
}

void TCorvaneView::StartExport(const std::function<TSliceExportHandle(const QString& aParameters)>& aStart) {
  try {
    const QString LParameters = TSliceConnection::Instance().ExportParameters();
    SetExporting(true);
    FExportTask = aStart(LParameters);
  } catch (...) {
    const QString LMessage = CurrentErrorMessage();
    SetExporting(false);
    Log(QStringLiteral("ERRO ao iniciar: ") + LMessage);
  }
}

void TCorvaneView::btnGerarScriptClick() {
  if (FExporting) return;
  mmoLog->clear();
  qint64 LNFSID = 0;
  if (!TryReadNFSID(edtNFSID->text(), &LNFSID)) {
    TDialogs::Current().Warning(this, QStringLiteral("Informe um NFSID válido."));
    edtNFSID->setFocus();
    return;
  }
  const QString LNumber = QString::number(LNFSID);
  TMaskRulesPtr LMask;
  if (!RegrasDeMascaramento(&LMask)) return;
  QString LFileName;
  if (!AskScriptFile(QStringLiteral("NFSe_") + LNumber, &LFileName)) return;
  Log(QStringLiteral("Iniciando NFSe ") + LNumber + QStringLiteral(". Aguarde..."));

  // The window outlives every run (it refuses to close meanwhile); the guard only keeps a
  // late call harmless should it be destroyed all the same.
  const QPointer<TCorvaneView> LSelf(this);
  const TSliceExportCompleted LCompleted = [LSelf](const QString& aFileName, const QString& aErrorMessage) {
    if (LSelf) LSelf->ExportFinished(aFileName, aErrorMessage);
  };
  const TSliceProgress LProgress = [LSelf](const QString& aMessage) {
    if (LSelf) LSelf->LogProgress(aMessage);
  };
  StartExport([&](const QString& aParameters) {
    if (LMask)
      return TSliceExportTask::RunScenario(
          aParameters, LFileName,
          [LNFSID, LMask](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, LNFSID)->Masking(LMask); },
          LCompleted, LProgress);
    return TSliceExportTask::Run(aParameters, LNFSID, LFileName, LCompleted, LProgress);
  });
}

void TCorvaneView::btnGerarNotaFiscalScriptClick() {
  if (FExporting) return;
  mmoLog->clear();
  const QString LNotaNum = TrimWhiteSpace(edtNotaNum->text());
  if (LNotaNum.isEmpty()) {
    Log(QStringLiteral("Informe o NOTANUM da nota fiscal própria."));
    edtNotaNum->setFocus();
    return;
  }
  TMaskRulesPtr LMask;
  if (!RegrasDeMascaramento(&LMask)) return;
  QString LFileName;
  if (!AskScriptFile(QStringLiteral("NotaFiscal_") + FileNamePart(LNotaNum), &LFileName)) return;
  Log(QStringLiteral("Iniciando nota fiscal ") + LNotaNum + QStringLiteral(". Aguarde..."));

  const QPointer<TCorvaneView> LSelf(this);
  const TSliceExportCompleted LCompleted = [LSelf](const QString& aFileName, const QString& aErrorMessage) {
    if (LSelf) LSelf->ExportFinished(aFileName, aErrorMessage);
  };
  const TSliceProgress LProgress = [LSelf](const QString& aMessage) {
    if (LSelf) LSelf->LogProgress(aMessage);
  };
  StartExport([&](const QString& aParameters) {
    if (LMask)
      return TSliceExportTask::RunScenario(
          aParameters, LFileName,
          [LNotaNum, LMask](TDbConnection* aConnection) {
            return TNotaFiscalSlice::New(aConnection, LNotaNum)->Masking(LMask);
          },
          LCompleted, LProgress);
    return TSliceExportTask::RunNotaFiscal(aParameters, LNotaNum, LFileName, LCompleted, LProgress);
  });
}

void TCorvaneView::btnCancelarClick() {
  if (!FExporting || !FExportTask || FCancelling) return;
  FCancelling = true;
  btnCancelar->setEnabled(false);
  Log(QStringLiteral("Cancelamento solicitado. Aguarde..."));
  TSliceExportTask::Cancel(FExportTask);
}

void TCorvaneView::btnGerarDocumentoClick() {
  if (FExporting) return;
  const qsizetype LIndex = cbxDocumento->currentIndex();
  if (LIndex < 0 || LIndex >= FDocuments.size()) return;
  mmoLog->clear();
  const TDocument LDocument = FDocuments[LIndex];
  QList<QPair<QString, QString>> LKeys;
  QStringList LValues;
  for (qsizetype I = 0; I < LDocument.Keys.size() && I < edtChaves.size(); ++I) {
    const QString LValue = TrimWhiteSpace(edtChaves[I]->text());
    if (LValue.isEmpty()) {
      Log(QStringLiteral("Informe ") + LDocument.Keys[I] + QStringLiteral(" do documento ") + LDocument.Title +
          QStringLiteral("."));
      edtChaves[I]->setFocus();
      return;
    }
    LKeys.append({LDocument.Keys[I], LValue});
    LValues << LValue;
  }
  TMaskRulesPtr LMask;
  if (!RegrasDeMascaramento(&LMask)) return;
  QString LFileName;
  if (!AskScriptFile(LDocument.Name + QStringLiteral("_") + FileNamePart(LValues.join(QLatin1Char('_'))), &LFileName))
    return;
  Log(QStringLiteral("Iniciando ") + LDocument.Title + QStringLiteral(" ") + LValues.join(QLatin1Char(' ')) +
      QStringLiteral(". Aguarde..."));

  const QPointer<TCorvaneView> LSelf(this);
  StartExport([&](const QString& aParameters) {
    return TSliceExportTask::RunScenario(
        aParameters, LFileName,
        [LDocument, LKeys, LMask](TDbConnection* aConnection) {
          LDocument.CheckKeyIsUnique(*aConnection);
          ISliceExporterPtr LExporter = LDocument.Configure(aConnection);
          if (LMask) LExporter->Masking(LMask);
          const QList<TValue> LTyped = KeyValuesOf(*aConnection, LDocument.Table, LKeys);
          for (qsizetype I = 0; I < LKeys.size(); ++I) LExporter->Key(LKeys[I].first, LTyped[I]);
          return LExporter;
        },
        [LSelf](const QString& aFileName, const QString& aErrorMessage) {
          if (LSelf) LSelf->ExportFinished(aFileName, aErrorMessage);
        },
        [LSelf](const QString& aMessage) {
          if (LSelf) LSelf->LogProgress(aMessage);
        });
  });
}

bool TCorvaneView::RegrasDeMascaramento(TMaskRulesPtr* aRules) {
  aRules->reset();
  if (!chkMascarar->isChecked()) return true;
  try {
    *aRules = TMaskRules::Load(QCoreApplication::applicationDirPath() + QStringLiteral("/mascaramento.ini"));
    Log(QStringLiteral("Dados pessoais serão mascarados conforme ") + (*aRules)->FileName() + QStringLiteral("."));
    return true;
  } catch (...) {
    Log(QStringLiteral("ERRO: ") + CurrentErrorMessage());
    return false;
  }
}

void TCorvaneView::btnListaTabelasClick() {
  // Errors of the filling are not caught here: they reach the program's error box, and the
  // window is destroyed unshown on the way.
  auto LView = std::make_unique<TListaTabelasView>(this);
  LView->SetPosition(TPosition::poOwnerFormCenter);
  LView->ListarTabelas();
  LView->ShowModal();
}

void TCorvaneView::btnReproduzirClick() {
  if (FExporting) return;
  auto LView = std::make_unique<TReproduzirView>(this);
  LView->SetPosition(TPosition::poOwnerFormCenter);
  LView->ShowModal();
}

}  // namespace Corvane
