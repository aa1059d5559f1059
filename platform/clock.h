// The one clock of the program. Everything that asks for "now" (the marker
// stamp, the timers) asks here, so that tests and the script runner can move
// time forward without sleeping.
#pragma once

#include <cstdint>

#include "platform/regional.h"

namespace cg {

class Clock {
 public:
  // Current local date-time: the system's time plus the offset.
  static TDateTime now();
  // Milliseconds since an arbitrary origin, on the same moved time base.
  static int64_t nowMs();
  // Moves the clock forward (or back, with a negative value).
  static void advanceMs(int64_t ms);
  static int64_t offsetMs();
  static void reset();
};

}  // namespace cg
