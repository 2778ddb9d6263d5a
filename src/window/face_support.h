#pragma once
// What both faces need to bind their widgets to the model, decided once here
// so the Qt and the Win32 face cannot drift apart: the focus order, which
// properties a widget mirrors, the tray menu's entries, the read-only log, the
// colour resolution, accessible texts, the log's incremental update and the
// font fitting of captions.
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

}  // namespace quorrel
