// The program as both views run it: the main window TFormConsistGeral and the
// data module DM, started the way the program starts, and the events the
// views deliver that concern more than one component. The Qt window and the
// headless script runner each create one Program, draw its form and forward
// their events to it; what they show and ask goes through the UserInterface
// port they implement.
#pragma once

#include <cstdint>
#include <memory>

#include "app/form/form.h"
#include "data/sql/dm.h"
#include "platform/user_interface.h"

namespace cg {

class Program {
 public:
  // Start-up: the window (FormCreate), then the data module (DataModuleCreate),
  // handed to the window. Nothing is opened or shown yet. `ui` must outlive
  // the program. `technician` (or `tecnico = sim` in the section
  // [consistgeral] of C:\platform.ini) shows the two orphan removals.
  explicit Program(UserInterface& ui, bool technician = false);
  // Closes the window unless it is closed already or was never activated
  // (FormClose runs at most once), closes every table object and server
  // dataset without applying what they hold, and detaches the data module.
  // Never throws.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  TFormConsistGeral& form() { return form_; }
  const TFormConsistGeral& form() const { return form_; }
  TDM& dataModule() { return dm_; }

  // The first activation as the event loop runs it (FormActivate through
  // the handler's report); then, once the window holds the in-use marker,
  // the journal of the installation is opened (a journal that cannot be
  // opened is reported, and no command runs).
  void activate();
  // The journal, open from the first activation to the end (nullptr
  // before, or when it could not be opened: see form().journalError()).
  Journal* journal() { return journal_.get(); }
  // The first activation raised an error (the window stays open).
  bool startFailed() const { return startFailed_; }

  // A click on row `row` (1-based) of a grid: moves the grid's table to that
  // record in the grid's order, firing the table's after-scroll handler
  // once, through the handler's report. Nothing moves when the table is
  // closed, has fewer rows, or stands on that row already.
  enum class RowSelection { Moved, TableClosed, NoSuchRow, AlreadyThere };
  RowSelection selectRow(TGrid& grid, int row);

  // Whether the heartbeat Timer1 has a tick due on the program's clock that
  // can run now (not inside a tick, not after the window closed).
  bool timerDue() const;
  // Runs the tick of Timer1 when it is due (the event loop's timer
  // dispatch; also from inside operations that let events through).
  void pollTimers();
  // Moves the program's clock forward by `ms`, stopping at every tick that
  // falls due on the way and running it, in order (the script runner's
  // `wait`; no real time passes).
  void passTime(int64_t ms);

 private:
  void openJournal();

  TFormConsistGeral form_;
  TDM dm_;
  std::unique_ptr<Journal> journal_;
  bool startFailed_ = false;
};

// The journal's file as the messages name it.
inline constexpr const char* kJournalWindowsPath = "C:\\VITRALON\\CONSISTGERAL\\Historico.db";

// Whether C:\platform.ini asks for the technicians' commands: `tecnico` in
// its section [consistgeral] set to sim, 1 or true (any letter case).
bool TechnicianCommandsConfigured();

}  // namespace cg
