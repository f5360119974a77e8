#pragma once
// A request to stop one run, set by a front end (a signal watcher, a Cancelar button) from any
// thread and honoured by the run: checked between its steps, and turned into a cancel of the
// server call in flight on every connection that the run has attached to it.
#include "Corvane.Errors.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace Corvane {

class TDbConnection;

// The messages of runs stopped on request.
inline const QString CExportStopped = QStringLiteral("Exportacao interrompida pelo usuario.");
inline const QString CReplayStopped = QStringLiteral("Reproducao interrompida pelo usuario: nada foi gravado no destino.");

// The failure that ends a run stopped on request; its message names what was stopped.
class TCancelledError : public TCorvaneError {
public:
  using TCorvaneError::TCorvaneError;
};

class TCancellation {
public:
  // Any thread; never throws. Not from a signal handler: it calls into the client library.
  // Once the run has passed its point of no return (EnterCommit), only the flag is set.
  void Request() noexcept;
  bool Requested() const noexcept { return FRequested.load(std::memory_order_acquire); }
  // Throws TCancelledError(aMessage) once a stop has been requested.
  void Check(const QString& aMessage) const {
    if (Requested()) throw TCancelledError(aMessage);
  }
  // The point of no return of a writing run (the commit): false when a stop was requested
  // first, and the run must roll back; true when the commit may start, after which a request
  // no longer cancels anything.
  bool EnterCommit() noexcept;
  bool Committing() const noexcept;

private:
  friend class TDbConnection;
  // A connection joins while it is attached to its database and leaves before it detaches, so
  // that a request never reaches a handle the connection has released.
  void Join(TDbConnection* aConnection);
  void Leave(TDbConnection* aConnection) noexcept;

  std::atomic<bool> FRequested{false};
  mutable std::mutex FMutex;
  bool FCommitting = false;
  std::vector<TDbConnection*> FConnections;
};

using TCancellationPtr = std::shared_ptr<TCancellation>;

}  // namespace Corvane
