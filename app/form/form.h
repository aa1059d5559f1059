// The main window TFormConsistGeral as plain state and handlers. The Qt
// window and the headless script runner are two views of it, each started
// through a Program (app/form/program.h): they show the components, deliver
// clicks, keys and focus changes, and implement the UserInterface port;
// every behaviour lives here and in the repairs (ops/), which are handlers
// of this class defined in their own files.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/form/controls.h"
#include "data/engine/engine.h"
#include "data/journal/journal.h"
#include "platform/unique_fd.h"
#include "platform/user_interface.h"

// clang-format off

// Every component of the main window, once, in component order: the order of
// controls(), in which the views build their widgets and the script runner
// writes its state record. One row per component:
//   X(name, kind, parent, handler[, caption, left, top, width, height, enabled, visible])
// `kind` names the component's class (Panel: TPanel, Button: TButton, ...);
// `parent` is empty for the main panel, which fills the window; `handler`,
// empty for none, is the member function that a click on the button (or the
// focus entering the edit box) runs, declared and wired from this row and
// defined in its own file (ops/ for the repairs). The command buttons of the
// main panel also give their caption, place and start state here. A parent
// comes before its children.
#define CG_FORM_COMPONENTS(X)                                                                                \
  X(PainelConsistG, Panel, , )                                                                               \
  X(BotSair, Button, PainelConsistG, BotSairClick, "Sair"_cp, 658, 21, 109, 45, true, true)                 \
  X(BotCorrecaoComp, Button, PainelConsistG, BotCorrecaoCompClick, "Corrigir  Cad.  Componentes"_cp,        \
    28, 87, 339, 45, false, true)                                                                            \
  X(BitBtn6, Button, PainelConsistG, BitBtn6Click, "Zerar Custo Fixo para Capsulas e Embagens"_cp,          \
    368, 87, 399, 45, false, true)                                                                           \
  X(BitBtn1, Button, PainelConsistG, BitBtn1Click, "Corrigir Nomes das Fórmulas"_cp,                        \
    28, 133, 339, 45, false, true)                                                                           \
  X(BotCorrigeCadMed, Button, PainelConsistG, BotCorrigeCadMedClick, "Corrigir CRM"_cp,                     \
    368, 133, 399, 45, false, true)                                                                          \
  X(BotAjusta, Button, PainelConsistG, BotAjustaClick, "Ajusta Param. Técnicos"_cp,                         \
    28, 179, 339, 45, false, true)                                                                           \
  X(BotAbreviaNomeCli, Button, PainelConsistG, BotAbreviaNomeCliClick, "Abreviar Nomes Clientes"_cp,        \
    368, 179, 399, 45, false, true)                                                                          \
  X(BotAcertaGrupoSinon, Button, PainelConsistG, BotAcertaGrupoSinonClick, "Acertar grupos de sinônimo"_cp, \
    28, 225, 339, 45, false, true)                                                                           \
  X(BotAbreviaNomeMed, Button, PainelConsistG, BotAbreviaNomeMedClick, "Abreviar Nomes Médicos"_cp,         \
    368, 225, 399, 45, false, true)                                                                          \
  X(BitBtn5, Button, PainelConsistG, BitBtn5Click, "Preencher o campo CodLivro  na tabela Pedidos"_cp,      \
    28, 271, 339, 45, false, true)                                                                           \
  X(btn1, Button, PainelConsistG, btn1Click, "Abreviar Nomes nos Pedidos"_cp,                               \
    368, 271, 399, 45, false, true)                                                                          \
  X(BitBtn7, Button, PainelConsistG, BitBtn7Click, "Retirar caract. \". . / -\" do CNPJ em Forneced"_cp,    \
    28, 317, 339, 45, true, true)                                                                            \
  X(BitBtn2, Button, PainelConsistG, BitBtn2Click, "Corrigir CODIGOCOMP em Compedid"_cp,                    \
    368, 317, 399, 45, false, true)                                                                          \
  X(BotFormulaOrfan, Button, PainelConsistG, BotFormulaOrfanClick, "Excluir Fórmulas Orfãs"_cp,             \
    859, 267, 230, 45, true, false)                                                                          \
  X(BotFormulaOrfanArqQM, Button, PainelConsistG, BotFormulaOrfanArqQMClick, "Arq. Morto"_cp,               \
    1090, 267, 127, 45, true, false)                                                                         \
  /* Progress panel. */                                                                                      \
  X(PainelCG, Panel, PainelConsistG, )                                                                       \
  X(Panel36, Panel, PainelCG, )                                                                              \
  X(Label111, Label, PainelCG, )                                                                             \
  X(NomeConsist, Label, PainelCG, )                                                                          \
  X(TermCG, Gauge, PainelCG, )                                                                               \
  /* Wait panel. */                                                                                          \
  X(PainelAguarde, Panel, PainelConsistG, )                                                                  \
  /* Client review. */                                                                                       \
  X(PainelFormatCliAntigo, Panel, PainelConsistG, )                                                          \
  X(Panel24, Panel, PainelFormatCliAntigo, )                                                                 \
  X(GradeCliAntigos, Grid, PainelFormatCliAntigo, )                                                          \
  X(BotCancelFormatCli, Button, PainelFormatCliAntigo, BotCancelFormatCliClick)                              \
  X(Label2, Label, PainelFormatCliAntigo, )                                                                  \
  X(PainelFormatCliNovo, Panel, PainelConsistG, )                                                            \
  X(Panel76, Panel, PainelFormatCliNovo, )                                                                   \
  X(GradeCliNovos, Grid, PainelFormatCliNovo, )                                                              \
  X(BotConfirmaFormatCli, Button, PainelFormatCliNovo, BotConfirmaFormatCliClick)                            \
  X(Label361, Label, PainelFormatCliNovo, )                                                                  \
  /* Doctor review. */                                                                                       \
  X(PainelFormatMedAntigo, Panel, PainelConsistG, )                                                          \
  X(Panel2, Panel, PainelFormatMedAntigo, )                                                                  \
  X(GradeMedAntigos, Grid, PainelFormatMedAntigo, )                                                          \
  X(BotCancelFormatMed, Button, PainelFormatMedAntigo, BotCancelFormatMedClick)                              \
  X(Label1, Label, PainelFormatMedAntigo, )                                                                  \
  X(PainelFormatMedNovo, Panel, PainelConsistG, )                                                            \
  X(Panel5, Panel, PainelFormatMedNovo, )                                                                    \
  X(GradeMedNovos, Grid, PainelFormatMedNovo, )                                                              \
  X(BotConfirmaFormatMed, Button, PainelFormatMedNovo, BotConfirmaFormatMedClick)                            \
  X(Label3, Label, PainelFormatMedNovo, )                                                                    \
  /* Component correction options. */                                                                        \
  X(PainelCorrigComponentes, Panel, PainelConsistG, )                                                        \
  X(Panel3, Panel, PainelCorrigComponentes, )                                                                \
  X(GroupBox2, GroupBox, PainelCorrigComponentes, )                                                          \
  X(RadioButton3, RadioButton, GroupBox2, )                                                                  \
  X(RadioButton4, RadioButton, GroupBox2, )                                                                  \
  X(RadioButton1, RadioButton, GroupBox2, )                                                                  \
  X(Edit1, Edit, GroupBox2, Edit1Enter)                                                                      \
  X(Label4, Label, GroupBox2, )                                                                              \
  X(BitBtn4, Button, PainelCorrigComponentes, BitBtn4Click)                                                  \
  X(BitBtn3, Button, PainelCorrigComponentes, BitBtn3Click)

// The local table objects, in the order of tables().
#define CG_FORM_TABLES(X)                                                                                    \
  X(Fonte) X(Destino) X(Pedidos) X(PediForm) X(Compedid) X(Componentes) X(Compras) X(Config) X(Clientes)    \
  X(Clientes_I) X(Medicos) X(Medicos_I) X(Pedidos_d) X(PediForm_d) X(Compedid_d)

// `&parent`, or nothing for the main panel; `what(name, handler)` for a row
// with a handler, nothing for one without.
#define CG_FORM_ADDRESS(...) __VA_OPT__(&__VA_ARGS__)
#define CG_FORM_WITH_HANDLER(what, name, ...) __VA_OPT__(what(name, __VA_ARGS__))

// clang-format on

namespace cg {

class TDM;

class TFormConsistGeral {
 public:
  // Creates the window (FormCreate runs here). No table is opened.
  explicit TFormConsistGeral(UserInterface& ui);
  ~TFormConsistGeral();
  TFormConsistGeral(const TFormConsistGeral&) = delete;
  TFormConsistGeral& operator=(const TFormConsistGeral&) = delete;

  UserInterface& ui() { return ui_; }
  // The data module, created right after the window (start-up step 3).
  void setDataModule(TDM* dm) { dm_ = dm; }
  TDM& DM();

  // ---- Window -------------------------------------------------------------
  std::string caption;
  int width = 0, height = 0;  // outer size

  // ---- Components (names are the system's own), from the table above -------
#define CG_FORM_DECLARE(name, kind, parent, ...) T##kind name{#name, formParent(CG_FORM_ADDRESS(parent))};
  CG_FORM_COMPONENTS(CG_FORM_DECLARE)
#undef CG_FORM_DECLARE

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

  // ---- Local table objects (all under the session Sessao1) -----------------
#define CG_FORM_DECLARE(name) Table name{#name};
  CG_FORM_TABLES(CG_FORM_DECLARE)
#undef CG_FORM_DECLARE
  Query Query1{"Query1"};

  // ---- Unit-level state ----------------------------------------------------
  int32_t CorFundo = clBtnFace;  // background colour read from Config
  int ContadorProgresso = 0;     // shared per-record counter behind the gauge
  // A review shown after a complete copy in this run, until it is kept,
  // confirmed or an error puts the window back: only such a review is put
  // in place of the live register.
  bool RevisaoCliPronta = false;
  bool RevisaoMedPronta = false;

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
  // The button that answers Escape / Enter at this moment, or nullptr.
  TButton* cancelButton();
  TButton* defaultButton();
  // Chooses line `index` of a list (the history's lists): its handler runs
  // through runHandler. Ignored during a command, for the line already
  // chosen and for a line the list does not have.
  void choose(TListBox& list, int index);
  // Selects a radio button (its siblings are cleared).
  void check(TRadioButton& radio);
  // The focus moves to a control (fires Edit1Enter for Edit1).
  void focus(TControl& control);
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
  bool stopRequested() const { return stopRequested_; }
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
  Journal* journal() const { return journal_; }
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
  bool simulationOpen() const { return simulationOpen_; }
  // Ends an open simulation: closes every table object and server dataset,
  // rolls everything back. The program's end calls it.
  void endSimulation() noexcept;
  // The last run that was a simulation (0: none yet).
  int64_t lastSimulatedRun() const { return lastSimulatedRun_; }
  // Where a file the repair writes goes: in a simulation, the folder of the
  // simulation (the user is told after the run); otherwise the file itself
  // under drive C.
  std::filesystem::path writtenFile(const std::string& windowsPath);
  // A command file that a simulation does not start: the user is told.
  void commandFileNotStarted(const std::string& commandFile);
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
  void MostraPainelCG(int left, int top, int width, int height);
  // Writes the caption line and repaints it.
  void SetNomeConsist(const std::string& text);
  void AvancaProgresso();
  // Elapsed time and estimate of the time left, in LabelTempo, from every
  // gauge step once the panel has been shown for a few seconds.
  void MostraTempo();
  void DesabilitaComandos();
  void HabilitaComandos();
  // The eleven gated commands, in the order the two routines switch them.
  std::vector<TButton*> gatedCommands();
  void repaint(TControl& control);

  // ---- Handlers ------------------------------------------------------------
  // Those of the components, from the table above (BotSairClick here, the
  // repairs in ops/).
#define CG_FORM_HANDLER(name, handler) void handler();
#define CG_FORM_DECLARE(name, kind, parent, handler, ...) CG_FORM_WITH_HANDLER(CG_FORM_HANDLER, name, handler)
  CG_FORM_COMPONENTS(CG_FORM_DECLARE)
#undef CG_FORM_DECLARE
#undef CG_FORM_HANDLER

  // After-post handlers: the save-changes call on the object's table.
  void FonteAfterPost(Table& t);
  void PedidosAfterPost(Table& t);
  void PediFormAfterPost(Table& t);
  void CompedidAfterPost(Table& t);
  void ComponentesAfterPost(Table& t);
  void ConfigAfterPost(Table& t);
  // After-scroll handlers of the reviews (ops/).
  void Clientes_IAfterScroll(Table& t);
  void Medicos_IAfterScroll(Table& t);

 private:
  static TControl* formParent() { return nullptr; }
  static TControl* formParent(TControl* parent) { return parent; }
  void registerControls();
  void wire(TButton& button, void (TFormConsistGeral::*handler)());
  void wire(TEdit& edit, void (TFormConsistGeral::*handler)());
  void restoreAfterError();
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
