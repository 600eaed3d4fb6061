#pragma once
// Ctrl-C for the whole command line. SIGINT is blocked in every thread, and
// one thread of its own waits for it with sigwait and counts the presses, so
// no worker is ever interrupted inside a system call or a write. The first
// press is the Stop button, the second cancels the job (see runJob).
#include <atomic>

namespace dravolin::cli {

// How many times Ctrl-C was pressed since the start.
extern std::atomic<int> interruptCount;

// Blocks SIGINT for the calling thread and every thread it starts later, and
// starts the thread that counts the presses. Call once, first thing in main,
// before any other thread exists.
void startInterruptWatcher();

}  // namespace dravolin::cli
