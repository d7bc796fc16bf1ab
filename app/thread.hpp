// Helper threads that leave the cleanup signals to the main thread.
#pragma once

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace ZEFI {

// Whether this process may run on more than one core (taskset, cgroups).
inline bool severalCores() {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  return sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 1;
}

// Starts work on a thread of its own, named name (at most 15 characters, as ps and perf show
// it), that never receives the given signals (they stay with the threads that can block
// them around their critical steps); a thread that is not joinable when none can be
// started, in which case the caller does the work itself.
template <class Work>
std::thread startThreadWithout(const char* name, const std::vector<int>& signals, Work&& work) {
  // A new thread inherits the signal mask of the thread that starts it.
  sigset_t blocked;
  sigset_t saved;
  sigemptyset(&blocked);
  for (const int signalNumber : signals) sigaddset(&blocked, signalNumber);
  pthread_sigmask(SIG_BLOCK, &blocked, &saved);
  std::thread thread;
  try {
    thread = std::thread([name, work = std::forward<Work>(work)]() mutable {
      pthread_setname_np(pthread_self(), name);
      work();
    });
  } catch (const std::system_error&) {
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  return thread;
}

}  // namespace ZEFI
