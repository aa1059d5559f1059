#include "app/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "app/qt/desktop.h"
#include "app/qt/look.h"
#include "app/qt/widgets.h"
#include "data/engine/engine.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/process.h"

namespace cg::qt {
namespace {

QString title() { return QStringLiteral("Consistência Geral BD"); }

// Whether `c` is `panel` or lies on it.
bool inside(const TControl& c, const TControl& panel) {
  for (const TControl* p = &c; p; p = p->parent)
    if (p == &panel) return true;
  return false;
}

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
  showState();
  QMessageBox box(QMessageBox::NoIcon, title(), qtext(text), QMessageBox::Ok, window_);
  FitTitle(box);
  box.exec();
}

bool QtInterface::confirm(const std::string& text) {
  if (!interactive_) {
    toStderr("pergunta, respondida Não", text);
    return false;
  }
  showState();
  QMessageBox box(QMessageBox::Information, QStringLiteral("Informação"), qtext(text),
                  QMessageBox::Yes | QMessageBox::No, window_);
  box.setDefaultButton(QMessageBox::Yes);
  // As the suite's dialogs read, with Alt+S and Alt+N.
  box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sim"));
  box.button(QMessageBox::No)->setText(QStringLiteral("&Não"));
  FitTitle(box);
  return box.exec() == QMessageBox::Yes;
}

void QtInterface::showError(const Exception& error) {
  if (!interactive_) return toStderr(error.className(), error.message());
  showState();
  QMessageBox box(QMessageBox::Critical, title(), qtext(error.message()), QMessageBox::Ok, window_);
  FitTitle(box);
  box.exec();
}

// A box is modal: behind it the window shows what the operation has done
// so far (a review closed before "Procedimento concluido.", say).
void QtInterface::showState() {
  if (window_) window_->syncAll();
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

ProcessOutcome QtInterface::startProcess(const std::string& commandLine,
                                         std::chrono::milliseconds waitAtMost) {
  return RunProcess(commandLine, waitAtMost);
}

// ---- The window ----------------------------------------------------------------

MainWindow::MainWindow(Program& program, QtInterface& ui)
    : program_(program), form_(program.form()), ui_(ui) {
  ui_.attach(this);
  setWindowTitle(qtext(form_.caption));
  setWindowIcon(programIcon());
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
        // Enter on a button that has the focus clicks it, as Space does.
        button->setAutoDefault(true);
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
        // Tab and Shift+Tab leave the grid; the arrows move between rows.
        view->setTabKeyNavigation(false);
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
      case ControlKind::CheckBox: {
        auto* box = new QCheckBox(parent);
        connect(box, &QCheckBox::clicked, this, [this](bool on) {
          deliver([this, on] {
            // Before the first simulation: what it holds while it runs.
            if (on && !simulationWarned_) {
              simulationWarned_ = true;
              ui_.showMessage(TFormConsistGeral::SimulationWarning());
            }
            form_.setSimulation(on);
          });
        });
        w = box;
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
      case ControlKind::ListBox: {
        auto* l = static_cast<TListBox*>(c);
        auto* list = new QListWidget(parent);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setUniformItemSizes(true);
        connect(list, &QListWidget::currentRowChanged, this, [this, l](int row) {
          if (syncing_ || row < 0) return;
          deliver([this, l, row] { form_.choose(*l, row); });
        });
        w = list;
        break;
      }
    }
    // Other widgets taking the focus move it away from the edit box, so that
    // entering the box again fires its event again.
    if (c->kind == ControlKind::Button || c->kind == ControlKind::RadioButton ||
        c->kind == ControlKind::CheckBox || c->kind == ControlKind::Grid || c->kind == ControlKind::ListBox) {
      w->installEventFilter(this);
      focusTargets_[w] = c;
    }
    w->setObjectName(QString::fromStdString(c->name));
    widgets_[c] = w;
  }
  // Under an open review, what its confirmation will do.
  reviewSummary_ = new QLabel(widgets_.at(&form_.PainelConsistG));
  reviewSummary_->setObjectName(QStringLiteral("ResumoRevisao"));
  reviewSummary_->setGeometry(25, 433, 581, 48);
  reviewSummary_->setWordWrap(true);
  reviewSummary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  TFont font;
  font.name = "Arial";
  font.height = 13;
  font.bold = true;
  reviewSummary_->setFont(fontOf(font));
  QPalette pal = reviewSummary_->palette();
  pal.setColor(QPalette::WindowText, colourOf(clNavy, pal));
  reviewSummary_->setPalette(pal);
  reviewSummary_->hide();
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
  s << c.visible << c.enabled << form_.takesInput(c) << '|' << c.caption << '|' << c.font.name << ','
    << c.font.height << ',' << c.font.bold << ',' << c.font.color << '|' << c.color;
  switch (c.kind) {
    case ControlKind::RadioButton:
      s << '|' << static_cast<const TRadioButton&>(c).checked;
      break;
    case ControlKind::CheckBox:
      s << '|' << static_cast<const TCheckBox&>(c).checked;
      break;
    case ControlKind::Edit:
      s << '|' << static_cast<const TEdit&>(c).text;
      break;
    case ControlKind::Gauge: {
      const auto& g = static_cast<const TGauge&>(c);
      s << '|' << g.minValue() << ',' << g.maxValue() << ',' << g.progress();
      break;
    }
    case ControlKind::ListBox: {
      const auto& l = static_cast<const TListBox&>(c);
      s << '|' << l.itemIndex << '|' << l.items.size();
      for (const std::string& item : l.items) s << '\n' << item;
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
  // A control covered by an open panel, or any but the stop button while a
  // command runs, looks as it behaves: disabled, out of the focus chain.
  w->setEnabled(c.enabled && form_.takesInput(c));
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
    case ControlKind::CheckBox: {
      auto* box = static_cast<QCheckBox*>(w);
      setText(QPalette::WindowText, text);
      box->setText(qtext(c.caption));
      box->setChecked(static_cast<const TCheckBox&>(c).checked);
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
    case ControlKind::ListBox: {
      const auto& l = static_cast<const TListBox&>(c);
      auto* list = static_cast<QListWidget*>(w);
      QStringList lines;
      for (const std::string& item : l.items) lines << qtext(item);
      bool same = list->count() == lines.size();
      for (int i = 0; same && i < lines.size(); ++i) same = list->item(i)->text() == lines[i];
      if (!same) {
        list->clear();
        list->addItems(lines);
      }
      if (list->currentRow() != l.itemIndex) list->setCurrentRow(l.itemIndex);
      pal.setColor(QPalette::Base, colourOf(c.color, QApplication::palette()));
      setText(QPalette::Text, text);
      break;
    }
  }
  w->setPalette(pal);
  w->setVisible(c.visible);
}

void MainWindow::syncAll() {
  syncing_ = true;
  setWindowTitle(qtext(form_.caption));
  for (TControl* c : form_.allControls()) sync(*c);
  syncKeyboard();
  syncReviewSummary();
  syncing_ = false;
}

void MainWindow::syncKeyboard() {
  // The focus the form gives (the new-format grid when a review opens) is
  // the widget's, as soon as that widget can take it.
  if (TControl* c = form_.focusedControl()) {
    QWidget* w = widgets_.at(c);
    if (w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus && !w->hasFocus())
      w->setFocus(Qt::OtherFocusReason);
  }
  // Entering the percentage box chooses "Definir desconto máximo padrão":
  // Tab passes over the box until that option is chosen (by the arrows, a
  // click or Space), so that going through the panel by keyboard never
  // changes the chosen option. A click still enters the box.
  widgets_.at(&form_.Edit1)->setFocusPolicy(form_.RadioButton1.checked ? Qt::StrongFocus : Qt::ClickFocus);
}

void MainWindow::syncReviewSummary() {
  // The counts of the open review: the new-format copy, the live register,
  // and the records left out of the copy because another one with the same
  // abbreviated name and phone (clients) or CRM (doctors) came first.
  struct Review {
    const TControl& panel;
    Table& live;
    Table& interim;
    const char* sameKey;
  };
  const Review reviews[] = {
      {form_.PainelFormatCliNovo, form_.Clientes, form_.Clientes_I, "telefone"},
      {form_.PainelFormatMedNovo, form_.Medicos, form_.Medicos_I, "CRM"},
  };
  QString text;
  for (const Review& r : reviews) {
    // The history panel stands over the review and its line.
    if (form_.PainelHistorico.showing()) break;
    if (!r.panel.showing() || !r.live.active() || !r.interim.active()) continue;
    try {
      const int live = r.live.recordCount();
      const int interim = r.interim.recordCount();
      const int merged = std::max(live - interim, 0);
      const QLocale br(QLocale::Portuguese, QLocale::Brazil);
      auto records = [&br](int n) { return br.toString(n) + (n == 1 ? " registro" : " registros"); };
      text = QString::fromUtf8(
                 "Ao confirmar, o novo formato (%1) substitui o atual (%2); %3 repetido%4 "
                 "(mesmo nome abreviado e mesmo %5) %6 unido%4 a outro%4.")
                 .arg(records(interim), records(live), records(merged),
                      QString::fromUtf8(merged == 1 ? "" : "s"), QString::fromUtf8(r.sameKey),
                      QString::fromUtf8(merged == 1 ? "foi" : "foram"));
    } catch (const std::exception&) {
      text.clear();
    }
  }
  if (reviewSummary_->text() != text) reviewSummary_->setText(text);
  reviewSummary_->setVisible(!text.isEmpty());
}

void MainWindow::repaintControl(const std::string& name) {
  const TControl* c = form_.findControl(name);
  if (!c) return;
  // The whole form is copied, not only the control: what the operation
  // changed before (a panel hidden, commands disabled) must not stay drawn
  // over or under what it paints now.
  syncAll();
  // Operations do not let events through while they walk their tables: the
  // control is painted now, not when the event loop next runs, and with it
  // every other part of the window that changed. Only paints go through,
  // never input.
  QWidget* w = widgets_.at(c);
  if (w->isVisible()) w->repaint();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
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
  // A drive C without the suite: after the message of the start, how to get
  // an installation to try the program on.
  std::error_code ec;
  if (!std::filesystem::is_directory(DriveC::resolve("C:\\VITRALON"), ec)) {
    const std::string root = DriveC::root().string();
    std::fprintf(stderr,
                 "consistgeral: não há instalação (C:\\VITRALON) na pasta que faz o papel da unidade C:\n"
                 "  %s\n"
                 "Para criar ali a instalação de exemplo:\n"
                 "  consistgeral --drive-c '%s' --create-sample\n"
                 "Outra pasta como unidade C: --drive-c PASTA.\n",
                 root.c_str(), root.c_str());
  }
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
      // While the history panel is open, Tab goes round its own controls:
      // the focus does not go to the commands it covers.
      if (form_.PainelHistorico.showing() && !inside(*c, form_.PainelHistorico)) {
        QTimer::singleShot(0, this, [this] {
          if (form_.PainelHistorico.showing())
            widgets_.at(&form_.ListaExecucoes)->setFocus(Qt::TabFocusReason);
        });
        return QWidget::eventFilter(watched, event);
      }
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
    : ui_(interactive), program_(ui_, technician), window_(std::make_unique<MainWindow>(program_, ui_)) {
  // Boxes without a parent window show the program's icon too.
  QApplication::setWindowIcon(programIcon());
  // Qt's own texts (the edit boxes' context menus, standard buttons) in
  // Brazilian Portuguese, from the system's Qt translations.
  translator_ = std::make_unique<QTranslator>();
  if (translator_->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(translator_.get());
}

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
