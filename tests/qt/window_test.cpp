// The real Qt window on the offscreen platform: what it shows of the form,
// the keys it delivers, the configured colour, the gauge and a grid.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "app/qt/look.h"
#include "app/qt/main_window.h"
#include "app/qt/widgets.h"
#include "app/shell_fixture.h"

using namespace cg;
using shelltest::ShellTest;

namespace {

// One application for the whole binary, made on first use and destroyed
// when the tests end, before the exit handlers tear Qt's own globals down.
QApplication* g_app = nullptr;

class QtEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    delete g_app;
    g_app = nullptr;
  }
};
[[maybe_unused]] auto* const g_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QApplication& application() {
  static int argc = 1;
  static char name[] = "test_app";
  static char* argv[] = {name, nullptr};
  if (!g_app) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    g_app = new QApplication(argc, argv);
  }
  return *g_app;
}

void press(QWidget& w, int key) {
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(&w, &down);
}

}  // namespace

class QtWindowTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    application();
  }
};

TEST_F(QtWindowTest, ButtonsShowTheFormsCaptionsPlacesAndStates) {
  qt::WindowProgram p(/*interactive=*/false);
  p.start();
  EXPECT_EQ(p.window().windowTitle(), QString::fromUtf8("Consistência Geral BD - \"em desenvolvimento\""));
  struct Row {
    const char* name;
    const char* text;
    QRect place;
    bool enabled, shown, icon;
  };
  const Row rows[] = {
      {"BotSair", "Sair", {658, 21, 109, 45}, true, true, true},
      {"BotCorrecaoComp", "Corrigir  Cad.  Componentes", {28, 87, 339, 45}, false, true, true},
      {"BitBtn1", "Corrigir Nomes das Fórmulas", {28, 133, 339, 45}, false, true, true},
      {"BotAbreviaNomeMed", "Abreviar Nomes Médicos", {368, 225, 399, 45}, false, true, true},
      {"btn1", "Abreviar Nomes nos Pedidos", {368, 271, 399, 45}, false, true, false},
      {"BitBtn7", "Retirar caract. \". . / -\" do CNPJ em Forneced", {28, 317, 339, 45}, true, true, true},
      {"BitBtn2", "Corrigir CODIGOCOMP em Compedid", {368, 317, 399, 45}, false, true, true},
      {"BotFormulaOrfan", "Excluir Fórmulas Orfãs", {859, 267, 230, 45}, true, false, true},
      {"BotFormulaOrfanArqQM", "Arq. Morto", {1090, 267, 127, 45}, true, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto* b = qobject_cast<QPushButton*>(p.window().widgetFor(r.name));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->text(), QString::fromUtf8(r.text));
    EXPECT_EQ(b->geometry(), r.place);
    EXPECT_EQ(b->isEnabled(), r.enabled);
    EXPECT_EQ(b->isVisibleTo(&p.window()), r.shown);
    EXPECT_EQ(b->icon().isNull(), !r.icon);
  }
  auto* bitBtn2 = p.window().widgetFor("BitBtn2");
  EXPECT_EQ(bitBtn2->toolTip(),
            QString::fromUtf8("Colocar em CODIGOCOMP de COMPEDID o código atual da tabela de COMPONENTES"));
  auto* sair = p.window().widgetFor("BotSair");
  EXPECT_EQ(sair->font().family(), "Liberation Sans");
  EXPECT_EQ(sair->font().pixelSize(), 16);
  EXPECT_EQ(sair->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
  EXPECT_EQ(p.window().widgetFor("BitBtn7")->palette().color(QPalette::ButtonText), QColor(0, 0, 128));
  for (const char* panel : {"PainelCG", "PainelAguarde", "PainelFormatCliAntigo", "PainelCorrigComponentes"})
    EXPECT_FALSE(p.window().widgetFor(panel)->isVisibleTo(&p.window())) << panel;
  EXPECT_EQ(p.window().widgetFor("PainelConsistG")->geometry(), p.window().rect());
}

TEST_F(QtWindowTest, MainPanelTakesTheConfiguredColour) {
  qt::WindowProgram p(false);
  QWidget* panel = p.window().widgetFor("PainelConsistG");
  EXPECT_EQ(panel->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));
  p.start();
  // 12345 is 00 30 39: blue 0, green 0x30, red 0x39.
  EXPECT_EQ(panel->palette().color(QPalette::Window), QColor(0x39, 0x30, 0x00));

  const QPalette pal = QApplication::palette();
  EXPECT_EQ(qt::colourOf(0, pal), QColor(0, 0, 0));
  EXPECT_EQ(qt::colourOf(0x0000FF, pal), QColor(255, 0, 0));
  EXPECT_EQ(qt::colourOf(0x800000, pal), QColor(0, 0, 128));
  EXPECT_EQ(qt::colourOf(12040119, pal), QColor(183, 183, 183));
  EXPECT_EQ(qt::colourOf(clBtnFace, pal), pal.color(QPalette::Button));
  EXPECT_EQ(qt::colourOf(clWindow, pal), pal.color(QPalette::Base));
  EXPECT_EQ(qt::colourOf(clWindowText, pal), pal.color(QPalette::Text));
  EXPECT_EQ(p.window().widgetFor("PainelAguarde")->palette().color(QPalette::Window), QColor(183, 183, 183));
}

TEST_F(QtWindowTest, EscapeClosesOnlyWhileSairIsEnabled) {
  qt::WindowProgram p(false);
  p.start();
  ASSERT_TRUE(p.window().isVisible());
  ASSERT_TRUE(markerExists());

  p.form().DesabilitaComandos();
  p.window().syncAll();
  EXPECT_FALSE(p.window().widgetFor("BotSair")->isEnabled());
  press(p.window(), Qt::Key_Escape);
  EXPECT_FALSE(p.form().closed());
  EXPECT_TRUE(p.window().isVisible());

  p.form().HabilitaComandos();
  p.window().syncAll();
  press(p.window(), Qt::Key_Escape);
  EXPECT_TRUE(p.form().closed());
  EXPECT_FALSE(p.window().isVisible());
  EXPECT_FALSE(markerExists());
}

TEST_F(QtWindowTest, ClosingByTheFrameRunsFormClose) {
  qt::WindowProgram p(false);
  p.start();
  ASSERT_TRUE(markerExists());
  p.window().close();
  EXPECT_TRUE(p.form().closed());
  EXPECT_FALSE(markerExists());
}

TEST_F(QtWindowTest, ProgressPanelAndGaugePaintAtOnce) {
  qt::WindowProgram p(false);
  p.start();
  TFormConsistGeral& f = p.form();
  f.MostraPainelCG(80, 85, 465, 152);
  QWidget* panel = p.window().widgetFor("PainelCG");
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->geometry(), QRect(80, 85, 465, 152));
  f.SetNomeConsist("Corrigindo Unidades");
  EXPECT_EQ(qobject_cast<QLabel*>(p.window().widgetFor("NomeConsist"))->text(), "Corrigindo Unidades");
  EXPECT_EQ(p.window().widgetFor("Panel36")->geometry().width(), panel->contentsRect().width());

  auto* gauge = static_cast<qt::GaugeWidget*>(p.window().widgetFor("TermCG"));
  f.TermCG.setMaxValue(200);
  f.ContadorProgresso = 0;
  const int before = gauge->paints();
  f.AvancaProgresso();  // 0%: no paint
  EXPECT_EQ(gauge->paints(), before);
  f.AvancaProgresso();  // 1%: painted before the operation goes on
  EXPECT_EQ(gauge->paints(), before + 1);
  EXPECT_EQ(gauge->grab().size(), QSize(413, 25));
}

TEST_F(QtWindowTest, RadioButtonsAndTheEditBoxReachTheForm) {
  qt::WindowProgram p(false);
  p.start();
  TFormConsistGeral& f = p.form();
  f.PainelCorrigComponentes.visible = true;
  p.window().syncAll();
  auto* r4 = qobject_cast<QRadioButton*>(p.window().widgetFor("RadioButton4"));
  ASSERT_NE(r4, nullptr);
  r4->click();
  EXPECT_TRUE(f.RadioButton4.checked);
  EXPECT_EQ(r4->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(r4->geometry(), QRect(23, 55, 281, 17));
  // Enter goes to "&OK", Escape to "&Cancelar", while the panel is open.
  EXPECT_EQ(f.defaultButton(), &f.BitBtn3);
  EXPECT_EQ(f.cancelButton(), &f.BitBtn4);
  // The form unchecking every option shows on the widgets as well.
  f.RadioButton4.checked = false;
  p.window().syncAll();
  EXPECT_FALSE(r4->isChecked());
}

TEST_F(QtWindowTest, GridsListTheirTableAndMoveItsCursor) {
  TableDef def;
  def.fields = {
      {"Estacao", FieldType::Alpha, 3}, {"Codigo", FieldType::LongInt, 0}, {"Nome", FieldType::Alpha, 60}};
  def.primaryKey = {"Estacao", "Codigo"};
  DriveC::resolveDir("C:\\VITRALON\\DADOS");
  Session::createTable("C:\\VITRALON\\DADOS", "Clientes", def);
  qt::WindowProgram p(false);
  p.start();
  TFormConsistGeral& f = p.form();
  f.Clientes.open();
  const char* names[] = {"ANA", "JOÃO", "MARIA"};
  for (int i = 0; i < 3; ++i) {
    f.Clientes.append();
    f.Clientes.setString("Estacao", "01");
    f.Clientes.setInteger("Codigo", i + 1);
    f.Clientes.setString("Nome", fromUtf8(names[i]));
    f.Clientes.post();
  }
  f.Clientes.first();
  f.PainelFormatCliAntigo.visible = true;
  p.window().syncAll();
  auto* view = qobject_cast<QTableView*>(p.window().widgetFor("GradeCliAntigos"));
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->model()->rowCount(), 3);
  EXPECT_EQ(view->model()->data(view->model()->index(1, 0)).toString(), QString::fromUtf8("JOÃO"));
  EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(), "Nome");
  view->setCurrentIndex(view->model()->index(2, 0));
  EXPECT_EQ(f.Clientes.recNo(), 3);
  EXPECT_EQ(f.Clientes.asString("Nome"), "MARIA");
  f.Clientes.close();
}
