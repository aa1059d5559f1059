// The Qt window: a thin view of the form TFormConsistGeral. It builds one
// widget per component at the component's place, copies the form's state
// into the widgets after every event it delivers (and when the form asks
// for a synchronous repaint), and turns clicks, keys, focus changes and the
// heartbeat timer into the form's events. No behaviour of the system lives
// here.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/form/program.h"
#include "platform/user_interface.h"

class QLabel;
class QTableView;
class QTranslator;

namespace cg::qt {

class MainWindow;
class TableModel;

// The port on Qt: message boxes, the yes/no question, the error report,
// synchronous repaint, event dispatch and process start. When not
// interactive (pictures of the window, runs without a screen) messages and
// errors go to standard error and every question is answered No.
class QtInterface : public UserInterface {
 public:
  explicit QtInterface(bool interactive = true) : interactive_(interactive) {}
  void attach(MainWindow* window) { window_ = window; }
  bool interactive() const { return interactive_; }

  void showMessage(const std::string& text) override;
  bool confirm(const std::string& text) override;
  void showError(const Exception& error) override;
  void repaint(const std::string& component) override;
  void processMessages() override;
  ProcessOutcome startProcess(const std::string& commandLine, std::chrono::milliseconds waitAtMost) override;

 private:
  void showState();

  bool interactive_;
  MainWindow* window_ = nullptr;
};

class MainWindow : public QWidget {
 public:
  MainWindow(Program& program, QtInterface& ui);
  ~MainWindow() override;

  // The first activation (the window runs it once, right after it is first
  // shown); then the window takes its 800 x 580 outer size, centred.
  void activate();
  // Copies the whole form into the widgets.
  void syncAll();
  // Copies one component and its children, and paints them at once.
  void repaintControl(const std::string& name);
  // Delivers an event to the program, then shows the outcome (and closes
  // the window when the form has closed). An error that escapes the event is
  // shown by the form's report.
  void deliver(const std::function<void()>& event);

  QWidget* widgetFor(const std::string& name) const;
  TFormConsistGeral& form() { return form_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void build();
  void place(const TControl& c);
  void sync(const TControl& c);
  void apply(const TControl& c);
  std::string signature(const TControl& c) const;
  void pollHeartbeat();
  void syncKeyboard();
  void syncReviewSummary();

  Program& program_;
  TFormConsistGeral& form_;
  QtInterface& ui_;
  std::map<const TControl*, QWidget*> widgets_;
  std::map<const TControl*, TableModel*> models_;
  std::map<QObject*, TControl*> focusTargets_;
  std::map<const TControl*, std::string> applied_;  // signature of what each widget shows
  QLabel* reviewSummary_ = nullptr;                 // what confirming the open review does
  QTimer heartbeat_;
  bool activated_ = false;
  bool simulationWarned_ = false;  // the warning before the first simulation was shown
  bool syncing_ = false;
};

// The program as the window runs it: the program (the form, then the data
// module), then the window. Needs a QApplication.
class WindowProgram {
 public:
  // `technician`: the orphan removals shown (Program).
  explicit WindowProgram(bool interactive = true, bool technician = false);
  ~WindowProgram();  // the window first, then the program
  WindowProgram(const WindowProgram&) = delete;
  WindowProgram& operator=(const WindowProgram&) = delete;

  Program& program() { return program_; }
  TFormConsistGeral& form() { return program_.form(); }
  MainWindow& window() { return *window_; }
  // Shows the window and runs the first activation at once.
  void start();
  // Renders the window into a PNG file; false when it cannot be written.
  bool screenshot(const std::string& pngFile);

 private:
  QtInterface ui_;
  Program program_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<QTranslator> translator_;
};

}  // namespace cg::qt
