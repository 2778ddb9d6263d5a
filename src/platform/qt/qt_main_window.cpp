#include "platform/qt/qt_main_window.h"

#include <qdrawutil.h>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionButton>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "platform/qt/colour.h"
#include "platform/qt/icons.h"
#include "window/face_support.h"
#include "window/state_pictures.h"

namespace quorrel::qt {
namespace {

constexpr int Px(int twips) { return (twips + kTwipsPerPixelAt96Dpi / 2) / kTwipsPerPixelAt96Dpi; }

// The grey hint in an empty destination box; not part of its text.
constexpr char kDestinationCue[] = "router address, e.g. 192.168.1.1";

// The width a caption may take inside its control, as the style lays it out.
int RoomInside(QWidget* widget) {
  if (auto* check = qobject_cast<QCheckBox*>(widget)) {
    QStyleOptionButton option;
    option.initFrom(check);
    return check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check).width();
  }
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    QStyleOptionButton option;
    option.initFrom(button);
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width() -
           margin;
  }
  return widget->contentsRect().width();
}

// Shows the graph's persistent image, kept at the resolution of the screen
// the window is on, inside the sunken 2-pixel edge of a Windows client area.
// The view paints every pixel it has, so nothing beneath it is painted with it.
class GraphView : public QWidget {
 public:
  static constexpr int kBorder = 2;

  GraphView(ImageCanvas& canvas, QWidget* parent) : QWidget(parent), canvas_(canvas) {
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  // The drawing changes every second; its edge only when the view is exposed.
  void RefreshDrawing() { update(Inside()); }

 protected:
  void paintEvent(QPaintEvent* event) override {
    canvas_.SetDevicePixelRatio(devicePixelRatioF());
    QPainter p(this);
    const QImage& image = canvas_.Image();
    const QRect inside = Inside();
    if (!inside.contains(event->rect())) {
      const QSize drawn = image.deviceIndependentSize().toSize();
      // Only a view larger than its drawing has room left to fill.
      const QBrush* fill = drawn.width() < inside.width() || drawn.height() < inside.height()
                               ? &palette().brush(QPalette::Window)
                               : nullptr;
      qDrawWinPanel(&p, rect(), palette(), true, fill);
    }
    p.setClipRect(inside);
    p.drawImage(inside.topLeft(), image);
  }

 private:
  QRect Inside() const { return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder); }

  ImageCanvas& canvas_;
};

// The tick counter's bar, drawn as the Windows control draws it: a sunken
// edge and the part done in the highlight colour. It changes every second,
// and these few fills cost a fraction of the desktop style's bar.
class TickBar : public QProgressBar {
 public:
  explicit TickBar(QWidget* parent) : QProgressBar(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setTextVisible(false);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    // The sunken 1-pixel edge as plain fills: dark at the top and left, light
    // at the bottom and right (midlight where the light is the base's own
    // colour). The line drawing a shaded panel takes costs more every second.
    const QRect r = rect();
    const QPalette& pal = palette();
    const QColor base = pal.color(QPalette::Base);
    const QColor dark =
        pal.color(QPalette::Dark) == base ? pal.color(QPalette::Shadow) : pal.color(QPalette::Dark);
    const QColor light = pal.color(QPalette::Light) == base ? pal.color(QPalette::Midlight)
                                                            : pal.color(QPalette::Light);
    p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), dark);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), dark);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), light);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height() - 1), light);
    const QRect inside = r.adjusted(1, 1, -1, -1);
    p.fillRect(inside, base);
    const qint64 range = qint64{maximum()} - minimum();
    const qint64 done = std::clamp<qint64>(qint64{value()} - minimum(), 0, range);
    if (range <= 0 || done == 0) return;
    const int width = static_cast<int>(inside.width() * done / range);
    p.fillRect(QRect(inside.topLeft(), QSize(width, inside.height())),
               palette().brush(QPalette::Highlight));
  }
};

// The log's layout, which redoes and repaints no more than a log's edits need.
// - Each block keeps its shaped glyphs. A block's layout throws them away once
//   laid out, and then every paint shapes each shown line again; the log's
//   blocks are few and change only at the ends.
// - Edits made while held are laid out as they come but reported to the view
//   only at Release, and then only by their new size. Qt's layout repaints
//   the whole box for any edit but one adding a last block, and a log's lines
//   are added before the empty last block and dropped at the top; the caller
//   knows what moved and which blocks are new, and repaints just those.
class LogLayout : public QPlainTextDocumentLayout {
 public:
  using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

  void Hold() { held_ = true; }
  void Release() {
    held_ = false;
    emit documentSizeChanged(documentSize());
  }
  void RepaintFrom(QTextBlock block) {
    for (; block.isValid(); block = block.next()) emit updateBlock(block);
  }

 protected:
  void documentChanged(int from, int removed, int added) override {
    QTextDocument* doc = document();
    const QTextBlock last = doc->findBlock(from + added);
    for (QTextBlock b = doc->findBlock(from); b.isValid(); b = b.next()) {
      b.layout()->setCacheEnabled(true);
      if (b == last) break;
    }
    if (!held_) {
      QPlainTextDocumentLayout::documentChanged(from, removed, added);
      return;
    }
    const QSignalBlocker quiet(this);
    QPlainTextDocumentLayout::documentChanged(from, removed, added);
  }

 private:
  bool held_ = false;
};

// The log box. Its lines are dropped at the top and appended at the bottom,
// and it follows the newest line.
class LogBox : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;

  // Drops the first `dropped` lines and appends `appended`, repainting what
  // changed rather than the whole box, and scrolls to the end.
  void DropAndAppend(int dropped, const QString& appended) {
    // Two edits, not one edit block: a block reports one change from its
    // first to its last position, and the layout would redo all between.
    QTextDocument* doc = document();
    auto* layout = static_cast<LogLayout*>(doc->documentLayout());
    QScrollBar* bar = verticalScrollBar();
    const QTextBlock top = firstVisibleBlock();
    // A wrapped top block scrolled part-way has no whole-block picture to move.
    const int topNumber =
        top.isValid() && top.firstLineNumber() == bar->value() ? top.blockNumber() : -1;
    const int firstNew = doc->blockCount() - 1;
    QTextCursor cursor(doc);
    layout->Hold();
    // The new lines first: the bar's range grows before it shrinks, so its
    // value never has to give way in between.
    if (!appended.isEmpty()) {
      cursor.movePosition(QTextCursor::End);
      cursor.insertText(appended);
    }
    if (dropped > 0) {
      cursor.movePosition(QTextCursor::Start);
      cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, dropped);
      cursor.removeSelectedText();
      // The view keeps its top block by number, so it now shows the lines
      // `dropped` blocks further down: where they were all above it, the
      // shown picture moved up by their height, a blit and a strip below.
      qreal moved = 0;
      for (QTextBlock b = doc->findBlockByNumber(topNumber - dropped);
           topNumber >= dropped && b.isValid() && b.blockNumber() < topNumber; b = b.next())
        moved += layout->blockBoundingRect(b).height();
      if (moved > 0 && moved == std::floor(moved) && viewport()->isVisible())
        viewport()->scroll(0, -static_cast<int>(moved));
      else
        viewport()->update();
    }
    layout->Release();
    bar->setValue(bar->maximum());
    layout->RepaintFrom(doc->findBlockByNumber(std::max(0, firstNew - dropped)));
  }
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

// A lamp: a coloured box whose colour is the state it indicates.
class Lamp : public QFrame {
 public:
  explicit Lamp(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
  }
};

// A plain top-level QWidget is announced as a filler; this one is the
// program's window (named by its title, as Qt names windows).
class WindowAccessible : public QAccessibleWidget {
 public:
  explicit WindowAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Window) {}
};

// The lamps as indicators, their state in the words of their name and
// description (a frame alone says nothing).
class LampAccessible : public QAccessibleWidget {
 public:
  explicit LampAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Indicator) {}
};

QAccessibleInterface* AccessibleFor(const QString&, QObject* object) {
  if (auto* lamp = dynamic_cast<Lamp*>(object)) return new LampAccessible(lamp);
  if (auto* window = dynamic_cast<MainWindow*>(object)) return new WindowAccessible(window);
  return nullptr;
}

}  // namespace

MainWindow::MainWindow(LinuxServices& s, QWidget* parent)
    : QWidget(parent),
      canvas_(Px(LayoutOf("picGraph").rect.width) - 2 * GraphView::kBorder,
              Px(LayoutOf("picGraph").rect.height) - 2 * GraphView::kBorder, devicePixelRatioF()),
      tray_([this](int code) { form_->Form_MouseMove(0, 0, code * TwipsPerPixelX(), 0); }) {
  form_ =
      std::make_unique<Form1>(Services{*this, s.clock, s.files, s.codePage, s.profile, s.winsock,
                                       s.icmp, s.ifTable, tray_, s.process, canvas_});
  // Without Q_OBJECT the face's classes go by their Qt bases' names; the
  // factory picks its own widgets out by type.
  static const bool factoryInstalled = (QAccessible::installFactory(&AccessibleFor), true);
  (void)factoryInstalled;
  calls_ = std::make_unique<Calls>(*this);
  binder_ = std::make_unique<Binder>(*form_, *calls_, s.clock.ThousandsSeparator());
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
  std::vector<std::pair<Control*, QWidget*>> built;
  for (Control* control : form_->Controls()) {
    QWidget* widget = Build(*control);
    if (widget == nullptr) continue;
    const TwipsRect& r = control->Layout().rect;
    QRect place(Px(r.left), Px(r.top), Px(r.width), Px(r.height));
    if (auto* check = qobject_cast<QCheckBox*>(widget)) {
      // A row shorter than the style's check box would cut off the box's
      // bottom edge: the row grows to it about its middle.
      QStyleOptionButton option;
      option.initFrom(check);
      const int needed = check->style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, check);
      if (needed > place.height()) {
        place.adjust(0, -(needed - place.height()) / 2, 0, 0);
        place.setHeight(needed);
      }
    }
    widget->setGeometry(place);
    widget->setObjectName(control->Name());
    widgets_.insert(control->Name(), widget);
    widget->setFocusPolicy(Qt::NoFocus);
    built.emplace_back(control, widget);
  }
  // The graph lies over the lamp labels that reach a pixel into it, so they
  // are not painted again with it every second. (Label6 stays over the edge
  // of the fix-path box it overlaps, which keeps its caption whole.)
  if (QWidget* graph = WidgetOf("picGraph")) graph->raise();
  // Their tips change with every second, so each is made when it is asked for.
  for (const char* tipped : {"shpResult", "picGraph"})
    if (QWidget* widget = WidgetOf(tipped)) widget->installEventFilter(this);
  // Qt leaves disabled widgets out of a new tab order, so order them before
  // the model's initial state (a disabled "Run Fix") reaches them.
  QWidget* previous = nullptr;
  for (Control* control : FocusOrder(*form_)) {
    QWidget* widget = WidgetOf(control->Name());
    if (widget == nullptr) continue;
    widget->setFocusPolicy(control->Kind() == ControlKind::kPictureBox ? Qt::TabFocus
                                                                       : Qt::StrongFocus);
    if (previous) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
  // A label names the box whose accessible name is its caption; as the box's
  // buddy, a screen reader finds it through the label relation too (Qt on
  // Linux reads a drop-down list's name from that relation, not the name).
  for (auto [control, widget] : built) {
    if (control->Kind() != ControlKind::kLabel) continue;
    const std::string& caption = static_cast<Label*>(control)->Caption();
    for (auto [other, box] : built)
      if ((other->Kind() == ControlKind::kTextBox || other->Kind() == ControlKind::kComboBox) &&
          AccessibleNameOf(*form_, *other) == caption)
        static_cast<QLabel*>(widget)->setBuddy(box);
  }
  for (Control* control : form_->Controls())
    if (WidgetOf(control->Name()) || TimerOf(control->Name())) Bind(*control);
}

void MainWindow::Bind(Control& control) {
  // The program setting a widget is not the user changing it.
  auto mirror = [this](Control& c, Property p) {
    const QSignalBlocker quiet(WidgetOf(c.Name()));
    binder_->Mirror(c, p);
  };
  const QSignalBlocker quiet(WidgetOf(control.Name()));
  binder_->MirrorAll(control);
  control.SetObserver(mirror);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::eventFilter(watched, event);
  auto* help = static_cast<QHelpEvent*>(event);
  auto* widget = static_cast<QWidget*>(watched);
  const std::string tip = widget == WidgetOf("shpResult")
                              ? form_->PingResultTip()
                              : form_->GraphTipAt(help->pos().x() - GraphView::kBorder);
  if (tip.empty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), QString::fromStdString(tip), widget);
  }
  return true;
}

void MainWindow::Describe(const Control& control, QWidget* widget) {
  widget->setAccessibleName(QString::fromStdString(AccessibleNameOf(*form_, control)));
  widget->setAccessibleDescription(
      QString::fromStdString(AccessibleDescriptionOf(*form_, control)));
}

QWidget* MainWindow::Build(Control& control) {
  Form1& f = *form_;
  const QString caption = QString::fromUtf8(control.Layout().caption);
  switch (control.Kind()) {
    case ControlKind::kCommandButton: {
      auto* b = new CommandButton(caption, this);
      Form1::Handler handler = f.EventHandlerOf(control);
      connect(b, &QPushButton::clicked, this, [this, &f, handler] {
        (f.*handler)();
        Describe(f.shpResult, WidgetOf("shpResult"));  // Start and Stop change it
      });
      return b;
    }
    case ControlKind::kTextBox: {
      auto& box = static_cast<TextBox&>(control);
      if (IsReadOnlyLog(f, box)) {
        // The log is the program's record: shown, scrolled to its newest
        // line, but not edited by hand, so it keeps no undo history either.
        auto* edit = new LogBox(this);
        auto* doc = new QTextDocument(edit);
        doc->setDocumentLayout(new LogLayout(doc));
        doc->setDefaultFont(edit->font());
        edit->setDocument(doc);
        edit->setReadOnly(true);
        edit->setUndoRedoEnabled(false);
        edit->setTabChangesFocus(true);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        return edit;
      }
      auto* edit = new QLineEdit(this);
      if (&box == &f.txtIP) edit->setPlaceholderText(QString::fromUtf8(kDestinationCue));
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
      auto* p = new TickBar(this);
      p->setMinimum(0);
      return p;
    }
    case ControlKind::kLabel:
      return new QLabel(caption, this);
    case ControlKind::kShape:
      return new Lamp(this);
    case ControlKind::kPictureBox: {
      auto* view = new GraphView(canvas_, this);
      canvas_.SetRefreshHandler([view] { view->RefreshDrawing(); });
      return view;
    }
    case ControlKind::kTimer: {
      auto* timer = new QTimer(this);
      timer->setInterval(static_cast<Timer&>(control).Interval());
      Form1::Handler handler = f.EventHandlerOf(control);
      connect(timer, &QTimer::timeout, this, [&f, handler] { (f.*handler)(); });
      // The lamp's description tells the figures of the latest ping.
      if (&control == &f.tmrPing)
        connect(timer, &QTimer::timeout, this,
                [this, &f] { Describe(f.shpResult, WidgetOf("shpResult")); });
      timers_.insert(control.Name(), timer);
      return nullptr;
    }
    case ControlKind::kImageList:
    case ControlKind::kMenuItem:
      return nullptr;
  }
  return nullptr;
}

// ---- The toolkit calls the binder makes ------------------------------------

class MainWindow::Calls final : public WidgetCalls {
 public:
  explicit Calls(MainWindow& window) : w_(window) {}

  void EnableWidget(Control& c, bool enabled) override {
    if (QWidget* widget = w_.WidgetOf(c.Name())) widget->setEnabled(enabled);
    if (QAction* action = w_.actions_.value(c.Name())) action->setEnabled(enabled);
  }
  void ShowWidget(Control& c, bool visible) override { w_.WidgetOf(c.Name())->setVisible(visible); }
  void RunTimer(Timer& timer, bool running) override {
    running ? w_.TimerOf(timer.Name())->start() : w_.TimerOf(timer.Name())->stop();
  }
  void SetBoxText(TextBox& box, const std::string& text) override {
    const QString shown = QString::fromStdString(text);
    if (As<QLineEdit>(box)->text() != shown) As<QLineEdit>(box)->setText(shown);
  }
  void EditLog(TextBox& box, const LogEdit& edit, std::string_view next) override {
    auto shown = [](std::string_view part) {
      QString s = QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size()));
      s.remove(QLatin1Char('\r'));
      return s;
    };
    // A paragraph separator inside a message would be a block of its own and
    // throw the line count off; such a text is set whole.
    constexpr std::string_view kParagraphSeparator = "\xE2\x80\xA9";
    auto* log = As<LogBox>(box);
    if (edit.replaceAll || next.find(kParagraphSeparator) != std::string_view::npos ||
        edit.dropped.find(kParagraphSeparator) != std::string_view::npos) {
      log->setPlainText(shown(next));
      log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
      return;
    }
    log->DropAndAppend(static_cast<int>(std::count(edit.dropped.begin(), edit.dropped.end(), '\n')),
                       shown(edit.appended));
  }
  void SetCaption(CaptionControl& c, const std::string& caption) override {
    const QString text = QString::fromStdString(caption);
    if (QAction* action = w_.actions_.value(c.Name())) action->setText(text);
    if (auto* button = qobject_cast<QAbstractButton*>(w_.WidgetOf(c.Name())))
      button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(w_.WidgetOf(c.Name())))
      label->setText(text);
  }
  void SetCheckValue(CheckBox& check, int v) override {
    As<QCheckBox>(check)->setTristate(v == 2);
    As<QCheckBox>(check)->setCheckState(v == 1   ? Qt::Checked
                                        : v == 2 ? Qt::PartiallyChecked
                                                 : Qt::Unchecked);
  }
  void SetBarValue(ProgressBar& bar, int value) override {
    // QProgressBar paints at once on a new value; held back, it is painted
    // with the rest of the tick's changes in one pass.
    As<QProgressBar>(bar)->setUpdatesEnabled(false);
    As<QProgressBar>(bar)->setValue(value);
    As<QProgressBar>(bar)->setUpdatesEnabled(true);
  }
  void SetBarMax(ProgressBar& bar, int max) override { As<QProgressBar>(bar)->setMaximum(max); }
  // Both stand on the window's background; a lamp's fill is its state, a
  // label's colour its text.
  void SetLampColour(Shape& lamp, Colour colour) override {
    SetPaletteColour(lamp, QPalette::Window,
                     ToQColorOn(colour, w_.palette().color(QPalette::Window), kLineContrast));
  }
  void SetLabelColour(Label& label, Colour colour) override {
    // A system colour on a label is the text of the window's own pair.
    SetPaletteColour(label, QPalette::WindowText,
                     (colour & kSystemColourFlag) != 0
                         ? w_.palette().color(QPalette::WindowText)
                         : ToQColorOn(colour, w_.palette().color(QPalette::Window), kTextContrast));
  }
  void FillList(ComboBox& list) override {
    As<QComboBox>(list)->clear();
    for (const std::string& item : list.Items()) AppendToList(list, item);
    SelectInList(list, list.ListIndex());
  }
  void AppendToList(ComboBox& list, const std::string& item) override {
    As<QComboBox>(list)->addItem(QString::fromStdString(item));
  }
  void SelectInList(ComboBox& list, int index) override {
    As<QComboBox>(list)->setCurrentIndex(index);
  }
  void Redescribe(Control& c) override {
    if (QWidget* widget = w_.WidgetOf(c.Name())) w_.Describe(c, widget);
  }
  int CaptionRoom(Control& c) override { return RoomInside(w_.WidgetOf(c.Name())); }
  int CaptionFontSize() override { return w_.font().pixelSize(); }
  int WidestText(const std::vector<std::string>& texts, int size) override {
    const QFontMetrics metrics(Sized(size));
    int widest = 0;
    for (const std::string& text : texts)
      widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(text)));
    return widest;
  }
  void SetCaptionFont(Control& c, int size) override {
    if (w_.WidgetOf(c.Name())->font() != Sized(size)) w_.WidgetOf(c.Name())->setFont(Sized(size));
  }

 private:
  template <typename Widget>
  Widget* As(const Control& c) const {
    return static_cast<Widget*>(w_.WidgetOf(c.Name()));
  }
  QFont Sized(int size) const {
    QFont font = w_.font();
    font.setPixelSize(size);
    return font;
  }
  void SetPaletteColour(const Control& c, QPalette::ColorRole role, const QColor& colour) {
    QPalette pal = w_.WidgetOf(c.Name())->palette();
    pal.setColor(role, colour);
    w_.WidgetOf(c.Name())->setPalette(pal);
  }

  MainWindow& w_;
};

// ---- The menu and the window -----------------------------------------------

void MainWindow::BuildMenu() {
  Form1& f = *form_;
  trayMenu_.setTitle(QString::fromUtf8(f.mnSysTray.Caption().c_str()));
  for (const TrayMenuEntry& entry : TrayMenuEntries(f)) {
    if (entry.separator) {
      trayMenu_.addSeparator();
      continue;
    }
    MenuItem* item = entry.item;
    QAction* action = trayMenu_.addAction(QString::fromStdString(item->Caption()));
    action->setObjectName(item->Name());
    actions_.insert(item->Name(), action);
    Form1::Handler handler = f.EventHandlerOf(*item);
    connect(action, &QAction::triggered, this, [&f, handler] { (f.*handler)(); });
    Bind(*item);
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

void MainWindow::SaveSession() { form_->SaveSession(); }

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange)
    form_->Form_Resize(isMinimized() ? WindowState::kMinimised : WindowState::kNormal);
  QWidget::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  form_->Form_QueryUnload();
  event->accept();
  QCoreApplication::quit();
}

}  // namespace quorrel::qt
