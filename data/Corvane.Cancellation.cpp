#include "Corvane.Cancellation.h"

#include "Corvane.Database.h"

#include <algorithm>

namespace Corvane {

void TCancellation::Request() noexcept {
  std::lock_guard LLock(FMutex);
  FRequested.store(true, std::memory_order_release);
  if (FCommitting) return;
  for (TDbConnection* LConnection : FConnections) LConnection->CancelOperation();
}

bool TCancellation::EnterCommit() noexcept {
  std::lock_guard LLock(FMutex);
  if (Requested()) return false;
  FCommitting = true;
  return true;
}

bool TCancellation::Committing() const noexcept {
  std::lock_guard LLock(FMutex);
  return FCommitting;
}

void TCancellation::Join(TDbConnection* aConnection) {
  std::lock_guard LLock(FMutex);
  if (std::find(FConnections.begin(), FConnections.end(), aConnection) == FConnections.end())
    FConnections.push_back(aConnection);
  // A stop requested before the connection joined still reaches its first call.
  if (Requested() && !FCommitting) aConnection->CancelOperation();
}

void TCancellation::Leave(TDbConnection* aConnection) noexcept {
  std::lock_guard LLock(FMutex);
  FConnections.erase(std::remove(FConnections.begin(), FConnections.end(), aConnection), FConnections.end());
}

}  // namespace Corvane
