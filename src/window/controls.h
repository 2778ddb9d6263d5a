#pragma once
// Plain controls of the window model. A setter stores the value and tells the
// one observer (the face's binding) which property changed, so the native
// widget follows.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/canvas.h"

namespace quorrel {

enum class ControlKind {
  kCommandButton,
  kTextBox,
  kCheckBox,
  kPictureBox,
  kTimer,
  kComboBox,
  kProgressBar,
  kImageList,
  kLabel,
  kShape,
  kMenuItem,
};

enum class Property {
  kText,  // text of a text box, caption of a button, label, check box or menu item
  kEnabled,
  kVisible,
  kValue,  // check box value, progress bar position
  kMax,
  kFillColour,
  kForeColour,
  kItems,      // the list's items were replaced as a whole: refill
  kItemAdded,  // one item was appended at the end: append Items().back()
  kListIndex,
  kIcon,
  kWindowState,
};

// Position and size in twips.
struct TwipsRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct ControlLayout {
  const char* name;
  ControlKind kind;
  const char* caption;  // initial caption or text; "" for none
  TwipsRect rect;       // all zero for controls without a place (timers, image list, menus)
  int tabIndex;         // position in the focus order, -1 when not focusable
};

inline constexpr Colour kSilver = 0x00C0C0C0;
inline constexpr Colour kRed = 0x000000FF;
inline constexpr Colour kGreen = 0x0000FF00;
inline constexpr Colour kBlue = 0x00FF0000;
inline constexpr Colour kYellow = 0x0000FFFF;
inline constexpr Colour kWindowTextColour = 0x80000008;  // system colour reference

class Control {
 public:
  using Observer = std::function<void(Control&, Property)>;

  explicit Control(const ControlLayout& layout) : layout_(layout), text_(layout.caption) {}
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const ControlLayout& Layout() const { return layout_; }
  const char* Name() const { return layout_.name; }
  ControlKind Kind() const { return layout_.kind; }

  void SetObserver(Observer observer) { observer_ = std::move(observer); }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { Set(enabled_, enabled, Property::kEnabled); }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { Set(visible_, visible, Property::kVisible); }

 protected:
  template <typename T>
  void Set(T& field, const T& value, Property property) {
    if (field == value) return;
    field = value;
    Notify(property);
  }
  void Notify(Property property) {
    if (observer_) observer_(*this, property);
  }

  const ControlLayout& layout_;
  std::string text_;
  bool enabled_ = true;
  bool visible_ = true;

 private:
  Observer observer_;
};

// Caption-carrying controls: buttons, labels, check boxes' captions, menu items.
class CaptionControl : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return text_; }
  void SetCaption(const std::string& caption) { Set(text_, caption, Property::kText); }
};

class CommandButton : public CaptionControl {
 public:
  using CaptionControl::CaptionControl;
};

class MenuItem : public CaptionControl {
 public:
  using CaptionControl::CaptionControl;
};

class Label : public CaptionControl {
 public:
  using CaptionControl::CaptionControl;
  Colour ForeColour() const { return foreColour_; }
  void SetForeColour(Colour colour) { Set(foreColour_, colour, Property::kForeColour); }

 private:
  Colour foreColour_ = kWindowTextColour;
};

class TextBox : public Control {
 public:
  using Control::Control;
  const std::string& Text() const { return text_; }
  // Runs the change handler whenever the text changes, typed or set by the
  // program, as the native control does.
  void SetText(const std::string& text) {
    if (text_ == text) return;
    text_ = text;
    Notify(Property::kText);
    if (onChange_) onChange_();
  }
  void SetChangeHandler(std::function<void()> handler) { onChange_ = std::move(handler); }

 private:
  std::function<void()> onChange_;
};

class CheckBox : public CaptionControl {
 public:
  using CaptionControl::CaptionControl;
  // 0 cleared, 1 set, 2 greyed.
  int Value() const { return value_; }
  void SetValue(int value) { Set(value_, value, Property::kValue); }

 private:
  int value_ = 0;
};

class Shape : public Control {
 public:
  using Control::Control;
  Colour FillColour() const { return fillColour_; }
  void SetFillColour(Colour colour) { Set(fillColour_, colour, Property::kFillColour); }

 private:
  Colour fillColour_ = kSilver;
};

class ProgressBar : public Control {
 public:
  using Control::Control;
  int Max() const { return max_; }
  void SetMax(int max) { Set(max_, max, Property::kMax); }
  int Value() const { return value_; }
  void SetValue(int value) { Set(value_, value, Property::kValue); }

 private:
  int max_ = 100;  // the common control's own default
  int value_ = 0;
};

class ComboBox : public Control {
 public:
  using Control::Control;
  const std::vector<std::string>& Items() const { return items_; }
  // The face appends just the newest entry, so filling a list of n entries
  // costs n appends, not n refills.
  void AddItem(const std::string& item) {
    items_.push_back(item);
    Notify(Property::kItemAdded);
  }
  void Clear() {
    if (items_.empty() && listIndex_ == -1) return;
    items_.clear();
    listIndex_ = -1;
    Notify(Property::kItems);
  }
  // Selected position counted from 0; -1 for none.
  int ListIndex() const { return listIndex_; }
  void SetListIndex(int index) { Set(listIndex_, index, Property::kListIndex); }

 private:
  std::vector<std::string> items_;
  int listIndex_ = -1;
};

class PictureBox : public Control {
 public:
  using Control::Control;
};

class ImageList : public Control {
 public:
  using Control::Control;
};

class Timer : public Control {
 public:
  explicit Timer(const ControlLayout& layout) : Control(layout) { enabled_ = false; }
  int Interval() const { return 1000; }
};

}  // namespace quorrel
