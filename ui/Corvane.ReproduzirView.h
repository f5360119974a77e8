#pragma once
// The replay window: a slice script replayed on a support database through the replay task,
// first as a preview (Conferir) that lists what each row would become, then for real
// (Aplicar), with or without the mirror.
#include "Corvane.ReplayTask.h"
#include "Corvane.WindowFrame.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <optional>

namespace Corvane {

// One line of the table: a record of the script or a row only the target holds.
struct TReproducaoLinha {
  QString Tabela;
  QString Chave;
  QString Situacao;  // novo, alterado, inalterado, somente no destino
  QString Alteracoes;
};

class TReproducaoModel : public QAbstractTableModel {
  Q_OBJECT
public:
  using QAbstractTableModel::QAbstractTableModel;
  void Preencher(QList<TReproducaoLinha> aLinhas);
  const QList<TReproducaoLinha>& Linhas() const { return FLinhas; }
  int rowCount(const QModelIndex& aParent = {}) const override;
  int columnCount(const QModelIndex& aParent = {}) const override;
  QVariant data(const QModelIndex& aIndex, int aRole = Qt::DisplayRole) const override;
  QVariant headerData(int aSection, Qt::Orientation aOrientation, int aRole = Qt::DisplayRole) const override;

private:
  QList<TReproducaoLinha> FLinhas;
};

class TReproduzirView : public TFramedView {
  Q_OBJECT
public:
  explicit TReproduzirView(QWidget* aOwner = nullptr);

  bool Running() const { return FRunning; }
  // The lines of the last run, whatever the filter shows.
  const QList<TReproducaoLinha>& Linhas() const { return FModelo->Linhas(); }

  // Takes the script (read and checked at once) and the target's settings; the choosers end here.
  void AbrirScript(const QString& aFileName);
  void AbrirDestino(const QString& aSettingsFile);

  void btnScriptClick();
  void btnDestinoClick();
  void btnConferirClick();
  void btnAplicarClick();
  void btnCancelarClick();

  QLineEdit* edtScript;
  QPushButton* btnScript;
  QLineEdit* edtDestino;
  QPushButton* btnDestino;
  TLabel* lblBancoDestino;
  QPushButton* btnConferir;
  QCheckBox* chkEspelhar;
  QPushButton* btnAplicar;
  QPushButton* btnCancelar;
  QComboBox* cbxSituacao;
  TLabel* lblTotais;
  QTableView* grdRegistros;
  QProgressBar* pgbReproducao;
  QPlainTextEdit* mmoMensagens;

protected:
  void FormShow() override;
  bool CloseQuery() override;

private:
  void Start(bool aDryRun);
  void Progress(const QString& aMessage);
  void Finished(const TReplayResult& aResult, const QString& aErrorMessage, bool aDryRun, bool aMirror);
  void Log(const QString& aMessage);
  void UpdateControls();

  std::optional<TSliceScript> FScript;
  QString FScriptFile;
  QString FTargetParameters;  // empty while no usable target is chosen
  QList<TReplayRelation> FRelations;
  QString FRelationsProblem;  // why the mirror cannot be used, when it cannot
  bool FRunning = false;
  bool FCancelling = false;
  TSliceReplayHandle FTask;
  TReproducaoModel* FModelo;
  QSortFilterProxyModel* FFiltro;
};

}  // namespace Corvane
