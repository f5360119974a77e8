#pragma once
// Runs one replay of a slice script (or its preview) on a pool thread with a connection of its
// own to the target; progress and the single completion are queued onto the user-interface
// thread, as the export task does.
#include "Corvane.Exporter.h"
#include "Corvane.Replayer.h"
#include "Corvane.ScriptReader.h"

#include <QString>
#include <functional>
#include <memory>

namespace Corvane {

using TSliceReplayCompleted = std::function<void(const TReplayResult& aResult, const QString& aErrorMessage)>;

// What one replay is asked to do.
struct TSliceReplayRequest {
  QString Parameters;  // the target's parameter list (Name=Value lines)
  TSliceScript Script;
  QList<TReplayRelation> Relations;
  bool DryRun = true;
  bool Mirror = false;
};

class TSliceReplayRun;
using TSliceReplayHandle = std::shared_ptr<TSliceReplayRun>;

class TSliceReplayTask {
public:
  TSliceReplayTask() = delete;
  // Starts the run and returns at once; the completion comes exactly once, on the
  // user-interface thread, with an empty message on success.
  static TSliceReplayHandle Run(const TSliceReplayRequest& aRequest, const TSliceReplayCompleted& aCompleted,
                                const TSliceProgress& aProgress);
  // Asks the run to stop: before the commit everything is rolled back and the completion
  // carries "Reproducao interrompida pelo usuario: nada foi gravado no destino."; once the
  // commit has started it finishes. Any thread.
  static void Cancel(const TSliceReplayHandle& aHandle);
  // The parameter list of a settings file in the format of config.ini, read apart from the
  // source's settings.
  static QString ParametersOf(const QString& aSettingsFile);
};

// The lines that end a replay, as the command line writes them: the warnings (columns left
// out, divergences, unknown relations of aRoot when aRelationsKnown is false) and the summary.
QStringList ReplayWarnings(const TReplayResult& aResult, bool aRelationsKnown, const QString& aRoot);
QString ReplaySummary(const TReplayResult& aResult, bool aMirror);

// "host:path" of a parameter list: never the user or the password.
QString DatabaseShown(const QString& aParameters);
// Whether two parameter lists name the same database (the local host by any of its names).
bool SameDatabase(const QString& aFirst, const QString& aSecond);

}  // namespace Corvane
