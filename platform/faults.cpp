#include "platform/faults.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace cg::faults {
namespace {

struct Settings {
  long killAfter = 0;         // 0: never
  long stopAfter = 0;         // 0: never
  long stopBeforeServer = 0;  // 0: never
};

std::atomic<long> g_events{0};
std::atomic<long> g_serverWrites{0};
// Read by the exit handler, after static objects are gone: the environment
// text itself, which lives as long as the process.
const char* g_countFile = nullptr;

const Settings& settings() {
  static const Settings s = [] {
    Settings out;
    if (const char* v = std::getenv("CG_FAULT_KILL_AFTER_WRITES"))
      out.killAfter = std::strtol(v, nullptr, 10);
    if (const char* v = std::getenv("CG_FAULT_STOP_AFTER_WRITES"))
      out.stopAfter = std::strtol(v, nullptr, 10);
    if (const char* v = std::getenv("CG_FAULT_STOP_BEFORE_SERVER_WRITES"))
      out.stopBeforeServer = std::strtol(v, nullptr, 10);
    if (const char* v = std::getenv("CG_FAULT_COUNT_FILE")) {
      g_countFile = v;
      std::atexit([] {
        if (FILE* f = std::fopen(g_countFile, "w")) {
          std::fprintf(f, "%ld\n", g_events.load());
          std::fclose(f);
        }
      });
    }
    return out;
  }();
  return s;
}

}  // namespace

void wrote() noexcept {
  const Settings& s = settings();
  const long n = ++g_events;
  if (s.killAfter > 0 && n == s.killAfter) {
    // Nothing of the program may run after this: no destructor, no flush.
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);
  }
  // Suspended until the test has done its part (stopped the server) and
  // sends SIGCONT.
  if (s.stopAfter > 0 && n == s.stopAfter) ::raise(SIGSTOP);
}

void serverWriting() noexcept {
  const Settings& s = settings();
  const long n = ++g_serverWrites;
  if (s.stopBeforeServer > 0 && n == s.stopBeforeServer) ::raise(SIGSTOP);
}

}  // namespace cg::faults
