// The user-interface port as the script runner implements it: everything the
// window would show or ask becomes one JSON line of the transcript (see
// docs/runner.md). Questions take their answers from a queue; a question
// with no queued answer is answered No. Processes are started for real.
#pragma once

#include <deque>
#include <iosfwd>
#include <string>

#include "platform/user_interface.h"

namespace cg {

class Program;

class ScriptInterface : public UserInterface {
 public:
  explicit ScriptInterface(std::ostream& out) : out_(out) {}
  // The program whose timers run when an operation lets events through.
  void attach(Program* program) { program_ = program; }
  void queueAnswer(bool yes) { answers_.push_back(yes); }
  // The answer to a question with no queued answer (No unless told).
  void answerYesByDefault(bool yes) { answerYes_ = yes; }
  // Queues an event for the N-th time a running command lets window events
  // through: a click on "Interromper" or the frame's close command.
  void queueDuring(const std::string& action, int pause, bool close) {
    during_.push_back({action, pause, close});
  }
  std::size_t queuedAnswers() const { return answers_.size(); }
  // Synchronous repaints asked for so far (not in the transcript).
  long repaints() const { return repaints_; }

  void showMessage(const std::string& text) override;
  bool confirm(const std::string& text) override;
  void showError(const Exception& error) override;
  void repaint(const std::string& component) override;
  void processMessages() override;
  ProcessOutcome startProcess(const std::string& commandLine, std::chrono::milliseconds waitAtMost) override;

  // Transcript lines of the runner itself.
  void ignored(const std::string& action, const std::string& why);
  void closed();
  std::ostream& out() { return out_; }

 private:
  std::ostream& out_;
  Program* program_ = nullptr;
  std::deque<bool> answers_;
  struct During {
    std::string action;
    int pause;
    bool close;
  };
  std::deque<During> during_;
  long repaints_ = 0;
  bool answerYes_ = false;
};

}  // namespace cg
