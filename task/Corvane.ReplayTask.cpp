#include "Corvane.ReplayTask.h"

#include "Corvane.Connection.h"
#include "Corvane.Database.h"
#include "Corvane.Errors.h"
#include "Corvane.ExportTask.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QRegularExpression>
#include <QThreadPool>
#include <exception>

namespace Corvane {

class TSliceReplayRun {
public:
  TSliceReplayRequest FRequest;
  TSliceReplayCompleted FCompleted;
  TSliceProgress FProgress;
  const TCancellationPtr FCancellation = std::make_shared<TCancellation>();
  // Written only by the worker before the completion is queued, read only by that call.
  TReplayResult FResult;
  QString FErrorMessage;

  static void Execute(const std::shared_ptr<TSliceReplayRun>& aRun);
};

void TSliceReplayRun::Execute(const std::shared_ptr<TSliceReplayRun>& aRun) {
  TSliceReplayRun& LRun = *aRun;
  bool LFailed = false;
  try {
    TSliceExportTask::QueueProgress(LRun.FProgress, QStringLiteral("Conectando ao banco de destino..."));
    TDbConnection LConnection;
    LConnection.SetCancellation(LRun.FCancellation);
    TSliceReplayer::OpenTarget(LConnection, LRun.FRequest.Parameters);
    TSliceReplayer LReplayer(LConnection);
    LReplayer.DryRun(LRun.FRequest.DryRun).Mirror(LRun.FRequest.Mirror).Related(LRun.FRequest.Relations);
    LReplayer.Cancellation(LRun.FCancellation);
    const TSliceProgress LProgress = LRun.FProgress;
    LReplayer.Progress([LProgress](const QString& aMessage) { TSliceExportTask::QueueProgress(LProgress, aMessage); });
    LRun.FResult = LReplayer.Run(LRun.FRequest.Script);
  } catch (const TCorvaneError& E) {
    LFailed = true;
    LRun.FErrorMessage = E.Message();
  } catch (const std::exception& E) {
    LFailed = true;
    LRun.FErrorMessage = QString::fromLocal8Bit(E.what());
  } catch (...) {
    LFailed = true;
  }
  // A stop before the commit rolls everything back, whatever failure it caused on the way.
  if (LFailed && LRun.FCancellation->Requested() && !LRun.FCancellation->Committing())
    LRun.FErrorMessage = CReplayStopped;
  if (LFailed && LRun.FErrorMessage.trimmed().isEmpty())
    LRun.FErrorMessage = QStringLiteral("Erro desconhecido na reproducao.");
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [aRun]() { aRun->FCompleted(aRun->FResult, aRun->FErrorMessage); },
      Qt::QueuedConnection);
}

TSliceReplayHandle TSliceReplayTask::Run(const TSliceReplayRequest& aRequest, const TSliceReplayCompleted& aCompleted,
                                         const TSliceProgress& aProgress) {
  if (!aCompleted) throw TArgumentError(QStringLiteral("Informe o callback de conclusao."));
  if (!QCoreApplication::instance())
    throw TCorvaneError(QStringLiteral("Nenhuma aplicacao ativa para receber a conclusao da reproducao."));
  // Workers open their own connections; the client library must be ready before they do.
  TFbClient::Start();
  auto LRun = std::make_shared<TSliceReplayRun>();
  LRun->FRequest = aRequest;
  LRun->FCompleted = aCompleted;
  LRun->FProgress = aProgress;
  QThreadPool::globalInstance()->start([LRun]() { TSliceReplayRun::Execute(LRun); });
  return LRun;
}

void TSliceReplayTask::Cancel(const TSliceReplayHandle& aHandle) {
  if (aHandle) aHandle->FCancellation->Request();
}

QString TSliceReplayTask::ParametersOf(const QString& aSettingsFile) {
  return TSliceConnection::ParametersOf(aSettingsFile);
}

namespace {

QString ParameterOf(const QString& aParameters, const QString& aName) {
  const QStringList LLines = aParameters.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
  for (const QString& LLine : LLines) {
    const qsizetype LEqual = LLine.indexOf(u'=');
    if (LEqual > 0 && LLine.left(LEqual).trimmed().compare(aName, Qt::CaseInsensitive) == 0)
      return LLine.mid(LEqual + 1).trimmed();
  }
  return {};
}

QString HostOf(const QString& aParameters) {
  const QString LServer = ParameterOf(aParameters, QStringLiteral("Server"));
  return LServer.isEmpty() ? QStringLiteral("localhost") : LServer;
}

bool IsLocalHost(const QString& aHost) {
  return aHost.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 || aHost == QStringLiteral("127.0.0.1") ||
         aHost == QStringLiteral("::1");
}

}  // namespace

QStringList ReplayWarnings(const TReplayResult& aResult, bool aRelationsKnown, const QString& aRoot) {
  QStringList LLines;
  for (const TReplayDroppedColumn& LDropped : aResult.Dropped)
    LLines << "AVISO: campo " + LDropped.Table + "." + LDropped.Column +
                  " inexistente no destino, deixado de fora: " + QString::number(LDropped.Values) +
                  " valores nao nulos descartados.";
  for (const TReplayDivergence& LDivergence : aResult.Divergences)
    LLines << "AVISO: Registro " + QString::number(LDivergence.Record) + " (" + LDivergence.Description + ") " +
                  (!LDivergence.Note.isEmpty() ? LDivergence.Note + "."
                   : LDivergence.Column.isEmpty()
                       ? QStringLiteral("nao foi encontrado depois de gravado.")
                       : "campo " + LDivergence.Column + " gravado como " + LDivergence.Written + " e lido como " +
                             LDivergence.Read + ".");
  if (!aRelationsKnown)
    LLines << "AVISO: relacoes do documento de " + aRoot +
                  " desconhecidas: registros somente no destino nao foram procurados (informe --doc ou --related).";
  return LLines;
}

QString ReplaySummary(const TReplayResult& aResult, bool aMirror) {
  const QString LTargetOnly = aMirror ? QStringLiteral(" excluidos") : QStringLiteral(" somente no destino");
  return "Resumo: " + QString::number(aResult.Inserted) + " inseridos, " + QString::number(aResult.Changed) +
         " alterados, " + QString::number(aResult.Unchanged) + " inalterados, " + QString::number(aResult.Divergent) +
         " divergentes, " + QString::number(aResult.TargetOnly.size()) + LTargetOnly;
}

QString DatabaseShown(const QString& aParameters) {
  return HostOf(aParameters) + u':' + ParameterOf(aParameters, QStringLiteral("Database"));
}

bool SameDatabase(const QString& aFirst, const QString& aSecond) {
  const QString LHost1 = HostOf(aFirst), LHost2 = HostOf(aSecond);
  const bool LSameHost =
      (IsLocalHost(LHost1) && IsLocalHost(LHost2)) || LHost1.compare(LHost2, Qt::CaseInsensitive) == 0;
  const QString LPath1 = QDir::cleanPath(ParameterOf(aFirst, QStringLiteral("Database")));
  const QString LPath2 = QDir::cleanPath(ParameterOf(aSecond, QStringLiteral("Database")));
  return LSameHost && LPath1 == LPath2;
}

}  // namespace Corvane
