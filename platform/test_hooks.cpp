#include "platform/test_hooks.h"

#include <cstdlib>

namespace cg {
namespace {

TestHooks& current() {
  // Never destroyed: the fault hook's exit handler reads it after the static
  // objects are gone.
  static TestHooks* hooks = new TestHooks(TestHooks::fromEnvironment());
  return *hooks;
}

// A count above 0, or 0 (off).
long number(const char* name) {
  const char* v = std::getenv(name);
  const long n = v ? std::strtol(v, nullptr, 10) : 0;
  return n > 0 ? n : 0;
}

}  // namespace

TestHooks TestHooks::fromEnvironment() {
  TestHooks h;
  h.killAfterWrites = number("CG_FAULT_KILL_AFTER_WRITES");
  h.stopAfterWrites = number("CG_FAULT_STOP_AFTER_WRITES");
  h.stopBeforeServerWrites = number("CG_FAULT_STOP_BEFORE_SERVER_WRITES");
  if (const char* v = std::getenv("CG_FAULT_COUNT_FILE")) h.countFile = v;
  if (const char* v = std::getenv("CG_SQL_GROUP_STATEMENTS"); v && std::atoi(v) > 0)
    h.groupStatements = std::atoi(v);
  return h;
}

const TestHooks& TestHooks::get() { return current(); }

void TestHooks::reload() { current() = fromEnvironment(); }

}  // namespace cg
