#include "Corvane.Scenario.NotaFiscal.h"

#include "Corvane.Documents.h"
#include "Corvane.Errors.h"

namespace Corvane {

ISliceExporterPtr TNotaFiscalSlice::Configure(TDbConnection* aConnection) {
  return TDocumentRegistry::NotaFiscal().Configure(aConnection);
}

ISliceExporterPtr TNotaFiscalSlice::New(TDbConnection* aConnection, const QString& aNotaNum) {
  const QString LNotaNum = TrimBlanks(aNotaNum);
  if (LNotaNum.isEmpty()) throw TArgumentError(QStringLiteral("Informe o NOTANUM."));
  return Configure(aConnection)->Key("NOTANUM", TValue::Text(LNotaNum));
}

}  // namespace Corvane
