// The headless script runner: start-up and first activation without any
// window, then one action per script line, then the window is closed as its
// frame's close command does. Writes the transcript, one JSON object per
// line (UTF-8), to `transcript`. See docs/runner.md for the script and the
// transcript.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace cg {

// Runs a script against the installation under the current drive C root.
// Returns the exit code: 0 when the script ran, 2 (with a message on
// `errors`) for an action or component the runner does not know.
// `beforeAction`, when given, is called with each action line before it
// runs, and once with an empty line before the final closing.
int RunScript(std::istream& script, std::ostream& transcript, std::ostream& errors,
              const std::function<void(const std::string& action)>& beforeAction = {});

// Reads FILE ("-" = standard input) and runs it; 2 when it cannot be read.
int RunScriptFile(const std::string& file, std::ostream& transcript, std::ostream& errors);

}  // namespace cg
