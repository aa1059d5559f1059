// The port through which the form and the repairs talk to the user. The Qt
// window and the headless script runner each implement it; nothing of the
// system's behaviour lives behind it, only the means of showing and asking.
#pragma once

#include <string>

#include "platform/errors.h"
#include "platform/process.h"

namespace cg {

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A message box with an OK button (CP1252 text, '\r' as line break).
  virtual void showMessage(const std::string& text) = 0;
  // A yes/no question in a dialog of information type; true for Yes.
  virtual bool confirm(const std::string& text) = 0;
  // The event loop's default report of an error no handler caught.
  virtual void showError(const Exception& error) = 0;
  // Synchronous repaint of a control of the form, by component name.
  virtual void repaint(const std::string& component) = 0;
  // Lets pending window events through (Application.ProcessMessages).
  virtual void processMessages() = 0;
  // Starts a command line as a new process, minimised, and waits for it at
  // most `waitAtMost` (zero: not at all, see RunProcess).
  virtual ProcessOutcome startProcess(const std::string& commandLine,
                                      std::chrono::milliseconds waitAtMost) = 0;
};

}  // namespace cg
