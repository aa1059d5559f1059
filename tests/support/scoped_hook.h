// A test hook (platform/test_hooks.h) set in the environment for the length
// of a scope. The program reads its hooks once; the hooks are read again at
// both ends of the scope, so that the test's own process follows too, not
// only the programs it starts.
#pragma once

#include <optional>
#include <string>

#include "platform/test_hooks.h"
#include "support/scoped_env.h"

namespace testsupport {

class ScopedHook {
 public:
  ScopedHook(std::string name, const std::string& value) {
    env_.emplace(std::move(name), value);
    cg::TestHooks::reload();
  }
  ~ScopedHook() {
    env_.reset();
    cg::TestHooks::reload();
  }
  ScopedHook(const ScopedHook&) = delete;
  ScopedHook& operator=(const ScopedHook&) = delete;

 private:
  std::optional<ScopedEnv> env_;
};

}  // namespace testsupport
