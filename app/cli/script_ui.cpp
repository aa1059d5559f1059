#include "app/cli/script_ui.h"

#include <ostream>

#include "app/cli/json.h"
#include "app/form/program.h"
#include "platform/process.h"

namespace cg {

void ScriptInterface::showMessage(const std::string& text) {
  out_ << "{\"event\":\"message\",\"text\":" << json::text(text) << "}\n";
  out_.flush();
}

bool ScriptInterface::confirm(const std::string& text) {
  const bool queued = !answers_.empty();
  const bool yes = queued ? answers_.front() : answerYes_;
  if (queued) answers_.pop_front();
  out_ << "{\"event\":\"confirm\",\"text\":" << json::text(text) << ",\"answer\":\"" << (yes ? "yes" : "no")
       << "\",\"queued\":" << json::boolean(queued) << "}\n";
  out_.flush();
  return yes;
}

void ScriptInterface::showError(const Exception& error) {
  out_ << "{\"event\":\"error\",\"class\":" << json::quote(error.className())
       << ",\"text\":" << json::text(error.message()) << "}\n";
  out_.flush();
}

void ScriptInterface::repaint(const std::string&) { ++repaints_; }

void ScriptInterface::processMessages() {
  if (!program_) return;
  program_->pollTimers();
  TFormConsistGeral& form = program_->form();
  if (during_.empty() || !form.commandRunning() || --during_.front().pause > 0) return;
  const During d = during_.front();
  during_.pop_front();
  if (d.close)
    form.closeFromFrame();
  else if (!form.click(form.BotInterromper))
    ignored(d.action, "no stop button");
}

ProcessOutcome ScriptInterface::startProcess(const std::string& commandLine,
                                             std::chrono::milliseconds waitAtMost) {
  out_ << "{\"event\":\"exec\",\"command\":" << json::text(commandLine) << "}\n";
  out_.flush();
  // Started for real, as the window does.
  return RunProcess(commandLine, waitAtMost);
}

void ScriptInterface::ignored(const std::string& action, const std::string& why) {
  out_ << "{\"event\":\"ignored\",\"action\":" << json::quote(action) << ",\"why\":" << json::quote(why)
       << "}\n";
  out_.flush();
}

void ScriptInterface::closed() {
  out_ << "{\"event\":\"closed\"}\n";
  out_.flush();
}

}  // namespace cg
