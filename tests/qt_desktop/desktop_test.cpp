// The window on a desktop scaled by 1.5 (QT_SCALE_FACTOR, set before the
// application starts, for the whole binary): its place within the available
// screen, message box titles, one command at a time by mouse and keyboard
// while the order names let events through, and the names screen readers
// get.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <filesystem>

#include "app/qt/main_window.h"
#include "platform/clock.h"
#include "platform/drive.h"
#include "sample/sample.h"
#include "support/temp_dir.h"

namespace cg {
namespace {

QApplication& application() {
  static int argc = 1;
  static char name[] = "test_qt_desktop";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "1.5");
    return new QApplication(argc, argv);
  }();
  return *app;
}

void key(QWidget& w, int k) {
  QKeyEvent down(QEvent::KeyPress, k, Qt::NoModifier, k == Qt::Key_Space ? " " : "");
  QKeyEvent up(QEvent::KeyRelease, k, Qt::NoModifier, k == Qt::Key_Space ? " " : "");
  QApplication::sendEvent(&w, &down);
  QApplication::sendEvent(&w, &up);
}

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    application();
    Clock::reset();
    DriveC::setRoot(dir_.path() / "c");
    CreateSample("small", false);
  }
  testsupport::TempDir dir_;
};

TEST_F(DesktopTest, WindowStaysWithinTheAvailableScreenAndMessageTitlesFit) {
  qt::WindowProgram p(/*interactive=*/false);
  p.start();
  QScreen* screen = p.window().screen();
  ASSERT_NE(screen, nullptr);
  const QRect area = screen->availableGeometry();
  // 800 x 600 device pixels are 533 x 400 at this scale: smaller than the
  // window's 800 x 580, which takes the whole area rather than leaving it.
  ASSERT_LT(area.height(), 580);
  EXPECT_TRUE(area.contains(p.window().frameGeometry()))
      << p.window().frameGeometry().x() << "," << p.window().frameGeometry().y();
  EXPECT_EQ(p.window().frameGeometry().size(),
            QSize(std::min(800, area.width()), std::min(580, area.height())));

  // A message box as wide as its title needs, beyond the text it holds.
  qt::QtInterface ui(/*interactive=*/true);
  int width = 0, titleWidth = 0, textWidth = 0;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    width = box->width();
    titleWidth =
        QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(box->windowTitle());
    textWidth = box->fontMetrics().horizontalAdvance("OK");
    box->accept();
  });
  ui.showMessage("OK");
  EXPECT_GT(titleWidth, textWidth);
  EXPECT_GE(width, titleWidth + 60);
}

TEST_F(DesktopTest, NoOtherCommandStartsWhileTheOrderNamesRunAndInterromperStopsThem) {
  qt::WindowProgram p(/*interactive=*/false);
  p.start();
  TFormConsistGeral& f = p.form();
  f.HabilitaComandos();
  p.window().syncAll();
  int cnpjRuns = 0;
  const auto cnpj = f.BitBtn7.onClick;
  f.BitBtn7.onClick = [&] {
    ++cnpjRuns;
    cnpj();
  };
  auto* bitBtn7 = qobject_cast<QPushButton*>(p.window().widgetFor("BitBtn7"));
  auto* abrevia = qobject_cast<QPushButton*>(p.window().widgetFor("BotAbreviaNomeCli"));
  auto* stop = qobject_cast<QPushButton*>(p.window().widgetFor("BotInterromper"));
  ASSERT_TRUE(bitBtn7 && abrevia && stop);
  EXPECT_FALSE(stop->isVisible());

  // Inside the first pause of the walk: Space on the focused CNPJ command, a
  // click on a gated one, Escape and Enter on the window, the frame's close
  // (answered No here); then "Interromper".
  bool stopShown = false, stayed = false;
  QTimer::singleShot(0, [&] {
    bitBtn7->setFocus();
    key(*bitBtn7, Qt::Key_Space);
    abrevia->click();
    key(p.window(), Qt::Key_Escape);
    key(p.window(), Qt::Key_Return);
    p.window().close();
    stayed = p.window().isVisible() && !f.closed();
    stopShown = stop->isVisible() && stop->isEnabled() && stop->text() == "Interromper";
    stop->click();
  });
  p.window().widgetFor("btn1")->setFocus();
  qobject_cast<QPushButton*>(p.window().widgetFor("btn1"))->click();

  EXPECT_EQ(cnpjRuns, 0);
  EXPECT_TRUE(stopShown);
  EXPECT_TRUE(stayed);
  EXPECT_FALSE(f.closed());
  EXPECT_FALSE(f.PainelFormatCliAntigo.visible);        // the client review never started
  EXPECT_LT(f.TermCG.progress(), f.TermCG.maxValue());  // stopped early
  EXPECT_GE(f.TermCG.progress(), 1);
  EXPECT_FALSE(stop->isVisible());
  EXPECT_TRUE(std::filesystem::exists(DriveC::resolve("C:\\VITRALON\\Em_Uso.txt")));

  // Idle again: the same key runs the command.
  bitBtn7->setFocus();
  key(*bitBtn7, Qt::Key_Space);
  EXPECT_EQ(cnpjRuns, 1);
}

TEST_F(DesktopTest, ControlsWithoutACaptionHaveAccessibleNamesAndTheGaugeItsValue) {
  qt::WindowProgram p(/*interactive=*/false);
  p.start();
  for (const char* name : {"Edit1", "GradeCliAntigos", "GradeCliNovos", "GradeMedAntigos", "GradeMedNovos"})
    EXPECT_FALSE(p.window().widgetFor(name)->accessibleName().isEmpty()) << name;
  EXPECT_EQ(p.window().widgetFor("Edit1")->accessibleName(), QString::fromUtf8("Desconto máximo padrão (%)"));

  p.form().TermCG.setMaxValue(200);
  p.form().TermCG.setProgress(50);
  QAccessibleInterface* gauge = QAccessible::queryAccessibleInterface(p.window().widgetFor("TermCG"));
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(gauge->text(QAccessible::Name), "Progresso");
  EXPECT_EQ(gauge->role(), QAccessible::ProgressBar);
  EXPECT_EQ(gauge->text(QAccessible::Value), "25%");
  QAccessibleValueInterface* value = gauge->valueInterface();
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->currentValue().toInt(), 50);
  EXPECT_EQ(value->maximumValue().toInt(), 200);
}

}  // namespace
}  // namespace cg
