#include "Corvane.Scenario.NFSe.h"

#include "Corvane.Documents.h"

namespace Corvane {

ISliceExporterPtr TNFSeSlice::Configure(TDbConnection* aConnection) {
  return TDocumentRegistry::NFSe().Configure(aConnection);
}

ISliceExporterPtr TNFSeSlice::New(TDbConnection* aConnection, std::int64_t aNFSID) {
  // An integer key is bound as an integer, not as its text.
  return Configure(aConnection)->Key("NFSID", TValue::Integer(aNFSID));
}

}  // namespace Corvane
