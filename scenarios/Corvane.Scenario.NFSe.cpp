#include "Corvane.Scenario.NFSe.h"

namespace Corvane {

ISliceExporterPtr TNFSeSlice::Configure(TDbConnection* aConnection) {
  return TSliceExporter::New(aConnection)
      ->Table("NFSRES")
      ->IncludeChildren("NFSPRO", "NFSID", "NFSID")
      ->IncludeChildren("DUPREC", "E9_NFSID", "NFSID")
      ->Dependencies(true);
}

ISliceExporterPtr TNFSeSlice::New(TDbConnection* aConnection, std::int64_t aNFSID) {
  // An integer key is bound as an integer, not as its text.
  return Configure(aConnection)->Key("NFSID", TValue::Integer(aNFSID));
}

}  // namespace Corvane
