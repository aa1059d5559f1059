// The main window TFormConsistGeral as plain state and handlers. The Qt
// window and the headless script runner are two views of it, each started
// through a Program (app/form/program.h): they show the components, deliver
// clicks, keys and focus changes, and implement the UserInterface port;
// every behaviour lives here and in the repairs (ops/), free functions of a
// repair context that the form is, wired to the commands by their
// handlers' names (ops/registry.h).
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/engine/engine.h"
#include "data/journal/journal.h"
#include "ops/repair.h"
#include "platform/unique_fd.h"
#include "platform/user_interface.h"
#include "ui/controls.h"
#include "ui/window.h"

namespace cg {

class TDM;

class TFormConsistGeral final : public RepairContext {
 public:
  // Creates the window (FormCreate runs here). No table is opened.
  explicit TFormConsistGeral(UserInterface& ui);
  ~TFormConsistGeral();
  TFormConsistGeral(const TFormConsistGeral&) = delete;
  TFormConsistGeral& operator=(const TFormConsistGeral&) = delete;

  UserInterface& ui() override { return ui_; }
  // The data module, created right after the window (start-up step 3).
  void setDataModule(TDM* dm) { dm_ = dm; }
  TDM& DM() override;

  // ---- Window -------------------------------------------------------------
  std::string caption;
  int width = 0, height = 0;  // outer size

  // ---- Components (names are the system's own): those of the component
  // table and the table objects come with the repair context (ui/window.h).

  // Additions of this program to the progress panel, outside the table
  // above (the script runner's state record lists the components only): the
  // stop button of the commands that let window events through, and the
  // elapsed time with the estimate of the time left.
  TButton BotInterromper{"BotInterromper", &PainelCG};
  TLabel LabelTempo{"LabelTempo", &PainelCG};
  // The history of the runs, from the free strip below the commands: its
  // button (usable whenever no command runs) and its panel, with the runs
  // (most recent first), the changes of the chosen run, and its commands.
  TButton BotHistorico{"BotHistorico", &PainelConsistG};
  TPanel PainelHistorico{"PainelHistorico", &PainelConsistG};
  TPanel TituloHistorico{"TituloHistorico", &PainelHistorico};
  TListBox ListaExecucoes{"ListaExecucoes", &PainelHistorico};
  TListBox ListaAlteracoes{"ListaAlteracoes", &PainelHistorico};
  TButton BotDesfazer{"BotDesfazer", &PainelHistorico};
  TButton BotRelatorio{"BotRelatorio", &PainelHistorico};
  TButton BotFecharHistorico{"BotFecharHistorico", &PainelHistorico};
  // Beside the history's button: while checked, a command runs as a
  // simulation (usable whenever no command runs and no simulation is open).
  TCheckBox CheckSimular{"CheckSimular", &PainelConsistG};

  TTimer Timer1;

  // ---- Unit-level state (the repairs' own come with the repair context) -----
  int32_t CorFundo = clBtnFace;  // background colour read from Config

  // ---- Every component, for views and scripts ------------------------------
  const std::vector<TControl*>& controls() const { return controls_; }
  // The components, then the additions (BotInterromper, LabelTempo, the
  // history's button and panel): what a view draws.
  const std::vector<TControl*>& allControls() const { return allControls_; }
  TControl* findControl(const std::string& name) const;  // components and additions
  const std::vector<Table*>& tables() const { return tables_; }

  // ---- Event delivery (the views call these) -------------------------------
  // A click on a button: ignored (false) when the button is disabled;
  // otherwise its handler runs through runHandler.
  bool click(TButton& button);
  // While a panel stands over the commands (the history, a review, the
  // component options), only its own controls take clicks, keys and the
  // focus: every other control is covered. The progress panel covers
  // nothing (its stop button answers during a command).
  bool covered(const TControl& control) const;
  // Whether the control takes the user's input now: not covered, and, while
  // a command runs, only the progress panel's stop button. The window shows
  // every other control as disabled meanwhile.
  bool takesInput(const TControl& control) const;
  // The button that answers Escape / Enter at this moment, or nullptr.
  TButton* cancelButton();
  TButton* defaultButton();
  // Chooses line `index` of a list (the history's lists): its handler runs
  // through runHandler. Ignored during a command, for the line already
  // chosen and for a line the list does not have.
  void choose(TListBox& list, int index);
  // Selects a radio button (its siblings are cleared).
  void check(TRadioButton& radio) override;
  // The focus moves to a control (fires Edit1Enter for Edit1).
  void focus(TControl& control) override;
  // Runs the tick of Timer1 as the event loop does (Program::pollTimers
  // decides when): a failed tick is reported and leaves the window as it is.
  void runTimerTick();
  bool inTimerTick() const { return inTimerTick_; }
  // The control that holds the focus (nullptr before any focus change).
  TControl* focusedControl() const { return focused_; }
  // Runs a handler as the event loop does: an error no handler caught is
  // shown by the default error report, then the window is put back in order.
  void runHandler(const std::function<void()>& handler);
  // The event loop's default report alone: runs `event`; an error that
  // escapes it is shown, and false returned.
  bool runReported(const std::function<void()>& event);

  // ---- One command at a time ------------------------------------------------
  // True while a handler other than a heartbeat tick runs. Meanwhile no other
  // command starts: clicks (whatever sent them: mouse, Space, Enter, Escape,
  // an accelerator) are ignored but for BotInterromper, and Edit1Enter does
  // not run; heartbeat ticks go on.
  bool commandRunning() const { return commandDepth_ > 0; }
  // The commands that let window events through while they walk their
  // records, and may be stopped after the current one: their progress panel
  // shows BotInterromper.
  std::vector<TButton*> stoppableCommands() { return {&btn1, &BitBtn5}; }
  void PermiteInterromper();
  // BotInterromper: the running command stops after the current record.
  void BotInterromperClick();
  bool stopRequested() const override { return stopRequested_; }
  // The frame's close command. Idle: the window closes (FormClose runs), true.
  // During a command that can be stopped: asks whether to stop it; on Yes the
  // command stops after its current record and the window closes when it has
  // ended (the marker stays until then). The window stays open: false.
  bool closeFromFrame();
  bool closePending() const { return closeAfterCommand_; }

  // ---- The journal of the runs ----------------------------------------------
  // The journal every command run is recorded in (Program opens it at the
  // first activation). Once a journal is required, a command whose run
  // cannot be recorded does not run: it stops with EJournalError.
  Journal* journal() const override { return journal_; }
  void setJournal(Journal* journal) { journal_ = journal; }
  void requireJournal(bool required) { journalRequired_ = required; }
  // Why the journal is not open (shown when a command is refused).
  void setJournalError(const std::string& message) { journalError_ = message; }
  const std::string& journalError() const { return journalError_; }
  // The run of the command under way (0: none).
  int64_t currentRun() const { return runNumber_; }

  // The history panel. Its button and commands:
  void BotHistoricoClick();
  void BotDesfazerClick();
  void BotRelatorioClick();
  void BotFecharHistoricoClick();
  // Chooses run `number` in the list of runs and shows its changes; false
  // when the panel is closed or does not list it.
  bool SelecionaExecucao(int64_t number);
  // The run of each line of ListaExecucoes, in the same order.
  const std::vector<RunInfo>& historyRuns() const { return historyRuns_; }
  // At most this many lines of changes are listed; a last line says how many
  // rows more the report holds.
  static constexpr size_t kChangeLinesShown = 500;
  // Where the panel's report of run `number` goes.
  static std::string reportPath(int64_t number);

  // ---- Simulation ------------------------------------------------------------
  // While on, every command runs as a simulation: the same handler on the same
  // data, every local write kept in one transaction per table file and every
  // server write in one server transaction, all rolled back at the end
  // (data/engine/simulation.h, data/sql/simulation.h). Each click is a
  // journal run marked as a simulation. The simulation opens at the first
  // simulated click and ends when the window is back at rest (no review nor
  // option panel shown), so that the clicks of a review and its
  // confirmation, or of the component options and their OK, share one
  // simulation. Command files are not started; files a repair writes go to
  // a folder of the simulation (simulationFolder()).
  // Turns it on or off (also CheckSimular); false, and nothing changes, while
  // a command runs or a simulation is open.
  bool setSimulation(bool on);
  bool simulationMode() const { return simulationMode_; }
  // The data layers simulate now (from the first simulated click to rest).
  bool simulationOpen() const override { return simulationOpen_; }
  // Ends an open simulation: closes every table object and server dataset,
  // rolls everything back. The program's end calls it.
  void endSimulation() noexcept;
  // The last run that was a simulation (0: none yet).
  int64_t lastSimulatedRun() const { return lastSimulatedRun_; }
  // Where a file the repair writes goes: in a simulation, the folder of the
  // simulation (the user is told after the run); otherwise the file itself
  // under drive C.
  std::filesystem::path writtenFile(const std::string& windowsPath) override;
  // A command file that a simulation does not start: the user is told.
  void commandFileNotStarted(const std::string& commandFile) override;
  // The folder of the simulation's files ("" until a file went there).
  const std::filesystem::path& simulationFolder() const { return simulationFolder_; }
  // Files written in the folder of the simulation by the last simulated run:
  // Windows path, host path.
  const std::vector<std::pair<std::string, std::filesystem::path>>& simulatedFiles() const {
    return simulatedFiles_;
  }
  // The window's caption while a simulation is open.
  static std::string SimulationCaption(const std::string& caption);
  // The warning shown before the first simulated command.
  static std::string SimulationWarning();

  // Shows the commands of the technicians (the two orphan removals) in the
  // free strip below the others, in tab order.
  void MostraComandosTecnicos();

  // Start-up and closing.
  void FormCreate();
  void FormActivate();  // first activation: marker check, then colour
  void Close();         // closes the window (FormClose runs once)
  bool closed() const { return closed_; }
  bool activated() const { return activated_; }
  void FormClose();

  // ---- Marker file ----------------------------------------------------------
  static constexpr const char* kMarkerPath = "C:\\VITRALON\\Em_Uso.txt";
  void GravaEmUso();
  void Timer1Timer();
  bool markerRefused() const { return refused_; }
  // The window holds the marker's lock (from the start-up check to the close).
  bool holdsMarker() const { return static_cast<bool>(markerLock_); }
  // The last text read from or written to the marker (at most 60 characters).
  const std::string& markerText() const { return markerText_; }
  // True while an operation has disabled the gated commands and not yet
  // enabled them again.
  bool commandsGated() const { return gatedByOperation_; }

  // ---- Progress panel and gating -------------------------------------------
  // Places PainelCG, shows it and repaints it.
  void MostraPainelCG(int left, int top, int width, int height) override;
  // Writes the caption line and repaints it.
  void SetNomeConsist(const std::string& text) override;
  void AvancaProgresso() override;
  // Elapsed time and estimate of the time left, in LabelTempo, from every
  // gauge step once the panel has been shown for a few seconds.
  void MostraTempo();
  void DesabilitaComandos() override;
  void HabilitaComandos() override;
  // The eleven gated commands, in the order the two routines switch them.
  std::vector<TButton*> gatedCommands();
  void repaint(TControl& control) override;

  // ---- Handlers ------------------------------------------------------------
  // The form's own: closing the window. Every other handler of the
  // component table is a repair (ops/registry.h).
  void BotSairClick();

  // After-post handlers: the save-changes call on the object's table.
  void FonteAfterPost(Table& t);
  void PedidosAfterPost(Table& t);
  void PediFormAfterPost(Table& t);
  void CompedidAfterPost(Table& t);
  void ComponentesAfterPost(Table& t);
  void ConfigAfterPost(Table& t);

 private:
  void registerControls();
  // Wires a component of the table to what its handler's name runs: a
  // repair of the registry, or the form's own BotSairClick.
  void wire(TButton& button, const char* handler);
  void wire(TEdit& edit, const char* handler);
  std::function<void()> handlerNamed(const char* handler);
  void restoreAfterError();
  // The panels that cover the commands now (empty when none is shown).
  std::vector<const TControl*> coveringPanels() const;
  // After a handler the focus goes where a key starts nothing by itself:
  // into the panel left open (its first control, unless it is there
  // already), or, after a command button's run, to the history's button.
  void placeFocusAfterCommand(bool buttonCommand);
  // Closes every table object and server dataset without applying what they
  // hold (a pending edit is cancelled). Never throws.
  void closeTablesAndDatasets() noexcept;
  // The run of the outermost command handler: begun before the handler of a
  // component-table button, ended when the outermost handler has ended.
  void beginCommandRun(TButton& button);
  void endCommandRun(bool failed, const std::string& message);
  void loadHistory(int64_t select);
  void showChanges();
  // The single-module check of the first activation; true when another
  // module holds a fresh marker (the window has then been closed).
  bool VerificaEmUso();
  // Rewrites the marker from inside a long operation when the heartbeat
  // tick is overdue (the tick itself cannot run until the event loop does).
  void heartbeatIfDue();

  UserInterface& ui_;
  TDM* dm_ = nullptr;
  std::vector<TControl*> controls_;
  std::vector<TControl*> allControls_;
  std::vector<Table*> tables_;
  bool closed_ = false;
  bool activated_ = false;
  bool refused_ = false;
  bool gatedByOperation_ = false;  // DesabilitaComandos ran and HabilitaComandos did not yet
  std::string markerText_;         // last text read or written (at most 60 characters)
  UniqueFd markerLock_;            // holds the marker's flock from the start-up check to the close
  int64_t lastMarkerWriteMs_ = 0;
  int handlerDepth_ = 0;  // runHandler calls under way (nested through processMessages)
  TControl* focused_ = nullptr;
  bool inTimerTick_ = false;
  int commandDepth_ = 0;
  TButton* command_ = nullptr;  // the command button whose handler runs outermost  // runHandler calls under
                                // way that are not heartbeat ticks
  bool stopRequested_ = false;
  bool closeAfterCommand_ = false;
  Journal* journal_ = nullptr;
  bool journalRequired_ = false;
  std::string journalError_;
  int64_t runNumber_ = 0;  // the run begun for the command under way
  std::string lastError_;  // the message of the last error runReported showed
  std::vector<RunInfo> historyRuns_;
  bool simulationMode_ = false;
  bool simulationOpen_ = false;
  bool runSimulated_ = false;  // the run under way is a simulation
  int64_t lastSimulatedRun_ = 0;
  std::string captionAtRest_;
  bool serverWithheld_ = false;  // the server could not be reached when the simulation began
  std::string serverDatabase_;   // its Database parameter, given back at the end
  std::filesystem::path simulationFolder_;
  std::vector<std::pair<std::string, std::filesystem::path>> simulatedFiles_;
  void beginSimulation();
  bool atRest() const;
  int64_t panelShownMs_ = 0;  // when PainelCG was last shown
  int64_t stepBaseMs_ = 0;    // time and gauge position the estimate counts from
  int stepBasePosition_ = 0;
  int lastPosition_ = 0;  // the gauge position at the last step
  // The second of elapsed time LabelTempo shows, and whether it shows an
  // estimate: its text changes only with them.
  int64_t tempoSecond_ = -1;
  bool tempoEstimate_ = false;
};

}  // namespace cg
