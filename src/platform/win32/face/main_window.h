#pragma once
// The Win32 face: one native control per row of the control table, mirroring
// Form1, and the toolkit the model reaches the window through.
#include <windows.h>
// The toolkit port has a MessageBox of its own.
#undef MessageBox

#include <memory>
#include <string>
#include <vector>

#include "platform/toolkit.h"
#include "platform/win32/face/dpi.h"
#include "platform/win32/face/gdi_canvas.h"
#include "platform/win32/face/handles.h"
#include "platform/win32/face/state_icons.h"
#include "platform/win32/face/window_class.h"
#include "platform/win32/services/win32_services.h"
#include "window/form1.h"

namespace quorrel::win32 {

class MainWindow : public WindowClass<MainWindow>, public Toolkit {
 public:
  static constexpr const wchar_t* kClassName = L"QuorrelMainWindow";

  // `services` must outlive the window.
  MainWindow(HINSTANCE instance, Win32Services& services);
  ~MainWindow() override;

  // Creates the window and its controls, loads the form and shows it.
  bool Create(int showCommand);
  // Runs the message loop until the program ends; returns the exit code.
  int Run();

  Form1& Form() { return *form_; }
  // The native window standing for `control`, or null (shapes, timers, menu
  // entries); for tests, which look at the real controls.
  HWND ControlWindow(const Control& control) const;
  HMENU TrayMenu() const { return trayMenu_.get(); }
  UINT Dpi() const { return dpi_; }

  // Toolkit
  int MessageBox(const std::string& text, const std::string& caption, std::uint32_t style) override;
  std::uint32_t WindowHandle() override;
  std::uint32_t WindowIconHandle() override;
  double TwipsPerPixelX() override { return static_cast<double>(kTwipsPerInch) / dpi_; }
  void ShowTrayMenu() override;
  void FocusWindow() override;
  void UnloadWindow() override;
  void EndProgram() override;
  bool TrayAvailable() override { return true; }

 private:
  friend class WindowClass<MainWindow>;
  using Handler = Form1::Handler;

  // One control or menu entry of the model and what stands for it natively.
  struct Binding {
    Control* control = nullptr;
    HWND hwnd = nullptr;  // none for shapes, timers, the image list and menu entries
    int id = 0;           // child-window, timer or menu command id
    Handler handler = nullptr;
    bool separator = false;  // a menu separator, which has no caption to follow
    FontHandle font;         // the control's own, smaller font where its caption needs one
  };

  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code, HWND control);
  void OnTimer(UINT_PTR id);
  void OnTrayCallback(WPARAM wParam, LPARAM lParam);
  void OnClose();
  void OnPaint();
  void OnActivate(bool active);
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  void OnTaskbarCreated();
  LRESULT OnCtlColorStatic(HDC dc, HWND control, WPARAM wParam, LPARAM lParam);

  void BuildControls();
  HWND Build(Binding& binding);
  void BuildMenu();
  void BindWindow();
  void Bind(std::size_t index);
  void Mirror(Binding& binding, Property property);
  void MirrorText(const Binding& binding);
  void MirrorLog(const Binding& binding);
  void MirrorWindow(Property property);
  void ApplyFont();
  void FitCaptions();
  void FitCaption(Binding& binding);
  std::vector<std::wstring> CaptionsToFit(const Control& control) const;
  bool IsRateCaption(const Control& control) const;
  void ApplyIcons();
  void Layout();
  RECT PixelRect(const TwipsRect& rect) const;
  Binding* Find(int id);
  Binding* Find(HWND hwnd);
  Binding* Find(const Control& control);
  const Binding* Find(const Control& control) const;

  HINSTANCE instance_;
  Win32Services& services_;
  GdiCanvas canvas_;
  GraphView graphView_;
  StateIcons icons_;
  FontHandle font_;
  LOGFONTW fontSpec_{};  // what font_ was made from, for the smaller caption fonts
  MenuHandle trayMenu_;
  std::unique_ptr<Form1> form_;
  std::vector<Binding> bindings_;
  std::string shownLog_;  // the log text as last applied to the box
  UINT dpi_ = 96;
  UINT taskbarCreated_ = 0;
  HWND lastFocus_ = nullptr;
  bool mirroring_ = false;  // the program is setting a control: its echo is not the user's
  bool ended_ = false;
};

}  // namespace quorrel::win32
