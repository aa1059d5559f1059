// The real Qt window on the offscreen platform: what it shows of the form,
// the keys it delivers, the configured colour, the gauge and a grid; what it
// draws while an operation runs; a review done by keyboard alone.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "app/qt/look.h"
#include "app/qt/main_window.h"
#include "app/qt/widgets.h"
#include "app/shell_fixture.h"
#include "sample/sample.h"

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

void press(QWidget& w, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent down(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(&w, &down);
}

// A control's place in window coordinates.
QRect placeInWindow(qt::MainWindow& window, const char* name) {
  QWidget* w = window.widgetFor(name);
  return QRect(w->mapTo(&window, QPoint(0, 0)), w->size());
}

bool navy(QRgb c) { return qRed(c) == 0 && qGreen(c) == 0 && qBlue(c) == 128; }

// Pixels of a bright red caption (BotSair's, while it is enabled).
int redPixels(const QImage& image, const QRect& area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QRgb c = image.pixel(x, y);
      if (qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80) ++n;
    }
  return n;
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

// The title bar shows the program's icon: the one of dist/, built into the
// program, drawn at the sizes a window manager asks for; message boxes
// without a parent show it too.
TEST_F(QtWindowTest, TheWindowShowsTheProgramsIcon) {
  qt::WindowProgram p(false);
  const QIcon icon = p.window().windowIcon();
  ASSERT_FALSE(icon.isNull());
  const QIcon fromTree(QString::fromUtf8(CG_SOURCE_DIR "/dist/consistgeral.svg"));
  for (int size : {16, 32, 64}) {
    const QImage drawn = icon.pixmap(size, size).toImage();
    ASSERT_EQ(drawn.size(), QSize(size, size));
    EXPECT_EQ(drawn, fromTree.pixmap(size, size).toImage()) << size;
    int bluePixels = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const QRgb c = drawn.pixel(x, y);
        bluePixels += qAlpha(c) == 255 && qBlue(c) > qRed(c) + 60;
      }
    EXPECT_GT(bluePixels, size * size / 8) << size;  // the cylinder, not a blank square
  }
  EXPECT_EQ(QApplication::windowIcon().pixmap(32, 32).toImage(), icon.pixmap(32, 32).toImage());
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

// The small sample installation on a drive C of its own.
class QtSampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clock::reset();
    application();
    DriveC::setRoot(dir_.path());
  }
  void TearDown() override { Clock::reset(); }
  testsupport::TempDir dir_;
};

// A run that lets no events through is drawn as the form stands at every
// gauge step: the option panel it hid is gone, the progress panel has its
// title bar, the commands it disabled look disabled.
TEST_F(QtSampleTest, ComponentNameRunIsDrawnAsTheFormStandsAtEveryGaugeStep) {
  CreateSample("small", false);
  qt::WindowProgram p(false);
  p.start();
  TFormConsistGeral& f = p.form();
  f.HabilitaComandos();  // as after an operation that ends with it
  p.window().syncAll();
  qt::MainWindow& w = p.window();
  const QRect sair = placeInWindow(w, "BotSair");
  ASSERT_GT(redPixels(w.grab().toImage(), sair), 20);  // enabled: red caption

  qobject_cast<QPushButton*>(w.widgetFor("BotCorrecaoComp"))->click();
  ASSERT_TRUE(w.widgetFor("PainelCorrigComponentes")->isVisible());
  const QRect options = placeInWindow(w, "Panel3");
  const QImage before = w.grab().toImage();
  // The option panel's title bar, above the place of the progress panel.
  const QPoint optionTitle(options.left() + 10, options.top() + 5);
  ASSERT_TRUE(navy(before.pixel(optionTitle)));
  qobject_cast<QRadioButton*>(w.widgetFor("RadioButton3"))->click();

  QImage during;
  int steps = 0;
  bool optionPanelShown = true, abreviaEnabled = true;
  auto heartbeat = f.TermCG.onStep;
  f.TermCG.onStep = [&] {
    if (heartbeat) heartbeat();
    if (++steps != 3) return;
    during = w.grab().toImage();
    optionPanelShown = w.widgetFor("PainelCorrigComponentes")->isVisible();
    abreviaEnabled = w.widgetFor("BotAbreviaNomeCli")->isEnabled();
  };
  qobject_cast<QPushButton*>(w.widgetFor("BitBtn3"))->click();
  f.TermCG.onStep = heartbeat;
  ASSERT_GE(steps, 3);
  ASSERT_FALSE(during.isNull());
  EXPECT_FALSE(optionPanelShown);
  EXPECT_FALSE(abreviaEnabled);
  EXPECT_FALSE(navy(during.pixel(optionTitle)));
  EXPECT_EQ(QColor(during.pixel(optionTitle)),
            w.widgetFor("PainelConsistG")->palette().color(QPalette::Window));
  const QRect title = placeInWindow(w, "Panel36");
  ASSERT_EQ(title.topLeft(), QPoint(86, 127));
  for (const QPoint& at :
       {QPoint(title.left() + 6, title.center().y()), QPoint(title.right() - 6, title.top() + 4),
        QPoint(title.left() + 30, title.bottom() - 4)})
    EXPECT_TRUE(navy(during.pixel(at))) << at.x() << "," << at.y();
  EXPECT_EQ(redPixels(during, sair), 0);  // disabled: the style's grey caption
}

// A review from its start to its confirmation by keyboard alone: the focus on
// the new names, Tab and Shift+Tab out of the grid, Enter on the focused
// button, the question with "Sim" and "Não" (Alt+S, Alt+N); after No the
// review is no longer drawn behind the closing message. Below the review,
// what the confirmation does.
TEST_F(QtSampleTest, ReviewByKeyboardAlone) {
  CreateLocalSample(SampleSizeFor("small"), 20261207);
  qt::WindowProgram p(/*interactive=*/true);
  p.start();
  TFormConsistGeral& f = p.form();
  qt::MainWindow& w = p.window();
  f.HabilitaComandos();
  w.syncAll();
  // The run disables the commands itself: they look disabled at once.
  const QRect sair = placeInWindow(w, "BotSair");
  ASSERT_GT(redPixels(w.grab().toImage(), sair), 20);
  int steps = 0, redWhileRunning = -1;
  auto heartbeat = f.TermCG.onStep;
  f.TermCG.onStep = [&] {
    if (heartbeat) heartbeat();
    if (++steps == 3) redWhileRunning = redPixels(w.grab().toImage(), sair);
  };
  qobject_cast<QPushButton*>(w.widgetFor("BotAbreviaNomeCli"))->click();
  f.TermCG.onStep = heartbeat;
  EXPECT_EQ(redWhileRunning, 0);
  ASSERT_TRUE(f.PainelFormatCliNovo.visible);
  QWidget* grid = w.widgetFor("GradeCliNovos");
  QWidget* confirm = w.widgetFor("BotConfirmaFormatCli");
  EXPECT_EQ(w.focusWidget(), grid);

  const int live = f.Clientes.recordCount();
  const int interim = f.Clientes_I.recordCount();
  ASSERT_GT(live, interim);  // the sample has clients that merge
  auto* summary = w.findChild<QLabel*>("ResumoRevisao");
  ASSERT_NE(summary, nullptr);
  EXPECT_TRUE(summary->isVisible());
  const QLocale br(QLocale::Portuguese, QLocale::Brazil);
  EXPECT_EQ(summary->text(),
            QString::fromUtf8("Ao confirmar, o novo formato (%1 registros) substitui o atual (%2 "
                              "registros); %3 registros repetidos (mesmo nome abreviado e mesmo "
                              "telefone) foram unidos a outros.")
                .arg(br.toString(interim), br.toString(live), br.toString(live - interim)));

  press(*grid, Qt::Key_Tab);
  EXPECT_EQ(w.focusWidget(), confirm);
  EXPECT_EQ(f.Clientes_I.recNo(), 1);  // Tab did not move between rows
  press(*confirm, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(w.focusWidget(), grid);
  press(*grid, Qt::Key_Tab);

  // The two boxes, answered by keys as they come up.
  QStringList seen;
  QImage behindClosing;
  QTimer answer;
  answer.setInterval(10);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen << box->text();
    if (QAbstractButton* no = box->button(QMessageBox::No)) {
      QAbstractButton* yes = box->button(QMessageBox::Yes);
      seen << yes->text() << no->text();
      EXPECT_EQ(yes->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));
      EXPECT_EQ(no->shortcut(), QKeySequence(Qt::ALT | Qt::Key_N));
      no->setFocus();
      press(*no, Qt::Key_Return);
    } else {
      behindClosing = w.grab().toImage();
      press(*box->button(QMessageBox::Ok), Qt::Key_Return);
    }
  });
  answer.start();
  press(*confirm, Qt::Key_Return);  // Enter on the focused button clicks it
  answer.stop();
  EXPECT_EQ(seen,
            QStringList({QString::fromUtf8("Confirma a substituição do formato original pelo novo formato ?"),
                         "&Sim", QString::fromUtf8("&Não"), "Procedimento concluido."}));
  ASSERT_FALSE(behindClosing.isNull());
  // Behind "Procedimento concluido." the review is gone: no navy title bar
  // where "Formato Novo" stood.
  EXPECT_FALSE(navy(behindClosing.pixel(314 + 20, 68 + 8)));
  EXPECT_FALSE(f.PainelFormatCliNovo.visible);
  EXPECT_FALSE(summary->isVisible());
  Session s("Conta");
  Table copy("Copia");
  copy.setDatabaseName("VTRNINTER");
  copy.setTableName("Clientes.DB");
  copy.open();
  EXPECT_EQ(copy.recordCount(), interim);  // No replaced nothing and kept the copy
  copy.close();
}

// A confirmation whose command file fails: the window's message says how it
// ended and shows the start of its error output, as the runner's does.
TEST_F(QtSampleTest, AFailingCommandFileShowsItsErrorOutputInTheMessage) {
  CreateLocalSample(SampleSizeFor("small"), 20261207);
  std::ofstream(DriveC::resolve("C:\\VITRALON\\FormatCli.bat"), std::ios::trunc)
      << "#!/bin/sh\necho copiando\necho 'FormatCli.bat: 1: sqlite3: not found' >&2\nexit 127\n";
  qt::WindowProgram p(/*interactive=*/true);
  p.start();
  TFormConsistGeral& f = p.form();
  qt::MainWindow& w = p.window();
  f.HabilitaComandos();
  w.syncAll();
  qobject_cast<QPushButton*>(w.widgetFor("BotAbreviaNomeCli"))->click();
  ASSERT_TRUE(f.PainelFormatCliNovo.visible);

  QStringList seen;
  QTimer answer;
  answer.setInterval(10);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen << box->text();
    box->button(box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok)->click();
  });
  answer.start();
  qobject_cast<QPushButton*>(w.widgetFor("BotConfirmaFormatCli"))->click();
  answer.stop();
  EXPECT_EQ(seen,
            QStringList({QString::fromUtf8("Confirma a substituição do formato original pelo novo formato ?"),
                         QString::fromUtf8("A substituição do formato original pelo novo falhou: o arquivo "
                                           "de comandos C:\\VITRALON\\FormatCli.bat terminou com o código "
                                           "127.\nO formato original foi mantido.\nSaída de erro do arquivo "
                                           "de comandos:\nFormatCli.bat: 1: sqlite3: not found")}));
  EXPECT_FALSE(f.PainelFormatCliNovo.visible);
}

TEST_F(QtWindowTest, KeyboardAndTextsAsOnWindows) {
  qt::WindowProgram p(false);
  p.start();
  TFormConsistGeral& f = p.form();
  qt::MainWindow& w = p.window();

  // Going through the option panel by Tab does not enter the percentage box
  // (which would choose "Definir desconto máximo padrão") until that option
  // is chosen; a click still enters it.
  f.HabilitaComandos();
  w.syncAll();
  qobject_cast<QPushButton*>(w.widgetFor("BotCorrecaoComp"))->click();
  qobject_cast<QRadioButton*>(w.widgetFor("RadioButton3"))->click();
  QWidget* edit = w.widgetFor("Edit1");
  EXPECT_FALSE(edit->focusPolicy() & Qt::TabFocus);
  EXPECT_TRUE(edit->focusPolicy() & Qt::ClickFocus);
  qobject_cast<QRadioButton*>(w.widgetFor("RadioButton1"))->click();
  EXPECT_TRUE(edit->focusPolicy() & Qt::TabFocus);
  EXPECT_FALSE(qobject_cast<QTableView*>(w.widgetFor("GradeCliNovos"))->tabKeyNavigation());

  // The edit box's context menu is Portuguese (Qt's pt_BR translations).
  std::unique_ptr<QMenu> menu(qobject_cast<QLineEdit*>(edit)->createStandardContextMenu());
  QStringList texts;
  for (QAction* a : menu->actions())
    if (!a->isSeparator()) texts << a->text().remove('&').section('\t', 0, 0);
  EXPECT_EQ(texts, QStringList(
                       {"Desfazer", "Refazer", "Recortar", "Copiar", "Colar", "Excluir", "Selecionar tudo"}));

  // Enter on the focused "&Cancelar" clicks it (not "&OK", the default).
  QWidget* cancel = w.widgetFor("BitBtn4");
  cancel->setFocus();
  press(*cancel, Qt::Key_Return);
  EXPECT_FALSE(f.PainelCorrigComponentes.visible);
  EXPECT_FALSE(f.commandsGated());
  // And on the focused "Sair" it closes the window.
  QWidget* sair = w.widgetFor("BotSair");
  sair->setFocus();
  press(*sair, Qt::Key_Enter);
  EXPECT_TRUE(f.closed());
}

TEST_F(QtSampleTest, AStartWithNoInstallationSaysHowToCreateTheSample) {
  testing::internal::CaptureStderr();
  {
    qt::WindowProgram p(false);
    p.start();
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Em_Uso.txt"), std::string::npos) << err;  // the start's own message first
  const std::string how = "consistgeral --drive-c '" + dir_.path().string() + "' --create-sample";
  EXPECT_NE(err.find(how), std::string::npos) << err;
  EXPECT_LT(err.find("Em_Uso.txt"), err.find(how));
}

// "Histórico" sits in the free strip below the commands, clear of every
// command (the technicians' too, where they show) and of the line under a
// review; its panel lists the run of a command, and Escape closes it.
TEST_F(QtWindowTest, HistoryButtonSitsInTheFreeStripAndItsPanelListsTheRunsUntilEscape) {
  qt::WindowProgram p(/*interactive=*/false, /*technician=*/true);
  p.start();
  qt::MainWindow& w = p.window();
  TFormConsistGeral& f = p.form();
  auto* history = qobject_cast<QPushButton*>(w.widgetFor("BotHistorico"));
  ASSERT_NE(history, nullptr);
  EXPECT_EQ(history->text(), QString::fromUtf8("Histórico"));
  EXPECT_TRUE(history->isVisibleTo(&w));
  EXPECT_TRUE(history->isEnabled());
  EXPECT_EQ(history->parentWidget(), w.widgetFor("PainelConsistG"));
  const QRect place = history->geometry();
  EXPECT_TRUE(w.widgetFor("PainelConsistG")->rect().contains(place));
  for (TControl* c : f.controls()) {
    if (c->parent != &f.PainelConsistG || c->kind != ControlKind::Button) continue;
    const QRect command = w.widgetFor(c->name)->geometry();
    EXPECT_GT(place.top(), command.bottom()) << c->name;  // below every command
  }
  EXPECT_FALSE(place.intersects(w.findChild<QLabel*>("ResumoRevisao")->geometry()));

  // A command is a run (this one stops at once: the installation has no
  // server database), and the panel lists it.
  history->setFocus();
  qobject_cast<QPushButton*>(w.widgetFor("BitBtn7"))->click();
  history->click();
  QWidget* panel = w.widgetFor("PainelHistorico");
  EXPECT_TRUE(panel->isVisibleTo(&w));
  // The panel covers the strip's own controls: at the Simular box's place
  // the panel (its Fechar button) is what shows and takes the clicks.
  {
    QWidget* box = w.widgetFor("CheckSimular");
    QWidget* parent = box->parentWidget();
    QWidget* shown = parent->childAt(box->geometry().center());
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown == panel || panel->isAncestorOf(shown)) << shown->objectName().toStdString();
  }
  auto* runs = qobject_cast<QListWidget*>(w.widgetFor("ListaExecucoes"));
  ASSERT_NE(runs, nullptr);
  ASSERT_EQ(runs->count(), 1);
  EXPECT_TRUE(runs->item(0)->text().startsWith(
      QString::fromUtf8("1 - %1 - Retirar caract. \". . / -\" do CNPJ em Forneced - parada por erro: ")
          .arg(qt::qtext(f.historyRuns().at(0).started))))
      << runs->item(0)->text().toStdString();
  EXPECT_EQ(runs->currentRow(), 0);
  auto* changes = qobject_cast<QListWidget*>(w.widgetFor("ListaAlteracoes"));
  ASSERT_EQ(changes->count(), 1);
  EXPECT_EQ(changes->item(0)->text(), QString::fromUtf8("Nenhum registro foi alterado nesta execução."));
  EXPECT_FALSE(w.widgetFor("BotDesfazer")->isEnabled());  // nothing to undo
  EXPECT_TRUE(w.widgetFor("BotRelatorio")->isEnabled());

  // Enter reaches no button under the panel; Escape, from within the list,
  // closes the panel.
  press(*runs, Qt::Key_Return);
  EXPECT_TRUE(f.PainelHistorico.visible);
  EXPECT_FALSE(f.closed());
  press(*runs, Qt::Key_Escape);
  EXPECT_FALSE(panel->isVisibleTo(&w));
  EXPECT_FALSE(f.PainelHistorico.visible);
  EXPECT_FALSE(f.closed());  // the window's own Escape (Sair) did not answer
  EXPECT_TRUE(history->isEnabled());
}

namespace {

// Every table file of the sample's data folder, as bytes.
std::map<std::string, std::string> dataFiles(const std::filesystem::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(root / "VITRALON" / "DADOS")) {
    if (e.path().extension() != ".DB") continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    out[e.path().filename().string()] = bytes.str();
  }
  return out;
}

}  // namespace

// "Simular" beside "Histórico": checking it first says what a simulation
// holds; a command then runs as a simulation, the caption saying so and the
// box unusable meanwhile; nothing reaches the table files; the history marks
// the run and offers no undo of it.
TEST_F(QtSampleTest, SimularRunsACommandAsASimulationShownInTheCaptionAndTheHistory) {
  CreateSample("small", false);
  const auto before = dataFiles(dir_.path());
  auto p = std::make_unique<qt::WindowProgram>(/*interactive=*/false, /*technician=*/true);
  p->start();
  qt::MainWindow& w = p->window();
  TFormConsistGeral& f = p->form();
  auto* box = qobject_cast<QCheckBox*>(w.widgetFor("CheckSimular"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "Simular");
  EXPECT_EQ(box->parentWidget(), w.widgetFor("PainelConsistG"));
  EXPECT_TRUE(box->isVisibleTo(&w));
  QWidget* history = w.widgetFor("BotHistorico");
  EXPECT_FALSE(box->geometry().intersects(history->geometry()));
  EXPECT_FALSE(box->geometry().intersects(w.findChild<QLabel*>("ResumoRevisao")->geometry()));
  for (TControl* c : f.controls()) {
    if (c->parent == &f.PainelConsistG && c->kind == ControlKind::Button) {
      EXPECT_GT(box->geometry().top(), w.widgetFor(c->name)->geometry().bottom()) << c->name;
    }
  }

  testing::internal::CaptureStderr();
  box->click();
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("mantém o bloqueio de gravação das tabelas em que grava"), std::string::npos)
      << warning;
  EXPECT_TRUE(f.simulationMode());
  const QString caption = w.windowTitle();

  QString during;
  bool boxUsable = true;
  auto heartbeat = f.TermCG.onStep;
  f.TermCG.onStep = [&] {
    if (heartbeat) heartbeat();
    if (!during.isEmpty()) return;
    during = w.windowTitle();
    boxUsable = box->isEnabled();
  };
  qobject_cast<QPushButton*>(w.widgetFor("BotFormulaOrfan"))->click();
  f.TermCG.onStep = heartbeat;
  EXPECT_EQ(during, caption + QString::fromUtf8(" - SIMULAÇÃO"));
  EXPECT_FALSE(boxUsable);
  EXPECT_EQ(w.windowTitle(), caption);
  EXPECT_TRUE(box->isEnabled());
  EXPECT_TRUE(box->isChecked());

  qobject_cast<QPushButton*>(history)->click();
  auto* runs = qobject_cast<QListWidget*>(w.widgetFor("ListaExecucoes"));
  ASSERT_EQ(runs->count(), 1);
  ASSERT_EQ(f.historyRuns().size(), 1u);
  EXPECT_GT(f.historyRuns()[0].total(), 0);
  EXPECT_TRUE(runs->item(0)->text().endsWith(QString::fromUtf8(" (simulação)")))
      << runs->item(0)->text().toStdString();
  EXPECT_FALSE(w.widgetFor("BotDesfazer")->isEnabled());
  EXPECT_TRUE(w.widgetFor("BotRelatorio")->isEnabled());
  // Once the program has closed its files (a real run's changes would be
  // in them by now), every table file is as before.
  p.reset();
  EXPECT_TRUE(dataFiles(dir_.path()) == before) << "a simulation wrote to a table file";
}
