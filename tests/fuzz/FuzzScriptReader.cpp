// libFuzzer entry point; the property lives in FuzzChecks.h.
#include "FuzzChecks.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  const std::string LProblem = Corvane::Fuzz::CheckScriptReader(aData, aSize);
  if (!LProblem.empty()) {
    std::fprintf(stderr, "CheckScriptReader: %s\n", LProblem.c_str());
    std::abort();
  }
  return 0;
}
