#pragma once
// The own outgoing invoice (Nota Fiscal): NOTAFI by NOTANUM, with thirteen related tables.
#include "Corvane.Exporter.h"

namespace Corvane {

class TNotaFiscalSlice {
public:
  TNotaFiscalSlice() = delete;
  static ISliceExporterPtr Configure(TDbConnection* aConnection);
  // Fails with "Informe o NOTANUM." (argument error) for a blank number.
  static ISliceExporterPtr New(TDbConnection* aConnection, const QString& aNotaNum);
};

}  // namespace Corvane
