// The headless script runner. It drives the same form and handlers as the
// window; only the means of showing and asking differ: every message, error,
// question and process start becomes one line of the transcript.
#include "app/cli/runner.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "app/cli/json.h"
#include "app/cli/script_parser.h"
#include "app/cli/script_ui.h"
#include "app/form/program.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {
namespace {

using script::Verb;

// A checked script line with its component found in the window.
struct Action : script::ParsedAction {
  TControl* control = nullptr;
};

Action parseLine(const TFormConsistGeral& form, int lineNo, const std::string& raw) {
  Action a;
  static_cast<script::ParsedAction&>(a) =
      script::ParseLine(lineNo, raw, [&](const std::string& name) -> std::optional<ControlKind> {
        const TControl* c = form.findControl(name);
        if (!c) return std::nullopt;
        return c->kind;
      });
  if (!a.controlName.empty()) a.control = form.findControl(a.controlName);
  return a;
}

std::string markerJson() {
  std::error_code ec;
  const std::filesystem::path path = DriveC::resolve(TFormConsistGeral::kMarkerPath);
  if (!std::filesystem::is_regular_file(path, ec)) return "null";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "null";
  std::ostringstream content;
  content << in.rdbuf();
  return json::text(content.str());
}

void writeState(TFormConsistGeral& form, std::ostream& out) {
  out << "{\"event\":\"state\",\"buttons\":{";
  bool first = true;
  for (TControl* c : form.controls()) {
    if (c->kind != ControlKind::Button) continue;
    out << (first ? "" : ",") << json::quote(c->name) << ":{\"enabled\":" << json::boolean(c->enabled)
        << ",\"visible\":" << json::boolean(c->visible) << "}";
    first = false;
  }
  out << "},\"panels\":{";
  first = true;
  for (TControl* c : form.controls()) {
    if (c->kind != ControlKind::Panel || c->name.rfind("Painel", 0) != 0) continue;
    out << (first ? "" : ",") << json::quote(c->name) << ":" << json::boolean(c->visible);
    first = false;
  }
  out << "},\"caption\":" << json::text(form.caption) << ",\"gauge\":{\"min\":" << form.TermCG.minValue()
      << ",\"max\":" << form.TermCG.maxValue() << ",\"position\":" << form.TermCG.progress()
      << "},\"colour\":" << form.PainelConsistG.color << ",\"marker\":" << markerJson() << ",\"current\":{";
  struct Review {
    Table& table;
    const char* fields[2];
  };
  Review reviews[] = {{form.Clientes, {"Estacao", "Codigo"}},
                      {form.Clientes_I, {"Estacao", "Codigo"}},
                      {form.Medicos, {"CRM", "Especialidade"}},
                      {form.Medicos_I, {"CRM", "Especialidade"}}};
  first = true;
  for (Review& r : reviews) {
    if (!r.table.active()) continue;
    std::string fields;
    try {
      if (r.table.recordCount() > 0) {
        for (const char* f : r.fields) {
          if (!fields.empty()) fields.push_back(',');
          fields.append(json::quote(f));
          fields.push_back(':');
          fields.append(json::text(r.table.asString(f)));
        }
      }
    } catch (const std::exception&) {
      fields.clear();
    }
    out << (first ? "" : ",") << json::quote(r.table.name()) << ":{" << fields << "}";
    first = false;
  }
  out << "}}\n";
  out.flush();
}

// What the history panel shows: its two lists as their lines read, the
// chosen run, and whether its commands can be used.
void writeHistory(TFormConsistGeral& form, std::ostream& out) {
  auto lines = [](const TListBox& list) {
    std::string s = "[";
    for (size_t i = 0; i < list.items.size(); ++i) s += (i ? "," : "") + json::text(list.items[i]);
    return s + "]";
  };
  const int index = form.ListaExecucoes.itemIndex;
  const auto& runs = form.historyRuns();
  const bool chosen = index >= 0 && index < static_cast<int>(runs.size());
  out << "{\"event\":\"history\",\"open\":" << json::boolean(form.PainelHistorico.visible)
      << ",\"runs\":" << lines(form.ListaExecucoes) << ",\"selected\":"
      << (chosen ? std::to_string(runs[static_cast<size_t>(index)].number) : std::string("null"))
      << ",\"changes\":" << lines(form.ListaAlteracoes)
      << ",\"undo\":" << json::boolean(form.BotDesfazer.enabled) << "}\n";
  out.flush();
}

void runAction(Program& program, ScriptInterface& ui, const Action& a) {
  TFormConsistGeral& form = program.form();
  switch (a.verb) {
    case Verb::Click: {
      // A button on a hidden panel cannot be clicked in the window; a
      // hidden button on a panel that shows (the orphan commands) still can.
      auto& b = static_cast<TButton&>(*a.control);
      if (b.parent && !b.parent->showing())
        ui.ignored(a.line, "hidden");
      else if (form.covered(b))
        ui.ignored(a.line, "covered");
      else if (!form.click(b))
        ui.ignored(a.line, "disabled");
      break;
    }
    case Verb::Invoke: {
      auto& b = static_cast<TButton&>(*a.control);
      if (b.onClick)
        form.runHandler(b.onClick);
      else
        ui.ignored(a.line, "no handler");
      break;
    }
    case Verb::Key: {
      TButton* b = a.text == "Escape" ? form.cancelButton() : form.defaultButton();
      if (!b || !form.click(*b)) ui.ignored(a.line, "no button answers " + a.text);
      break;
    }
    case Verb::Check:
      form.check(static_cast<TRadioButton&>(*a.control));
      break;
    case Verb::Type:
      static_cast<TEdit&>(*a.control).text = a.text;
      break;
    case Verb::Focus:
      if (form.focusedControl() == a.control)
        ui.ignored(a.line, "already focused");
      else
        form.focus(*a.control);
      break;
    case Verb::Row:
      switch (program.selectRow(static_cast<TGrid&>(*a.control), a.row)) {
        case Program::RowSelection::Moved:
          break;
        case Program::RowSelection::TableClosed:
          ui.ignored(a.line, "table closed");
          break;
        case Program::RowSelection::NoSuchRow:
          ui.ignored(a.line, "no row " + std::to_string(a.row));
          break;
        case Program::RowSelection::AlreadyThere:
          ui.ignored(a.line, "already on row " + std::to_string(a.row));
          break;
      }
      break;
    case Verb::Answer:
      ui.queueAnswer(a.yes);
      break;
    case Verb::Wait:
      program.passTime(a.waitMs);
      break;
    case Verb::Close:
      form.closeFromFrame();
      break;
    case Verb::During:
      ui.queueDuring(a.line, a.pause, a.close);
      break;
    case Verb::State:
      writeState(form, ui.out());
      break;
    case Verb::History:
      writeHistory(form, ui.out());
      break;
    case Verb::Simulate:
      // Not while a simulation is open (a simulated review still shown).
      if (form.covered(form.CheckSimular))
        ui.ignored(a.line, "panel open");
      else if (!form.setSimulation(a.yes))
        ui.ignored(a.line, "simulation open");
      else
        ui.out() << "{\"event\":\"simulation\",\"on\":" << json::boolean(a.yes) << "}\n" << std::flush;
      break;
    case Verb::Select: {
      if (!form.PainelHistorico.showing()) {
        ui.ignored(a.line, "history closed");
        break;
      }
      bool found = true;
      form.runHandler([&] { found = form.SelecionaExecucao(a.run); });
      if (!found) ui.ignored(a.line, "no run " + std::to_string(a.run));
      break;
    }
  }
}

}  // namespace

int RunScript(std::istream& script, std::ostream& transcript, std::ostream& errors,
              const std::function<void(const std::string& action)>& beforeAction,
              const ScriptOptions& options) {
  // Start-up: the window, then the data module (creating them opens and
  // touches nothing).
  ScriptInterface ui(transcript);
  ui.answerYesByDefault(options.answerYes);
  Program program(ui, options.technician);
  ui.attach(&program);
  TFormConsistGeral& form = program.form();

  // The whole script is read and checked before anything runs, so that a
  // mistyped line cannot leave a repair half done.
  std::vector<Action> actions;
  std::string raw;
  int lineNo = 0;
  while (std::getline(script, raw)) {
    ++lineNo;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (script::IsSkipped(raw)) continue;
    try {
      actions.push_back(parseLine(form, lineNo, raw));
    } catch (const script::ParseError& e) {
      errors << "consistgeral: roteiro, linha " << lineNo << ": " << e.message << "\n";
      return 2;
    }
  }
  if (script.bad()) {
    errors << "consistgeral: erro ao ler o roteiro\n";
    return 2;
  }

  // Then the first activation.
  program.activate();

  // Once the window has closed, the remaining lines are read but not run.
  for (const Action& a : actions) {
    if (form.closed()) break;
    if (beforeAction) beforeAction(a.line);
    const int64_t simulated = form.lastSimulatedRun();
    runAction(program, ui, a);
    // The run of a simulated click, once it has ended.
    if (form.lastSimulatedRun() != simulated) {
      ui.out() << "{\"event\":\"simulation\",\"run\":" << form.lastSimulatedRun() << "}\n";
      ui.out().flush();
      if (options.result) {
        options.result->simulatedRuns.push_back(form.lastSimulatedRun());
        for (const auto& [windowsPath, host] : form.simulatedFiles())
          options.result->simulatedFiles.emplace_back(windowsPath, host.string());
      }
    }
  }
  if (beforeAction) beforeAction("");
  if (options.result) options.result->refused = form.markerRefused();
  form.Close();  // as the frame's close command, unless closed already
  ui.closed();
  return 0;  // the program closes its tables and datasets as it goes
}

int RunScriptFile(const std::string& file, std::ostream& transcript, std::ostream& errors,
                  const ScriptOptions& options) {
  if (file == "-") return RunScript(std::cin, transcript, errors, {}, options);
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    errors << "consistgeral: não foi possível ler o roteiro " << file << "\n";
    return 2;
  }
  return RunScript(in, transcript, errors, {}, options);
}

}  // namespace cg
