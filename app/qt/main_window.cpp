#include "app/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <cstdio>
#include <sstream>

#include "app/qt/desktop.h"
#include "app/qt/look.h"
#include "app/qt/widgets.h"
#include "data/engine/engine.h"
#include "platform/cp1252.h"
#include "platform/process.h"

namespace cg::qt {
namespace {

QString title() { return QStringLiteral("Consistência Geral BD"); }

void toStderr(const char* kind, const std::string& text) {
  std::string t = toUtf8(text);
  for (char& c : t)
    if (c == '\r') c = '\n';
  std::fprintf(stderr, "[%s] %s\n", kind, t.c_str());
}

}  // namespace

// ---- The port ------------------------------------------------------------------

void QtInterface::showMessage(const std::string& text) {
  if (!interactive_) return toStderr("mensagem", text);
  QMessageBox box(QMessageBox::NoIcon, title(), qtext(text), QMessageBox::Ok, window_);
  FitTitle(box);
  box.exec();
}

bool QtInterface::confirm(const std::string& text) {
  if (!interactive_) {
    toStderr("pergunta, respondida Não", text);
    return false;
  }
  QMessageBox box(QMessageBox::Information, QStringLiteral("Informação"), qtext(text),
                  QMessageBox::Yes | QMessageBox::No, window_);
  box.setDefaultButton(QMessageBox::Yes);
  FitTitle(box);
  return box.exec() == QMessageBox::Yes;
}

void QtInterface::showError(const Exception& error) {
  if (!interactive_) return toStderr(error.className(), error.message());
  QMessageBox box(QMessageBox::Critical, title(), qtext(error.message()), QMessageBox::Ok, window_);
  FitTitle(box);
  box.exec();
}

void QtInterface::repaint(const std::string& component) {
  if (window_) window_->repaintControl(component);
}

void QtInterface::processMessages() {
  // What the operation changed since its last repaint shows now, as pending
  // paints are handled with the other events.
  if (window_) window_->syncAll();
  QCoreApplication::processEvents();
}

void QtInterface::startProcess(const std::string& commandLine) { StartProcess(commandLine); }

// ---- The window ----------------------------------------------------------------

MainWindow::MainWindow(Program& program, QtInterface& ui)
    : program_(program), form_(program.form()), ui_(ui) {
  ui_.attach(this);
  setWindowTitle(qtext(form_.caption));
  resize(form_.width, form_.height);
  build();
  NameControls(*this, form_);
  syncAll();
  heartbeat_.setInterval(250);
  connect(&heartbeat_, &QTimer::timeout, this, [this] { pollHeartbeat(); });
}

MainWindow::~MainWindow() { ui_.attach(nullptr); }

QWidget* MainWindow::widgetFor(const std::string& name) const {
  const TControl* c = form_.findControl(name);
  if (!c) return nullptr;
  auto it = widgets_.find(c);
  return it == widgets_.end() ? nullptr : it->second;
}

void MainWindow::build() {
  for (TControl* c : form_.allControls()) {
    QWidget* parent = c->parent ? widgets_.at(c->parent) : this;
    QWidget* w = nullptr;
    switch (c->kind) {
      case ControlKind::Panel: {
        auto* panel = new QLabel(parent);
        panel->setAutoFillBackground(true);
        panel->setFrameStyle(c->loweredBevel ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
        panel->setAlignment(Qt::AlignCenter);
        w = panel;
        break;
      }
      case ControlKind::Label: {
        auto* label = new QLabel(parent);
        label->setAlignment(c->centered ? Qt::AlignHCenter | Qt::AlignTop : Qt::AlignLeft | Qt::AlignTop);
        w = label;
        break;
      }
      case ControlKind::Button: {
        auto* b = static_cast<TButton*>(c);
        auto* button = new QPushButton(parent);
        if (b->glyph) {
          QStyle::StandardPixmap icon = QStyle::SP_DialogApplyButton;
          if (b == &form_.BotSair)
            icon = QStyle::SP_DialogCloseButton;
          else if (b == &form_.BitBtn4)
            icon = QStyle::SP_DialogCancelButton;
          else if (b == &form_.BitBtn3)
            icon = QStyle::SP_DialogOkButton;
          else if (b == &form_.BotFormulaOrfan)
            icon = QStyle::SP_TrashIcon;
          button->setIcon(style()->standardIcon(icon));
        }
        if (!b->hint.empty()) button->setToolTip(qtext(b->hint));
        if (!b->tabStop) button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, [this, b] { deliver([this, b] { form_.click(*b); }); });
        w = button;
        break;
      }
      case ControlKind::Gauge:
        w = new GaugeWidget(static_cast<TGauge&>(*c), parent);
        break;
      case ControlKind::Grid: {
        auto* g = static_cast<TGrid*>(c);
        auto* view = new QTableView(parent);
        auto* model = new TableModel(*g, view);
        view->setModel(model);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->horizontalHeader()->setStretchLastSection(true);
        view->verticalHeader()->setDefaultSectionSize(18);
        view->verticalHeader()->setFixedWidth(12);
        models_[c] = model;
        connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                [this, g](const QModelIndex& current) {
                  if (syncing_ || !current.isValid()) return;
                  deliver([this, g, row = current.row()] { program_.selectRow(*g, row + 1); });
                });
        w = view;
        break;
      }
      case ControlKind::RadioButton: {
        auto* r = static_cast<TRadioButton*>(c);
        auto* radio = new QRadioButton(parent);
        if (r->handCursor) radio->setCursor(Qt::PointingHandCursor);
        connect(radio, &QRadioButton::clicked, this, [this, r] { deliver([this, r] { form_.check(*r); }); });
        w = radio;
        break;
      }
      case ControlKind::Edit: {
        auto* e = static_cast<TEdit*>(c);
        auto* edit = new QLineEdit(parent);
        connect(edit, &QLineEdit::textEdited, this, [e](const QString& text) { e->text = fromQ(text); });
        edit->installEventFilter(this);
        focusTargets_[edit] = c;
        w = edit;
        break;
      }
      case ControlKind::GroupBox:
        w = new QGroupBox(parent);
        break;
    }
    // Other widgets taking the focus move it away from the edit box, so that
    // entering the box again fires its event again.
    if (c->kind == ControlKind::Button || c->kind == ControlKind::RadioButton ||
        c->kind == ControlKind::Grid) {
      w->installEventFilter(this);
      focusTargets_[w] = c;
    }
    w->setObjectName(QString::fromStdString(c->name));
    widgets_[c] = w;
  }
}

void MainWindow::place(const TControl& c) {
  QWidget* w = widgets_.at(&c);
  QRect r(c.left, c.top, c.width, c.height);
  QWidget* parent = w->parentWidget();
  const QRect area = parent == this ? rect() : parent->contentsRect();
  if (c.align == Align::Client)
    r = area;
  else if (c.align == Align::Top)
    r = QRect(area.left(), area.top(), area.width(), c.height);
  w->setGeometry(r);
}

// Everything of a component that its widget shows; a widget whose component
// has not changed since the last copy is left alone, so that operations that
// let events through after every record stay fast.
std::string MainWindow::signature(const TControl& c) const {
  std::ostringstream s;
  s << c.visible << c.enabled << '|' << c.caption << '|' << c.font.name << ',' << c.font.height << ','
    << c.font.bold << ',' << c.font.color << '|' << c.color;
  switch (c.kind) {
    case ControlKind::RadioButton:
      s << '|' << static_cast<const TRadioButton&>(c).checked;
      break;
    case ControlKind::Edit:
      s << '|' << static_cast<const TEdit&>(c).text;
      break;
    case ControlKind::Gauge: {
      const auto& g = static_cast<const TGauge&>(c);
      s << '|' << g.minValue() << ',' << g.maxValue() << ',' << g.progress();
      break;
    }
    case ControlKind::Grid: {
      Table* t = static_cast<const TGrid&>(c).dataSet;
      try {
        if (t && t->active()) s << "|open," << t->recordCount();
      } catch (const std::exception&) {
        s << "|failed";
      }
      break;
    }
    default:
      break;
  }
  return s.str();
}

void MainWindow::sync(const TControl& c) {
  QWidget* w = widgets_.at(&c);
  place(c);  // always: an aligned child follows its parent's size
  std::string sig = signature(c);
  std::string& last = applied_[&c];
  if (sig != last) {
    last = std::move(sig);
    apply(c);
  }
  if (c.kind == ControlKind::Grid) {
    // The grid's selection follows the table's cursor.
    auto* view = static_cast<QTableView*>(w);
    TableModel* model = models_.at(&c);
    const int row = model->currentRow();
    if (row >= 0 && row < model->rowCount() && view->currentIndex().row() != row) {
      view->selectRow(row);
      view->scrollTo(model->index(row, 0));
    }
  }
}

void MainWindow::apply(const TControl& c) {
  QWidget* w = widgets_.at(&c);
  w->setEnabled(c.enabled);
  w->setFont(fontOf(c.font));
  QPalette pal = w->palette();
  const QColor text = colourOf(c.font.color, QApplication::palette());
  // Text colours apply while enabled; a disabled control keeps the greyed
  // text of the style.
  auto setText = [&pal](QPalette::ColorRole role, const QColor& colour) {
    pal.setColor(QPalette::Active, role, colour);
    pal.setColor(QPalette::Inactive, role, colour);
  };
  switch (c.kind) {
    case ControlKind::Panel: {
      pal.setColor(QPalette::Window, colourOf(c.color, QApplication::palette()));
      setText(QPalette::WindowText, text);
      static_cast<QLabel*>(w)->setText(qtext(c.caption));
      break;
    }
    case ControlKind::Label:
      setText(QPalette::WindowText, text);
      static_cast<QLabel*>(w)->setText(qtext(c.caption));
      break;
    case ControlKind::Button:
      setText(QPalette::ButtonText, text);
      static_cast<QPushButton*>(w)->setText(qtext(c.caption));
      break;
    case ControlKind::RadioButton: {
      auto* radio = static_cast<QRadioButton*>(w);
      setText(QPalette::WindowText, text);
      radio->setText(qtext(c.caption));
      // An exclusive radio button cannot be unchecked directly.
      radio->setAutoExclusive(false);
      radio->setChecked(static_cast<const TRadioButton&>(c).checked);
      radio->setAutoExclusive(true);
      break;
    }
    case ControlKind::Edit: {
      auto* edit = static_cast<QLineEdit*>(w);
      const QString value = qtext(static_cast<const TEdit&>(c).text);
      if (edit->text() != value) edit->setText(value);
      pal.setColor(QPalette::Base, colourOf(c.color, QApplication::palette()));
      break;
    }
    case ControlKind::GroupBox:
      static_cast<QGroupBox*>(w)->setTitle(qtext(c.caption));
      break;
    case ControlKind::Grid:
      models_.at(&c)->refresh();
      break;
    case ControlKind::Gauge:
      w->update();
      break;
  }
  w->setPalette(pal);
  w->setVisible(c.visible);
}

void MainWindow::syncTree(const TControl& root) {
  for (TControl* c : form_.allControls()) {
    for (const TControl* p = c; p; p = p->parent) {
      if (p == &root) {
        sync(*c);
        break;
      }
    }
  }
}

void MainWindow::syncAll() {
  syncing_ = true;
  setWindowTitle(qtext(form_.caption));
  for (TControl* c : form_.allControls()) sync(*c);
  syncing_ = false;
}

void MainWindow::repaintControl(const std::string& name) {
  const TControl* c = form_.findControl(name);
  if (!c) return;
  syncing_ = true;
  syncTree(*c);
  syncing_ = false;
  // Operations do not let events through while they walk their tables: the
  // control is painted now, not when the event loop next runs.
  QWidget* w = widgets_.at(c);
  if (w->isVisible()) w->repaint();
}

void MainWindow::deliver(const std::function<void()>& event) {
  form_.runReported(event);
  if (form_.closed()) {
    heartbeat_.stop();
    if (isVisible()) close();
    return;
  }
  // A handler may have rewritten a table without changing its size: the
  // grids read their rows again once after every event.
  for (const auto& [control, model] : models_) applied_.erase(control);
  syncAll();
}

void MainWindow::activate() {
  if (activated_) return;
  activated_ = true;
  // The outer size is the window's, frame included, within the screen.
  PlaceCentred(*this, QSize(form_.width, form_.height));
  deliver([this] { program_.activate(); });
  if (!form_.closed()) heartbeat_.start();
}

void MainWindow::pollHeartbeat() {
  if (program_.timerDue()) deliver([this] { program_.pollTimers(); });
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  TButton* b = nullptr;
  if (event->key() == Qt::Key_Escape)
    b = form_.cancelButton();
  else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
    b = form_.defaultButton();
  if (b && event->modifiers() == Qt::NoModifier) {
    deliver([this, b] { form_.click(*b); });
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // During a command the form asks whether to stop it, and closes when it
  // has ended: the window stays until then.
  if (!form_.closeFromFrame()) {
    event->ignore();
    return;
  }
  heartbeat_.stop();  // FormClose has run, once, whatever closed the window
  event->accept();
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!activated_) QTimer::singleShot(0, this, [this] { activate(); });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (TControl* c : form_.allControls()) place(*c);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn && !syncing_) {
    auto it = focusTargets_.find(watched);
    if (it != focusTargets_.end()) {
      TControl* c = it->second;
      // Only an edit box has a handler for receiving the focus; for the
      // others the form just notes where the focus is.
      if (form_.focusedControl() == c) return QWidget::eventFilter(watched, event);
      if (c->kind == ControlKind::Edit)
        deliver([this, c] { form_.focus(*c); });
      else
        form_.focus(*c);
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---- The program -----------------------------------------------------------------

WindowProgram::WindowProgram(bool interactive, bool technician)
    : ui_(interactive), program_(ui_, technician), window_(std::make_unique<MainWindow>(program_, ui_)) {}

WindowProgram::~WindowProgram() = default;

void WindowProgram::start() {
  window_->show();
  window_->activate();
  QCoreApplication::processEvents();
}

bool WindowProgram::screenshot(const std::string& pngFile) {
  QCoreApplication::processEvents();
  const QPixmap picture = window_->grab();
  return picture.save(QString::fromStdString(pngFile), "PNG");
}

}  // namespace cg::qt
