// The script language of the headless runner: one action per line. Parsing
// needs no window: the caller tells which component names exist and of what
// kind, so that the whole script is checked before anything runs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ui/controls.h"

namespace cg::script {

enum class Verb {
  Click,
  Invoke,
  Key,
  Check,
  Type,
  Focus,
  Row,
  Answer,
  Wait,
  Close,
  State,
  During,
  History,
  Select,
  Simulate
};

struct ParsedAction {
  int lineNo = 0;
  std::string line;  // as written (trimmed), for the transcript
  Verb verb = Verb::State;
  std::string controlName;  // the component named, when the action names one
  std::string text;         // type: CP1252 text; key: Escape or Enter
  int row = 0;              // row: 1..1,000,000,000
  int64_t run = 0;          // select: the run's number, 1..10^18
  int64_t waitMs = 0;       // wait: 0..1e12
  bool yes = false;         // answer; simulate: on
  int pause = 0;            // during: 1..1,000,000,000
  bool close = false;       // during: close (true) or interrupt (false)
};

// A line the runner does not accept; `message` is the reason shown after
// "consistgeral: roteiro, linha N: ".
struct ParseError {
  std::string message;
};

// The kind of the component of that name, nullopt when the window has none.
using KindOf = std::function<std::optional<ControlKind>(const std::string& name)>;

// Blank lines and lines starting with '#' are skipped by the caller.
bool IsSkipped(const std::string& raw);

// Parses one line (without its line end; a trailing CR is allowed). Raises
// ParseError.
ParsedAction ParseLine(int lineNo, const std::string& raw, const KindOf& kindOf);

}  // namespace cg::script
