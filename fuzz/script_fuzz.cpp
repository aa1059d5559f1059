// libFuzzer target: the script parser of the headless runner on arbitrary
// bytes, line by line as the runner reads a script. It must never crash, and
// what it accepts must be what the runner can carry out: a component of the
// kind the verb needs, a row and a wait within their bounds, a known key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "app/cli/script_parser.h"

namespace {

const std::map<std::string, cg::ControlKind>& components() {
  static const std::map<std::string, cg::ControlKind> names = {
      {"BotFormulaOrfan", cg::ControlKind::Button},
      {"BitBtn3", cg::ControlKind::Button},
      {"RadioButton1", cg::ControlKind::RadioButton},
      {"Edit1", cg::ControlKind::Edit},
      {"GradeCliNovos", cg::ControlKind::Grid},
      {"PainelCG", cg::ControlKind::Panel},
      {"TermCG", cg::ControlKind::Gauge},
  };
  return names;
}

std::optional<cg::ControlKind> kindOf(const std::string& name) {
  auto it = components().find(name);
  if (it == components().end()) return std::nullopt;
  return it->second;
}

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream script(std::string(reinterpret_cast<const char*>(data), size));
  std::string raw;
  int lineNo = 0;
  while (std::getline(script, raw)) {
    ++lineNo;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (cg::script::IsSkipped(raw)) continue;
    cg::script::ParsedAction a;
    try {
      a = cg::script::ParseLine(lineNo, raw, kindOf);
    } catch (const cg::script::ParseError& e) {
      check(!e.message.empty());
      continue;
    }
    check(a.lineNo == lineNo);
    using cg::script::Verb;
    auto kind = [&] { return kindOf(a.controlName); };
    switch (a.verb) {
      case Verb::Click:
      case Verb::Invoke:
        check(kind() == cg::ControlKind::Button);
        break;
      case Verb::Check:
        check(kind() == cg::ControlKind::RadioButton);
        break;
      case Verb::Type:
        check(kind() == cg::ControlKind::Edit);
        break;
      case Verb::Row:
        check(kind() == cg::ControlKind::Grid && a.row >= 1 && a.row <= 1000000000);
        break;
      case Verb::Focus:
        check(kind().has_value());
        break;
      case Verb::Key:
        check(a.text == "Escape" || a.text == "Enter");
        break;
      case Verb::Wait:
        check(a.waitMs >= 0);
        break;
      case Verb::During:
        check(a.pause >= 1 && a.pause <= 1000000000);
        break;
      case Verb::Select:
        check(a.run >= 1);
        break;
      case Verb::Answer:
      case Verb::Close:
      case Verb::State:
      case Verb::History:
      case Verb::Simulate:
        break;
    }
  }
  return 0;
}
