#include "Corvane.ReproduzirView.h"

#include "Corvane.Connection.h"
#include "Corvane.Dialogs.h"
#include "Corvane.Documents.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QPointer>
#include <QTime>

namespace Corvane {

namespace {

const QSize LDesign(898, 673);

const QString CTodas = QStringLiteral("Todas as situações");
const QString CSomenteDestino = QStringLiteral("somente no destino");

QPushButton* NewButton(const QString& aName, const QString& aCaption, QWidget* aParent) {
  auto LButton = new QPushButton(aCaption, aParent);
  LButton->setObjectName(aName);
  LButton->setFocusPolicy(Qt::NoFocus);
  LButton->setAutoDefault(false);
  return LButton;
}

// "TABLE | KEY=VALUE, ..." -> "KEY=VALUE, ..."
QString KeyOf(const QString& aDescription) {
  const qsizetype LBar = aDescription.indexOf(QStringLiteral(" | "));
  return LBar < 0 ? aDescription : aDescription.mid(LBar + 3);
}

}  // namespace

void TReproducaoModel::Preencher(QList<TReproducaoLinha> aLinhas) {
  beginResetModel();
  FLinhas = std::move(aLinhas);
  endResetModel();
}

int TReproducaoModel::rowCount(const QModelIndex& aParent) const { return aParent.isValid() ? 0 : int(FLinhas.size()); }
int TReproducaoModel::columnCount(const QModelIndex& aParent) const { return aParent.isValid() ? 0 : 4; }

QVariant TReproducaoModel::data(const QModelIndex& aIndex, int aRole) const {
  if (!aIndex.isValid() || aIndex.row() >= FLinhas.size()) return {};
  const TReproducaoLinha& LLinha = FLinhas[aIndex.row()];
  if (aRole == Qt::DisplayRole || aRole == Qt::ToolTipRole) {
    switch (aIndex.column()) {
      case 0: return LLinha.Tabela;
      case 1: return LLinha.Chave;
      case 2: return LLinha.Situacao;
      case 3: return LLinha.Alteracoes;
    }
  }
  if (aRole == Qt::ForegroundRole && aIndex.column() == 2) {
    if (LLinha.Situacao == QStringLiteral("novo")) return QColor(0, 110, 0);
    if (LLinha.Situacao == QStringLiteral("alterado")) return QColor(160, 90, 0);
    if (LLinha.Situacao == CSomenteDestino) return QColor(170, 0, 0);
  }
  return {};
}

QVariant TReproducaoModel::headerData(int aSection, Qt::Orientation aOrientation, int aRole) const {
  if (aOrientation != Qt::Horizontal || aRole != Qt::DisplayRole) return {};
  static const QStringList LTitulos{QStringLiteral("Tabela"), QStringLiteral("Chave"), QStringLiteral("Situação"),
                                    QStringLiteral("Alterações (antes -> depois)")};
  return LTitulos.value(aSection);
}

TReproduzirView::TReproduzirView(QWidget* aOwner) : TFramedView(QStringLiteral("ReproduzirView"), aOwner) {
  SetPosition(TPosition::poOwnerFormCenter);
  auto LLayout = new TAlignLayout(pnlPrincipal);
  const auto LPlace = [&](QWidget* aWidget, const QRect& aRect, int aAnchors) {
    LLayout->AddAnchored(aWidget, aRect, aAnchors, LDesign);
  };

  auto lblScript = new TLabel(QStringLiteral("lblScript"), QStringLiteral("Script:"), pnlPrincipal);
  LPlace(lblScript, QRect(8, 10, 168, 20), akLeft | akTop);
  edtScript = new QLineEdit(pnlPrincipal);
  edtScript->setObjectName(QStringLiteral("edtScript"));
  edtScript->setReadOnly(true);
  edtScript->setPlaceholderText(QStringLiteral("Escolha o script gerado pelo Corvane"));
  LPlace(edtScript, QRect(180, 7, 590, 25), akLeft | akTop | akRight);
  btnScript = NewButton(QStringLiteral("btnScript"), QStringLiteral("Escolher..."), pnlPrincipal);
  LPlace(btnScript, QRect(778, 6, 112, 27), akTop | akRight);

  auto lblDestino = new TLabel(QStringLiteral("lblDestino"), QStringLiteral("Configuração do destino:"), pnlPrincipal);
  LPlace(lblDestino, QRect(8, 42, 168, 20), akLeft | akTop);
  lblDestino->setWordWrap(false);
  edtDestino = new QLineEdit(pnlPrincipal);
  edtDestino->setObjectName(QStringLiteral("edtDestino"));
  edtDestino->setReadOnly(true);
  LPlace(edtDestino, QRect(180, 39, 590, 25), akLeft | akTop | akRight);
  btnDestino = NewButton(QStringLiteral("btnDestino"), QStringLiteral("Escolher..."), pnlPrincipal);
  LPlace(btnDestino, QRect(778, 38, 112, 27), akTop | akRight);
  lblBancoDestino = new TLabel(QStringLiteral("lblBancoDestino"), QString(), pnlPrincipal);
  LPlace(lblBancoDestino, QRect(180, 68, 710, 20), akLeft | akTop | akRight);

  btnConferir = NewButton(QStringLiteral("btnConferir"), QStringLiteral("Conferir"), pnlPrincipal);
  LPlace(btnConferir, QRect(8, 96, 120, 32), akLeft | akTop);
  chkEspelhar = new QCheckBox(QStringLiteral("Espelhar: excluir os registros que só o destino tem"), pnlPrincipal);
  chkEspelhar->setObjectName(QStringLiteral("chkEspelhar"));
  LPlace(chkEspelhar, QRect(140, 100, 360, 24), akLeft | akTop);
  btnAplicar = NewButton(QStringLiteral("btnAplicar"), QStringLiteral("Aplicar"), pnlPrincipal);
  LPlace(btnAplicar, QRect(510, 96, 120, 32), akLeft | akTop);
  btnCancelar = NewButton(QStringLiteral("btnCancelar"), QStringLiteral("Cancelar"), pnlPrincipal);
  LPlace(btnCancelar, QRect(640, 96, 120, 32), akLeft | akTop);

  cbxSituacao = new QComboBox(pnlPrincipal);
  cbxSituacao->setObjectName(QStringLiteral("cbxSituacao"));
  cbxSituacao->addItems({CTodas, QStringLiteral("novo"), QStringLiteral("alterado"), QStringLiteral("inalterado"),
                         CSomenteDestino});
  LPlace(cbxSituacao, QRect(8, 138, 180, 25), akLeft | akTop);
  lblTotais = new TLabel(QStringLiteral("lblTotais"), QString(), pnlPrincipal);
  LPlace(lblTotais, QRect(200, 140, 690, 20), akLeft | akTop | akRight);

  FModelo = new TReproducaoModel(this);
  FFiltro = new QSortFilterProxyModel(this);
  FFiltro->setSourceModel(FModelo);
  FFiltro->setFilterKeyColumn(2);
  grdRegistros = new QTableView(pnlPrincipal);
  grdRegistros->setObjectName(QStringLiteral("grdRegistros"));
  grdRegistros->setModel(FFiltro);
  grdRegistros->setSelectionBehavior(QAbstractItemView::SelectRows);
  grdRegistros->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdRegistros->verticalHeader()->hide();
  grdRegistros->verticalHeader()->setDefaultSectionSize(22);
  grdRegistros->horizontalHeader()->setStretchLastSection(true);
  grdRegistros->setColumnWidth(0, 170);
  grdRegistros->setColumnWidth(1, 240);
  grdRegistros->setColumnWidth(2, 130);
  grdRegistros->setWordWrap(false);
  LPlace(grdRegistros, QRect(8, 170, 882, 330), akLeft | akTop | akRight | akBottom);

  pgbReproducao = new QProgressBar(pnlPrincipal);
  pgbReproducao->setObjectName(QStringLiteral("pgbReproducao"));
  pgbReproducao->setRange(0, 1);
  pgbReproducao->setValue(0);
  LPlace(pgbReproducao, QRect(8, 508, 882, 20), akLeft | akRight | akBottom);
  mmoMensagens = new QPlainTextEdit(pnlPrincipal);
  mmoMensagens->setObjectName(QStringLiteral("mmoMensagens"));
  mmoMensagens->setReadOnly(true);
  mmoMensagens->setFont(CorvaneFont(13));
  LPlace(mmoMensagens, QRect(8, 534, 882, 131), akLeft | akRight | akBottom);

  const auto LBind = [this](QPushButton* aButton, void (TReproduzirView::*aHandler)()) {
    connect(aButton, &QPushButton::clicked, this, [this, aHandler]() { RunGuarded(this, [&]() { (this->*aHandler)(); }); });
  };
  LBind(btnScript, &TReproduzirView::btnScriptClick);
  LBind(btnDestino, &TReproduzirView::btnDestinoClick);
  LBind(btnConferir, &TReproduzirView::btnConferirClick);
  LBind(btnAplicar, &TReproduzirView::btnAplicarClick);
  LBind(btnCancelar, &TReproduzirView::btnCancelarClick);
  connect(cbxSituacao, &QComboBox::currentIndexChanged, this, [this](int aIndex) {
    // The state column, whole: "alterado" does not take "inalterado" along.
    FFiltro->setFilterRegularExpression(
        aIndex <= 0 ? QString()
                    : QStringLiteral("^") + QRegularExpression::escape(cbxSituacao->currentText()) + QStringLiteral("$"));
  });

  AbrirDestino(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("destino.ini")));
  UpdateControls();
}

void TReproduzirView::FormShow() { lblTitulo->setText(QStringLiteral("Reproduzir script")); }

bool TReproduzirView::CloseQuery() {
  if (!FRunning) return true;
  TDialogs::Current().Warning(
      this, QStringLiteral("Há uma reprodução em andamento. Para fechar a janela, interrompa-a com o botão Cancelar."));
  return false;
}

void TReproduzirView::Log(const QString& aMessage) {
  mmoMensagens->appendPlainText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" - ") +
                                aMessage);
}

void TReproduzirView::UpdateControls() {
  const bool LReady = FScript.has_value() && !FTargetParameters.isEmpty() && !FRunning;
  btnScript->setEnabled(!FRunning);
  btnDestino->setEnabled(!FRunning);
  btnConferir->setEnabled(LReady);
  btnAplicar->setEnabled(LReady);
  chkEspelhar->setEnabled(!FRunning);
  btnCancelar->setEnabled(FRunning && !FCancelling);
  pnlSair->setEnabled(!FRunning);
  imgSair->setEnabled(!FRunning);
}

void TReproduzirView::btnScriptClick() {
  TOpenFileRequest LRequest;
  LRequest.Title = QStringLiteral("Escolher o script");
  LRequest.Filter = QStringLiteral("Script SQL (*.sql)");
  LRequest.Directory =
      FScriptFile.isEmpty() ? QCoreApplication::applicationDirPath() : QFileInfo(FScriptFile).absolutePath();
  QString LFileName;
  if (TDialogs::Current().OpenFile(this, LRequest, &LFileName)) AbrirScript(LFileName);
}

void TReproduzirView::btnDestinoClick() {
  TOpenFileRequest LRequest;
  LRequest.Title = QStringLiteral("Escolher a configuração do destino");
  LRequest.Filter = QStringLiteral("Configuração (*.ini)");
  LRequest.Directory = QFileInfo(edtDestino->text()).absolutePath();
  QString LFileName;
  if (TDialogs::Current().OpenFile(this, LRequest, &LFileName)) AbrirDestino(LFileName);
}

void TReproduzirView::AbrirScript(const QString& aFileName) {
  if (FRunning) return;
  FScript.reset();
  FScriptFile = QFileInfo(aFileName).absoluteFilePath();
  edtScript->setText(QDir::toNativeSeparators(FScriptFile));
  FModelo->Preencher({});
  lblTotais->clear();
  FRelations.clear();
  FRelationsProblem.clear();
  try {
    FScript = TSliceScript::ReadFile(FScriptFile);
    // The relations of the one document rooted at the script's root table, as the command line finds them.
    const QString LRoot = FScript->RootTable();
    const TDocumentRegistry LRegistry = TDocumentRegistry::Load(TDocumentRegistry::DefaultFile());
    const QList<const TDocument*> LDocuments = LRegistry.ByRoot(LRoot);
    if (LDocuments.size() == 1) {
      FRelations = LDocuments.first()->ReplayRelations();
    } else if (LDocuments.size() > 1) {
      QStringList LNames;
      for (const TDocument* LDocument : LDocuments) LNames << LDocument->Name;
      FRelationsProblem = "Varios documentos tem a tabela " + LRoot + " (" + LNames.join(", ") + ").";
    } else {
      FRelationsProblem = "As relacoes do documento de " + LRoot + " nao sao conhecidas.";
    }
    Log("Script: " + QString::number(FScript->Count()) + " registros, documento de " + LRoot + ".");
  } catch (...) {
    FScript.reset();
    Log(QStringLiteral("ERRO: ") + CurrentErrorMessage());
  }
  UpdateControls();
}

void TReproduzirView::AbrirDestino(const QString& aSettingsFile) {
  if (FRunning) return;
  FTargetParameters.clear();
  const QString LFile = QFileInfo(aSettingsFile).absoluteFilePath();
  edtDestino->setText(QDir::toNativeSeparators(LFile));
  try {
    QString LSource;
    try {
      LSource = TSliceConnection::ParametersOf(TSliceConnection::ConfigFile());
    } catch (...) {
      // Without source settings there is nothing to mistake the target for.
    }
    const QString LTarget = TSliceReplayTask::ParametersOf(LFile);
    if (!LSource.isEmpty() && SameDatabase(LSource, LTarget)) {
      lblBancoDestino->setText(QStringLiteral("O destino é o próprio banco de origem (") + DatabaseShown(LTarget) +
                               QStringLiteral("): escolha a configuração de um banco de suporte."));
      lblBancoDestino->setStyleSheet(QStringLiteral("color: #aa0000"));
    } else {
      FTargetParameters = LTarget;
      lblBancoDestino->setText(QStringLiteral("Banco de destino: ") + DatabaseShown(LTarget));
      lblBancoDestino->setStyleSheet(QString());
    }
  } catch (...) {
    lblBancoDestino->setText(CurrentErrorMessage());
    lblBancoDestino->setStyleSheet(QStringLiteral("color: #aa0000"));
  }
  UpdateControls();
}

void TReproduzirView::btnConferirClick() { Start(true); }
void TReproduzirView::btnAplicarClick() { Start(false); }

void TReproduzirView::btnCancelarClick() {
  if (!FRunning || !FTask || FCancelling) return;
  FCancelling = true;
  Log(QStringLiteral("Cancelamento solicitado. Aguarde..."));
  TSliceReplayTask::Cancel(FTask);
  UpdateControls();
}

void TReproduzirView::Start(bool aDryRun) {
  if (FRunning || !FScript || FTargetParameters.isEmpty()) return;
  const bool LMirror = chkEspelhar->isChecked();
  if (LMirror && FRelations.isEmpty()) {
    TDialogs::Current().Warning(this, FRelationsProblem + QStringLiteral(" O espelho não pode ser usado."));
    return;
  }
  mmoMensagens->clear();
  FModelo->Preencher({});
  lblTotais->clear();
  Log(aDryRun ? QStringLiteral("Conferindo o script no destino (nada será gravado)...")
              : QStringLiteral("Aplicando o script no destino..."));
  TSliceReplayRequest LRequest;
  LRequest.Parameters = FTargetParameters;
  LRequest.Script = *FScript;
  LRequest.Relations = FRelations;
  LRequest.DryRun = aDryRun;
  LRequest.Mirror = LMirror;
  pgbReproducao->setRange(0, qMax(1, FScript->Count()));
  pgbReproducao->setValue(0);
  FRunning = true;
  FCancelling = false;
  UpdateControls();
  const QPointer<TReproduzirView> LSelf(this);
  try {
    FTask = TSliceReplayTask::Run(
        LRequest,
        [LSelf, aDryRun, LMirror](const TReplayResult& aResult, const QString& aErrorMessage) {
          if (LSelf) LSelf->Finished(aResult, aErrorMessage, aDryRun, LMirror);
        },
        [LSelf](const QString& aMessage) {
          if (LSelf) LSelf->Progress(aMessage);
        });
  } catch (...) {
    FRunning = false;
    UpdateControls();
    Log(QStringLiteral("ERRO ao iniciar: ") + CurrentErrorMessage());
  }
}

void TReproduzirView::Progress(const QString& aMessage) {
  // Row lines move the bar; the phases go to the messages.
  static const QString LPrefix = QStringLiteral("Registro ");
  if (aMessage.startsWith(LPrefix)) {
    const qsizetype LColon = aMessage.indexOf(u':', LPrefix.size());
    bool LOk = false;
    const int LRow = LColon > 0 ? QStringView(aMessage).mid(LPrefix.size(), LColon - LPrefix.size()).toInt(&LOk) : 0;
    if (LOk) pgbReproducao->setValue(qMin(LRow, pgbReproducao->maximum()));
    return;
  }
  Log(aMessage);
}

void TReproduzirView::Finished(const TReplayResult& aResult, const QString& aErrorMessage, bool aDryRun,
                               bool aMirror) {
  const bool LCancelled = FCancelling;
  FRunning = false;
  FCancelling = false;
  FTask.reset();
  UpdateControls();
  if (!aErrorMessage.isEmpty()) {
    pgbReproducao->setValue(0);
    Log(aErrorMessage == CReplayStopped ? aErrorMessage : QStringLiteral("ERRO: ") + aErrorMessage);
    return;
  }
  pgbReproducao->setValue(pgbReproducao->maximum());

  QHash<int, const TReplayChange*> LChanges;
  for (const TReplayTable& LTable : aResult.Tables)
    for (const TReplayChange& LChange : LTable.ChangedRows) LChanges.insert(LChange.Record, &LChange);
  QList<TReproducaoLinha> LLinhas;
  LLinhas.reserve(aResult.Records.size() + aResult.TargetOnly.size());
  for (const TReplayRecordState& LRecord : aResult.Records) {
    TReproducaoLinha LLinha{LRecord.Table, KeyOf(LRecord.Description), LRecord.State, {}};
    if (LRecord.State.startsWith(QStringLiteral("alterado"))) {
      LLinha.Situacao = QStringLiteral("alterado");
      if (const TReplayChange* LChange = LChanges.value(LRecord.Record)) {
        QStringList LValues;
        for (const TReplayColumnChange& LValue : LChange->Values)
          LValues << LValue.Column + QStringLiteral(": ") + LValue.Old + QStringLiteral(" -> ") + LValue.New;
        LLinha.Alteracoes = LValues.join(QStringLiteral("; "));
      }
    }
    LLinhas << LLinha;
  }
  for (const TReplayTargetRow& LRow : aResult.TargetOnly)
    LLinhas << TReproducaoLinha{LRow.Table, KeyOf(LRow.Description), CSomenteDestino,
                                aResult.Mirrored && !aDryRun ? QStringLiteral("excluído")
                                : aResult.Mirrored           ? QStringLiteral("seria excluído")
                                                             : QString()};
  FModelo->Preencher(std::move(LLinhas));

  lblTotais->setText(ReplaySummary(aResult, aMirror));
  for (const QString& LWarning : ReplayWarnings(aResult, !FRelations.isEmpty(), FScript ? FScript->RootTable() : QString()))
    Log(LWarning);
  if (!aResult.Sequences.isEmpty()) {
    QStringList LMoved;
    for (const TReplaySequence& LSequence : aResult.Sequences)
      LMoved << LSequence.Name + " " + QString::number(LSequence.Before) + " -> " + QString::number(LSequence.After);
    Log("AVISO: sequencias movidas durante a simulacao nao voltam com o rollback: " + LMoved.join(", ") + ".");
  }
  if (aResult.Committed && LCancelled)
    Log(QStringLiteral("Interrupcao recebida durante a confirmacao: a transacao foi confirmada."));
  Log(ReplaySummary(aResult, aMirror));
}

}  // namespace Corvane
