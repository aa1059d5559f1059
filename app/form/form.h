// The main window TFormConsistGeral as plain state and handlers. The Qt
// window and the headless script runner are two views of it: they show the
// components, deliver clicks, keys and focus changes, and implement the
// UserInterface port; every behaviour lives here and in the repairs
// (ops/), which are handlers of this class defined in their own files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/form/controls.h"
#include "data/engine/engine.h"
#include "platform/user_interface.h"

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

  // ---- Components (names are the system's own) -----------------------------
  TControl PainelConsistG{ControlKind::Panel, "PainelConsistG", nullptr};

  TButton BotSair{"BotSair", &PainelConsistG};
  TButton BotCorrecaoComp{"BotCorrecaoComp", &PainelConsistG};
  TButton BitBtn6{"BitBtn6", &PainelConsistG};
  TButton BitBtn1{"BitBtn1", &PainelConsistG};
  TButton BotCorrigeCadMed{"BotCorrigeCadMed", &PainelConsistG};
  TButton BotAjusta{"BotAjusta", &PainelConsistG};
  TButton BotAbreviaNomeCli{"BotAbreviaNomeCli", &PainelConsistG};
  TButton BotAcertaGrupoSinon{"BotAcertaGrupoSinon", &PainelConsistG};
  TButton BotAbreviaNomeMed{"BotAbreviaNomeMed", &PainelConsistG};
  TButton BitBtn5{"BitBtn5", &PainelConsistG};
  TButton btn1{"btn1", &PainelConsistG};
  TButton BitBtn7{"BitBtn7", &PainelConsistG};
  TButton BitBtn2{"BitBtn2", &PainelConsistG};
  TButton BotFormulaOrfan{"BotFormulaOrfan", &PainelConsistG};
  TButton BotFormulaOrfanArqQM{"BotFormulaOrfanArqQM", &PainelConsistG};

  // Progress panel.
  TControl PainelCG{ControlKind::Panel, "PainelCG", &PainelConsistG};
  TControl Panel36{ControlKind::Panel, "Panel36", &PainelCG};
  TControl Label111{ControlKind::Label, "Label111", &PainelCG};
  TControl NomeConsist{ControlKind::Label, "NomeConsist", &PainelCG};
  TGauge TermCG{"TermCG", &PainelCG};

  // Wait panel.
  TControl PainelAguarde{ControlKind::Panel, "PainelAguarde", &PainelConsistG};

  // Client review.
  TControl PainelFormatCliAntigo{ControlKind::Panel, "PainelFormatCliAntigo", &PainelConsistG};
  TControl Panel24{ControlKind::Panel, "Panel24", &PainelFormatCliAntigo};
  TGrid GradeCliAntigos{"GradeCliAntigos", &PainelFormatCliAntigo};
  TButton BotCancelFormatCli{"BotCancelFormatCli", &PainelFormatCliAntigo};
  TControl Label2{ControlKind::Label, "Label2", &PainelFormatCliAntigo};
  TControl PainelFormatCliNovo{ControlKind::Panel, "PainelFormatCliNovo", &PainelConsistG};
  TControl Panel76{ControlKind::Panel, "Panel76", &PainelFormatCliNovo};
  TGrid GradeCliNovos{"GradeCliNovos", &PainelFormatCliNovo};
  TButton BotConfirmaFormatCli{"BotConfirmaFormatCli", &PainelFormatCliNovo};
  TControl Label361{ControlKind::Label, "Label361", &PainelFormatCliNovo};

  // Doctor review.
  TControl PainelFormatMedAntigo{ControlKind::Panel, "PainelFormatMedAntigo", &PainelConsistG};
  TControl Panel2{ControlKind::Panel, "Panel2", &PainelFormatMedAntigo};
  TGrid GradeMedAntigos{"GradeMedAntigos", &PainelFormatMedAntigo};
  TButton BotCancelFormatMed{"BotCancelFormatMed", &PainelFormatMedAntigo};
  TControl Label1{ControlKind::Label, "Label1", &PainelFormatMedAntigo};
  TControl PainelFormatMedNovo{ControlKind::Panel, "PainelFormatMedNovo", &PainelConsistG};
  TControl Panel5{ControlKind::Panel, "Panel5", &PainelFormatMedNovo};
  TGrid GradeMedNovos{"GradeMedNovos", &PainelFormatMedNovo};
  TButton BotConfirmaFormatMed{"BotConfirmaFormatMed", &PainelFormatMedNovo};
  TControl Label3{ControlKind::Label, "Label3", &PainelFormatMedNovo};

  // Component correction options.
  TControl PainelCorrigComponentes{ControlKind::Panel, "PainelCorrigComponentes", &PainelConsistG};
  TControl Panel3{ControlKind::Panel, "Panel3", &PainelCorrigComponentes};
  TControl GroupBox2{ControlKind::GroupBox, "GroupBox2", &PainelCorrigComponentes};
  TRadioButton RadioButton3{"RadioButton3", &GroupBox2};
  TRadioButton RadioButton4{"RadioButton4", &GroupBox2};
  TRadioButton RadioButton1{"RadioButton1", &GroupBox2};
  TEdit Edit1{"Edit1", &GroupBox2};
  TControl Label4{ControlKind::Label, "Label4", &GroupBox2};
  TButton BitBtn4{"BitBtn4", &PainelCorrigComponentes};
  TButton BitBtn3{"BitBtn3", &PainelCorrigComponentes};

  TTimer Timer1;

  // ---- Local table objects (all under the session Sessao1) -----------------
  Table Fonte{"Fonte"};
  Table Destino{"Destino"};
  Table Pedidos{"Pedidos"};
  Table PediForm{"PediForm"};
  Table Compedid{"Compedid"};
  Table Componentes{"Componentes"};
  Table Compras{"Compras"};
  Table Config{"Config"};
  Table Clientes{"Clientes"};
  Table Clientes_I{"Clientes_I"};
  Table Medicos{"Medicos"};
  Table Medicos_I{"Medicos_I"};
  Table Pedidos_d{"Pedidos_d"};
  Table PediForm_d{"PediForm_d"};
  Table Compedid_d{"Compedid_d"};
  Query Query1{"Query1"};

  // ---- Unit-level state ----------------------------------------------------
  int32_t CorFundo = clBtnFace;  // background colour read from Config
  int ContadorProgresso = 0;     // shared per-record counter behind the gauge

  // ---- Every component, for views and scripts ------------------------------
  const std::vector<TControl*>& controls() const { return controls_; }
  TControl* findControl(const std::string& name) const;
  const std::vector<Table*>& tables() const { return tables_; }

  // ---- Event delivery (the views call these) -------------------------------
  // A click on a button: ignored (false) when the button is disabled;
  // otherwise its handler runs through runHandler.
  bool click(TButton& button);
  // The button that answers Escape / Enter at this moment, or nullptr.
  TButton* cancelButton();
  TButton* defaultButton();
  // Selects a radio button (its siblings are cleared).
  void check(TRadioButton& radio);
  // The focus moves to a control (fires Edit1Enter for Edit1).
  void focus(TControl& control);
  // Runs ticks of Timer1 that are due on the program's clock.
  void pollTimers();
  // Moves the program's clock forward by `ms`, stopping at every tick that
  // falls due on the way and running it, in order (the script runner's
  // `wait`; no real time passes).
  void passTime(int64_t ms);
  // The control that holds the focus (nullptr before any focus change).
  TControl* focusedControl() const { return focused_; }
  // Runs a handler as the event loop does: an error no handler caught is
  // shown by the default error report, then the window is put back in order.
  void runHandler(const std::function<void()>& handler);

  // Start-up and closing.
  void FormCreate();
  void FormActivate();  // first activation: marker check, then colour
  void Close();         // closes the window (FormClose runs once)
  bool closed() const { return closed_; }
  void FormClose();

  // ---- Marker file ----------------------------------------------------------
  static constexpr const char* kMarkerPath = "C:\\VITRALON\\Em_Uso.txt";
  void GravaEmUso();
  void Timer1Timer();
  bool markerRefused() const { return refused_; }
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
  void DesabilitaComandos();
  void HabilitaComandos();
  // The eleven gated commands, in the order the two routines switch them.
  std::vector<TButton*> gatedCommands();
  void repaint(TControl& control);

  // ---- Handlers ------------------------------------------------------------
  void BotSairClick();
  // After-post handlers: the save-changes call on the object's table.
  void FonteAfterPost(Table& t);
  void PedidosAfterPost(Table& t);
  void PediFormAfterPost(Table& t);
  void CompedidAfterPost(Table& t);
  void ComponentesAfterPost(Table& t);
  void ConfigAfterPost(Table& t);

  // Repairs on the local tables (ops/).
  void BotFormulaOrfanClick();
  void BotFormulaOrfanArqQMClick();
  void BotAbreviaNomeCliClick();
  void BotAbreviaNomeMedClick();
  void Clientes_IAfterScroll(Table& t);
  void Medicos_IAfterScroll(Table& t);
  void BotCancelFormatCliClick();
  void BotCancelFormatMedClick();
  void BotConfirmaFormatCliClick();
  void BotConfirmaFormatMedClick();
  void BotCorrigeCadMedClick();
  void BotAcertaGrupoSinonClick();
  void BotAjustaClick();
  void BitBtn6Click();

  // Repairs on the server (ops/).
  void BitBtn7Click();
  void BotCorrecaoCompClick();
  void BitBtn4Click();
  void BitBtn3Click();
  void Edit1Enter();
  void BitBtn1Click();
  void btn1Click();
  void BitBtn5Click();
  void BitBtn2Click();

 private:
  void registerControls();
  void restoreAfterError();
  // The single-module check of the first activation; true when another
  // module holds a fresh marker (the window has then been closed).
  bool VerificaEmUso();
  // Rewrites the marker from inside a long operation when the heartbeat
  // tick is overdue (the tick itself cannot run until the event loop does).
  void heartbeatIfDue();

  UserInterface& ui_;
  TDM* dm_ = nullptr;
  std::vector<TControl*> controls_;
  std::vector<Table*> tables_;
  bool closed_ = false;
  bool activated_ = false;
  bool refused_ = false;
  bool gatedByOperation_ = false;  // DesabilitaComandos ran and HabilitaComandos did not yet
  std::string markerText_;         // last text read or written (at most 60 characters)
  int64_t lastMarkerWriteMs_ = 0;
  int handlerDepth_ = 0;  // runHandler calls under way (nested through processMessages)
  TControl* focused_ = nullptr;
  bool inTimerTick_ = false;
};

}  // namespace cg
