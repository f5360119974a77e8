#include "Corvane.Scenario.Documents.h"

#include "Corvane.Exporter.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"

namespace Corvane {

QList<TReplayRelation> DocumentRelations(const QString& aRootTable) {
  // The relations come from the configured export itself, which never touches the connection.
  TDbConnection LUnused;
  LUnused.SetParam("CharacterSet", "UTF8");
  ISliceExporterPtr LExporter;
  if (aRootTable == QLatin1String("NFSRES"))
    LExporter = TNFSeSlice::Configure(&LUnused);
  else if (aRootTable == QLatin1String("NOTAFI"))
    LExporter = TNotaFiscalSlice::Configure(&LUnused);
  QList<TReplayRelation> LRelations;
  if (const auto LSlice = std::dynamic_pointer_cast<TSliceExporter>(LExporter))
    for (const TSliceExporter::TChild& LChild : LSlice->Children())
      LRelations.append(
          TReplayRelation{LChild.ParentTable, LChild.TableName, LChild.ForeignKey, LChild.ParentKey, LChild.Filter});
  return LRelations;
}

}  // namespace Corvane
