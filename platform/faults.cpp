#include "platform/faults.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/test_hooks.h"

namespace cg::faults {
namespace {

std::atomic<long> g_events{0};
std::atomic<long> g_serverWrites{0};

void writeCount() {
  // The hooks outlive the static objects, which are gone by now.
  if (FILE* f = std::fopen(TestHooks::get().countFile.c_str(), "w")) {
    std::fprintf(f, "%ld\n", g_events.load());
    std::fclose(f);
  }
}

// The hooks; at the first event, the count is set to be written at exit
// when a count file is asked for.
const TestHooks& hooks() {
  static const bool counted = [] {
    if (!TestHooks::get().countFile.empty()) std::atexit(writeCount);
    return true;
  }();
  (void)counted;
  return TestHooks::get();
}

}  // namespace

void wrote() noexcept {
  const TestHooks& h = hooks();
  const long n = ++g_events;
  if (h.killAfterWrites > 0 && n == h.killAfterWrites) {
    // Nothing of the program may run after this: no destructor, no flush.
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);
  }
  // Suspended until the test has done its part (stopped the server) and
  // sends SIGCONT.
  if (h.stopAfterWrites > 0 && n == h.stopAfterWrites) ::raise(SIGSTOP);
}

void serverWriting() noexcept {
  const TestHooks& h = hooks();
  const long n = ++g_serverWrites;
  if (h.stopBeforeServerWrites > 0 && n == h.stopBeforeServerWrites) ::raise(SIGSTOP);
}

}  // namespace cg::faults
