// The headless script runner: start-up and first activation without any
// window, then one action per script line, then the window is closed as its
// frame's close command does. Writes the transcript, one JSON object per
// line (UTF-8), to `transcript`. See docs/runner.md for the script and the
// transcript.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace cg {

// Runs a script against the installation under the current drive C root.
// Returns the exit code: 0 when the script ran, 2 (with a message on
// `errors`) for an action or component the runner does not know.
// `beforeAction`, when given, is called with each action line before it
// runs, and once with an empty line before the final closing.
// What a script run leaves for its caller (--simular).
struct ScriptRunResult {
  bool refused = false;                // another module held the marker: nothing ran
  std::vector<int64_t> simulatedRuns;  // the journal runs of the simulated clicks, in order
  // Files the simulated runs wrote in the simulation's folder: Windows path
  // (CP1252), host path.
  std::vector<std::pair<std::string, std::string>> simulatedFiles;
};
struct ScriptOptions {
  bool answerYes = false;             // a question with no queued answer is answered Yes
  bool technician = false;            // the technicians' commands shown (--tecnico)
  ScriptRunResult* result = nullptr;  // filled when given
};
int RunScript(std::istream& script, std::ostream& transcript, std::ostream& errors,
              const std::function<void(const std::string& action)>& beforeAction = {},
              const ScriptOptions& options = {});

// Reads FILE ("-" = standard input) and runs it; 2 when it cannot be read.
int RunScriptFile(const std::string& file, std::ostream& transcript, std::ostream& errors,
                  const ScriptOptions& options = {});

}  // namespace cg
