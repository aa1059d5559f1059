#include "app/form/program.h"

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/ini.h"

namespace cg {

bool TechnicianCommandsConfigured() {
  const auto entries = ReadPlatformIniSection("consistgeral");
  if (!entries) return false;
  bool on = false;
  for (const auto& [key, value] : *entries) {
    if (!EqualsNoCase(key, "tecnico")) continue;
    on = EqualsNoCase(value, "sim") || value == "1" || EqualsNoCase(value, "true");
  }
  return on;
}

Program::Program(UserInterface& ui, bool technician) : form_(ui), dm_(ui) {
  form_.setDataModule(&dm_);
  // Every command runs recorded, or not at all.
  form_.requireJournal(true);
  if (technician || TechnicianCommandsConfigured()) form_.MostraComandosTecnicos();
}

Program::~Program() {
  // Each step on its own: one that fails must not keep the others from
  // closing what they hold.
  // A window that was never activated wrote no marker: the one in place
  // (another module's) stays.
  try {
    if (form_.activated()) form_.Close();
  } catch (...) {
  }
  try {
    dm_.Sessao1.closeAll();
  } catch (...) {
  }
  try {
    dm_.closeAllWithoutApply();
  } catch (...) {
  }
  // An open simulation (a simulated review left open) is rolled back; its
  // records reach the journal before it closes.
  form_.endSimulation();
  form_.setDataModule(nullptr);
  // Last: what the closing above wrote is recorded too.
  form_.setJournal(nullptr);
  try {
    journal_.reset();
  } catch (...) {
  }
}

void Program::activate() {
  bool done = false;
  form_.runHandler([&] {
    form_.FormActivate();
    done = true;
  });
  startFailed_ = !done;
  openJournal();
}

void Program::openJournal() {
  if (journal_ || form_.closed()) return;
  // Only the program that holds the marker may open the journal: opening it
  // settles the runs that a program which died left unfinished.
  if (!form_.holdsMarker()) {
    form_.setJournalError(
        cp("O histórico das alterações não foi aberto, pois o arquivo de uso C:\\VITRALON\\Em_Uso.txt não "
           "pôde ser criado: nenhum comando é executado sem o seu registro."_cp));
    return;
  }
  // The server is not reached at the start (the window does not connect
  // before a command needs it): server records that a program which died
  // left unconfirmed are settled when the server is first reached, before
  // any statement of the next run (and again before an undo).
  try {
    journal_ = Journal::open(nullptr);
    form_.setJournal(journal_.get());
  } catch (const Exception& e) {
    const std::string message = cp("O histórico das alterações ("_cp) + std::string(kJournalWindowsPath) +
                                cp(") não pôde ser aberto: "_cp) + e.message() +
                                cp("\rNenhum comando é executado sem o seu registro."_cp);
    form_.setJournalError(message);
    form_.runReported([&] { throw EJournalError(message); });
  }
}

Program::RowSelection Program::selectRow(TGrid& grid, int row) {
  RowSelection result = RowSelection::Moved;
  form_.runHandler([&] {
    Table* t = grid.dataSet;
    if (!t || !t->active()) {
      result = RowSelection::TableClosed;
      return;
    }
    if (row > t->recordCount()) {
      result = RowSelection::NoSuchRow;
      return;
    }
    // A click on the row that is already current moves nothing, and the
    // grid fires no scroll event for it.
    const int delta = row - t->recNo();
    if (delta == 0) {
      result = RowSelection::AlreadyThere;
      return;
    }
    t->moveBy(delta);
  });
  return result;
}

bool Program::timerDue() const {
  const TTimer& timer = form_.Timer1;
  return !form_.closed() && !form_.inTimerTick() && timer.enabled() && timer.onTimer &&
         Clock::nowMs() >= timer.dueMs();
}

void Program::pollTimers() {
  // A tick re-arms the timer 30 s after its own end, so at most one tick is
  // due per call unless the clock jumped; passTime walks such jumps in steps.
  if (timerDue()) form_.runTimerTick();
}

void Program::passTime(int64_t ms) {
  const TTimer& timer = form_.Timer1;
  const int64_t target = Clock::nowMs() + ms;
  // A wait longer than an hour first jumps to its last hour, as a machine
  // that slept would: the heartbeat then runs once for the jump and at each
  // tick of that hour, never once for every tick of days or years.
  constexpr int64_t kWalkedMs = 3600 * 1000;
  if (ms > kWalkedMs) Clock::advanceMs(ms - kWalkedMs);
  while (!form_.closed() && timer.enabled() && timer.dueMs() <= target) {
    const int64_t step = timer.dueMs() - Clock::nowMs();
    if (step > 0) Clock::advanceMs(step);
    const int64_t due = timer.dueMs();
    pollTimers();
    if (timer.enabled() && timer.dueMs() == due) break;  // the tick could not run now
  }
  const int64_t rest = target - Clock::nowMs();
  if (rest > 0) Clock::advanceMs(rest);
}

}  // namespace cg
