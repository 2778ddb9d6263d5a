#pragma once
// What both faces need to bind their widgets to the model, decided once here
// so the Qt and the Win32 face cannot drift apart: the focus order, which
// properties a widget mirrors, the tray menu's entries, the read-only log, the
// colour resolution, accessible texts, the log's incremental update, the
// font fitting of captions, and which toolkit call each property change makes.
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "window/form1.h"

namespace quorrel {

// The focusable controls in tab order (ascending tab index).
std::vector<Control*> FocusOrder(Form1& form);

// Every control of the table, the focusable ones first in tab order, then the
// rest in table order: the creation order of a face whose z-order is its tab
// order (Win32 dialogs).
std::vector<Control*> CreationOrder(Form1& form);

// The properties a face applies to each new widget, before the observer takes
// over, so the widget starts out as the model stands.
std::span<const Property> MirroredProperties();

// The tray menu under mnSysTray, in menu order; separators are the entries
// captioned "-".
struct TrayMenuEntry {
  MenuItem* item;
  bool separator;
};
std::vector<TrayMenuEntry> TrayMenuEntries(Form1& form);

// True for the event log box: shown and scrolled, never edited by hand, and
// the focus may leave it by Tab.
bool IsReadOnlyLog(const Form1& form, const Control& control);

// Colours with the high bit set name a system colour by its index (as
// 0x80000008, the window text colour); `systemColour` resolves the index in
// the face's palette. Other colours pass unchanged (0x00BBGGRR).
inline constexpr Colour kSystemColourFlag = 0x80000000;
Colour ResolveColour(Colour c, Colour (*systemColour)(int index));

// WCAG's relative luminance of a plain colour (0x00BBGGRR), 0 for black to
// 1 for white, and the contrast ratio of two, from 1:1 to 21:1.
double RelativeLuminance(Colour c);
double ContrastRatio(Colour a, Colour b);

// The least contrast a fixed colour needs against the background it stands
// on: text, and lines or filled shapes whose colour carries meaning.
inline constexpr double kTextContrast = 4.5;
inline constexpr double kLineContrast = 3.0;

// `fg` where it stands out from `bg` by `minRatio`; otherwise the nearest tone
// of its hue that does, mixed towards white on a dark background and towards
// black on a light one (as far as pure white or black when nothing nearer
// will do). Both are plain colours; the result is one too.
Colour TonedForContrast(Colour fg, Colour bg, double minRatio);

// The word for a lamp or series colour ("red", "green", "blue", "yellow",
// "grey"); other colours as "#RRGGBB".
std::string ColourWord(Colour c);

// Accessible names: the caption of the label in front of a text box or the
// adapter list ("Destination IP", "Interval in seconds:", "Adaptor:",
// "Fix location:"), "Event log" for the log, "Ping result: passed|failed|none"
// and "Ping activity: <colour>" for the lamps, "Bandwidth graph" for the
// graph, and a caption without its & mnemonic marks for the rest.
std::string AccessibleNameOf(const Form1& form, const Control& control);
// Descriptions: the lamps' state in a sentence; the graph's current
// downstream and upstream captions; empty for the rest.
std::string AccessibleDescriptionOf(const Form1& form, const Control& control);

// How a face turns the log text it shows into the model's new text: the
// model drops whole lines at the top and appends at the bottom. `shown` is
// the model text the face last applied (UTF-8, CR LF line ends). Unless
// replaceAll, `next` == shown without its prefix `dropped`, followed by
// `appended`; `dropped` is a view into `shown`, `appended` a view into
// `next`, and `dropped` ends at a line start of `shown`. replaceAll says that
// no line of `shown` is kept (the log was emptied, or the face shows some other
// text): the face sets `next` whole (`dropped` is all of `shown`, `appended`
// all of `next`). From an empty `shown`, everything is an append.
struct LogEdit {
  bool replaceAll = false;
  std::string_view dropped;
  std::string_view appended;
};
LogEdit DiffLog(std::string_view shown, std::string_view next);

// The largest size from `preferred` down to `minimum` at which
// textWidthAt(size) <= width; `minimum` when none fits, `preferred` when
// minimum > preferred.
int FitFontSize(int preferred, int minimum, int width,
                const std::function<int(int size)>& textWidthAt);

// A caption as both platforms draw it: "&S" shows S, "&&" shows "&".
std::string WithoutMnemonics(std::string_view caption);

// The smallest a caption's font is made to fit its control, as a share of
// the face's font: smaller than that is no longer read comfortably, and a cut
// caption then says more than an unreadable one.
inline constexpr int kSmallestCaptionFontPercent = 70;

// The texts a caption control must show whole, as drawn; empty for controls
// without a caption to fit (text boxes, menu entries, ...). The rate captions
// change every second: theirs are the fastest rate (10 Gbit/s) in both
// groupings and in the user's (`userSeparator`), so one font serves them all.
std::vector<std::string> CaptionTextsToFit(const Form1& form, const Control& control,
                                           std::string_view userSeparator);
bool IsRateCaption(const Form1& form, const Control& control);

// The toolkit calls a face makes for the model's changes. Binder decides which
// call a property change makes; the face only makes it on its own widget.
class WidgetCalls {
 public:
  virtual ~WidgetCalls() = default;
  virtual void EnableWidget(Control& control, bool enabled) = 0;  // controls and menu entries
  virtual void ShowWidget(Control& control, bool visible) = 0;
  virtual void RunTimer(Timer& timer, bool running) = 0;
  virtual void SetBoxText(TextBox& box, const std::string& text) = 0;
  // The log box goes from the text last applied to `next` by `edit`.
  virtual void EditLog(TextBox& log, const LogEdit& edit, std::string_view next) = 0;
  virtual void SetCaption(CaptionControl& control, const std::string& caption) = 0;
  virtual void SetCheckValue(CheckBox& check, int value) = 0;
  virtual void SetBarValue(ProgressBar& bar, int value) = 0;
  virtual void SetBarMax(ProgressBar& bar, int max) = 0;
  virtual void SetLampColour(Shape& lamp, Colour colour) = 0;
  virtual void SetLabelColour(Label& label, Colour colour) = 0;
  virtual void FillList(ComboBox& list) = 0;  // every item, then the selection
  virtual void AppendToList(ComboBox& list, const std::string& item) = 0;
  virtual void SelectInList(ComboBox& list, int index) = 0;
  // The control's accessible name or description may read otherwise now.
  virtual void Redescribe(Control&) {}

  // Caption fitting, in the face's units: the room the caption has in its
  // control, the face's font size (0: none yet), the widest of `texts` at
  // `size`, and the control's font set to `size`.
  virtual int CaptionRoom(Control& control) = 0;
  virtual int CaptionFontSize() = 0;
  virtual int WidestText(const std::vector<std::string>& texts, int size) = 0;
  virtual void SetCaptionFont(Control& control, int size) = 0;
};

// Which property change does what to a widget, the same in both faces.
class Binder {
 public:
  // `form` and `calls` outlive the binder.
  Binder(Form1& form, WidgetCalls& calls, std::string userSeparator);

  // Every state property, as a new widget needs to start as the model stands.
  void MirrorAll(Control& control);
  void Mirror(Control& control, Property property);
  // Every caption fitted again, the rate captions too: the face's font changed.
  void RefitCaptions();

 private:
  void MirrorText(Control& control);
  void FitCaption(Control& control);

  Form1& form_;
  WidgetCalls& calls_;
  std::string userSeparator_;
  std::string shownLog_;  // the log text as last applied to the box
  std::vector<const Control*> fittedRates_;
};

}  // namespace quorrel
