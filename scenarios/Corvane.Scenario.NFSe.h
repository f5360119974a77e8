#pragma once
// The service invoice (NFSe): NFSRES by NFSID, with its NFSPRO and DUPREC rows.
#include "Corvane.Exporter.h"

#include <cstdint>

namespace Corvane {

class TNFSeSlice {
public:
  TNFSeSlice() = delete;
  static ISliceExporterPtr Configure(TDbConnection* aConnection);
  static ISliceExporterPtr New(TDbConnection* aConnection, std::int64_t aNFSID);
};

}  // namespace Corvane
