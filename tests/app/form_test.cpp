// The main window's model: its components as created, the gating of the
// commands, the gauge, the progress step with its heartbeat, and how the
// window is put back in order after an operation stops with an error.
#include <algorithm>
#include <sstream>

#include "app/cli/script_ui.h"
#include "app/form/program.h"
#include "shell_fixture.h"

using namespace cg;
using shelltest::ShellTest;

namespace {

// The program (the form with its data module) as the views start it, with
// the runner's port writing the transcript to a string.
struct Shell {
  std::ostringstream out;
  ScriptInterface ui{out};
  Program program{ui};
  TFormConsistGeral& form = program.form();

  Shell() { ui.attach(&program); }
  void activate() { program.activate(); }
  std::vector<std::string> lines() const {
    std::vector<std::string> v;
    std::istringstream in(out.str());
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
  }
};

std::string cp(const char* utf8) { return fromUtf8(utf8); }

}  // namespace

class FormTest : public ShellTest {};

TEST_F(FormTest, CommandButtonsAreCreatedAsListed) {
  struct Row {
    const char* name;
    const char* caption;
    int left, top, width, height;
    bool enabled, visible, glyph;
  };
  const Row rows[] = {
      {"BotSair", "Sair", 658, 21, 109, 45, true, true, true},
      {"BotCorrecaoComp", "Corrigir  Cad.  Componentes", 28, 87, 339, 45, false, true, true},
      {"BitBtn6", "Zerar Custo Fixo para Capsulas e Embagens", 368, 87, 399, 45, false, true, true},
      {"BitBtn1", "Corrigir Nomes das Fórmulas", 28, 133, 339, 45, false, true, true},
      {"BotCorrigeCadMed", "Corrigir CRM", 368, 133, 399, 45, false, true, true},
      {"BotAjusta", "Ajusta Param. Técnicos", 28, 179, 339, 45, false, true, true},
      {"BotAbreviaNomeCli", "Abreviar Nomes Clientes", 368, 179, 399, 45, false, true, true},
      {"BotAcertaGrupoSinon", "Acertar grupos de sinônimo", 28, 225, 339, 45, false, true, true},
      {"BotAbreviaNomeMed", "Abreviar Nomes Médicos", 368, 225, 399, 45, false, true, true},
      {"BitBtn5", "Preencher o campo CodLivro  na tabela Pedidos", 28, 271, 339, 45, false, true, true},
      {"btn1", "Abreviar Nomes nos Pedidos", 368, 271, 399, 45, false, true, false},
      {"BitBtn7", "Retirar caract. \". . / -\" do CNPJ em Forneced", 28, 317, 339, 45, true, true, true},
      {"BitBtn2", "Corrigir CODIGOCOMP em Compedid", 368, 317, 399, 45, false, true, true},
      {"BotFormulaOrfan", "Excluir Fórmulas Orfãs", 859, 267, 230, 45, true, false, true},
      {"BotFormulaOrfanArqQM", "Arq. Morto", 1090, 267, 127, 45, true, false, false},
  };
  Shell p;
  int commandButtons = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto* b = dynamic_cast<TButton*>(p.form.findControl(r.name));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->caption, cp(r.caption));
    EXPECT_EQ(b->parent, &p.form.PainelConsistG);
    EXPECT_EQ((std::vector<int>{b->left, b->top, b->width, b->height}),
              (std::vector<int>{r.left, r.top, r.width, r.height}));
    EXPECT_EQ(b->enabled, r.enabled);
    EXPECT_EQ(b->visible, r.visible);
    EXPECT_EQ(b->tabStop, r.visible);
    EXPECT_EQ(b->glyph, r.glyph);
    EXPECT_EQ(b->isCancel, std::string(r.name) == "BotSair");
    EXPECT_FALSE(b->isDefault);
    EXPECT_EQ(b->hint.empty(), std::string(r.name) != "BitBtn2");
    if (std::string(r.name) == "BotSair") {
      EXPECT_EQ(b->font.name, "Arial Black");
      EXPECT_EQ(b->font.height, 16);
      EXPECT_EQ(b->font.color, clRed);
    } else {
      EXPECT_EQ(b->font.name, "Arial");
      EXPECT_EQ(b->font.height, 13);
      EXPECT_EQ(b->font.color, clNavy);
    }
    EXPECT_TRUE(b->font.bold);
    ++commandButtons;
  }
  EXPECT_EQ(commandButtons, 15);
  EXPECT_EQ(p.form.BitBtn2.hint,
            cp("Colocar em CODIGOCOMP de COMPEDID o código atual da tabela de COMPONENTES"));
  // Byte for byte in code page 1252.
  EXPECT_EQ(p.form.BitBtn1.caption, "Corrigir Nomes das F\xF3rmulas");
}

TEST_F(FormTest, WindowAndPanelsAreCreatedHiddenWithTheirTexts) {
  Shell p;
  TFormConsistGeral& f = p.form;
  EXPECT_EQ(f.caption, "Consist\xEAncia Geral BD - \"em desenvolvimento\"");
  EXPECT_EQ(f.width, 800);
  EXPECT_EQ(f.height, 580);
  EXPECT_EQ(f.PainelConsistG.align, Align::Client);
  EXPECT_EQ(f.PainelConsistG.color, clBtnFace);

  for (const char* name : {"PainelCG", "PainelAguarde", "PainelFormatCliAntigo", "PainelFormatCliNovo",
                           "PainelFormatMedAntigo", "PainelFormatMedNovo", "PainelCorrigComponentes"}) {
    TControl* c = f.findControl(name);
    ASSERT_NE(c, nullptr) << name;
    EXPECT_FALSE(c->visible) << name;
    EXPECT_TRUE(c->loweredBevel) << name;
    EXPECT_EQ(c->parent, &f.PainelConsistG) << name;
  }

  // Progress panel.
  EXPECT_EQ(f.Panel36.caption, cp("Consistência Geral do Sistema"));
  EXPECT_EQ(f.Panel36.align, Align::Top);
  EXPECT_EQ(f.Panel36.height, 26);
  EXPECT_EQ(f.Panel36.color, clNavy);
  EXPECT_EQ(f.Panel36.font.color, clWhite);
  EXPECT_EQ(f.Label111.caption, "Aguarde...");
  EXPECT_EQ(f.Label111.font.color, clMaroon);
  EXPECT_EQ(f.Label111.font.height, 16);
  EXPECT_EQ((std::vector<int>{f.Label111.left, f.Label111.top}), (std::vector<int>{190, 44}));
  EXPECT_EQ(
      (std::vector<int>{f.NomeConsist.left, f.NomeConsist.top, f.NomeConsist.width, f.NomeConsist.height}),
      (std::vector<int>{10, 74, 444, 19}));
  EXPECT_TRUE(f.NomeConsist.centered);
  EXPECT_EQ(f.NomeConsist.font.color, clNavy);
  EXPECT_EQ((std::vector<int>{f.TermCG.left, f.TermCG.top, f.TermCG.width, f.TermCG.height}),
            (std::vector<int>{25, 95, 413, 25}));
  EXPECT_EQ((std::vector<int>{f.TermCG.minValue(), f.TermCG.maxValue(), f.TermCG.progress()}),
            (std::vector<int>{0, 100, 0}));

  // Wait panel.
  EXPECT_EQ(f.PainelAguarde.color, 12040119);
  EXPECT_EQ(f.PainelAguarde.caption, "Aguarde ...");
  EXPECT_EQ(f.PainelAguarde.font.name, "Arial Narrow");
  EXPECT_EQ(f.PainelAguarde.font.height, 21);
  EXPECT_EQ(f.PainelAguarde.font.color, clNavy);

  // Reviews: the same texts for clients and doctors.
  for (auto [title, cancel, label] : {std::tuple{&f.Panel24, &f.BotCancelFormatCli, &f.Label2},
                                      std::tuple{&f.Panel2, &f.BotCancelFormatMed, &f.Label1}}) {
    EXPECT_EQ(title->caption, "Formato Original");
    EXPECT_EQ(cancel->caption, "Manter Formato Original");
    EXPECT_TRUE(cancel->isCancel);
    EXPECT_TRUE(cancel->isDefault);
    EXPECT_EQ(cancel->font.color, clMaroon);
    EXPECT_EQ(label->caption, cp("Cancela a alteração do formato "));
  }
  for (auto [title, confirm, label] : {std::tuple{&f.Panel76, &f.BotConfirmaFormatCli, &f.Label361},
                                       std::tuple{&f.Panel5, &f.BotConfirmaFormatMed, &f.Label3}}) {
    EXPECT_EQ(title->caption, "Formato Novo");
    EXPECT_EQ(confirm->caption, "Confirmar novo Formato");
    EXPECT_TRUE(confirm->isDefault);
    EXPECT_FALSE(confirm->isCancel);
    EXPECT_EQ(confirm->font.color, clNavy);
    EXPECT_EQ(label->caption, "Substitui o formato original pelo novo");
  }
  for (TGrid* g : {&f.GradeCliAntigos, &f.GradeCliNovos, &f.GradeMedAntigos, &f.GradeMedNovos}) {
    EXPECT_EQ(g->column, "Nome");
    EXPECT_TRUE(g->readOnly);
    EXPECT_TRUE(g->rowSelect);
  }
  EXPECT_EQ(f.GradeCliAntigos.dataSet, &f.Clientes);
  EXPECT_EQ(f.GradeCliNovos.dataSet, &f.Clientes_I);
  EXPECT_EQ(f.GradeMedAntigos.dataSet, &f.Medicos);
  EXPECT_EQ(f.GradeMedNovos.dataSet, &f.Medicos_I);
  EXPECT_EQ(f.GradeCliNovos.dataSourceName, "DSClientes_I");

  // Component correction options.
  EXPECT_EQ(f.Panel3.caption, "O que Deseja Fazer ?");
  struct Bounds {
    TControl* c;
    const char* caption;
    int l, t, w, h;
  };
  for (const Bounds& b :
       {Bounds{&f.GroupBox2, "", 24, 41, 334, 105},
        Bounds{&f.RadioButton3, "Corrigir Nomes Fora do Padrão", 23, 32, 281, 17},
        Bounds{&f.RadioButton4, "Corrigir Unidades do Cad. Componentes", 23, 55, 281, 17},
        Bounds{&f.RadioButton1, "Definir desconto máximo padrão", 23, 78, 267, 17},
        Bounds{&f.Edit1, "", 254, 76, 32, 21}, Bounds{&f.Label4, "%", 290, 80, 10, 13},
        Bounds{&f.BitBtn4, "&Cancelar", 23, 152, 163, 27}, Bounds{&f.BitBtn3, "&OK", 188, 152, 169, 27}}) {
    SCOPED_TRACE(b.c->name);
    EXPECT_EQ(b.c->caption, cp(b.caption));
    EXPECT_EQ((std::vector<int>{b.c->left, b.c->top, b.c->width, b.c->height}),
              (std::vector<int>{b.l, b.t, b.w, b.h}));
  }
  EXPECT_EQ(f.RadioButton3.parent, &f.GroupBox2);
  EXPECT_FALSE(f.RadioButton3.checked || f.RadioButton4.checked || f.RadioButton1.checked);
  EXPECT_TRUE(f.Edit1.text.empty());
  EXPECT_TRUE(f.BitBtn4.isCancel);
  EXPECT_TRUE(f.BitBtn3.isDefault);
  EXPECT_EQ(f.BitBtn4.font.color, clRed);
  EXPECT_EQ(f.BitBtn3.font.color, clNavy);

  EXPECT_EQ(f.Timer1.interval, 30000);
  EXPECT_FALSE(f.Timer1.enabled());
}

TEST_F(FormTest, EveryComponentIsListedOnceAfterItsParentInComponentOrder) {
  Shell p;
  TFormConsistGeral& f = p.form;
  const std::vector<TControl*>& all = f.controls();
  ASSERT_EQ(all.size(), 52u);
  std::vector<std::string> buttons, panels, handled;
  for (std::size_t i = 0; i < all.size(); ++i) {
    TControl* c = all[i];
    SCOPED_TRACE(c->name);
    // Found by its name, and no other component has it.
    EXPECT_EQ(f.findControl(c->name), c);
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [c](TControl* o) { return o->name == c->name; }), 1);
    // The views build a parent's widget before its children's.
    if (i == 0) {
      EXPECT_EQ(c, &f.PainelConsistG);
      EXPECT_EQ(c->parent, nullptr);
    } else {
      EXPECT_NE(std::find(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(i), c->parent),
                all.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (c->kind == ControlKind::Button) {
      buttons.push_back(c->name);
      if (static_cast<TButton*>(c)->onClick) handled.push_back(c->name);
    }
    if (c->kind == ControlKind::Panel && c->name.rfind("Painel", 0) == 0) panels.push_back(c->name);
    if (c->kind == ControlKind::Edit && static_cast<TEdit*>(c)->onEnter) handled.push_back(c->name);
  }
  // The order of the runner's state record.
  const std::vector<std::string> stateButtons = {"BotSair",
                                                 "BotCorrecaoComp",
                                                 "BitBtn6",
                                                 "BitBtn1",
                                                 "BotCorrigeCadMed",
                                                 "BotAjusta",
                                                 "BotAbreviaNomeCli",
                                                 "BotAcertaGrupoSinon",
                                                 "BotAbreviaNomeMed",
                                                 "BitBtn5",
                                                 "btn1",
                                                 "BitBtn7",
                                                 "BitBtn2",
                                                 "BotFormulaOrfan",
                                                 "BotFormulaOrfanArqQM",
                                                 "BotCancelFormatCli",
                                                 "BotConfirmaFormatCli",
                                                 "BotCancelFormatMed",
                                                 "BotConfirmaFormatMed",
                                                 "BitBtn4",
                                                 "BitBtn3"};
  EXPECT_EQ(buttons, stateButtons);
  EXPECT_EQ(panels,
            (std::vector<std::string>{"PainelConsistG", "PainelCG", "PainelAguarde", "PainelFormatCliAntigo",
                                      "PainelFormatCliNovo", "PainelFormatMedAntigo", "PainelFormatMedNovo",
                                      "PainelCorrigComponentes"}));
  // Every button answers a click, and the edit box the focus.
  std::vector<std::string> expectHandled = stateButtons;
  expectHandled.insert(expectHandled.end() - 2, "Edit1");
  EXPECT_EQ(handled, expectHandled);
}

TEST_F(FormTest, EndingTheProgramClosesWhatItOpenedAndOnlyItsOwnMarker) {
  // A program that never activated wrote no marker: another module's stays.
  writeMarkerAged(5);
  const std::string other = markerContent();
  { Shell p; }
  EXPECT_EQ(markerContent(), other);

  std::filesystem::remove(markerFile());
  {
    Shell p;
    p.activate();
    ASSERT_TRUE(markerExists());
    TFormConsistGeral& f = p.form;
    f.Config.open();
    f.Config.edit();
    f.Config.setInteger("CorFundo", 1);
  }
  // The window closed (its marker deleted), the pending edit was dropped,
  // and no lock is left on the table.
  EXPECT_FALSE(markerExists());
  Session session("Outra");
  Table config("Config", "Outra");
  config.setDatabaseName("C:\\VITRALON");
  config.setTableName("Config");
  config.open();
  EXPECT_EQ(config.asInteger("CorFundo"), 12345);
  config.edit();
  config.setInteger("CorFundo", 54321);
  EXPECT_NO_THROW(config.post());
  config.close();
}

TEST_F(FormTest, TableObjectsStartClosedWithTheirBindings) {
  Shell p;
  TFormConsistGeral& f = p.form;
  struct Binding {
    Table* t;
    const char* db;
    const char* table;
    const char* index;
  };
  const Binding bindings[] = {
      {&f.Fonte, "", "", ""},
      {&f.Destino, "", "", ""},
      {&f.Pedidos, "C:\\VITRALON\\DADOS", "Pedidos", ""},
      {&f.PediForm, "C:\\VITRALON\\DADOS", "Pediform", ""},
      {&f.Compedid, "C:\\VITRALON\\DADOS", "Compedid", ""},
      {&f.Componentes, "C:\\VITRALON\\DADOS", "Componen", ""},
      {&f.Compras, "C:\\VITRALON\\DADOS", "COMPRAS.DB", ""},
      {&f.Config, "C:\\VITRALON", "Config", ""},
      {&f.Clientes, "C:\\VITRALON\\DADOS", "Clientes.DB", ""},
      {&f.Clientes_I, "VTRNINTER", "Clientes.DB", "Nome"},
      {&f.Medicos, "C:\\VITRALON\\DADOS", "Medicos.DB", ""},
      {&f.Medicos_I, "VTRNINTER", "Medicos.DB", ""},
      {&f.Pedidos_d, "VTRNARQM", "pedidos.DB", ""},
      {&f.PediForm_d, "VTRNARQM", "pediform.DB", ""},
      {&f.Compedid_d, "VTRNARQM", "Compedid.DB", ""},
  };
  ASSERT_EQ(f.tables().size(), std::size(bindings));
  for (const Binding& b : bindings) {
    SCOPED_TRACE(b.t->name());
    EXPECT_FALSE(b.t->active());
    EXPECT_EQ(b.t->databaseName(), b.db);
    EXPECT_EQ(b.t->tableName(), b.table);
    EXPECT_EQ(b.t->indexName(), b.index);
  }
  EXPECT_EQ(f.Clientes.indexFieldNames(), "Estacao;Codigo");
  EXPECT_EQ(f.Query1.databaseName(), "C:\\VITRALON\\DADOS");
  // The after-post handlers are wired where posts must reach the disk at once.
  for (Table* t : {&f.Fonte, &f.Pedidos, &f.PediForm, &f.Compedid, &f.Componentes, &f.Config})
    EXPECT_TRUE(static_cast<bool>(t->afterPost)) << t->name();
  for (Table* t : {&f.Destino, &f.Compras, &f.Clientes, &f.Clientes_I, &f.Medicos, &f.Medicos_I})
    EXPECT_FALSE(static_cast<bool>(t->afterPost)) << t->name();
  EXPECT_TRUE(static_cast<bool>(f.Clientes_I.afterScroll));
  EXPECT_TRUE(static_cast<bool>(f.Medicos_I.afterScroll));
}

TEST_F(FormTest, GatingSwitchesElevenCommandsInOrder) {
  Shell p;
  TFormConsistGeral& f = p.form;
  std::vector<std::string> names;
  for (TButton* b : f.gatedCommands()) names.push_back(b->name);
  EXPECT_EQ(names, (std::vector<std::string>{"BotFormulaOrfan", "BotCorrecaoComp", "BotAjusta", "BotSair",
                                             "BotCorrigeCadMed", "BotAbreviaNomeCli", "BotAbreviaNomeMed",
                                             "BotAcertaGrupoSinon", "BitBtn5", "BitBtn1", "btn1"}));
  f.DesabilitaComandos();
  EXPECT_TRUE(f.commandsGated());
  for (TButton* b : f.gatedCommands()) EXPECT_FALSE(b->enabled) << b->name;
  EXPECT_TRUE(f.BitBtn7.enabled);
  EXPECT_TRUE(f.BotFormulaOrfanArqQM.enabled);

  f.HabilitaComandos();
  EXPECT_FALSE(f.commandsGated());
  for (TButton* b : f.gatedCommands()) EXPECT_TRUE(b->enabled) << b->name;
  EXPECT_FALSE(f.BotFormulaOrfan.visible);  // enabled, still hidden
  EXPECT_FALSE(f.BitBtn2.enabled);
  EXPECT_FALSE(f.BitBtn6.enabled);
}

TEST_F(FormTest, EscapeAndEnterGoToTheButtonThatAnswersThem) {
  Shell p;
  TFormConsistGeral& f = p.form;
  EXPECT_EQ(f.cancelButton(), &f.BotSair);
  EXPECT_EQ(f.defaultButton(), nullptr);

  f.DesabilitaComandos();
  EXPECT_EQ(f.cancelButton(), nullptr);  // not while an operation runs

  f.PainelCorrigComponentes.visible = true;
  EXPECT_EQ(f.cancelButton(), &f.BitBtn4);
  EXPECT_EQ(f.defaultButton(), &f.BitBtn3);
  f.PainelCorrigComponentes.visible = false;

  f.PainelFormatMedAntigo.visible = f.PainelFormatMedNovo.visible = true;
  EXPECT_EQ(f.cancelButton(), &f.BotCancelFormatMed);
  f.BotCancelFormatMed.enabled = false;  // while the question is open
  EXPECT_EQ(f.cancelButton(), nullptr);

  // A disabled button ignores a click; the window stays open.
  EXPECT_FALSE(f.click(f.BotSair));
  EXPECT_FALSE(f.closed());
  // Enabled but under the open review, it ignores the click as well, as
  // does every command the review covers; the review's own buttons answer.
  f.HabilitaComandos();
  f.BotCancelFormatMed.enabled = true;
  for (TButton* covered : {&f.BotSair, &f.BitBtn7, &f.BotFormulaOrfan, &f.BotHistorico}) {
    EXPECT_TRUE(f.covered(*covered)) << covered->name;
    EXPECT_FALSE(f.takesInput(*covered)) << covered->name;
    EXPECT_FALSE(f.click(*covered)) << covered->name;
  }
  EXPECT_FALSE(f.covered(f.BotCancelFormatMed));
  EXPECT_FALSE(f.covered(f.GradeMedNovos));
  EXPECT_FALSE(f.closed());
  f.PainelFormatMedAntigo.visible = f.PainelFormatMedNovo.visible = false;
  EXPECT_TRUE(f.click(f.BotSair));
  EXPECT_TRUE(f.closed());
}

TEST(Gauge, ClampsAndRepaintsOnlyWhenTheShownPercentageChanges) {
  TGauge g("TermCG", nullptr);
  int repaints = 0, steps = 0;
  g.onRepaint = [&] { ++repaints; };
  g.onStep = [&] { ++steps; };
  struct Step {
    const char* what;
    char op;  // n: min, x: max, p: position
    int value;
    int min, max, position, percent, repaints;
  };
  const Step steps_[] = {
      {"start max 200", 'x', 200, 0, 200, 0, 0, 1},
      {"1 of 200 is 0%", 'p', 1, 0, 200, 1, 0, 1},
      {"2 of 200 is 1%", 'p', 2, 0, 200, 2, 1, 2},
      {"3 of 200 stays 1%", 'p', 3, 0, 200, 3, 1, 2},
      {"same max, no repaint", 'x', 200, 0, 200, 3, 1, 2},
      {"past the max clamps", 'p', 500, 0, 200, 200, 100, 3},
      {"below the min clamps", 'p', -7, 0, 200, 0, 0, 4},
      {"199 of 200 truncates", 'p', 199, 0, 200, 199, 99, 5},
      {"max below position lowers it", 'x', 50, 0, 50, 50, 100, 6},
      {"min above position raises it", 'n', 60, 60, 50, 60, 0, 7},
      {"max == min shows 0", 'x', 60, 60, 60, 60, 0, 8},
      {"empty walk: max 0", 'n', 0, 0, 60, 60, 100, 9},
      {"max 0 lowers position", 'x', 0, 0, 0, 0, 0, 10},
      {"position on an empty gauge", 'p', 1, 0, 0, 0, 0, 10},
  };
  for (const Step& s : steps_) {
    SCOPED_TRACE(s.what);
    if (s.op == 'n') g.setMinValue(s.value);
    if (s.op == 'x') g.setMaxValue(s.value);
    if (s.op == 'p') g.setProgress(s.value);
    EXPECT_EQ(g.minValue(), s.min);
    EXPECT_EQ(g.maxValue(), s.max);
    EXPECT_EQ(g.progress(), s.position);
    EXPECT_EQ(g.percentDone(), s.percent);
    EXPECT_EQ(g.text(), std::to_string(s.percent) + "%");
    EXPECT_EQ(repaints, s.repaints);
  }
  EXPECT_EQ(steps, 7);  // every position change reaches the step hook

  TGauge big("big", nullptr);
  big.setMaxValue(30000000);
  big.setProgress(29999999);
  EXPECT_EQ(big.percentDone(), 99);  // no overflow on long walks
}

TEST_F(FormTest, ProgressPanelCaptionAndStep) {
  Shell p;
  TFormConsistGeral& f = p.form;
  const long before = p.ui.repaints();
  f.MostraPainelCG(85, 126, 464, 185);
  EXPECT_TRUE(f.PainelCG.visible);
  EXPECT_EQ((std::vector<int>{f.PainelCG.left, f.PainelCG.top, f.PainelCG.width, f.PainelCG.height}),
            (std::vector<int>{85, 126, 464, 185}));
  f.SetNomeConsist(cp("Corrigindo Unidades"));
  EXPECT_EQ(f.NomeConsist.caption, "Corrigindo Unidades");
  EXPECT_EQ(p.ui.repaints(), before + 2);

  // A counter set to 1 before a walk of 3 reaches the end one record early
  // and stays there.
  f.TermCG.setMaxValue(3);
  f.ContadorProgresso = 1;
  const long afterSetup = p.ui.repaints();
  std::vector<int> seen;
  for (int i = 0; i < 3; ++i) {
    f.AvancaProgresso();
    seen.push_back(f.TermCG.progress());
  }
  EXPECT_EQ(seen, (std::vector<int>{2, 3, 3}));
  EXPECT_EQ(f.ContadorProgresso, 4);
  EXPECT_EQ(p.ui.repaints(), afterSetup + 2);  // 66% and 100%; the last step changes nothing
}

// The time label shows from 3 s on; its text is made again once a second
// and when the estimate comes or goes, not at every step of a long walk.
TEST_F(FormTest, TheTimeLabelShowsAfterThreeSecondsAndChangesOnceASecond) {
  Shell p;
  TFormConsistGeral& f = p.form;
  f.MostraPainelCG(80, 85, 465, 152);
  f.TermCG.setMaxValue(1000);
  f.ContadorProgresso = 0;
  f.AvancaProgresso();
  EXPECT_FALSE(f.LabelTempo.visible);
  Clock::advanceMs(3500);
  f.AvancaProgresso();  // 2 of 1000 in 3.5 s: 998 more take 1746.5 s
  EXPECT_TRUE(f.LabelTempo.visible);
  EXPECT_EQ(f.LabelTempo.caption, "Decorrido: 0:03\rRestante: cerca de 29:06");
  for (int i = 0; i < 98; ++i) f.AvancaProgresso();
  EXPECT_EQ(f.LabelTempo.caption, "Decorrido: 0:03\rRestante: cerca de 29:06");
  Clock::advanceMs(500);
  f.AvancaProgresso();  // 101 in 4 s: 899 more take 35.6 s
  EXPECT_EQ(f.LabelTempo.caption, "Decorrido: 0:04\rRestante: cerca de 0:35");
  f.ContadorProgresso = 999;
  f.AvancaProgresso();
  EXPECT_EQ(f.LabelTempo.caption, "Decorrido: 0:04");
  // A new pass sets the gauge back: the estimate starts again.
  f.TermCG.setProgress(0);
  EXPECT_EQ(f.LabelTempo.caption, "Decorrido: 0:04");
  Clock::advanceMs(1000);
  f.TermCG.setProgress(500);
  EXPECT_EQ(f.LabelTempo.caption, "Decorrido: 0:05\rRestante: cerca de 0:01");
}

TEST_F(FormTest, LongWalkRewritesTheMarkerEveryThirtySeconds) {
  Shell p;
  p.activate();
  ASSERT_TRUE(p.form.Timer1.enabled());
  const std::string first = markerContent();
  p.form.TermCG.setMaxValue(1000);
  p.form.ContadorProgresso = 0;

  Clock::advanceMs(29000);
  p.form.AvancaProgresso();
  EXPECT_EQ(markerContent(), first);

  Clock::advanceMs(1000);
  p.form.TermCG.setProgress(p.form.TermCG.progress() + 1);  // an operation's own step
  const std::string second = markerContent();
  ASSERT_GE(second.size(), 2u);
  EXPECT_EQ(second.substr(second.size() - 2), "\r\n");
  const double secondsOff = (Clock::now() - StrToDateTime(second.substr(0, second.size() - 2))) * 86400.0;
  EXPECT_GE(secondsOff, 0.0);
  EXPECT_LT(secondsOff, 2.0);
  EXPECT_NE(second, first);
  // The tick is re-armed from the rewrite, 30 s later.
  EXPECT_GE(p.form.Timer1.dueMs(), Clock::nowMs() + 29000);
  EXPECT_TRUE(p.form.Timer1.enabled());
  EXPECT_TRUE(p.lines().empty());
}

TEST_F(FormTest, AStoppedOperationLeavesTheWindowInOrder) {
  Shell p;
  p.activate();
  TFormConsistGeral& f = p.form;
  f.runHandler([&] {
    f.DesabilitaComandos();
    f.MostraPainelCG(80, 85, 465, 152);
    f.SetNomeConsist("Verificando");
    f.PainelAguarde.visible = true;
    f.PainelFormatCliAntigo.visible = f.PainelFormatCliNovo.visible = true;
    f.BotConfirmaFormatCli.enabled = false;
    f.Fonte.setDatabaseName("C:\\VITRALON");
    f.Fonte.setTableName("Config");
    f.Fonte.open();
    f.Config.open();
    f.Config.edit();
    f.Config.setInteger("CorFundo", 1);
    throw EInOutError("Falha de teste \xE0 vista");
  });
  EXPECT_EQ(p.lines(),
            (std::vector<std::string>{
                "{\"event\":\"error\",\"class\":\"EInOutError\",\"text\":\"Falha de teste à vista\"}"}));
  for (TControl* c : {&f.PainelCG, &f.PainelAguarde, &f.PainelFormatCliAntigo, &f.PainelFormatCliNovo})
    EXPECT_FALSE(c->visible) << c->name;
  for (TButton* b : f.gatedCommands()) EXPECT_TRUE(b->enabled) << b->name;
  EXPECT_TRUE(f.BotConfirmaFormatCli.enabled);
  EXPECT_FALSE(f.BitBtn2.enabled);
  EXPECT_FALSE(f.commandsGated());
  for (Table* t : f.tables()) EXPECT_FALSE(t->active()) << t->name();
  // The pending edit was dropped, and Fonte can be bound again.
  f.Config.open();
  EXPECT_EQ(f.Config.asInteger("CorFundo"), 12345);
  f.Config.close();
  EXPECT_NO_THROW(f.Fonte.setTableName("Outra"));
  EXPECT_EQ(f.cancelButton(), &f.BotSair);
}

TEST_F(FormTest, AFailureThatGatedNothingEnablesNothing) {
  Shell p;
  p.activate();
  TFormConsistGeral& f = p.form;
  f.runHandler([] { throw std::runtime_error("sem classe"); });
  EXPECT_EQ(
      p.lines(),
      (std::vector<std::string>{"{\"event\":\"error\",\"class\":\"Exception\",\"text\":\"sem classe\"}"}));
  EXPECT_FALSE(f.BotAjusta.enabled);
  EXPECT_FALSE(f.BitBtn2.enabled);
  EXPECT_TRUE(f.BotSair.enabled);
}

TEST_F(FormTest, AHandlerFailingInsideAnOperationDoesNotStopIt) {
  Shell p;
  p.activate();
  TFormConsistGeral& f = p.form;
  bool panelShownAfterInnerError = false;
  f.runHandler([&] {
    f.DesabilitaComandos();
    f.MostraPainelCG(80, 85, 465, 152);
    // A click let through by the operation's event dispatch fails.
    f.runHandler([] { throw EConvertError("interna"); });
    panelShownAfterInnerError = f.PainelCG.visible && f.commandsGated();
    f.PainelCG.visible = false;
    f.HabilitaComandos();
  });
  EXPECT_TRUE(panelShownAfterInnerError);
  EXPECT_EQ(p.lines().size(), 1u);
  EXPECT_TRUE(f.BotSair.enabled);
}

TEST_F(FormTest, ClosingDeletesTheMarkerAndEndsEventDelivery) {
  Shell p;
  p.activate();
  EXPECT_TRUE(markerExists());
  p.form.Close();
  EXPECT_TRUE(p.form.closed());
  EXPECT_FALSE(markerExists());
  EXPECT_FALSE(p.form.Timer1.enabled());
  EXPECT_FALSE(p.form.click(p.form.BitBtn7));
  EXPECT_EQ(p.form.CorFundo, 12345);
  EXPECT_EQ(p.form.PainelConsistG.color, 12345);
}

// A panel over the commands takes the focus and every click; after a
// command the focus rests where Enter starts nothing.
TEST_F(FormTest, AnOpenPanelTakesTheFocusAndTheCommandsUnderItStartNothing) {
  Shell p;
  TFormConsistGeral& f = p.form;
  p.activate();
  f.BotCorrecaoComp.enabled = true;
  f.focus(f.BitBtn7);
  ASSERT_TRUE(f.click(f.BotCorrecaoComp));
  ASSERT_TRUE(f.PainelCorrigComponentes.showing()) << p.out.str();
  EXPECT_EQ(f.focusedControl(), &f.RadioButton3);
  // The supplier CNPJ cleaning is enabled but covered: neither a click nor
  // the simulation box reaches it.
  EXPECT_TRUE(f.BitBtn7.enabled);
  EXPECT_FALSE(f.click(f.BitBtn7));
  EXPECT_FALSE(f.setSimulation(true));
  EXPECT_FALSE(f.simulationMode());
  EXPECT_EQ(f.defaultButton(), &f.BitBtn3);
  EXPECT_TRUE(f.takesInput(f.BitBtn4));
  // Cancel closes the panel: the focus goes to the history's button, where
  // Enter runs no command, and nothing covers the commands any more.
  ASSERT_TRUE(f.click(f.BitBtn4));
  EXPECT_EQ(f.focusedControl(), &f.BotHistorico);
  EXPECT_EQ(f.defaultButton(), nullptr);
  EXPECT_FALSE(f.covered(f.BitBtn7));
  EXPECT_TRUE(f.takesInput(f.BitBtn7));
}

TEST_F(FormTest, RadioButtonsExcludeEachOtherAndTheBoxSelectsTheDiscount) {
  Shell p;
  TFormConsistGeral& f = p.form;
  f.check(f.RadioButton3);
  f.check(f.RadioButton4);
  EXPECT_FALSE(f.RadioButton3.checked);
  EXPECT_TRUE(f.RadioButton4.checked);
  f.focus(f.Edit1);
  EXPECT_EQ(f.focusedControl(), &f.Edit1);
  EXPECT_TRUE(f.RadioButton1.checked);
  EXPECT_FALSE(f.RadioButton4.checked);
  EXPECT_TRUE(p.lines().empty());
}

TEST_F(FormTest, AFailedHeartbeatIsReportedOnceAndStopsTheHeartbeat) {
  Shell p;
  p.activate();
  TFormConsistGeral& f = p.form;
  f.MostraPainelCG(80, 85, 465, 152);
  std::filesystem::remove_all(DriveC::resolve("C:\\VITRALON"));
  p.program.passTime(31000);
  ASSERT_EQ(p.lines().size(), 1u);
  EXPECT_EQ(p.lines()[0].rfind("{\"event\":\"error\",\"class\":\"EInOutError\",", 0), 0u) << p.lines()[0];
  EXPECT_FALSE(f.Timer1.enabled());
  EXPECT_TRUE(f.PainelCG.visible);  // a tick concerns the marker only
  p.program.passTime(120000);
  EXPECT_EQ(p.lines().size(), 1u);
}

TEST_F(FormTest, AFailedRewriteDuringAWalkDoesNotStopTheWalk) {
  Shell p;
  p.activate();
  TFormConsistGeral& f = p.form;
  f.TermCG.setMaxValue(10);
  f.ContadorProgresso = 0;
  std::filesystem::remove_all(DriveC::resolve("C:\\VITRALON"));
  Clock::advanceMs(31000);
  EXPECT_NO_THROW(f.AvancaProgresso());
  EXPECT_EQ(f.TermCG.progress(), 1);
  ASSERT_EQ(p.lines().size(), 1u);
  EXPECT_EQ(p.lines()[0].rfind("{\"event\":\"error\",\"class\":\"EInOutError\",", 0), 0u);
  EXPECT_FALSE(f.Timer1.enabled());
  Clock::advanceMs(31000);
  f.AvancaProgresso();
  EXPECT_EQ(p.lines().size(), 1u);  // no second attempt
}
