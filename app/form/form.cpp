// Creation of the main window: its components with their captions, places,
// fonts and start states, the table objects with their bindings, and the
// wiring of events to handlers. Also the delivery of events from the views.
#include "app/form/form.h"

#include <algorithm>

#include "data/sql/dm.h"
#include "ops/registry.h"
#include "platform/clock.h"
#include "platform/cp1252.h"

namespace cg {
namespace {

TFont arial(int height, bool bold, int32_t color) {
  TFont f;
  f.name = "Arial";
  f.height = height;
  f.bold = bold;
  f.color = color;
  return f;
}

// A command button of the main panel: caption, place, start state.
void command(TButton& b, std::string_view caption, int left, int top, int width, int height, bool enabled,
             bool visible) {
  b.caption = std::string(caption);
  b.setBounds(left, top, width, height);
  b.enabled = enabled;
  b.visible = visible;
  b.tabStop = visible;  // the two orphan-removal commands stay out of tab order
  b.font = arial(13, true, clNavy);
}

void titleBar(TControl& bar, std::string_view text) {
  bar.align = Align::Top;
  bar.setBounds(1, 1, 0, 26);
  bar.color = clNavy;
  bar.loweredBevel = true;
  bar.centered = true;
  bar.caption = std::string(text);
  bar.font = arial(13, true, clWhite);
}

void label(TControl& l, std::string_view text, int left, int top, int width, int height) {
  l.caption = std::string(text);
  l.setBounds(left, top, width, height);
  l.tabStop = false;
}

}  // namespace

TFormConsistGeral::TFormConsistGeral(UserInterface& ui) : ui_(ui) {
  registerControls();
  FormCreate();
}

TFormConsistGeral::~TFormConsistGeral() {
  // The table objects close themselves; the timer and the handlers go with
  // the window. Nothing here may throw.
  Timer1.setEnabled(false);
}

TDM& TFormConsistGeral::DM() {
  if (!dm_) throw Exception("O módulo de dados ainda não foi criado."_cp.data());
  return *dm_;
}

void TFormConsistGeral::registerControls() {
#define CG_FORM_POINTER(name, ...) &name,
  controls_ = {CG_FORM_COMPONENTS(CG_FORM_POINTER)};
  tables_ = {CG_FORM_TABLES(CG_FORM_POINTER)};
#undef CG_FORM_POINTER
  allControls_ = controls_;
  allControls_.push_back(&BotInterromper);
  allControls_.push_back(&LabelTempo);
  // In stacking order: the history panel, when it shows, covers the strip's
  // own controls (Histórico, Simular).
  for (TControl* c : std::initializer_list<TControl*>{&BotHistorico, &CheckSimular, &PainelHistorico,
                                                      &TituloHistorico, &ListaExecucoes, &ListaAlteracoes,
                                                      &BotDesfazer, &BotRelatorio, &BotFecharHistorico})
    allControls_.push_back(c);
}

// Every component with a handler in the component table gets it: a button
// on its click, the edit box on receiving the focus.
std::function<void()> TFormConsistGeral::handlerNamed(const char* handler) {
  if (std::string_view(handler) == "BotSairClick") return [this] { BotSairClick(); };
  Repair repair = FindRepair(handler);
  if (!repair) throw Exception(std::string("Nenhum reparo registrado para ") + handler);
  return [this, repair] { repair(*this); };
}

void TFormConsistGeral::wire(TButton& button, const char* handler) {
  button.onClick = [this, run = handlerNamed(handler), b = &button] {
    if (commandDepth_ == 1 && !command_) {
      command_ = b;  // the command the window runs now
      // Closing the window changes no data: no run for it.
      if (b != &BotSair) beginCommandRun(*b);
    }
    run();
  };
}

void TFormConsistGeral::wire(TEdit& edit, const char* handler) {
  edit.onEnter = [run = handlerNamed(handler)] { run(); };
}

TControl* TFormConsistGeral::findControl(const std::string& name) const {
  for (TControl* c : allControls_)
    if (c->name == name) return c;
  return nullptr;
}

void TFormConsistGeral::FormCreate() {
  caption = std::string("Consistência Geral BD - \"em desenvolvimento\""_cp);
  width = 800;
  height = 580;

  // Main panel: the whole client area, in the button-face colour until the
  // first activation reads the configured one.
  PainelConsistG.align = Align::Client;
  PainelConsistG.setBounds(0, 0, 784, 541);
  PainelConsistG.color = clBtnFace;
  PainelConsistG.tabStop = false;

#define CG_FORM_COMMAND(name, kind, parent, handler, ...) __VA_OPT__(command(name, __VA_ARGS__);)
  CG_FORM_COMPONENTS(CG_FORM_COMMAND)
#undef CG_FORM_COMMAND
  BotSair.font = arial(16, true, clRed);
  BotSair.font.name = "Arial Black";
  BotSair.isCancel = true;
  btn1.glyph = false;
  BotFormulaOrfanArqQM.glyph = false;
  BitBtn2.hint = std::string("Colocar em CODIGOCOMP de COMPEDID o código atual da tabela de COMPONENTES"_cp);

#define CG_FORM_WIRE_TO(name, handler) wire(name, #handler);
#define CG_FORM_WIRE(name, kind, parent, handler, ...) CG_FORM_WITH_HANDLER(CG_FORM_WIRE_TO, name, handler)
  CG_FORM_COMPONENTS(CG_FORM_WIRE)
#undef CG_FORM_WIRE
#undef CG_FORM_WIRE_TO

  // Progress panel.
  PainelCG.visible = false;
  PainelCG.loweredBevel = true;
  PainelCG.setBounds(layout::kProgress);
  titleBar(Panel36, "Consistência Geral do Sistema"_cp);
  label(Label111, "Aguarde..."_cp, 190, 44, 85, 19);
  Label111.font = arial(16, true, clMaroon);
  label(NomeConsist, "", 10, 74, 444, 19);
  NomeConsist.centered = true;
  NomeConsist.font = arial(13, true, clNavy);
  TermCG.setBounds(25, 95, 413, 25);
  TermCG.font = arial(16, true, clBlack);
  TermCG.tabStop = false;
  TermCG.foreColor = clGreen;
  TermCG.backColor = clWhite;
  TermCG.onRepaint = [this] { repaint(TermCG); };
  TermCG.onStep = [this] {
    heartbeatIfDue();
    MostraTempo();
  };
  // The additions: hidden until a command shows them.
  BotInterromper.caption = "Interromper";
  BotInterromper.visible = false;
  BotInterromper.enabled = false;
  BotInterromper.glyph = false;
  BotInterromper.font = arial(13, true, clMaroon);
  BotInterromper.onClick = [this] { BotInterromperClick(); };
  label(LabelTempo, "", 8, 30, 178, 40);
  LabelTempo.visible = false;
  LabelTempo.font = arial(11, true, clNavy);

  // The history: its button in the free strip below the commands, clear of
  // the technicians' commands and of the line under an open review; its
  // panel over the commands.
  BotHistorico.caption = std::string("Histórico"_cp);
  BotHistorico.setBounds(618, 431, 149, 45);
  BotHistorico.glyph = false;
  BotHistorico.font = arial(13, true, clNavy);
  BotHistorico.onClick = [this] { BotHistoricoClick(); };
  CheckSimular.caption = "Simular";
  CheckSimular.setBounds(622, 482, 145, 20);
  CheckSimular.font = arial(13, true, clNavy);
  PainelHistorico.visible = false;
  PainelHistorico.loweredBevel = true;
  PainelHistorico.setBounds(16, 16, 752, 509);
  titleBar(TituloHistorico, "Histórico das execuções"_cp);
  ListaExecucoes.setBounds(8, 34, 736, 170);
  ListaExecucoes.color = clWindow;
  ListaExecucoes.font = arial(13, false, clBlack);
  ListaExecucoes.onSelect = [this] { showChanges(); };
  ListaAlteracoes.setBounds(8, 210, 736, 240);
  ListaAlteracoes.color = clWindow;
  ListaAlteracoes.font = arial(13, false, clBlack);
  struct PanelButton {
    TButton& button;
    std::string_view caption;
    int left;
    int32_t colour;
    void (TFormConsistGeral::*handler)();
  };
  PanelButton panelButtons[] = {
      {BotDesfazer, "Desfazer"_cp, 8, clMaroon, &TFormConsistGeral::BotDesfazerClick},
      {BotRelatorio, "Relatório"_cp, 190, clNavy, &TFormConsistGeral::BotRelatorioClick},
      {BotFecharHistorico, "Fechar"_cp, 595, clNavy, &TFormConsistGeral::BotFecharHistoricoClick},
  };
  for (PanelButton& p : panelButtons) {
    p.button.caption = std::string(p.caption);
    p.button.setBounds(p.left, 458, 149, 37);
    p.button.glyph = false;
    p.button.font = arial(13, true, p.colour);
    p.button.onClick = [this, h = p.handler] { (this->*h)(); };
  }
  BotFecharHistorico.isCancel = true;

  // Wait panel of the reviews.
  PainelAguarde.visible = false;
  PainelAguarde.loweredBevel = true;
  PainelAguarde.setBounds(layout::kWaitPanel);
  PainelAguarde.color = 12040119;  // B7B7B7
  PainelAguarde.centered = true;
  PainelAguarde.caption = std::string("Aguarde ..."_cp);
  PainelAguarde.font.name = "Arial Narrow";
  PainelAguarde.font.height = 21;
  PainelAguarde.font.bold = false;
  PainelAguarde.font.color = clNavy;

  // The two reviews: live names on the left, new names on the right.
  struct Review {
    TControl& oldPanel;
    TControl& oldTitle;
    TGrid& oldGrid;
    TButton& cancel;
    TControl& cancelLabel;
    TControl& newPanel;
    TControl& newTitle;
    TGrid& newGrid;
    TButton& confirm;
    TControl& confirmLabel;
    Table& live;
    const char* liveSource;
    Table& interim;
    const char* interimSource;
  };
  Review reviews[] = {
      {PainelFormatCliAntigo, Panel24, GradeCliAntigos, BotCancelFormatCli, Label2, PainelFormatCliNovo,
       Panel76, GradeCliNovos, BotConfirmaFormatCli, Label361, Clientes, "DSClientes", Clientes_I,
       "DSClientes_I"},
      {PainelFormatMedAntigo, Panel2, GradeMedAntigos, BotCancelFormatMed, Label1, PainelFormatMedNovo,
       Panel5, GradeMedNovos, BotConfirmaFormatMed, Label3, Medicos, "DSMedicos", Medicos_I, "DSMedicos_I"},
  };
  for (Review& r : reviews) {
    r.oldPanel.visible = false;
    r.oldPanel.loweredBevel = true;
    r.oldPanel.setBounds(layout::kReviewOriginal);
    titleBar(r.oldTitle, "Formato Original"_cp);
    r.oldGrid.setBounds(8, 34, 273, 246);
    r.oldGrid.dataSet = &r.live;
    r.oldGrid.dataSourceName = r.liveSource;
    r.cancel.caption = std::string("Manter Formato Original"_cp);
    r.cancel.setBounds(40, 290, 209, 33);
    r.cancel.font = arial(13, true, clMaroon);
    r.cancel.isDefault = true;
    r.cancel.isCancel = true;
    r.cancel.glyph = false;
    label(r.cancelLabel, "Cancela a alteração do formato "_cp, 8, 330, 273, 16);
    r.cancelLabel.centered = true;

    r.newPanel.visible = false;
    r.newPanel.loweredBevel = true;
    r.newPanel.setBounds(layout::kReviewNew);
    titleBar(r.newTitle, "Formato Novo"_cp);
    r.newGrid.setBounds(8, 34, 276, 246);
    r.newGrid.dataSet = &r.interim;
    r.newGrid.dataSourceName = r.interimSource;
    r.confirm.caption = std::string("Confirmar novo Formato"_cp);
    r.confirm.setBounds(42, 290, 209, 33);
    r.confirm.font = arial(13, true, clNavy);
    r.confirm.isDefault = true;
    r.confirm.glyph = false;
    label(r.confirmLabel, "Substitui o formato original pelo novo"_cp, 8, 330, 276, 16);
    r.confirmLabel.centered = true;
  }

  // Options of the component registry correction.
  PainelCorrigComponentes.visible = false;
  PainelCorrigComponentes.loweredBevel = true;
  PainelCorrigComponentes.setBounds(layout::kComponentOptions);
  titleBar(Panel3, "O que Deseja Fazer ?"_cp);
  Panel3.loweredBevel = false;
  GroupBox2.setBounds(24, 41, 334, 105);
  GroupBox2.tabStop = false;
  struct Option {
    TRadioButton& radio;
    std::string_view text;
    int left, top, width, height;
  };
  Option options[] = {
      {RadioButton3, "Corrigir Nomes Fora do Padrão"_cp, 23, 32, 281, 17},
      {RadioButton4, "Corrigir Unidades do Cad. Componentes"_cp, 23, 55, 281, 17},
      {RadioButton1, "Definir desconto máximo padrão"_cp, 23, 78, 267, 17},
  };
  for (Option& o : options) {
    o.radio.caption = std::string(o.text);
    o.radio.setBounds(o.left, o.top, o.width, o.height);
    o.radio.font = arial(13, true, clNavy);
    o.radio.handCursor = true;
    o.radio.checked = false;
  }
  Edit1.setBounds(254, 76, 32, 21);
  Edit1.color = clWindow;
  label(Label4, "%", 290, 80, 10, 13);
  BitBtn4.caption = "&Cancelar";
  BitBtn4.setBounds(23, 152, 163, 27);
  BitBtn4.font = arial(13, true, clRed);
  BitBtn4.isCancel = true;
  BitBtn3.caption = "&OK";
  BitBtn3.setBounds(188, 152, 169, 27);
  BitBtn3.font = arial(13, true, clNavy);
  BitBtn3.isDefault = true;

  // Heartbeat of the marker file.
  Timer1.name = "Timer1";
  Timer1.interval = 30000;
  Timer1.setEnabled(false);
  Timer1.onTimer = [this] { Timer1Timer(); };

  // Table objects, closed, with their initial bindings.
  const std::string dados = "C:\\VITRALON\\DADOS";
  Pedidos.setDatabaseName(dados);
  Pedidos.setTableName("Pedidos");
  PediForm.setDatabaseName(dados);
  PediForm.setTableName("Pediform");
  Compedid.setDatabaseName(dados);
  Compedid.setTableName("Compedid");
  Componentes.setDatabaseName(dados);
  Componentes.setTableName("Componen");
  Compras.setDatabaseName(dados);
  Compras.setTableName("COMPRAS.DB");
  Config.setDatabaseName("C:\\VITRALON");
  Config.setTableName("Config");
  Clientes.setDatabaseName(dados);
  Clientes.setTableName("Clientes.DB");
  Clientes.setIndexFieldNames("Estacao;Codigo");
  Clientes_I.setDatabaseName("VTRNINTER");
  Clientes_I.setTableName("Clientes.DB");
  Clientes_I.setIndexName("Nome");
  Medicos.setDatabaseName(dados);
  Medicos.setTableName("Medicos.DB");
  Medicos_I.setDatabaseName("VTRNINTER");
  Medicos_I.setTableName("Medicos.DB");
  Pedidos_d.setDatabaseName("VTRNARQM");
  Pedidos_d.setTableName("pedidos.DB");
  PediForm_d.setDatabaseName("VTRNARQM");
  PediForm_d.setTableName("pediform.DB");
  Compedid_d.setDatabaseName("VTRNARQM");
  Compedid_d.setTableName("Compedid.DB");
  Query1.setDatabaseName(dados);

  Fonte.afterPost = [this](Table& t) { FonteAfterPost(t); };
  Pedidos.afterPost = [this](Table& t) { PedidosAfterPost(t); };
  PediForm.afterPost = [this](Table& t) { PediFormAfterPost(t); };
  Compedid.afterPost = [this](Table& t) { CompedidAfterPost(t); };
  Componentes.afterPost = [this](Table& t) { ComponentesAfterPost(t); };
  Config.afterPost = [this](Table& t) { ConfigAfterPost(t); };
  Clientes_I.afterScroll = [this, e = FindTableEvent("Clientes_IAfterScroll")](Table& t) { e(*this, t); };
  Medicos_I.afterScroll = [this, e = FindTableEvent("Medicos_IAfterScroll")](Table& t) { e(*this, t); };
}

// ---- Handlers of the shell ---------------------------------------------------

void TFormConsistGeral::BotSairClick() { Close(); }

// What was posted goes to disk at once; the suite's other programs read the
// same files.
void TFormConsistGeral::FonteAfterPost(Table& t) { t.flushBuffers(); }
void TFormConsistGeral::PedidosAfterPost(Table& t) { t.flushBuffers(); }
void TFormConsistGeral::PediFormAfterPost(Table& t) { t.flushBuffers(); }
void TFormConsistGeral::CompedidAfterPost(Table& t) { t.flushBuffers(); }
void TFormConsistGeral::ComponentesAfterPost(Table& t) { t.flushBuffers(); }
void TFormConsistGeral::ConfigAfterPost(Table& t) { t.flushBuffers(); }

void TFormConsistGeral::FormActivate() {
  if (activated_) return;
  activated_ = true;
  // A refused start has closed the window already; the colour is still read,
  // as the window does before control returns to the event loop.
  VerificaEmUso();
  Config.open();
  CorFundo = Config.asInteger("CorFundo");
  Config.close();
  PainelConsistG.color = CorFundo;
  PainelConsistG.visible = true;
  repaint(PainelConsistG);
}

void TFormConsistGeral::Close() {
  if (closed_) return;
  closed_ = true;
  FormClose();
  Timer1.setEnabled(false);
}

bool TFormConsistGeral::closeFromFrame() {
  if (closed_) return true;
  if (!commandRunning()) {
    Close();
    return true;
  }
  // Only a command that lets events through can meet the frame's close; one
  // that cannot be stopped ends first.
  if (closeAfterCommand_ || !BotInterromper.visible) return false;
  if (ui_.confirm(
          std::string("Um comando está em andamento.\rInterromper depois do registro atual e fechar a "
                      "janela?"_cp))) {
    BotInterromperClick();
    closeAfterCommand_ = true;
  }
  return false;
}

void TFormConsistGeral::MostraComandosTecnicos() {
  BotFormulaOrfan.setBounds(28, 375, 339, 45);
  BotFormulaOrfanArqQM.setBounds(368, 375, 399, 45);
  for (TButton* b : {&BotFormulaOrfan, &BotFormulaOrfanArqQM}) {
    b->visible = true;
    b->tabStop = true;
  }
}

// ---- Event delivery ----------------------------------------------------------

namespace {

bool isInside(const TControl& c, const TControl& panel) {
  for (const TControl* p = &c; p; p = p->parent)
    if (p == &panel) return true;
  return false;
}

bool takesFocus(const TControl& c) {
  switch (c.kind) {
    case ControlKind::Button:
    case ControlKind::Grid:
    case ControlKind::RadioButton:
    case ControlKind::Edit:
    case ControlKind::ListBox:
    case ControlKind::CheckBox:
      return c.tabStop && c.enabled && c.showing();
    default:
      return false;
  }
}

}  // namespace

std::vector<const TControl*> TFormConsistGeral::coveringPanels() const {
  if (PainelHistorico.showing()) return {&PainelHistorico};
  if (PainelCorrigComponentes.showing()) return {&PainelCorrigComponentes};
  std::vector<const TControl*> review;
  for (const TControl* p :
       {&PainelFormatCliAntigo, &PainelFormatCliNovo, &PainelFormatMedAntigo, &PainelFormatMedNovo})
    if (p->showing()) review.push_back(p);
  return review;
}

bool TFormConsistGeral::covered(const TControl& control) const {
  const std::vector<const TControl*> panels = coveringPanels();
  if (panels.empty()) return false;
  // A panel's own frame and the main panel under it are not controls one
  // can use; what matters is whether the control lies inside an open panel.
  if (&control == &PainelConsistG) return false;
  for (const TControl* p : panels)
    if (isInside(control, *p)) return false;
  return !isInside(control, PainelCG);
}

bool TFormConsistGeral::takesInput(const TControl& control) const {
  if (covered(control)) return false;
  if (!commandRunning()) return true;
  return &control == &BotInterromper || &control == &PainelConsistG || control.kind == ControlKind::Panel ||
         control.kind == ControlKind::Label || control.kind == ControlKind::Gauge;
}

void TFormConsistGeral::placeFocusAfterCommand(bool buttonCommand) {
  if (closed_) return;
  const std::vector<const TControl*> panels = coveringPanels();
  if (panels.empty()) {
    if (buttonCommand) focused_ = &BotHistorico;
    return;
  }
  for (const TControl* p : panels)
    if (focused_ && isInside(*focused_, *p)) return;
  for (TControl* c : allControls_)
    if (takesFocus(*c) &&
        std::any_of(panels.begin(), panels.end(), [c](const TControl* p) { return isInside(*c, *p); })) {
      focused_ = c;
      return;
    }
}

bool TFormConsistGeral::click(TButton& button) {
  if (closed_ || !button.enabled || covered(button)) return false;
  if (commandRunning()) {
    // One command at a time: only the stop button answers meanwhile.
    if (&button != &BotInterromper) return false;
    BotInterromperClick();
    return true;
  }
  if (button.onClick) runHandler(button.onClick);
  return true;
}

TButton* TFormConsistGeral::cancelButton() {
  // The panels that stand over the main panel answer first; the window's own
  // cancel button answers only while it can take the focus.
  for (TButton* b : {&BotFecharHistorico, &BotCancelFormatCli, &BotCancelFormatMed, &BitBtn4, &BotSair})
    if (b->isCancel && b->enabled && b->showing()) return b;
  return nullptr;
}

TButton* TFormConsistGeral::defaultButton() {
  // The history panel stands over everything else and has no default
  // button: Enter must not reach a review's button under it.
  if (PainelHistorico.showing()) return nullptr;
  for (TControl* c : controls_) {
    if (c->kind != ControlKind::Button) continue;
    auto* b = static_cast<TButton*>(c);
    if (b->isDefault && b->enabled && b->showing()) return b;
  }
  return nullptr;
}

void TFormConsistGeral::check(TRadioButton& radio) {
  if (closed_) return;
  for (TControl* c : controls_)
    if (c->kind == ControlKind::RadioButton && c->parent == radio.parent)
      static_cast<TRadioButton*>(c)->checked = false;
  radio.checked = true;
}

void TFormConsistGeral::focus(TControl& control) {
  if (closed_ || focused_ == &control) return;
  focused_ = &control;
  if (control.kind == ControlKind::Edit && !commandRunning()) {
    auto& edit = static_cast<TEdit&>(control);
    if (edit.onEnter) runHandler(edit.onEnter);
  }
}

void TFormConsistGeral::runTimerTick() {
  if (closed_ || inTimerTick_ || !Timer1.onTimer) return;
  inTimerTick_ = true;
  struct Tick {
    bool& running;
    ~Tick() { running = false; }
  } tick{inTimerTick_};
  runHandler(Timer1.onTimer);
}

void TFormConsistGeral::runHandler(const std::function<void()>& handler) {
  ++handlerDepth_;
  struct Depth {
    int& d;
    ~Depth() { --d; }
  } depth{handlerDepth_};
  // A command (anything but a heartbeat tick) ends: the stop button goes,
  // and a close asked for during the command happens now.
  struct Command {
    TFormConsistGeral& f;
    bool counted;
    ~Command() {
      if (!counted || --f.commandDepth_ > 0) return;
      f.BotHistorico.enabled = true;
      f.CheckSimular.enabled = !f.simulationOpen_;
      f.BotInterromper.visible = false;
      f.BotInterromper.enabled = false;
      f.stopRequested_ = false;
      const bool buttonCommand = f.command_ != nullptr;
      f.command_ = nullptr;
      f.placeFocusAfterCommand(buttonCommand);
      if (f.closeAfterCommand_) {
        f.closeAfterCommand_ = false;
        try {
          f.Close();
        } catch (...) {
        }
      }
    }
  } command{*this, !inTimerTick_};
  if (command.counted && ++commandDepth_ == 1) BotHistorico.enabled = CheckSimular.enabled = false;
  // The run of a command ends once the outermost handler has ended and its
  // grouped posts have reached the table files (the flush below runs first).
  struct RunEnd {
    TFormConsistGeral& f;
    bool failed = false;
    ~RunEnd() {
      if (f.handlerDepth_ == 1 && f.runNumber_) f.endCommandRun(failed, f.lastError_);
    }
  } runEnd{*this};
  // When the outermost handler ends, the window goes back to waiting for the
  // user: grouped posts reach the table files and the read locks of tables
  // left open (the review grids) are released, so that the suite's other
  // programs are not kept from writing while the window idles.
  struct Idle {
    TFormConsistGeral& f;
    ~Idle() {
      if (f.handlerDepth_ == 1 && f.dm_) f.dm_->Sessao1.flushAll();
    }
  } idle{*this};
  if (runReported(handler)) return;
  runEnd.failed = true;
  // Only the outermost handler puts the window back in order: one that ran
  // inside another operation's event dispatch must not close the tables the
  // running operation still walks. A failed heartbeat tick concerns the
  // marker only and leaves the window as it is.
  if (handlerDepth_ == 1 && !inTimerTick_) restoreAfterError();
}

bool TFormConsistGeral::runReported(const std::function<void()>& event) {
  try {
    event();
    return true;
  } catch (const Exception& e) {
    lastError_ = e.message();
    ui_.showError(e);
  } catch (const std::exception& e) {
    lastError_ = fromUtf8(e.what());
    ui_.showError(Exception(lastError_));
  }
  return false;
}

// An operation stopped by an error leaves the window as it stood: panels
// shown, commands disabled, tables open (and the next binding of Fonte or
// Destino would fail on the open table). Put it back in the idle state.
void TFormConsistGeral::restoreAfterError() {
  BotInterromper.visible = false;
  for (TControl* p : {&PainelCG, &PainelAguarde, &PainelFormatCliAntigo, &PainelFormatCliNovo,
                      &PainelFormatMedAntigo, &PainelFormatMedNovo, &PainelCorrigComponentes})
    p->visible = false;
  for (TButton* b : {&BotCancelFormatCli, &BotConfirmaFormatCli, &BotCancelFormatMed, &BotConfirmaFormatMed})
    b->enabled = true;
  RevisaoCliPronta = RevisaoMedPronta = false;
  if (gatedByOperation_) HabilitaComandos();
  closeTablesAndDatasets();
  repaint(PainelConsistG);
}

void TFormConsistGeral::closeTablesAndDatasets() noexcept {
  if (dm_) {
    try {
      dm_->Sessao1.closeAll();
    } catch (...) {
    }
    try {
      dm_->closeAllWithoutApply();
    } catch (...) {
    }
  }
  for (Table* t : tables_) {
    try {
      if (t->active()) {
        if (t->editing()) t->cancel();
        t->close();
      }
    } catch (...) {
    }
  }
}

}  // namespace cg
