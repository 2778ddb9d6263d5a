#include "platform/qt/qt_main_window.h"

#include <qdrawutil.h>

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
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
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

// Captions keep the dialog font unless it would cut them; then that one
// control gets the largest smaller size at which its caption is whole.
constexpr int kFontPixels = 11;
constexpr int kSmallestFontPixels = 7;

QString WithoutMnemonics(const QString& caption) {
  QString text;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
    text += caption[i];
  }
  return text;
}

// The width a caption may take inside its control, as the style lays it out.
int CaptionRoom(QWidget* widget) {
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

// A QLabel sets & as plain text; a button or check box shows it as the mnemonic.
QString ShownText(QWidget* widget, const QString& caption) {
  return qobject_cast<QLabel*>(widget) ? caption : WithoutMnemonics(caption);
}

void FitCaption(QWidget* widget, const QString& caption) {
  const QString text = ShownText(widget, caption);
  QFont font = widget->parentWidget() ? widget->parentWidget()->font() : widget->font();
  const int room = CaptionRoom(widget);
  const int size = FitFontSize(kFontPixels, kSmallestFontPixels, room, [&](int pixels) {
    QFont f = font;
    f.setPixelSize(pixels);
    return QFontMetrics(f).horizontalAdvance(text);
  });
  font.setPixelSize(size);
  if (widget->font() != font) widget->setFont(font);
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
                               ? &palette().brush(QPalette::Base)
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

// Paints a scroll bar in bands of fewer rows than Qt's raster engine hands to
// its thread pool: it splits a fill of 96 rows or more among pool threads and
// waits for them, and a style's gradient groove as tall as the log is such a
// fill. For a bar this size the hand-off costs several times the fill. Each
// band is drawn whole into an image of its own, so every pixel is drawn once,
// as it would be on the widget; at a fractional scale the bar is drawn as is.
// Only the bands the bar's paint touches are drawn.
class BandedScrollBarStyle : public QProxyStyle {
 public:
  static constexpr int kBandRows = 64;

  // `painting` is the region the bar is painting, empty outside its paints.
  explicit BandedScrollBarStyle(const QRegion& painting) : painting_(painting) {}

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const qreal ratio = painter->device()->devicePixelRatio();
    const QRect all = option->rect;
    if (control != CC_ScrollBar || all.height() <= kBandRows || ratio != std::floor(ratio)) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    const QRegion painting = painting_.isEmpty() ? QRegion(all) : painting_;
    const int rows = std::max(1, static_cast<int>(kBandRows / ratio));
    for (int top = all.top(); top <= all.bottom(); top += rows) {
      const QRect band(all.left(), top, all.width(), std::min(rows, all.bottom() - top + 1));
      if (!painting.intersects(band)) continue;
      QImage image(band.size() * ratio, QImage::Format_ARGB32_Premultiplied);
      image.setDevicePixelRatio(ratio);
      image.fill(Qt::transparent);
      QPainter bandPainter(&image);
      bandPainter.translate(-band.topLeft());
      QProxyStyle::drawComplexControl(control, option, &bandPainter, widget);
      bandPainter.end();
      painter->drawImage(band.topLeft(), image);
    }
  }

 private:
  const QRegion& painting_;
};

// The log's scroll bar. While the log grows, each line changes the bar's
// range, and Qt repaints the whole bar at every change; yet only the slider
// moves. This bar repaints the places the slider left and took, and nothing
// while it stays on the same pixels.
class LogScrollBar : public QScrollBar {
 public:
  explicit LogScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
    auto* banded = new BandedScrollBarStyle(painting_);
    banded->setParent(this);
    setStyle(banded);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    painting_ = event->region();
    QScrollBar::paintEvent(event);
    painting_ = QRegion();
    shown_ = Now();
  }

  void sliderChange(SliderChange change) override {
    const Slider before = shown_;
    shown_ = Now();
    // A bar whose range empties or fills is drawn differently as a whole. A
    // page step, like a range, only sizes the slider.
    if (!before.known || before.empty != shown_.empty ||
        style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this)) {
      QScrollBar::sliderChange(change);
      return;
    }
    // Styles draw the slider's outline just outside its rectangle.
    const int m = kOutline;
    if (shown_.rect != before.rect) update((before.rect | shown_.rect).adjusted(-m, -m, m, m));
  }

 private:
  static constexpr int kOutline = 2;

  struct Slider {
    bool known = false;
    bool empty = true;
    QRect rect;
  };

  Slider Now() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        true, minimum() == maximum(),
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this)};
  }

  QRegion painting_;
  Slider shown_;
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
    QWidget* view = viewport();
    const QTextBlock top = firstVisibleBlock();
    const int topNumber =
        top.isValid() && top.firstLineNumber() == bar->value() ? top.blockNumber() : -1;
    // The blocks before the last stay as they are until the drop.
    const int firstNew = std::max(0, doc->blockCount() - 1 - dropped);
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
      // `dropped` blocks further down. Where the dropped lines were all above
      // it, that is the shown picture moved up by those blocks' height: a
      // blit and a strip at the bottom. Otherwise the box is drawn afresh.
      qreal moved = 0;
      if (topNumber >= dropped && view->isVisible()) {
        QTextBlock b = doc->findBlockByNumber(topNumber - dropped);
        for (int i = 0; i < dropped && b.isValid(); ++i, b = b.next())
          moved += layout->blockBoundingRect(b).height();
      }
      if (moved > 0 && moved == std::floor(moved))
        view->scroll(0, -static_cast<int>(moved));
      else
        view->update();
    }
    layout->Release();
    bar->setValue(bar->maximum());
    layout->RepaintFrom(doc->findBlockByNumber(firstNew));
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

}  // namespace

MainWindow::MainWindow(LinuxServices& s, QWidget* parent)
    : QWidget(parent),
      canvas_(Px(LayoutOf("picGraph").rect.width) - 2 * GraphView::kBorder,
              Px(LayoutOf("picGraph").rect.height) - 2 * GraphView::kBorder, devicePixelRatioF()),
      tray_([this](int code) { form_->Form_MouseMove(0, 0, code * TwipsPerPixelX(), 0); }) {
  form_ =
      std::make_unique<Form1>(Services{*this, s.clock, s.files, s.codePage, s.profile, s.winsock,
                                       s.icmp, s.ifTable, tray_, s.process, canvas_});
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
    widget->setGeometry(Px(r.left), Px(r.top), Px(r.width), Px(r.height));
    widget->setObjectName(control->Name());
    widgets_.insert(control->Name(), widget);
    widget->setFocusPolicy(Qt::NoFocus);
    built.emplace_back(control, widget);
  }
  // The graph lies over the lamp labels that reach a pixel into it, so they
  // are not painted again with it every second. (Label6 stays over the edge
  // of the fix-path box it overlaps, which keeps its caption whole.)
  if (QWidget* graph = WidgetOf("picGraph")) graph->raise();
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
  for (auto [control, widget] : built) {
    for (Property p : MirroredProperties()) Mirror(*control, widget, p);
    Describe(*control, widget);
    control->SetObserver([this, widget](Control& c, Property p) { Mirror(c, widget, p); });
  }
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
      connect(b, &QPushButton::clicked, this, [&f, handler] { (f.*handler)(); });
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
        edit->setVerticalScrollBar(new LogScrollBar(edit));
        QPalette white = edit->palette();
        white.setColor(QPalette::Base, Qt::white);
        edit->setPalette(white);
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
    case ControlKind::kShape: {
      auto* frame = new QFrame(this);
      frame->setFrameShape(QFrame::Box);
      frame->setAutoFillBackground(true);
      return frame;
    }
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
        ShowLog(log, static_cast<TextBox&>(control).Text());
      } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const QString caption =
            QString::fromStdString(static_cast<CaptionControl&>(control).Caption());
        button->setText(caption);
        FitCaption(button, caption);
      } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        const QString caption =
            QString::fromStdString(static_cast<CaptionControl&>(control).Caption());
        label->setText(caption);
        FitCaption(label, caption);
        // The graph's description reads the rate captions.
        if (QWidget* graph = WidgetOf("picGraph")) Describe(form_->picGraph, graph);
      }
      break;
    case Property::kValue:
      if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        int v = static_cast<CheckBox&>(control).Value();
        check->setTristate(v == 2);
        check->setCheckState(v == 1 ? Qt::Checked : v == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
      } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
        // QProgressBar paints at once on a new value; held back, it is painted
        // with the rest of the tick's changes in one pass.
        bar->setUpdatesEnabled(false);
        bar->setValue(static_cast<ProgressBar&>(control).Value());
        bar->setUpdatesEnabled(true);
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
        // A lamp's colour is its state; the words say it to a screen reader.
        Describe(control, widget);
      }
      break;
    case Property::kForeColour:
      if (control.Kind() == ControlKind::kLabel) {
        QPalette pal = widget->palette();
        pal.setColor(QPalette::WindowText, ToQColor(static_cast<Label&>(control).ForeColour()));
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
  for (const TrayMenuEntry& entry : TrayMenuEntries(f)) {
    if (entry.separator) {
      trayMenu_.addSeparator();
      continue;
    }
    MenuItem* item = entry.item;
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

void MainWindow::ShowLog(QPlainTextEdit* log, const std::string& text) {
  // The model drops whole lines at the top and appends at the bottom; doing
  // just that keeps the box from laying the whole text out again per line.
  const LogEdit edit = DiffLog(shownLog_, text);
  auto shown = [](std::string_view part) {
    QString s = QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size()));
    s.remove(QLatin1Char('\r'));
    return s;
  };
  // A paragraph separator inside a message would be a block of its own and
  // throw the line count off; such a text is set whole.
  constexpr std::string_view kParagraphSeparator = "\xE2\x80\xA9";
  if (edit.replaceAll || edit.appended.find(kParagraphSeparator) != std::string_view::npos ||
      shownLog_.find(kParagraphSeparator) != std::string::npos) {
    log->setPlainText(shown(text));
    log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
  } else {
    static_cast<LogBox*>(log)->DropAndAppend(
        static_cast<int>(std::count(edit.dropped.begin(), edit.dropped.end(), '\n')),
        shown(edit.appended));
  }
  shownLog_ = text;
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
