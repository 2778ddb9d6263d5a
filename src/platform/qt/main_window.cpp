#include "platform/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <algorithm>

#include "platform/qt/icons.h"
#include "window/state_pictures.h"

namespace quorrel::qt {
namespace {

constexpr int Px(int twips) { return (twips + kTwipsPerPixelAt96Dpi / 2) / kTwipsPerPixelAt96Dpi; }

QColor ToQColor(Colour c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

// Shows the graph's persistent image, which is kept at the resolution of the
// screen the window is on.
class GraphView : public QWidget {
 public:
  GraphView(ImageCanvas& canvas, QWidget* parent) : QWidget(parent), canvas_(canvas) {
    setFocusPolicy(Qt::TabFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    canvas_.SetDevicePixelRatio(devicePixelRatioF());
    QPainter p(this);
    p.drawImage(0, 0, canvas_.Image());
  }

 private:
  ImageCanvas& canvas_;
};

// Enter and Return press a focused button, as they do on Windows; Qt gives
// them to default buttons of dialogs only.
class CommandButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
      if (!event->isAutoRepeat()) animateClick();
      event->accept();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

}  // namespace

MainWindow::MainWindow(LinuxServices& s, QWidget* parent)
    : QWidget(parent),
      canvas_(Px(LayoutOf("picGraph").rect.width) - 4, Px(LayoutOf("picGraph").rect.height) - 4,
              devicePixelRatioF()),
      tray_([this](int code) {
        form_->Form_MouseMove(0, 0, code * TwipsPerPixelX(), 0);
      }) {
  form_ = std::make_unique<Form1>(Services{*this, s.clock, s.files, s.codePage, s.profile,
                                           s.winsock, s.icmp, s.ifTable, tray_, s.process,
                                           canvas_});
  setWindowTitle(QString::fromUtf8(form_->window.Caption().c_str()));
  setFixedSize(Px(kClientWidthTwips), Px(kClientHeightTwips));
  // The layout is measured for an 8-point dialog font of Arial's width; the
  // desktop's usual 10-point font would cut the captions short.
  QFont dialogFont = font();
  dialogFont.setFamilies({"Liberation Sans", "Arial", "Nimbus Sans", dialogFont.family()});
  dialogFont.setPixelSize(11);
  setFont(dialogFont);
  BuildControls();
  BuildMenu();
  tray_.SetMenu(&trayMenu_);
  BindWindow();
  form_->Form_Load();
  if (QWidget* first = WidgetOf("txtInterval")) first->setFocus();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
  std::vector<std::pair<int, QWidget*>> focusOrder;
  std::vector<std::pair<Control*, QWidget*>> built;
  for (Control* control : form_->Controls()) {
    QWidget* widget = Build(*control);
    if (widget == nullptr) continue;
    const TwipsRect& r = control->Layout().rect;
    widget->setGeometry(Px(r.left), Px(r.top), Px(r.width), Px(r.height));
    widget->setObjectName(control->Name());
    widgets_.insert(control->Name(), widget);
    if (control->Layout().tabIndex >= 0) {
      focusOrder.emplace_back(control->Layout().tabIndex, widget);
    } else {
      widget->setFocusPolicy(Qt::NoFocus);
    }
    built.emplace_back(control, widget);
  }
  // Qt leaves disabled widgets out of a new tab order, so order them before
  // the model's initial state (a disabled "Run Fix") reaches them.
  std::sort(focusOrder.begin(), focusOrder.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < focusOrder.size(); ++i)
    QWidget::setTabOrder(focusOrder[i - 1].second, focusOrder[i].second);
  for (auto [control, widget] : built) {
    for (Property p : {Property::kText, Property::kEnabled, Property::kVisible, Property::kValue,
                       Property::kMax, Property::kFillColour, Property::kForeColour,
                       Property::kItems, Property::kListIndex})
      Mirror(*control, widget, p);
    control->SetObserver([this, widget](Control& c, Property p) { Mirror(c, widget, p); });
  }
}

QWidget* MainWindow::Build(Control& control) {
  Form1& f = *form_;
  const QString caption = QString::fromUtf8(control.Layout().caption);
  switch (control.Kind()) {
    case ControlKind::kCommandButton: {
      auto* b = new CommandButton(caption, this);
      Form1::Handler handler = f.EventHandlerOf(control);
      connect(b, &QPushButton::clicked, this, [&f, handler] { (f.*handler)(); });
      return b;
    }
    case ControlKind::kTextBox: {
      auto& box = static_cast<TextBox&>(control);
      if (&box == &f.txtOut) {
        // The log is the program's record: shown, scrolled to its newest
        // line, but not edited by hand.
        auto* edit = new QPlainTextEdit(this);
        edit->setReadOnly(true);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit->setStyleSheet("QPlainTextEdit { background: white; }");
        return edit;
      }
      auto* edit = new QLineEdit(this);
      connect(edit, &QLineEdit::textEdited, this,
              [&box](const QString& text) { box.SetText(text.toStdString()); });
      return edit;
    }
    case ControlKind::kCheckBox: {
      auto& check = static_cast<CheckBox&>(control);
      auto* c = new QCheckBox(caption, this);
      connect(c, &QCheckBox::clicked, this,
              [&check](bool checked) { check.SetValue(checked ? 1 : 0); });
      return c;
    }
    case ControlKind::kComboBox: {
      auto& list = static_cast<ComboBox&>(control);
      auto* c = new QComboBox(this);
      connect(c, &QComboBox::activated, this, [&list](int index) { list.SetListIndex(index); });
      return c;
    }
    case ControlKind::kProgressBar: {
      auto* p = new QProgressBar(this);
      p->setTextVisible(false);
      p->setMinimum(0);
      return p;
    }
    case ControlKind::kLabel:
      return new QLabel(caption, this);
    case ControlKind::kShape: {
      auto* frame = new QFrame(this);
      frame->setFrameShape(QFrame::Box);
      frame->setAutoFillBackground(true);
      return frame;
    }
    case ControlKind::kPictureBox: {
      auto* view = new GraphView(canvas_, this);
      view->setStyleSheet("border: 2px inset gray;");
      canvas_.SetRefreshHandler([view] { view->update(); });
      return view;
    }
    case ControlKind::kTimer: {
      auto* timer = new QTimer(this);
      timer->setInterval(static_cast<Timer&>(control).Interval());
      Form1::Handler handler = f.EventHandlerOf(control);
      connect(timer, &QTimer::timeout, this, [&f, handler] { (f.*handler)(); });
      timers_.insert(control.Name(), timer);
      control.SetObserver([timer](Control& c, Property p) {
        if (p == Property::kEnabled) c.Enabled() ? timer->start() : timer->stop();
      });
      return nullptr;
    }
    case ControlKind::kImageList:
    case ControlKind::kMenuItem:
      return nullptr;
  }
  return nullptr;
}

void MainWindow::Mirror(Control& control, QWidget* widget, Property property) {
  const bool blocked = widget->blockSignals(true);
  switch (property) {
    case Property::kEnabled:
      widget->setEnabled(control.Enabled());
      break;
    case Property::kVisible:
      widget->setVisible(control.Visible());
      break;
    case Property::kText:
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        QString text = QString::fromStdString(static_cast<TextBox&>(control).Text());
        if (edit->text() != text) edit->setText(text);
      } else if (auto* log = qobject_cast<QPlainTextEdit*>(widget)) {
        // The model's lines end with CR LF; the widget shows LF alone.
        QString text = QString::fromStdString(static_cast<TextBox&>(control).Text());
        text.remove(QLatin1Char('\r'));
        log->setPlainText(text);
        log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
      } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(QString::fromStdString(static_cast<CaptionControl&>(control).Caption()));
      } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(QString::fromStdString(static_cast<CaptionControl&>(control).Caption()));
      }
      break;
    case Property::kValue:
      if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        int v = static_cast<CheckBox&>(control).Value();
        check->setTristate(v == 2);
        check->setCheckState(v == 1 ? Qt::Checked : v == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
      } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
        bar->setValue(static_cast<ProgressBar&>(control).Value());
      }
      break;
    case Property::kMax:
      if (auto* bar = qobject_cast<QProgressBar*>(widget))
        bar->setMaximum(static_cast<ProgressBar&>(control).Max());
      break;
    case Property::kFillColour:
      if (control.Kind() == ControlKind::kShape) {
        QPalette pal = widget->palette();
        pal.setColor(QPalette::Window, ToQColor(static_cast<Shape&>(control).FillColour()));
        widget->setPalette(pal);
      }
      break;
    case Property::kForeColour:
      if (control.Kind() == ControlKind::kLabel) {
        Colour c = static_cast<Label&>(control).ForeColour();
        QPalette pal = widget->palette();
        pal.setColor(QPalette::WindowText,
                     (c & 0x80000000u) ? QApplication::palette().color(QPalette::WindowText)
                                       : ToQColor(c));
        widget->setPalette(pal);
      }
      break;
    case Property::kItems:
      if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->clear();
        for (const std::string& item : static_cast<ComboBox&>(control).Items())
          combo->addItem(QString::fromStdString(item));
        combo->setCurrentIndex(static_cast<ComboBox&>(control).ListIndex());
      }
      break;
    case Property::kItemAdded:
      if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        const auto& items = static_cast<ComboBox&>(control).Items();
        if (!items.empty()) combo->addItem(QString::fromStdString(items.back()));
      }
      break;
    case Property::kListIndex:
      if (auto* combo = qobject_cast<QComboBox*>(widget))
        combo->setCurrentIndex(static_cast<ComboBox&>(control).ListIndex());
      break;
    case Property::kIcon:
    case Property::kWindowState:
      break;
  }
  widget->blockSignals(blocked);
}

void MainWindow::BuildMenu() {
  Form1& f = *form_;
  trayMenu_.setTitle(QString::fromUtf8(f.mnSysTray.Caption().c_str()));
  for (MenuItem* item : f.MenuItems()) {
    if (item == &f.mnSysTray) continue;
    if (item->Caption() == "-") {
      trayMenu_.addSeparator();
      continue;
    }
    QAction* action = trayMenu_.addAction(QString::fromStdString(item->Caption()));
    action->setObjectName(item->Name());
    Form1::Handler handler = f.EventHandlerOf(*item);
    connect(action, &QAction::triggered, this, [&f, handler] { (f.*handler)(); });
    item->SetObserver([action](Control& c, Property p) {
      if (p == Property::kText)
        action->setText(QString::fromStdString(static_cast<MenuItem&>(c).Caption()));
    });
  }
}

void MainWindow::BindWindow() {
  form_->window.SetObserver([this](Control& c, Property p) {
    auto& w = static_cast<FormWindow&>(c);
    switch (p) {
      case Property::kIcon:
        setWindowIcon(StateIcon(w.IconKey()));
        break;
      case Property::kVisible:
        setVisible(w.Visible());
        break;
      case Property::kWindowState:
        setWindowState(w.State() == WindowState::kMinimised ? Qt::WindowMinimized
                                                            : Qt::WindowNoState);
        break;
      default:
        break;
    }
  });
}

int MainWindow::MessageBox(const std::string& text, const std::string& caption,
                           std::uint32_t style) {
  QMessageBox box((style & kMbIconExclamation) == kMbIconExclamation ? QMessageBox::Warning
                                                                      : QMessageBox::NoIcon,
                  QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                  this);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  return 1;  // IDOK
}

std::uint32_t MainWindow::WindowHandle() { return static_cast<std::uint32_t>(winId()); }

std::uint32_t MainWindow::WindowIconHandle() {
  return static_cast<std::uint32_t>(IconIndex(form_->window.IconKey()));
}

void MainWindow::ShowTrayMenu() {
  // An icon that carries the menu has it opened by the platform already.
  if (tray_.OpensMenuItself()) return;
  trayMenu_.popup(QCursor::pos());
}

void MainWindow::FocusWindow() {
  raise();
  activateWindow();
}

void MainWindow::UnloadWindow() { close(); }

void MainWindow::EndProgram() { QCoreApplication::quit(); }

bool MainWindow::TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void MainWindow::Shutdown(bool displayGone) {
  if (displayGone) tray_.Forsake();
  form_->Form_QueryUnload();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  form_->Form_QueryUnload();
  event->accept();
  QCoreApplication::quit();
}

}  // namespace quorrel::qt
