#include "Corvane.ExportTask.h"

#include "Corvane.Database.h"
#include "Corvane.Errors.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>
#include <exception>

namespace Corvane {

// What one run captured. The worker and every queued call hold it by shared pointer, so it
// lives until the last of them is done.
class TSliceExportRun {
public:
  QString FParameters;
  QString FFileName;
  TSliceExporterFactory FFactory;
  TSliceExportCompleted FCompleted;
  TSliceProgress FProgress;
  const TCancellationPtr FCancellation = std::make_shared<TCancellation>();
  // Written only by the worker before the completion is queued, read only by that call.
  QString FErrorMessage;

  // The worker steps; queues the completion as their last act.
  static void Execute(const std::shared_ptr<TSliceExportRun>& aRun);
};

namespace {

// The one hand-over to the user-interface thread: a queued call on the application object,
// executed from its event loop in the order queued. Posting never waits.
template <typename TCall>
void QueueOnApplication(TCall&& aCall) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<TCall>(aCall), Qt::QueuedConnection);
}

}  // namespace

void TSliceExportRun::Execute(const std::shared_ptr<TSliceExportRun>& aRun) {
  TSliceExportRun& LRun = *aRun;
  LRun.FErrorMessage.clear();
  bool LFailed = false;
  // Declared before the connection so that it is released after the connection is gone.
  ISliceExporterPtr LExporter;
  try {
    TSliceExportTask::QueueProgress(LRun.FProgress, QStringLiteral("Conectando ao banco de origem..."));
    // Lives inside the guarded block: unwinding destroys it before the failure is recorded.
    auto LConnection = std::make_unique<TDbConnection>();
    LConnection->SetCancellation(LRun.FCancellation);
    LConnection->SetLoginPrompt(false);
    LConnection->SetParams(LRun.FParameters);
    LConnection->SetSilent(true);  // off the user-interface thread: no busy cursor or the like
    LConnection->SetReadOnly(true);
    LConnection->SetIsolation(TIsolation::tiSnapshot);
    LConnection->Open();
    LRun.FCancellation->Check(CExportStopped);
    TSliceExportTask::QueueProgress(LRun.FProgress, QStringLiteral("Conexao estabelecida. Gerando script..."));

    LExporter = LRun.FFactory(LConnection.get());
    if (!LExporter) throw TCorvaneError(QStringLiteral("O cenario nao criou o exportador."));
    const TSliceProgress LProgress = LRun.FProgress;
    LExporter->Progress([LProgress](const QString& aMessage) { TSliceExportTask::QueueProgress(LProgress, aMessage); });
    LExporter->Cancellation(LRun.FCancellation);
    LExporter->SaveToFile(LRun.FFileName);
    LConnection.reset();
  } catch (const TCorvaneError& E) {
    LFailed = true;
    LRun.FErrorMessage = E.Message();
  } catch (const std::exception& E) {
    LFailed = true;
    LRun.FErrorMessage = QString::fromLocal8Bit(E.what());
  } catch (...) {
    LFailed = true;
  }
  // Whatever failure a stop caused on the way (a cancelled attachment, say), the run reports the stop.
  if (LFailed && LRun.FCancellation->Requested()) LRun.FErrorMessage = CExportStopped;
  // The receiver tells success from failure by the message alone: a failure without text
  // must not read as success.
  if (LFailed && LRun.FErrorMessage.trimmed().isEmpty())
    LRun.FErrorMessage = QStringLiteral("Erro desconhecido na exportacao.");

  QueueOnApplication([aRun]() { aRun->FCompleted(aRun->FFileName, aRun->FErrorMessage); });
  LExporter.reset();
}

TSliceExportHandle TSliceExportTask::Run(const QString& aParameters, std::int64_t aNFSID, const QString& aFileName,
                                         const TSliceExportCompleted& aCompleted, const TSliceProgress& aProgress) {
  return RunScenario(
      aParameters, aFileName, [aNFSID](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, aNFSID); },
      aCompleted, aProgress);
}

TSliceExportHandle TSliceExportTask::RunNotaFiscal(const QString& aParameters, const QString& aNotaNum,
                                                   const QString& aFileName, const TSliceExportCompleted& aCompleted,
                                                   const TSliceProgress& aProgress) {
  const QString LNotaNum = aNotaNum;  // the scenario checks it, on the worker
  return RunScenario(
      aParameters, aFileName,
      [LNotaNum](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, LNotaNum); }, aCompleted,
      aProgress);
}

TSliceExportHandle TSliceExportTask::RunScenario(const QString& aParameters, const QString& aFileName,
                                                 const TSliceExporterFactory& aFactory,
                                                 const TSliceExportCompleted& aCompleted,
                                                 const TSliceProgress& aProgress) {
  auto LRun = std::make_shared<TSliceExportRun>();
  LRun->FParameters = aParameters;
  LRun->FFileName = aFileName;
  LRun->FFactory = aFactory;
  LRun->FCompleted = aCompleted;
  LRun->FProgress = aProgress;

  if (!LRun->FCompleted) throw TArgumentError(QStringLiteral("Informe o callback de conclusao."));
  if (!LRun->FFactory) throw TArgumentError(QStringLiteral("Informe a fabrica do exportador."));
  // Without an application object every queued call, the completion included, would be
  // silently lost; refuse before anything starts.
  if (!QCoreApplication::instance())
    throw TCorvaneError(QStringLiteral("Nenhuma aplicacao ativa para receber a conclusao da exportacao."));

  QThreadPool::globalInstance()->start([LRun]() { TSliceExportRun::Execute(LRun); });
  return LRun;
}

void TSliceExportTask::Cancel(const TSliceExportHandle& aHandle) {
  if (aHandle) aHandle->FCancellation->Request();
}

void TSliceExportTask::QueueProgress(const TSliceProgress& aProgress, const QString& aMessage) {
  if (!aProgress) return;
  QueueOnApplication([aProgress, LMessage = aMessage]() { aProgress(LMessage); });
}

}  // namespace Corvane
