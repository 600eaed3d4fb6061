#include "cli/interrupts.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace dravolin::cli {

std::atomic<int> interruptCount{0};

void startInterruptWatcher() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // The watcher lives as long as the process; it only ever waits.
  std::thread([signals] {
    for (;;) {
      int received = 0;
      if (sigwait(&signals, &received) == 0 && received == SIGINT) interruptCount.fetch_add(1);
    }
  }).detach();
}

}  // namespace dravolin::cli
