// The real Win32 face under Wine: the window is built from the control table
// by the same code as in quorrel.exe, and the tests look at the native
// controls it made. face_tests.sh runs this at 96, 144 and 192 dpi, set in
// the test's own Wine prefix.
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/face/dpi.h"
#include "platform/win32/face/main_window.h"
#include "platform/win32/services/wide_text.h"
#include "window/face_support.h"
#include "window/state_pictures.h"

namespace quorrel::win32 {
namespace {

std::string TextOf(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return Utf8FromWide(text);
}

// A caption as a button or label draws it: "&S" shows S, "&&" shows &.
std::wstring Drawn(const std::wstring& caption) {
  std::wstring out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == L'&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

// Counts the messages a control receives, to tell how the face changed it.
struct MessageCounter {
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR data) {
    auto* self = reinterpret_cast<MessageCounter*>(data);
    if (message < self->counts.size()) ++self->counts[message];
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
  }
  explicit MessageCounter(HWND hwnd) : hwnd(hwnd), counts(0x1000, 0) {
    ::SetWindowSubclass(hwnd, &Proc, 77, reinterpret_cast<DWORD_PTR>(this));
  }
  ~MessageCounter() { ::RemoveWindowSubclass(hwnd, &Proc, 77); }
  int operator[](UINT message) const { return counts[message]; }
  HWND hwnd;
  std::vector<int> counts;
};

class FaceTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    services_ = new Win32Services;
    window_ = new MainWindow(::GetModuleHandleW(nullptr), *services_);
    created_ = window_->Create(SW_SHOWNOACTIVATE);
    Pump();
  }
  static void TearDownTestSuite() {
    delete window_;
    delete services_;
  }
  void SetUp() override { ASSERT_TRUE(created_) << "the window could not be made"; }

  static void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  static Form1& Form() { return window_->Form(); }
  static HWND Hwnd(const Control& c) { return window_->ControlWindow(c); }

  static Win32Services* services_;
  static MainWindow* window_;
  static bool created_;
};

Win32Services* FaceTest::services_ = nullptr;
MainWindow* FaceTest::window_ = nullptr;
bool FaceTest::created_ = false;

// ---- DPI and captions ------------------------------------------------------

TEST_F(FaceTest, RunsAtTheDpiTheSystemIsSetTo) {
  const char* expected = std::getenv("QUORREL_EXPECT_DPI");
  if (expected == nullptr) GTEST_SKIP() << "QUORREL_EXPECT_DPI not set";
  unsigned dpi = 0;
  std::from_chars(expected, expected + std::strlen(expected), dpi);
  EXPECT_EQ(window_->Dpi(), dpi);
  RECT client{};
  ::GetClientRect(window_->Handle(), &client);
  EXPECT_EQ(client.right, TwipsToPixels(kClientWidthTwips, dpi));
  EXPECT_EQ(client.bottom, TwipsToPixels(kClientHeightTwips, dpi));
}

// Room for the text of a control as it is seen: its client width, less what
// a sibling above it in the z-order covers from the right, and as Wine's
// comctl32 draws it: a check box puts a box of 12 * dpi / 96 + 1 pixels and
// half a "0" before its text; a push button insets its label by 2 pixels on
// each side of the frame.
int VisibleWidth(HWND hwnd) {
  RECT client{};
  ::GetClientRect(hwnd, &client);
  int room = client.right - client.left;
  RECT mine{};
  ::GetWindowRect(hwnd, &mine);
  for (HWND above = ::GetWindow(hwnd, GW_HWNDPREV); above != nullptr;
       above = ::GetWindow(above, GW_HWNDPREV)) {
    RECT r{};
    if (!::IsWindowVisible(above) || !::GetWindowRect(above, &r)) continue;
    if (r.top < mine.bottom && r.bottom > mine.top && r.left > mine.left && r.left < mine.right)
      room = std::min(room, static_cast<int>(r.left - mine.left));
  }
  return room;
}

int TextRoom(HWND hwnd, ControlKind kind, HDC dc, UINT dpi) {
  int room = VisibleWidth(hwnd);
  if (kind == ControlKind::kCheckBox) {
    INT zero = 0;
    ::GetCharWidth32W(dc, L'0', L'0', &zero);
    room -= static_cast<int>(12 * dpi / 96 + 1) + zero / 2;
  } else if (kind == ControlKind::kCommandButton) {
    room -= 2 * 2;
  }
  return room;
}

int TextWidth(HDC dc, const std::wstring& text) {
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// One past the rightmost column the control paints in other than its
// background, as it paints itself (WM_PRINTCLIENT).
int InkRight(HWND hwnd) {
  RECT client{};
  ::GetClientRect(hwnd, &client);
  const int w = client.right;
  const int h = client.bottom;
  HDC screen = ::GetDC(hwnd);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  HBRUSH brush = ::CreateSolidBrush(face);
  ::FillRect(memory, &client, brush);
  ::DeleteObject(brush);
  ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory),
                 PRF_CLIENT | PRF_ERASEBKGND);
  ::GdiFlush();
  const std::uint32_t background =
      (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
  int right = 0;
  const auto* px = static_cast<const std::uint32_t*>(bits);
  for (int y = 0; y < h; ++y)
    for (int x = w - 1; x >= right; --x)
      if ((px[static_cast<std::size_t>(y) * w + x] & 0xFFFFFF) != background) {
        right = x + 1;
        break;
      }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(hwnd, screen);
  return right;
}

struct CaptionCheck {
  const Control* control;
  std::string text;
};

// Each caption as the user meets it: set through the model, read back from
// the native control, measured in the font the control really has.
// `needed`: whether a smaller font than the window's must be needed by the
// texts checked (the rate captions are fitted for the fastest rate, not for
// the text they show now).
void ExpectCaptionsFit(const std::vector<CaptionCheck>& checks, HFONT windowFont, UINT dpi,
                       bool needed = true) {
  for (const CaptionCheck& check : checks) {
    HWND hwnd = FaceTest::Hwnd(*check.control);
    ASSERT_NE(hwnd, nullptr) << check.control->Name();
    EXPECT_EQ(TextOf(hwnd), check.text) << check.control->Name();
    const std::wstring drawn = Drawn(WideFromUtf8(TextOf(hwnd)));
    HDC dc = ::GetDC(hwnd);
    auto font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
    HGDIOBJ old = ::SelectObject(dc, font);
    const int width = TextWidth(dc, drawn);
    const int room = TextRoom(hwnd, check.control->Kind(), dc, dpi);
    EXPECT_LE(width, room) << check.control->Name() << " \"" << check.text << "\" at " << dpi
                           << " dpi is cut";
    // What the control really paints ends where it can still be seen (a
    // button's frame is ink too, so only labels and check boxes).
    if (check.control->Kind() != ControlKind::kCommandButton) {
      EXPECT_LE(InkRight(hwnd), VisibleWidth(hwnd))
          << check.control->Name() << " \"" << check.text << "\" at " << dpi << " dpi is drawn cut";
    }
    // A font smaller than the window's only where the window's is too wide.
    ::SelectObject(dc, windowFont);
    if (needed && TextWidth(dc, drawn) <= TextRoom(hwnd, check.control->Kind(), dc, dpi)) {
      EXPECT_EQ(font, windowFont) << check.control->Name() << " shrunk without need at " << dpi;
    }
    LOGFONTW mine{}, base{};
    ::GetObjectW(font, sizeof mine, &mine);
    ::GetObjectW(windowFont, sizeof base, &base);
    EXPECT_GE(std::abs(mine.lfHeight) * 100, std::abs(base.lfHeight) * 70)
        << check.control->Name() << " is shrunk past reading at " << dpi;
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd, dc);
  }
}

TEST_F(FaceTest, EveryCaptionIsShownWholeWithoutMovingAControl) {
  Form1& f = Form();
  const UINT dpi = window_->Dpi();
  // The text boxes keep the window's font whatever their contents.
  auto windowFont = reinterpret_cast<HFONT>(::SendMessageW(Hwnd(f.txtIP), WM_GETFONT, 0, 0));
  ASSERT_NE(windowFont, nullptr);

  std::vector<CaptionCheck> checks;
  for (Control* c : f.Controls()) {
    const ControlKind k = c->Kind();
    if (k != ControlKind::kLabel && k != ControlKind::kCheckBox && k != ControlKind::kCommandButton)
      continue;
    checks.push_back({c, static_cast<CaptionControl*>(c)->Caption()});
    // Where the table put it, to the pixel.
    RECT r{};
    ::GetWindowRect(Hwnd(*c), &r);
    ::MapWindowPoints(nullptr, window_->Handle(), reinterpret_cast<POINT*>(&r), 2);
    const TwipsRect& t = c->Layout().rect;
    EXPECT_EQ(r.left, TwipsToPixels(t.left, dpi)) << c->Name();
    EXPECT_EQ(r.top, TwipsToPixels(t.top, dpi)) << c->Name();
    EXPECT_EQ(r.right, TwipsToPixels(t.left + t.width, dpi)) << c->Name();
    EXPECT_EQ(r.bottom, TwipsToPixels(t.top + t.height, dpi)) << c->Name();
  }
  ASSERT_EQ(checks.size(), 14u);  // 8 labels, 3 check boxes, 3 buttons
  ExpectCaptionsFit(checks, windowFont, dpi, false);

  // The toggle's other caption, and the rate captions at 10 Gbit/s in both
  // groupings (en_US and de_DE).
  f.cmdToggle.SetCaption("&Stop");
  f.lblDS.SetCaption("Downstream: 1,220,703 KB");
  f.lblUS.SetCaption("Upstream: 1,220,703 KB");
  ExpectCaptionsFit({{&f.cmdToggle, "&Stop"},
                     {&f.lblDS, "Downstream: 1,220,703 KB"},
                     {&f.lblUS, "Upstream: 1,220,703 KB"}},
                    windowFont, dpi);
  f.lblDS.SetCaption("Downstream: 1.220.703 KB");
  f.lblUS.SetCaption("Upstream: 1.220.703 KB");
  ExpectCaptionsFit({{&f.lblDS, "Downstream: 1.220.703 KB"}, {&f.lblUS, "Upstream: 1.220.703 KB"}},
                    windowFont, dpi);
  f.cmdToggle.SetCaption("&Start");
  f.lblDS.SetCaption("Downstream:");
  f.lblUS.SetCaption("Upstream:");
}

// The caption grown a narrow letter at a time: as long as the face leaves it
// the window's font, Wine's check box must draw it whole beside its box and
// the gap after it; longer ones get a smaller font.
TEST_F(FaceTest, ACheckBoxCaptionKeepsTheWindowsFontOnlyWhileItFitsBesideTheBox) {
  Form1& f = Form();
  const UINT dpi = window_->Dpi();
  HWND check = Hwnd(f.chkChanges);
  auto windowFont = reinterpret_cast<HFONT>(::SendMessageW(Hwnd(f.txtIP), WM_GETFONT, 0, 0));
  const std::string before = f.chkChanges.Caption();
  HDC dc = ::GetDC(check);
  int kept = 0, shrunk = 0;
  for (std::string caption = "Log"; caption.size() < 80; caption += 'i') {
    f.chkChanges.SetCaption(caption);
    auto font = reinterpret_cast<HFONT>(::SendMessageW(check, WM_GETFONT, 0, 0));
    HGDIOBJ old = ::SelectObject(dc, font);
    const int width = TextWidth(dc, WideFromUtf8(caption));
    const int room = TextRoom(check, ControlKind::kCheckBox, dc, dpi);
    ::SelectObject(dc, old);
    if (font != windowFont) {
      ++shrunk;
      continue;
    }
    ++kept;
    EXPECT_LE(width, room) << "\"" << caption << "\" at " << dpi << " dpi";
  }
  ::ReleaseDC(check, dc);
  EXPECT_GT(kept, 0);
  EXPECT_GT(shrunk, 0);
  f.chkChanges.SetCaption(before);
}

// ---- The destination box's hint -------------------------------------------

TEST_F(FaceTest, EmptyDestinationShowsTheCueWhichIsNotItsText) {
  Form1& f = Form();
  HWND ip = Hwnd(f.txtIP);
  const std::string before = f.txtIP.Text();
  f.txtIP.SetText("");
  wchar_t cue[64] = {};
  ASSERT_TRUE(::SendMessageW(ip, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), std::size(cue)));
  EXPECT_EQ(Utf8FromWide(cue), "router address, e.g. 192.168.1.1");
  EXPECT_EQ(::GetWindowTextLengthW(ip), 0);
  EXPECT_EQ(f.txtIP.Text(), "");
  f.txtIP.SetText("127.0.0.1");
  EXPECT_EQ(TextOf(ip), "127.0.0.1");
  f.txtIP.SetText(before);
}

// ---- The log box -----------------------------------------------------------

TEST_F(FaceTest, LogBoxHoldsExactlyTheModelsTextThroughLinesAndTrims) {
  Form1& f = Form();
  HWND log = Hwnd(f.txtOut);
  ASSERT_NE(log, nullptr);
  MessageCounter counter(log);
  // Lines of every length, with characters of two and four UTF-8 bytes and
  // one beyond the BMP (two UTF-16 units), so the box's unit positions and
  // the model's bytes part ways; a line longer than the bound empties the box.
  const std::string pieces[] = {"Ping 127.0.0.1 passed : DS 1 KB - 0 KB, US 0 KB - 0 KB", "Größe",
                                "Monitoring started", "€ 5", "\xF0\x9D\x84\x9E clef"};
  int lines = 0;
  std::size_t longest = 0;
  for (int i = 0; i < 400; ++i) {
    std::string message = pieces[(i * 3 + i / 7) % std::size(pieces)];
    for (int r = 0; r < i % 4; ++r) message += " " + message.substr(0, 30);
    if (i == 150) message = std::string(3100, 'x');
    if (i == 151 || i == 290) message.clear();
    f.AddLogLine(message);
    ++lines;
    ASSERT_EQ(TextOf(log), f.txtOut.Text()) << "after line " << i;
    longest = std::max(longest, f.txtOut.Text().size());
  }
  EXPECT_GT(longest, 2900u);  // the trims were reached
  // Edited in place: whole-text replacements only where the model's change
  // was not a trim and an append (the over-long lines).
  EXPECT_GT(counter[EM_REPLACESEL], lines / 2);
  EXPECT_LT(counter[WM_SETTEXT], lines / 5);
  std::cout << counter[EM_REPLACESEL] << " replacements, " << counter[WM_SETTEXT]
            << " whole texts for " << lines << " lines\n";
}

// ---- The adapter list ------------------------------------------------------

TEST_F(FaceTest, AdapterListAppendsOneEntryAndRefillsOnlyWhenReplaced) {
  Form1& f = Form();
  HWND list = Hwnd(f.cboConnections);
  auto entries = [list] {
    std::vector<std::string> out;
    const auto n = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
      std::wstring text(static_cast<std::size_t>(::SendMessageW(list, CB_GETLBTEXTLEN, i, 0)) + 1,
                        L'\0');
      text.resize(static_cast<std::size_t>(
          ::SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
      out.push_back(Utf8FromWide(text));
    }
    return out;
  };
  EXPECT_EQ(entries(), f.cboConnections.Items()) << "as filled at load";
  MessageCounter counter(list);
  f.cboConnections.AddItem("Ethernet adaptor ");
  f.cboConnections.AddItem("Wi-Fi ");
  EXPECT_EQ(entries(), f.cboConnections.Items());
  EXPECT_EQ(counter[CB_RESETCONTENT], 0);
  EXPECT_EQ(counter[CB_ADDSTRING], 2);
  f.cboConnections.Clear();
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(counter[CB_RESETCONTENT], 1);
}

// ---- Icons -----------------------------------------------------------------

struct IconPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
};

IconPixels PixelsOf(HICON icon) {
  IconPixels out;
  ICONINFO info{};
  if (!::GetIconInfo(icon, &info)) return out;
  BITMAP bm{};
  ::GetObjectW(info.hbmColor, sizeof bm, &bm);
  out.width = bm.bmWidth;
  out.height = bm.bmHeight;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = bm.bmWidth;
  bi.bmiHeader.biHeight = -bm.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  out.argb.resize(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight);
  HDC dc = ::GetDC(nullptr);
  ::GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(bm.bmHeight), out.argb.data(), &bi,
              DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, dc);
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  return out;
}

// Nearest-neighbour scaling only ever shows the picture's own colours, each
// fully opaque or fully transparent; a smooth downscale mixes colours and
// leaves the symbol's edge partly transparent.
int MixedPixels(const IconPixels& icon, const Picture& picture) {
  std::set<std::uint32_t> own;
  for (Colour c : picture.pixels)
    own.insert(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));  // as 0x00RRGGBB
  int mixed = 0;
  for (std::uint32_t p : icon.argb) {
    const std::uint32_t alpha = p >> 24;
    if ((alpha > 0 && alpha < 0xFF) || (alpha == 0xFF && !own.count(p & 0xFFFFFF))) ++mixed;
  }
  return mixed;
}

TEST_F(FaceTest, WindowAndTrayIconsAreMadeSmoothlyAtTheSizesAskedFor) {
  const UINT dpi = window_->Dpi();
  const int smallSize = SystemMetricForDpi(SM_CXSMICON, dpi);
  const int bigSize = SystemMetricForDpi(SM_CXICON, dpi);
  EXPECT_EQ(smallSize, ::MulDiv(16, static_cast<int>(dpi), 96));
  struct Asked {
    const char* what;
    HICON icon;
    int size;
  };
  for (const char* key : {"grey", "green", "red"}) {
    Form().window.SetIconKey(key);
    const Asked asked[] = {
        {"title bar",
         reinterpret_cast<HICON>(::SendMessageW(window_->Handle(), WM_GETICON, ICON_SMALL, 0)),
         smallSize},
        {"task bar",
         reinterpret_cast<HICON>(::SendMessageW(window_->Handle(), WM_GETICON, ICON_BIG, 0)),
         bigSize},
        {"tray", reinterpret_cast<HICON>(static_cast<std::uintptr_t>(window_->WindowIconHandle())),
         smallSize}};
    for (const Asked& a : asked) {
      SCOPED_TRACE(std::string(key) + " " + a.what);
      ASSERT_NE(a.icon, nullptr);
      const IconPixels px = PixelsOf(a.icon);
      EXPECT_EQ(px.width, a.size);
      EXPECT_EQ(px.height, a.size);
      if (a.size < kPictureSize) {
        EXPECT_GT(MixedPixels(px, StatePicture(key)), a.size / 2);
      } else if (a.size == kPictureSize) {  // the picture itself, pixel for pixel
        EXPECT_EQ(MixedPixels(px, StatePicture(key)), 0);
      }
      // The magenta corner is transparent, not magenta.
      EXPECT_EQ(px.argb.front() >> 24, 0u);
    }
  }
  Form().window.SetIconKey("grey");
}

// ---- What both faces take from the control table ---------------------------

TEST_F(FaceTest, TabWalksTheFocusOrder) {
  Form1& f = Form();
  std::vector<HWND> expected;
  for (Control* c : FocusOrder(f)) {
    HWND h = Hwnd(*c);
    ASSERT_NE(h, nullptr) << c->Name();
    EXPECT_TRUE(::GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) << c->Name();
    // The dialog manager passes over what cannot take the focus now.
    if (::IsWindowEnabled(h) && ::IsWindowVisible(h)) expected.push_back(h);
  }
  ASSERT_GE(expected.size(), 8u);
  std::vector<HWND> walked{expected.front()};
  for (std::size_t i = 1; i < expected.size(); ++i)
    walked.push_back(::GetNextDlgTabItem(window_->Handle(), walked.back(), FALSE));
  EXPECT_EQ(walked, expected);
  EXPECT_EQ(::GetNextDlgTabItem(window_->Handle(), walked.back(), FALSE), expected.front());
}

TEST_F(FaceTest, TheModelFollowsAMinimiseAndRestoreByTheUser) {
  const HWND hwnd = window_->Handle();
  ::ShowWindow(hwnd, SW_MINIMIZE);
  Pump();
  EXPECT_EQ(Form().window.State(), WindowState::kMinimised);
  ::ShowWindow(hwnd, SW_RESTORE);
  Pump();
  EXPECT_EQ(Form().window.State(), WindowState::kNormal);
  EXPECT_FALSE(::IsIconic(hwnd));
}

TEST_F(FaceTest, TrayMenuHasTheEntriesAndSeparatorsOfTheTable) {
  HMENU menu = window_->TrayMenu();
  const std::vector<TrayMenuEntry> entries = TrayMenuEntries(Form());
  ASSERT_EQ(::GetMenuItemCount(menu), static_cast<int>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    wchar_t text[64] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_STRING;
    item.dwTypeData = text;
    item.cch = std::size(text);
    ASSERT_TRUE(::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item));
    EXPECT_EQ((item.fType & MFT_SEPARATOR) != 0, entries[i].separator) << i;
    if (!entries[i].separator) {
      EXPECT_EQ(Utf8FromWide(text), entries[i].item->Caption());
    }
  }
  // The toggle's caption follows the model.
  Form().mnToggle.SetCaption("Stop Pings");
  wchar_t text[64] = {};
  ::GetMenuStringW(menu, 2, text, std::size(text), MF_BYPOSITION);
  EXPECT_EQ(Utf8FromWide(text), "Stop Pings");
  Form().mnToggle.SetCaption("Start Pings");
}

TEST_F(FaceTest, LabelColoursComeFromTheModelAndTheSystemScheme) {
  Form1& f = Form();
  auto textColourOf = [](HWND label) {
    HDC dc = ::GetDC(label);
    ::SendMessageW(window_->Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(label));
    const COLORREF colour = ::GetTextColor(dc);
    ::ReleaseDC(label, dc);
    return colour;
  };
  // Red and blue in their own hue, toned where the dialog's face leaves
  // them less than text's contrast: a light face, then a dark one.
  const COLORREF lightFace = ::GetSysColor(COLOR_BTNFACE);
  for (COLORREF faceColour : {lightFace, RGB(0x2D, 0x2D, 0x2D)}) {
    const int element = COLOR_BTNFACE;
    ::SetSysColors(1, &element, &faceColour);
    const COLORREF red = textColourOf(Hwnd(f.lblDS));
    const COLORREF blue = textColourOf(Hwnd(f.lblUS));
    EXPECT_GE(ContrastRatio(red, faceColour), kTextContrast) << std::hex << faceColour;
    EXPECT_GE(ContrastRatio(blue, faceColour), kTextContrast) << std::hex << faceColour;
    EXPECT_TRUE(GetRValue(red) > GetGValue(red) && GetGValue(red) == GetBValue(red)) << red;
    EXPECT_TRUE(GetBValue(blue) > GetRValue(blue) && GetRValue(blue) == GetGValue(blue)) << blue;
  }
  ::SetSysColors(1, std::array{COLOR_BTNFACE}.data(), &lightFace);
  // The other labels keep the system's window text colour (0x80000008).
  EXPECT_EQ(textColourOf(Hwnd(f.Label1)), ::GetSysColor(COLOR_WINDOWTEXT));
}

TEST_F(FaceTest, EachLampIsAWindowThatDrawsItsColourAndSaysItsStateInWords) {
  Form1& f = Form();
  const HWND lamp = Hwnd(f.shpResult);
  ASSERT_NE(lamp, nullptr);
  auto centre = [lamp] {
    RECT r{};
    ::GetClientRect(lamp, &r);
    HDC screen = ::GetDC(lamp);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::SendMessageW(lamp, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    const COLORREF pixel = ::GetPixel(memory, r.right / 2, r.bottom / 2);
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(lamp, screen);
    return pixel;
  };
  const Colour before = f.shpResult.FillColour();
  f.shpResult.SetFillColour(kGreen);
  EXPECT_EQ(TextOf(lamp), "Ping result: passed");
  const COLORREF green = centre();
  EXPECT_TRUE(GetGValue(green) > GetRValue(green) && GetGValue(green) > GetBValue(green)) << green;
  f.shpResult.SetFillColour(kRed);
  EXPECT_EQ(TextOf(lamp), "Ping result: failed");
  const COLORREF red = centre();
  EXPECT_TRUE(GetRValue(red) > GetGValue(red) && GetRValue(red) > GetBValue(red)) << red;
  f.shpResult.SetFillColour(before);
  EXPECT_EQ(TextOf(Hwnd(f.shpPing)), "Ping activity: " + ColourWord(f.shpPing.FillColour()));
}

// ---- Tips -------------------------------------------------------------------

BOOL CALLBACK FindTips(HWND hwnd, LPARAM found) {
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  if (std::wstring(name) == TOOLTIPS_CLASSW) *reinterpret_cast<HWND*>(found) = hwnd;
  return TRUE;
}

TEST_F(FaceTest, TheLampAndTheGraphTellTheirTipsWhenTheyShow) {
  HWND tips = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), &FindTips, reinterpret_cast<LPARAM>(&tips));
  ASSERT_NE(tips, nullptr);
  HWND graph = Hwnd(Form().picGraph);
  auto tipOf = [&](UINT_PTR id) {
    wchar_t text[1024] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window_->Handle();
    tool.uId = id;
    tool.lpszText = text;
    ::SendMessageW(tips, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
    return Utf8FromWide(text);
  };
  auto withCrLf = [](std::string text) {
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
      text.insert(at, "\r");
    return text;
  };
  EXPECT_EQ(tipOf(1), withCrLf(Form().PingResultTip()));
  Form().tmrBandwidth_Timer();
  Form().tmrBandwidth_Timer();
  RECT area{};
  ::GetClientRect(graph, &area);
  POINT at{area.right - 2, area.bottom / 2};
  ::ClientToScreen(graph, &at);
  ::SetCursorPos(at.x, at.y);
  POINT now{};
  ::GetCursorPos(&now);
  ::ScreenToClient(graph, &now);
  const std::string expected = Form().GraphTipAt(now.x);
  EXPECT_NE(expected.find("Downstream: "), std::string::npos) << "at x " << now.x;
  EXPECT_EQ(tipOf(reinterpret_cast<UINT_PTR>(graph)), withCrLf(expected));
}

}  // namespace
}  // namespace quorrel::win32
