#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace cg {
namespace {
std::atomic<int64_t> g_offsetMs{0};

int64_t systemMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

int64_t Clock::nowMs() { return systemMs() + g_offsetMs.load(); }

TDateTime Clock::now() {
  int64_t ms = nowMs();
  int64_t s = ms / 1000;
  return UnixToDateTime(s, static_cast<int>(ms - s * 1000));
}

void Clock::advanceMs(int64_t ms) { g_offsetMs += ms; }
int64_t Clock::offsetMs() { return g_offsetMs.load(); }
void Clock::reset() { g_offsetMs = 0; }

}  // namespace cg
