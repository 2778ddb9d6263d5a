#include "platform/win32/face/main_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>

#include "common/text.h"
#include "common/utf8.h"
#include "platform/win32/services/wide_text.h"
#include "window/face_support.h"

namespace quorrel::win32 {
namespace {

constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
constexpr int kFirstControlId = 100;
constexpr int kFirstMenuId = 1000;
constexpr int kComboDropRows = 8;

// The grey hint in the empty destination box; it is not part of the text.
constexpr wchar_t kDestinationCue[] = L"router address, e.g. 192.168.1.1";

std::uintptr_t AsNumber(const void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }

std::string WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return Utf8FromWide(text);
}

const char* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kCommandButton:
    case ControlKind::kCheckBox:
      return "BUTTON";
    case ControlKind::kTextBox:
      return "EDIT";
    case ControlKind::kComboBox:
      return "COMBOBOX";
    case ControlKind::kLabel:
    case ControlKind::kShape:
      return "STATIC";
    default:
      return nullptr;
  }
}

// The log box is multi-line, so it asks for every key, Tab included, and the
// focus could never leave it by keyboard. Being read-only it has no use for
// Tab or Enter: the dialog keys may move on.
LRESULT CALLBACK LogBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                            DWORD_PTR) {
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(hwnd, &LogBoxProc, id);
  LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
  if (message == WM_GETDLGCODE) result &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTTAB);
  return result;
}

// The width `text` takes when drawn in the font selected into `dc`: its
// advance, or further where the glyphs reach past it. Wine's renderer does at
// some sizes: "Fix location:" at 10 pixels advances 55 and inks 58 columns.
int DrawnWidth(HDC dc, const std::wstring& text) {
  SIZE extent{};
  ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent);
  const int width = extent.cx + 2 * extent.cy;  // room for any overhang
  const int height = extent.cy;
  if (width <= 0 || height <= 0) return extent.cx;
  MemoryDcHandle memory(::CreateCompatibleDC(dc));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  BitmapHandle bitmap(::CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !bitmap) return extent.cx;
  int inked = 0;
  {
    SelectGuard selectBitmap(memory.get(), bitmap.get());
    SelectGuard selectFont(memory.get(), ::GetCurrentObject(dc, OBJ_FONT));
    RECT all{0, 0, width, height};
    ::FillRect(memory.get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SetTextColor(memory.get(), RGB(0, 0, 0));
    ::SetBkMode(memory.get(), TRANSPARENT);
    ::TextOutW(memory.get(), 0, 0, text.data(), static_cast<int>(text.size()));
    ::GdiFlush();
    const auto* px = static_cast<const std::uint32_t*>(bits);
    for (int y = 0; y < height; ++y)
      for (int x = width - 1; x >= inked; --x)
        if ((px[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF) != 0xFFFFFF) {
          inked = x + 1;
          break;
        }
  }
  return std::max(static_cast<int>(extent.cx), inked);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, Win32Services& s)
    : instance_(instance), services_(s), canvas_(s.codePage), graphView_(canvas_) {
  form_ =
      std::make_unique<Form1>(Services{*this, s.clock, s.files, s.codePage, s.profile, s.winsock,
                                       s.icmp, s.ifTable, s.shell, s.process, canvas_});
  binder_ = std::make_unique<Binder>(*form_, static_cast<WidgetCalls&>(*this),
                                     s.clock.ThousandsSeparator());
}

MainWindow::~MainWindow() {
  // Tear the window down while every member it reaches is still alive.
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
}

bool MainWindow::Create(int showCommand) {
  if (!Register(instance_, 0, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) return false;
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  const std::wstring caption = WideFromUtf8(form_->window.Caption());
  if (CreateAs(kWindowExStyle, caption.c_str(), kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
               CW_USEDEFAULT, CW_USEDEFAULT, nullptr, instance_) == nullptr)
    return false;
  // The DPI is known only once the window sits on a monitor.
  dpi_ = WindowDpi(hwnd_);
  fontSpec_ = DialogFontSpec(dpi_);
  font_.reset(::CreateFontIndirectW(&fontSpec_));
  const SIZE outer = OuterSizeForClient(TwipsToPixels(kClientWidthTwips, dpi_),
                                        TwipsToPixels(kClientHeightTwips, dpi_), kWindowStyle,
                                        kWindowExStyle, dpi_);
  ::SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  BuildControls();
  BuildMenu();
  BindWindow();
  BuildTips();
  // The image is made once, at the area's first size: the graph's x step is
  // fixed at load, so a later DPI change stretches the image instead.
  RECT graph{};
  ::GetClientRect(graphView_.Handle(), &graph);
  canvas_.Create(graph.right, graph.bottom);
  canvas_.SetFont(CreateDialogFont(dpi_));
  canvas_.SetView(graphView_.Handle());
  ApplyFont();
  form_->Form_Load();
  ::ShowWindow(hwnd_, showCommand);
  ::UpdateWindow(hwnd_);
  if (const Binding* first = Find(form_->txtInterval)) ::SetFocus(first->hwnd);
  return true;
}

int MainWindow::Run() {
  MSG msg{};
  int result = 0;
  while (!ended_) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      result = got == 0 ? static_cast<int>(msg.wParam) : 1;
      break;
    }
    // Tab, the arrow keys and the & mnemonics, as in a dialog.
    if (hwnd_ != nullptr && ::IsDialogMessageW(hwnd_, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  // However the loop ended, the settings are saved (this runs only once).
  form_->Form_QueryUnload();
  return result;
}

// ---- Building the controls -------------------------------------------------

void MainWindow::BuildControls() {
  Form1& f = *form_;
  const std::vector<Control*> controls = f.Controls();
  for (std::size_t i = 0; i < controls.size(); ++i)
    bindings_.push_back(
        Binding{controls[i], nullptr, kFirstControlId + static_cast<int>(i), nullptr, false, {}});
  for (Binding& b : bindings_) b.handler = f.EventHandlerOf(*b.control);
  // Creation order is the z-order, which is the order Tab walks.
  for (Control* c : CreationOrder(f))
    if (Binding* b = Find(*c)) b->hwnd = Build(*b);
  for (Control* c : controls) Bind(*c);
}

HWND MainWindow::Build(Binding& binding) {
  Control& control = *binding.control;
  const ControlLayout& layout = control.Layout();
  RECT r = PixelRect(layout.rect);
  // The original rectangles overlap by a pixel here and there; siblings must
  // not paint over each other there.
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (control.Visible() ? WS_VISIBLE : 0) |
                (layout.tabIndex >= 0 ? WS_TABSTOP : 0);
  DWORD exStyle = 0;
  const wchar_t* className = nullptr;
  switch (control.Kind()) {
    case ControlKind::kCommandButton:
      style |= BS_PUSHBUTTON;
      break;
    case ControlKind::kCheckBox:
      // Not automatic: the model owns the value, which may also be 2 (greyed).
      style |= BS_3STATE;
      break;
    case ControlKind::kTextBox:
      exStyle = WS_EX_CLIENTEDGE;
      if (IsReadOnlyLog(*form_, control))
        // The log is the program's record: shown, scrolled to its newest line,
        // but not edited by hand.
        style |= ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL;
      else
        style |= ES_AUTOHSCROLL;
      break;
    case ControlKind::kComboBox:
      style |= CBS_DROPDOWNLIST | WS_VSCROLL;
      r.bottom = r.top + (r.bottom - r.top) * kComboDropRows;
      break;
    case ControlKind::kLabel:
      // Cut rather than wrapped: the rectangles were sized for a narrower font.
      style |= SS_LEFTNOWORDWRAP;
      break;
    case ControlKind::kProgressBar:
      className = PROGRESS_CLASSW;
      break;
    case ControlKind::kPictureBox:
      return graphView_.Create(instance_, hwnd_, style, r);
    case ControlKind::kShape:
      // A window of its own, so that a screen reader finds the lamp and reads
      // its state in its text. Without SS_NOTIFY it lets the mouse through
      // to the main window, where the lamp's tooltip is.
      style |= SS_OWNERDRAW;
      break;
    default:
      return nullptr;  // timers and lists have no window
  }
  std::wstring wideClass;
  if (className == nullptr) {
    wideClass = WideFromUtf8(ClassOf(control.Kind()));
    className = wideClass.c_str();
  }
  const std::wstring caption = WideFromUtf8(layout.caption);
  HWND hwnd = ::CreateWindowExW(
      exStyle, className, caption.c_str(), style, r.left, r.top, r.right - r.left, r.bottom - r.top,
      hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(binding.id)), instance_, nullptr);
  if (hwnd != nullptr && IsReadOnlyLog(*form_, control))
    ::SetWindowSubclass(hwnd, &LogBoxProc, 1, 0);
  // TRUE: the hint stays while the empty box has the focus, which is when
  // the user is about to type the address.
  if (hwnd != nullptr && &control == &form_->txtIP)
    ::SendMessageW(hwnd, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(kDestinationCue));
  return hwnd;
}

void MainWindow::Bind(Control& control) {
  Mirror(control, std::nullopt);
  control.SetObserver([this](Control& c, Property p) { Mirror(c, p); });
}

void MainWindow::Mirror(Control& control, std::optional<Property> property) {
  if (hwnd_ == nullptr) return;  // the window is gone; the model may still tidy up
  const bool wasMirroring = std::exchange(mirroring_, true);
  property ? binder_->Mirror(control, *property) : binder_->MirrorAll(control);
  mirroring_ = wasMirroring;
}

void MainWindow::BuildMenu() {
  Form1& f = *form_;
  trayMenu_.reset(::CreatePopupMenu());
  int id = kFirstMenuId;
  for (const TrayMenuEntry& entry : TrayMenuEntries(f)) {
    Binding b{entry.item, nullptr, id++, f.EventHandlerOf(*entry.item), entry.separator, {}};
    if (b.separator) {
      ::AppendMenuW(trayMenu_.get(), MF_SEPARATOR, 0, nullptr);
    } else {
      const std::wstring caption = WideFromUtf8(entry.item->Caption());
      ::AppendMenuW(trayMenu_.get(), MF_STRING, static_cast<UINT_PTR>(b.id), caption.c_str());
    }
    bindings_.push_back(std::move(b));
  }
  for (const TrayMenuEntry& entry : TrayMenuEntries(f)) Bind(*entry.item);
}

void MainWindow::BindWindow() {
  form_->window.SetObserver([this](Control&, Property p) { MirrorWindow(p); });
}

// ---- The toolkit calls the binder makes ------------------------------------

void MainWindow::EnableWidget(Control& c, bool enabled) {
  const Binding* b = Find(c);
  if (b->hwnd != nullptr)
    ::EnableWindow(b->hwnd, enabled);
  else if (c.Kind() == ControlKind::kMenuItem)
    ::EnableMenuItem(trayMenu_.get(), static_cast<UINT>(b->id),
                     MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void MainWindow::ShowWidget(Control& c, bool visible) {
  if (HWND hwnd = Find(c)->hwnd) ::ShowWindow(hwnd, visible ? SW_SHOWNA : SW_HIDE);
}

void MainWindow::RunTimer(Timer& timer, bool running) {
  const auto id = static_cast<UINT_PTR>(Find(timer)->id);
  if (running)
    ::SetTimer(hwnd_, id, timer.Interval(), nullptr);
  else
    ::KillTimer(hwnd_, id);
}

void MainWindow::SetBoxText(TextBox& box, const std::string& text) {
  HWND hwnd = Find(box)->hwnd;
  // The box already shows what the user typed; setting it again would move the caret.
  if (WindowText(hwnd) != text) ::SetWindowTextW(hwnd, WideFromUtf8(text).c_str());
}

void MainWindow::EditLog(TextBox& log, const LogEdit& edit, std::string_view next) {
  HWND hwnd = Find(log)->hwnd;
  if (edit.replaceAll) {
    ::SetWindowTextW(hwnd, WideFromUtf8(next).c_str());
  } else {
    // Positions in the box count UTF-16 units.
    if (!edit.dropped.empty()) {
      ::SendMessageW(hwnd, EM_SETSEL, 0, static_cast<LPARAM>(Utf16Length(edit.dropped)));
      ::SendMessageW(hwnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    if (!edit.appended.empty()) {
      const std::wstring appended = WideFromUtf8(edit.appended);
      const LRESULT end = ::GetWindowTextLengthW(hwnd);
      ::SendMessageW(hwnd, EM_SETSEL, static_cast<WPARAM>(end), end);
      ::SendMessageW(hwnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(appended.c_str()));
    }
  }
  ::SendMessageW(hwnd, WM_VSCROLL, SB_BOTTOM, 0);
}

void MainWindow::SetCaption(CaptionControl& c, const std::string& caption) {
  const Binding* b = Find(c);
  const std::wstring wide = WideFromUtf8(caption);
  if (c.Kind() == ControlKind::kMenuItem)
    ::ModifyMenuW(trayMenu_.get(), static_cast<UINT>(b->id), MF_BYCOMMAND | MF_STRING,
                  static_cast<UINT_PTR>(b->id), wide.c_str());
  else
    ::SetWindowTextW(b->hwnd, wide.c_str());
}

void MainWindow::SetCheckValue(CheckBox& check, int value) {
  ::SendMessageW(Find(check)->hwnd, BM_SETCHECK,
                 value == 1   ? BST_CHECKED
                 : value == 2 ? BST_INDETERMINATE
                              : BST_UNCHECKED,
                 0);
}

void MainWindow::SetBarValue(ProgressBar& bar, int value) {
  ::SendMessageW(Find(bar)->hwnd, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void MainWindow::SetBarMax(ProgressBar& bar, int max) {
  ::SendMessageW(Find(bar)->hwnd, PBM_SETRANGE32, 0, max);
}

void MainWindow::SetLampColour(Shape& lamp, Colour) {
  ::InvalidateRect(Find(lamp)->hwnd, nullptr, FALSE);
}

void MainWindow::Redescribe(Control& c) {
  // The lamps' state in words; the other controls' texts are their names.
  if (c.Kind() != ControlKind::kShape) return;
  if (HWND hwnd = Find(c)->hwnd)
    ::SetWindowTextW(hwnd, WideFromUtf8(AccessibleNameOf(*form_, c)).c_str());
}

void MainWindow::SetLabelColour(Label& label, Colour) {
  ::InvalidateRect(Find(label)->hwnd, nullptr, TRUE);
}

void MainWindow::FillList(ComboBox& list) {
  HWND hwnd = Find(list)->hwnd;
  ::SendMessageW(hwnd, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : list.Items()) {
    const std::wstring text = WideFromUtf8(item);
    ::SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  ::SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(list.ListIndex()), 0);
}

void MainWindow::AppendToList(ComboBox& list, const std::string& item) {
  const std::wstring text = WideFromUtf8(item);
  ::SendMessageW(Find(list)->hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::SelectInList(ComboBox& list, int index) {
  ::SendMessageW(Find(list)->hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void MainWindow::MirrorWindow(Property property) {
  if (hwnd_ == nullptr) return;
  const FormWindow& w = form_->window;
  const bool minimised = w.State() == WindowState::kMinimised;
  switch (property) {
    case Property::kIcon:
      ApplyIcons();
      break;
    case Property::kVisible:
      ::ShowWindow(hwnd_, !w.Visible() ? SW_HIDE : minimised ? SW_SHOWMINNOACTIVE : SW_SHOW);
      break;
    case Property::kWindowState:
      // A hidden window keeps its state for when it is shown: minimising it
      // now would bring it back on the taskbar.
      if (::IsWindowVisible(hwnd_) && !reportingSize_)
        ::ShowWindow(hwnd_, minimised ? SW_MINIMIZE : SW_RESTORE);
      break;
    default:
      break;
  }
}

// ---- Layout and DPI --------------------------------------------------------

RECT MainWindow::PixelRect(const TwipsRect& r) const {
  return RECT{TwipsToPixels(r.left, dpi_), TwipsToPixels(r.top, dpi_),
              TwipsToPixels(r.left + r.width, dpi_), TwipsToPixels(r.top + r.height, dpi_)};
}

void MainWindow::ApplyFont() {
  for (const Binding& b : bindings_)
    if (b.hwnd != nullptr)
      ::SendMessageW(b.hwnd, WM_SETFONT,
                     reinterpret_cast<WPARAM>(b.font ? b.font.get() : font_.get()), TRUE);
}

// Every caption whole in its fixed rectangle: where the window's font is too
// wide for a caption at this DPI (the rectangles were laid out for another
// font), that one control gets a smaller font; no control moves.
int MainWindow::CaptionRoom(Control& control) {
  const Binding* b = Find(control);
  if (b == nullptr || b->hwnd == nullptr) return 0;
  RECT client{};
  ::GetClientRect(b->hwnd, &client);
  int room = client.right - client.left;
  // A control laid over the right part of this one hides what lies under it:
  // the table runs "Fix location:" under the box beside it, for one.
  const RECT mine = PixelRect(control.Layout().rect);
  for (const Binding& other : bindings_) {
    if (&other == b || other.hwnd == nullptr) continue;
    const RECT r = PixelRect(other.control->Layout().rect);
    if (r.top < mine.bottom && r.bottom > mine.top && r.left > mine.left && r.left < mine.right)
      room = std::min(room, static_cast<int>(r.left - mine.left));
  }
  const int dpi = static_cast<int>(dpi_);
  // What the control itself takes from its width besides the text: the box
  // of a check box and the gap after it; a button's frame and margin. Wine's
  // comctl32 draws the box 12 * dpi / 96 + 1 pixels wide, whatever the
  // system's check mark measures (11 pixels at 96 dpi).
  if (control.Kind() == ControlKind::kCheckBox)
    room -= std::max(SystemMetricForDpi(SM_CXMENUCHECK, dpi_), ::MulDiv(12, dpi, 96) + 1) +
            ::MulDiv(4, dpi, 96);
  else if (control.Kind() == ControlKind::kCommandButton)
    room -= 2 * ::MulDiv(4, dpi, 96);
  return room;
}

int MainWindow::CaptionFontSize() {
  return fontSpec_.lfHeight < 0 ? -fontSpec_.lfHeight : fontSpec_.lfHeight;
}

FontHandle MainWindow::CaptionFont(int size) const {
  LOGFONTW smaller = fontSpec_;
  smaller.lfHeight = -size;
  smaller.lfWidth = 0;
  return FontHandle(::CreateFontIndirectW(&smaller));
}

int MainWindow::WidestText(const std::vector<std::string>& texts, int size) {
  WindowDc screen(nullptr);
  FontHandle font = size == CaptionFontSize() ? nullptr : CaptionFont(size);
  SelectGuard select(screen.Get(), font ? font.get() : font_.get());
  int widest = 0;
  for (const std::string& text : texts)
    widest = std::max(widest, DrawnWidth(screen.Get(), WideFromUtf8(text)));
  return widest;
}

void MainWindow::SetCaptionFont(Control& control, int size) {
  Binding* b = Find(control);
  // The control holds its old font until it is given the new one below.
  FontHandle old = std::move(b->font);
  if (size != CaptionFontSize()) b->font = CaptionFont(size);
  ::SendMessageW(b->hwnd, WM_SETFONT,
                 reinterpret_cast<WPARAM>(b->font ? b->font.get() : font_.get()), TRUE);
}

// The title bar and the task bar ask for their own sizes at this DPI (16 and
// 32 pixels at 96 dpi, 24 and 48 at 144, 32 and 64 at 192); each gets the
// picture made smoothly at that size rather than one scaled by the system.
void MainWindow::ApplyIcons() {
  const std::string& key = form_->window.IconKey();
  // Not "small": the SDK's rpcndr.h defines that word away.
  HICON bigIcon = icons_.Get(key, SystemMetricForDpi(SM_CXICON, dpi_));
  HICON smallIcon = icons_.Get(key, SystemMetricForDpi(SM_CXSMICON, dpi_));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
}

void MainWindow::Layout() {
  for (const Binding& b : bindings_) {
    if (b.hwnd == nullptr) continue;
    RECT r = PixelRect(b.control->Layout().rect);
    if (b.control->Kind() == ControlKind::kComboBox)
      r.bottom = r.top + (r.bottom - r.top) * kComboDropRows;
    ::SetWindowPos(b.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
  dpi_ = dpi != 0 ? dpi : kBaseDpi;
  fontSpec_ = DialogFontSpec(dpi_);
  // The controls still hold the old fonts until they are given the new ones.
  FontHandle old = std::exchange(font_, FontHandle(::CreateFontIndirectW(&fontSpec_)));
  std::vector<FontHandle> oldCaptionFonts;
  for (Binding& b : bindings_) oldCaptionFonts.push_back(std::move(b.font));
  ApplyFont();
  const SIZE outer = OuterSizeForClient(TwipsToPixels(kClientWidthTwips, dpi_),
                                        TwipsToPixels(kClientHeightTwips, dpi_), kWindowStyle,
                                        kWindowExStyle, dpi_);
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
  PlaceTips();
  binder_->RefitCaptions();
  ApplyIcons();
}

// ---- Tips ------------------------------------------------------------------

namespace {

// The lamp's window lets the mouse through to the main window, so its tool is
// a rectangle of the main window's; the graph's tool is the graph's window.
constexpr UINT_PTR kLampTipId = 1;
constexpr int kTipWidthAt96Dpi = 320;

}  // namespace

void MainWindow::BuildTips() {
  tips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                            WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_, nullptr);
  if (tips_ == nullptr) return;
  TTTOOLINFOW lamp{};
  lamp.cbSize = sizeof lamp;
  lamp.uFlags = TTF_SUBCLASS;
  lamp.hwnd = hwnd_;
  lamp.uId = kLampTipId;
  lamp.rect = PixelRect(form_->shpResult.Layout().rect);
  lamp.lpszText = LPSTR_TEXTCALLBACKW;
  ::SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&lamp));
  TTTOOLINFOW graph{};
  graph.cbSize = sizeof graph;
  graph.uFlags = TTF_SUBCLASS | TTF_IDISHWND;
  graph.hwnd = hwnd_;
  graph.uId = reinterpret_cast<UINT_PTR>(graphView_.Handle());
  graph.lpszText = LPSTR_TEXTCALLBACKW;
  ::SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&graph));
  PlaceTips();
}

void MainWindow::PlaceTips() {
  if (tips_ == nullptr) return;
  // A width makes the tooltip break its text at the line ends.
  ::SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, ::MulDiv(kTipWidthAt96Dpi, dpi_, kBaseDpi));
  TTTOOLINFOW lamp{};
  lamp.cbSize = sizeof lamp;
  lamp.hwnd = hwnd_;
  lamp.uId = kLampTipId;
  lamp.rect = PixelRect(form_->shpResult.Layout().rect);
  ::SendMessageW(tips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&lamp));
}

LRESULT MainWindow::OnNotify(const NMHDR& header) {
  if (header.hwndFrom != tips_ || header.code != TTN_GETDISPINFOW) return 0;
  auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
  std::string text;
  if (info.uFlags & TTF_IDISHWND) {
    POINT at{};
    ::GetCursorPos(&at);
    ::ScreenToClient(graphView_.Handle(), &at);
    text = form_->GraphTipAt(at.x);
  } else {
    text = form_->PingResultTip();
  }
  // The control breaks lines at CR LF.
  tipText_.clear();
  for (wchar_t c : WideFromUtf8(text)) {
    if (c == L'\n') tipText_ += L'\r';
    tipText_ += c;
  }
  info.lpszText = tipText_.data();
  return 0;
}

// ---- Messages --------------------------------------------------------------

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    OnTaskbarCreated();
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_MOUSEMOVE:
      OnTrayCallback(wParam, lParam);
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), wParam,
                              lParam);
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam) != WA_INACTIVE);
      return 0;
    case WM_SIZE:
      // Minimised or restored by the user (title bar, task bar): the model
      // learns of it; a state it set itself comes back here unchanged.
      if (wParam == SIZE_MINIMIZED || wParam == SIZE_RESTORED) {
        const bool wasReporting = std::exchange(reportingSize_, true);
        form_->Form_Resize(wParam == SIZE_MINIMIZED ? WindowState::kMinimised
                                                    : WindowState::kNormal);
        reportingSize_ = wasReporting;
      }
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_ENDSESSION:
      if (wParam) form_->Form_QueryUnload();
      return 0;
    case WM_DESTROY:
      for (const Binding& b : bindings_)
        if (b.control->Kind() == ControlKind::kTimer)
          ::KillTimer(hwnd_, static_cast<UINT_PTR>(b.id));
      ::PostQuitMessage(0);
      return 0;
    default:
      return Default(message, wParam, lParam);
  }
}

void MainWindow::OnCommand(int id, int code, HWND control) {
  Binding* b = Find(id);
  if (b == nullptr) return;
  Control& c = *b->control;
  switch (c.Kind()) {
    case ControlKind::kCommandButton:
      if (code == BN_CLICKED && b->handler) (form_.get()->*b->handler)();
      break;
    case ControlKind::kMenuItem:
      if (control == nullptr && b->handler) (form_.get()->*b->handler)();
      break;
    case ControlKind::kCheckBox:
      if (code == BN_CLICKED) {
        auto& check = static_cast<CheckBox&>(c);
        check.SetValue(check.Value() == 1 ? 0 : 1);
      }
      break;
    case ControlKind::kTextBox:
      if (code == EN_CHANGE && !mirroring_) static_cast<TextBox&>(c).SetText(WindowText(b->hwnd));
      break;
    case ControlKind::kComboBox:
      if (code == CBN_SELCHANGE)
        static_cast<ComboBox&>(c).SetListIndex(
            static_cast<int>(::SendMessageW(b->hwnd, CB_GETCURSEL, 0, 0)));
      break;
    default:
      break;
  }
}

void MainWindow::OnTimer(UINT_PTR id) {
  Binding* b = Find(static_cast<int>(id));
  if (b != nullptr && b->control->Kind() == ControlKind::kTimer && b->handler)
    (form_.get()->*b->handler)();
}

// The tray icon calls back with WM_MOUSEMOVE and the mouse message in
// lParam; ordinary moves over the window arrive here too and the form tells
// them apart.
void MainWindow::OnTrayCallback(WPARAM wParam, LPARAM lParam) {
  const int button = ((wParam & MK_LBUTTON) ? 1 : 0) | ((wParam & MK_RBUTTON) ? 2 : 0) |
                     ((wParam & MK_MBUTTON) ? 4 : 0);
  const int shift = ((wParam & MK_SHIFT) ? 1 : 0) | ((wParam & MK_CONTROL) ? 2 : 0);
  const double twips = TwipsPerPixelX();
  form_->Form_MouseMove(button, shift, GET_X_LPARAM(lParam) * twips, GET_Y_LPARAM(lParam) * twips);
}

void MainWindow::OnClose() {
  form_->Form_QueryUnload();
  ::DestroyWindow(hwnd_);
}

void MainWindow::OnDrawItem(const DRAWITEMSTRUCT& item) {
  const Binding* b = Find(item.hwndItem);
  if (b == nullptr || b->control->Kind() != ControlKind::kShape) return;
  BrushHandle fill(::CreateSolidBrush(
      ToColorRefOn(static_cast<Shape&>(*b->control).FillColour(), COLOR_BTNFACE, kLineContrast)));
  ::FillRect(item.hDC, &item.rcItem, fill.get());
  ::FrameRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
}

void MainWindow::OnActivate(bool active) {
  // Bring the focus back to the control that had it, as a dialog does.
  if (!active) {
    HWND focus = ::GetFocus();
    if (focus != nullptr && ::IsChild(hwnd_, focus)) lastFocus_ = focus;
  } else if (lastFocus_ != nullptr && ::IsWindow(lastFocus_)) {
    ::SetFocus(lastFocus_);
  }
}

void MainWindow::OnTaskbarCreated() {
  // Explorer restarted and forgot the icon: add the kept record back, with
  // the picture and tip it last showed.
  if (!form_->sysTray.trayIconShown) return;
  NotifyIconDataA data = form_->sysTray.TrayIconData();
  data.uFlags = kNifMessage | kNifIcon | kNifTip;
  services_.shell.Shell_NotifyIconA(kNimAdd, data);
}

LRESULT MainWindow::OnCtlColorStatic(HDC dc, HWND control, WPARAM wParam, LPARAM lParam) {
  const Binding* b = Find(control);
  if (b != nullptr && IsReadOnlyLog(*form_, *b->control)) {
    // A read-only edit is drawn as a static one, on the dialog's face; the
    // log keeps the edit box's own pair, dark schemes included.
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  if (b != nullptr && b->control->Kind() == ControlKind::kLabel) {
    ::SetTextColor(
        dc, ToColorRefOn(static_cast<Label&>(*b->control).ForeColour(), COLOR_BTNFACE, kTextContrast));
    ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
  }
  return Default(WM_CTLCOLORSTATIC, wParam, lParam);
}

MainWindow::Binding* MainWindow::Find(int id) {
  auto it = std::find_if(bindings_.begin(), bindings_.end(),
                         [id](const Binding& b) { return b.id == id; });
  return it == bindings_.end() ? nullptr : &*it;
}

MainWindow::Binding* MainWindow::Find(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  auto it = std::find_if(bindings_.begin(), bindings_.end(),
                         [hwnd](const Binding& b) { return b.hwnd == hwnd; });
  return it == bindings_.end() ? nullptr : &*it;
}

MainWindow::Binding* MainWindow::Find(const Control& control) {
  auto it = std::find_if(bindings_.begin(), bindings_.end(),
                         [&control](const Binding& b) { return b.control == &control; });
  return it == bindings_.end() ? nullptr : &*it;
}

HWND MainWindow::ControlWindow(const Control& control) const {
  const Binding* b = Find(control);
  return b != nullptr ? b->hwnd : nullptr;
}

const MainWindow::Binding* MainWindow::Find(const Control& control) const {
  auto it = std::find_if(bindings_.begin(), bindings_.end(),
                         [&control](const Binding& b) { return b.control == &control; });
  return it == bindings_.end() ? nullptr : &*it;
}

// ---- Toolkit ---------------------------------------------------------------

int MainWindow::MessageBox(const std::string& text, const std::string& caption,
                           std::uint32_t style) {
  const std::string ansiText = services_.codePage.ToAnsi(text);
  const std::string ansiCaption = services_.codePage.ToAnsi(caption);
  return ::MessageBoxA(hwnd_, ansiText.c_str(), ansiCaption.c_str(), style);
}

// USER handles carry only 32 significant bits, also in a 64-bit process.
std::uint32_t MainWindow::WindowHandle() { return static_cast<std::uint32_t>(AsNumber(hwnd_)); }

// The notification area shows small icons.
std::uint32_t MainWindow::WindowIconHandle() {
  return static_cast<std::uint32_t>(
      AsNumber(icons_.Get(form_->window.IconKey(), SystemMetricForDpi(SM_CXSMICON, dpi_))));
}

void MainWindow::ShowTrayMenu() {
  if (hwnd_ == nullptr || !trayMenu_) return;
  POINT at{};
  ::GetCursorPos(&at);
  // Without the foreground the menu would not close when the user clicks
  // elsewhere; the WM_NULL afterwards lets a second click on the icon work.
  ::SetForegroundWindow(hwnd_);
  ::TrackPopupMenu(trayMenu_.get(), 0, at.x, at.y, 0, hwnd_, nullptr);
  ::PostMessageW(hwnd_, WM_NULL, 0, 0);
}

void MainWindow::FocusWindow() {
  if (hwnd_ == nullptr) return;
  ::SetForegroundWindow(hwnd_);
  ::SetFocus(lastFocus_ != nullptr && ::IsWindow(lastFocus_) ? lastFocus_ : hwnd_);
}

void MainWindow::UnloadWindow() {
  if (hwnd_ != nullptr) ::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void MainWindow::EndProgram() {
  ended_ = true;
  ::PostQuitMessage(0);
}

}  // namespace quorrel::win32
