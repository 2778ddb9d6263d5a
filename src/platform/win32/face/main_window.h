#pragma once
// The Win32 face: one native control per row of the control table, mirroring
// Form1, and the toolkit the model reaches the window through.
#include <windows.h>
// The toolkit port has a MessageBox of its own.
#undef MessageBox

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit.h"
#include "platform/win32/face/dpi.h"
#include "platform/win32/face/gdi_canvas.h"
#include "platform/win32/face/handles.h"
#include "platform/win32/face/state_icons.h"
#include "platform/win32/face/window_class.h"
#include "platform/win32/services/win32_services.h"
#include "window/face_support.h"
#include "window/form1.h"

namespace quorrel::win32 {

class MainWindow : public WindowClass<MainWindow>, public Toolkit, private WidgetCalls {
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
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void OnActivate(bool active);
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  void OnTaskbarCreated();
  // The tips of the result lamp and the graph, asked for as they show.
  LRESULT OnNotify(const NMHDR& header);
  void BuildTips();
  void PlaceTips();
  LRESULT OnCtlColorStatic(HDC dc, HWND control, WPARAM wParam, LPARAM lParam);

  void BuildControls();
  HWND Build(Binding& binding);
  void BuildMenu();
  void BindWindow();
  void Bind(Control& control);
  // One property, or without one all that a new control takes.
  void Mirror(Control& control, std::optional<Property> property);
  void MirrorWindow(Property property);
  void ApplyFont();
  FontHandle CaptionFont(int size) const;

  // WidgetCalls
  void EnableWidget(Control& control, bool enabled) override;
  void ShowWidget(Control& control, bool visible) override;
  void RunTimer(Timer& timer, bool running) override;
  void SetBoxText(TextBox& box, const std::string& text) override;
  void EditLog(TextBox& log, const LogEdit& edit, std::string_view next) override;
  void SetCaption(CaptionControl& control, const std::string& caption) override;
  void SetCheckValue(CheckBox& check, int value) override;
  void SetBarValue(ProgressBar& bar, int value) override;
  void SetBarMax(ProgressBar& bar, int max) override;
  void SetLampColour(Shape& lamp, Colour colour) override;
  void Redescribe(Control& control) override;
  void SetLabelColour(Label& label, Colour colour) override;
  void FillList(ComboBox& list) override;
  void AppendToList(ComboBox& list, const std::string& item) override;
  void SelectInList(ComboBox& list, int index) override;
  int CaptionRoom(Control& control) override;
  int CaptionFontSize() override;
  int WidestText(const std::vector<std::string>& texts, int size) override;
  void SetCaptionFont(Control& control, int size) override;
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
  std::unique_ptr<Binder> binder_;
  std::vector<Binding> bindings_;
  UINT dpi_ = 96;
  UINT taskbarCreated_ = 0;
  HWND lastFocus_ = nullptr;
  HWND tips_ = nullptr;         // owned by the window, which destroys it with itself
  std::wstring tipText_;        // the text the tooltip control reads after TTN_GETDISPINFO
  bool mirroring_ = false;      // the program is setting a control: its echo is not the user's
  bool reportingSize_ = false;  // the window's own state change is being told to the model
  bool ended_ = false;
};

}  // namespace quorrel::win32
