#pragma once
// Runs one export on a pool thread with a connection of its own; progress and the single
// completion are queued onto the user-interface thread.
#include "Corvane.Exporter.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace Corvane {

using TSliceExportCompleted = std::function<void(const QString& aFileName, const QString& aErrorMessage)>;
using TSliceExporterFactory = std::function<ISliceExporterPtr(TDbConnection* aConnection)>;

// The token of a started run; nothing waits on it. Cancel asks the run to stop.
class TSliceExportRun;
using TSliceExportHandle = std::shared_ptr<TSliceExportRun>;

class TSliceExportTask {
public:
  TSliceExportTask() = delete;
  static TSliceExportHandle Run(const QString& aParameters, std::int64_t aNFSID, const QString& aFileName,
                                const TSliceExportCompleted& aCompleted, const TSliceProgress& aProgress);
  static TSliceExportHandle RunNotaFiscal(const QString& aParameters, const QString& aNotaNum,
                                          const QString& aFileName, const TSliceExportCompleted& aCompleted,
                                          const TSliceProgress& aProgress);
  static TSliceExportHandle RunScenario(const QString& aParameters, const QString& aFileName,
                                        const TSliceExporterFactory& aFactory,
                                        const TSliceExportCompleted& aCompleted, const TSliceProgress& aProgress);
  static void QueueProgress(const TSliceProgress& aProgress, const QString& aMessage);
  // Asks a started run to stop: the server call in flight is cancelled, the transaction rolled
  // back and no file written; the completion then carries "Exportacao interrompida pelo
  // usuario." (or the run's own outcome, when it ended first). Any thread; never blocks long.
  static void Cancel(const TSliceExportHandle& aHandle);
};

}  // namespace Corvane
