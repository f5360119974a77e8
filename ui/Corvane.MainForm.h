#pragma once
// The main window: starts the NFSe and Nota Fiscal exports, follows them in the log and
// opens the covered-tables window.
#include "Corvane.Documents.h"
#include "Corvane.ExportTask.h"
#include "Corvane.WindowFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>

namespace Corvane {

class TCorvaneView : public TFramedView {
  Q_OBJECT
public:
  explicit TCorvaneView(QWidget* aParent = nullptr);

  bool Exporting() const { return FExporting; }
  bool HasExportTask() const { return static_cast<bool>(FExportTask); }

  void btnGerarScriptClick();
  void btnGerarNotaFiscalScriptClick();
  void btnListaTabelasClick();
  // Asks the running export to stop; it ends with "Exportacao interrompida pelo usuario.".
  void btnCancelarClick();
  // Exports the document chosen in the panel of the documents file.
  void btnGerarDocumentoClick();
  // Reads documentos.ini beside the executable again and fills the panel's list.
  void CarregarDocumentos();
  // The documents of the file that the panel lists.
  const QList<TDocument>& Documentos() const { return FDocuments; }

  TPanel* pnlNFSeIndex;
  TPanel* pnlNFse;
  TPanel* pnlNFSeTitulo;
  TLabel* lblNFSID;
  TDigitsEdit* edtNFSID;
  QPushButton* btnGerarScript;
  TPanel* pnlNotaFiscalIndex;
  TPanel* pnlNotaFiscal;
  TPanel* pnlNotaFiscalTitulo;
  TLabel* lblNotaFiscal;
  TDigitsEdit* edtNotaNum;
  QPushButton* btnGerarNotaFiscalScript;
  TPanel* pnlLogIndex;
  QPlainTextEdit* mmoLog;
  QPushButton* btnListaTabelas;
  QPushButton* btnCancelar;  // shown while an export runs
  // The documents defined in documentos.ini: one edit box per key column of the chosen one.
  TPanel* pnlDocumentoIndex;
  TPanel* pnlDocumento;
  TPanel* pnlDocumentoTitulo;
  QComboBox* cbxDocumento;
  QScrollArea* pnlChaves;
  QList<QLineEdit*> edtChaves;
  QPushButton* btnGerarDocumento;
  // Beside the log, under it, while an export runs: busy, with the rows exported so far.
  QProgressBar* pgbExportacao;
  // In the title bar: the source database as host and path, never its credentials.
  TLabel* lblOrigem;
  // Opens the replay window.
  QPushButton* btnReproduzir;
  void btnReproduzirClick();
  // Reads the settings again and shows the source database.
  void MostrarOrigem();
  // Masks personal data by mascaramento.ini beside the executable, in every export.
  QCheckBox* chkMascarar;

protected:
  void FormShow() override;
  bool CloseQuery() override;

private:
  void SetExporting(bool aValue);
  void Log(const QString& aMessage);
  // A progress line of the running export: stamped now, shown with the next flush.
  void LogProgress(const QString& aMessage);
  // Appends the lines waiting since the last flush as one block.
  void FlushLog();
  void ExportFinished(const QString& aFileName, const QString& aErrorMessage);
  // Save dialog for a script named aBaseName + ".sql" in the executable's folder; false when
  // cancelled.
  bool AskScriptFile(const QString& aBaseName, QString* aFileName);
  // Parameter list, running state and the task; a failure returns to Idle with its message.
  void StartExport(const std::function<TSliceExportHandle(const QString& aParameters)>& aStart);

  void cbxDocumentoChange();
  // The rules of mascaramento.ini when the check box is ticked (else empty); false, with the
  // reason in the log, when they cannot be read.
  bool RegrasDeMascaramento(TMaskRulesPtr* aRules);

  QList<TDocument> FDocuments;
  bool FExporting = false;
  bool FCancelling = false;  // Cancelar was clicked during the current export
  TSliceExportHandle FExportTask;
  // A large export reports many lines a second: they are appended in blocks, a few times a
  // second, so that the log keeps up with the export.
  QStringList FPendingLog;
  QTimer FLogTimer;
  qint64 FExportedRows = 0;
};

// The module's main window, set by the program body.
extern TCorvaneView* CorvaneView;

}  // namespace Corvane
