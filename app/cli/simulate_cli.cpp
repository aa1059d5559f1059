#include "app/cli/simulate_cli.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "app/cli/history_cli.h"
#include "app/cli/runner.h"
#include "app/form/form.h"
#include "data/journal/journal.h"
#include "platform/cp1252.h"

namespace cg {
namespace {

// Shows and asks nothing: only the command buttons' names and captions are
// read from the window it creates.
class Silent : public UserInterface {
 public:
  void showMessage(const std::string&) override {}
  bool confirm(const std::string&) override { return false; }
  void showError(const Exception&) override {}
  void repaint(const std::string&) override {}
  void processMessages() override {}
  ProcessOutcome startProcess(const std::string&, std::chrono::milliseconds) override { return {}; }
};

// The component name of a command button named by its name or caption
// (the accelerator's '&' may be left out); empty when there is none.
std::string commandName(const std::string& given) {
  Silent ui;
  TFormConsistGeral form(ui);
  const std::string text = fromUtf8(given);
  auto plain = [](std::string s) {
    std::string out;
    for (char c : s)
      if (c != '&') out.push_back(c);
    return out;
  };
  for (TControl* c : form.controls()) {
    if (c->kind != ControlKind::Button || c->name == "BotSair") continue;
    auto* b = static_cast<TButton*>(c);
    if (!b->onClick) continue;
    if (b->name == given || (!b->caption.empty() && (b->caption == text || plain(b->caption) == text)))
      return b->name;
  }
  return {};
}

std::string utf8Lines(const std::string& cp1252) {
  std::string t = toUtf8(cp1252);
  for (char& c : t)
    if (c == '\r') c = '\n';
  return t;
}

}  // namespace

int SimulateCommand(const std::optional<std::string>& command, const std::optional<std::string>& scriptFile,
                    std::ostream& out, std::ostream& errors) {
  std::string script = "simulate on\n";
  if (command) {
    const std::string name = commandName(*command);
    if (name.empty()) {
      errors << "consistgeral: --simular: não há comando " << *command << "\n";
      return 2;
    }
    script += "invoke " + name + "\n";
  }
  if (scriptFile) {
    std::ostringstream text;
    if (*scriptFile == "-") {
      text << std::cin.rdbuf();
    } else {
      std::ifstream in(*scriptFile, std::ios::binary);
      if (!in) {
        errors << "consistgeral: não foi possível ler o roteiro " << *scriptFile << "\n";
        return 2;
      }
      text << in.rdbuf();
    }
    script += text.str();
    if (!script.empty() && script.back() != '\n') script.push_back('\n');
  }
  std::istringstream in(script);
  ScriptRunResult result;
  ScriptOptions options;
  options.answerYes = true;
  options.result = &result;
  const int code = RunScript(in, out, errors, {}, options);
  if (code != 0) return code;
  if (result.refused) return 3;
  if (result.simulatedRuns.empty()) {
    errors << "consistgeral: nenhum comando foi simulado.\n";
    return 1;
  }
  // The runs as the journal keeps them, once the program has ended (and
  // its simulation handed the journal what it changed).
  std::unique_ptr<Journal> journal;
  try {
    journal = Journal::open(nullptr);
  } catch (const Exception& e) {
    errors << "consistgeral: " << utf8Lines(e.message()) << "\n";
    return 1;
  }
  bool completed = true;
  for (int64_t number : result.simulatedRuns) {
    const std::optional<RunInfo> run = journal->run(number);
    if (!run) continue;
    out << "\n";
    PrintRun(*run, out);
    completed = completed && run->outcome == RunOutcome::Completed;
  }
  for (const auto& [windowsPath, host] : result.simulatedFiles)
    out << "Arquivo gravado pela simulação: " << toUtf8(windowsPath) << " -> " << host << "\n";
  return completed ? 0 : 1;
}

}  // namespace cg
