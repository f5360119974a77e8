#include "Corvane.StopSignals.h"

#include "Corvane.ScriptSink.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace Corvane::Cli {

namespace {

std::atomic<int> GSignal{0};

sigset_t StopSet() {
  sigset_t LSet;
  sigemptyset(&LSet);
  sigaddset(&LSet, SIGINT);
  sigaddset(&LSet, SIGTERM);
  sigaddset(&LSet, SIGHUP);
  return LSet;
}

void Say(const char* aText) {
  // The terminal may be gone (SIGHUP); nothing to do about a failed write.
  [[maybe_unused]] const ssize_t LWritten = ::write(STDERR_FILENO, aText, std::strlen(aText));
}

}  // namespace

void BlockStopSignals() {
  const sigset_t LSet = StopSet();
  pthread_sigmask(SIG_BLOCK, &LSet, nullptr);
}

namespace {
// Blocked already while the program is being set up, before main: a signal that comes that
// early waits for the watcher instead of ending the process without a word.
const bool GBlockedEarly = (BlockStopSignals(), true);
}  // namespace

void WatchStopSignals(const TCancellationPtr& aStop) {
  std::thread([aStop]() {
    const sigset_t LSet = StopSet();
    for (;;) {
      int LSignal = 0;
      if (sigwait(&LSet, &LSignal) != 0) continue;
      int LFirst = 0;
      if (GSignal.compare_exchange_strong(LFirst, LSignal)) {
        Say("Interrupcao recebida: encerrando com seguranca (nova interrupcao encerra sem aguardar)...\n");
        aStop->Request();
      } else if (aStop->Committing()) {
        Say("Aguardando o fim da confirmacao da transacao...\n");
      } else {
        Say("Encerrado sem aguardar: o servidor desfaz a transacao em andamento.\n");
        RemoveUnfinishedFiles();  // no half-written script stays behind
        ::_exit(128 + LFirst);
      }
    }
  }).detach();
}

int StopSignal() { return GSignal.load(); }

}  // namespace Corvane::Cli
