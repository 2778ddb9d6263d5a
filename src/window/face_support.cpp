#include "window/face_support.h"

#include <algorithm>

namespace quorrel {
namespace {

constexpr Property kMirrored[] = {Property::kText,       Property::kEnabled, Property::kVisible,
                                  Property::kValue,      Property::kMax,     Property::kFillColour,
                                  Property::kForeColour, Property::kItems,   Property::kListIndex};

constexpr char kSeparatorCaption[] = "-";

// "&S" marks S as the mnemonic and "&&" stands for "&", as the platforms read
// captions.
std::string WithoutMnemonics(std::string_view caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

const Label* LabelFor(const Form1& form, const Control& control) {
  if (&control == &form.txtIP) return &form.Label2;
  if (&control == &form.txtInterval) return &form.Label1;
  if (&control == &form.cboConnections) return &form.Label5;
  if (&control == &form.txtFix) return &form.Label6;
  return nullptr;
}

std::string ResultWord(Colour fill) {
  if (fill == kGreen) return "passed";
  if (fill == kRed) return "failed";
  return "none";
}

}  // namespace

std::vector<Control*> FocusOrder(Form1& form) {
  std::vector<Control*> order;
  for (Control* c : form.Controls())
    if (c->Layout().tabIndex >= 0) order.push_back(c);
  std::stable_sort(order.begin(), order.end(), [](const Control* a, const Control* b) {
    return a->Layout().tabIndex < b->Layout().tabIndex;
  });
  return order;
}

std::vector<Control*> CreationOrder(Form1& form) {
  std::vector<Control*> order = FocusOrder(form);
  for (Control* c : form.Controls())
    if (c->Layout().tabIndex < 0) order.push_back(c);
  return order;
}

std::span<const Property> MirroredProperties() { return kMirrored; }

std::vector<TrayMenuEntry> TrayMenuEntries(Form1& form) {
  std::vector<TrayMenuEntry> entries;
  for (MenuItem* item : form.MenuItems()) {
    if (item == &form.mnSysTray) continue;  // the pop-up itself
    entries.push_back({item, item->Caption() == kSeparatorCaption});
  }
  return entries;
}

bool IsReadOnlyLog(const Form1& form, const Control& control) { return &control == &form.txtOut; }

Colour ResolveColour(Colour c, Colour (*systemColour)(int index)) {
  if ((c & kSystemColourFlag) == 0) return c;
  if (systemColour == nullptr) return 0;  // black, the usual window text
  return systemColour(static_cast<int>(c & ~kSystemColourFlag));
}

std::string ColourWord(Colour c) {
  if (c == kRed) return "red";
  if (c == kGreen) return "green";
  if (c == kBlue) return "blue";
  if (c == kYellow) return "yellow";
  if (c == kSilver) return "grey";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "#";
  for (int shift : {0, 8, 16}) {  // 0x00BBGGRR: red first
    text += kHex[(c >> (shift + 4)) & 0xF];
    text += kHex[(c >> shift) & 0xF];
  }
  return text;
}

std::string AccessibleNameOf(const Form1& form, const Control& control) {
  if (const Label* label = LabelFor(form, control)) return label->Caption();
  if (&control == &form.txtOut) return "Event log";
  if (&control == &form.shpResult) return "Ping result: " + ResultWord(form.shpResult.FillColour());
  if (&control == &form.shpPing) return "Ping activity: " + ColourWord(form.shpPing.FillColour());
  if (&control == &form.picGraph) return "Bandwidth graph";
  if (&control == &form.pbTime) return "Time to the next ping";
  if (auto* caption = dynamic_cast<const CaptionControl*>(&control))
    return WithoutMnemonics(caption->Caption());
  return control.Name();
}

std::string AccessibleDescriptionOf(const Form1& form, const Control& control) {
  if (&control == &form.shpResult) {
    const std::string word = ResultWord(form.shpResult.FillColour());
    return word == "none" ? "No ping result yet" : "The last ping " + word;
  }
  if (&control == &form.shpPing)
    return "Changes colour at every ping; now " + ColourWord(form.shpPing.FillColour());
  if (&control == &form.picGraph) return form.lblDS.Caption() + ", " + form.lblUS.Caption();
  return {};
}

LogEdit DiffLog(std::string_view shown, std::string_view next) {
  // The kept part starts at a line start of `shown` and must be a prefix of
  // `next`; the earliest such start keeps the most.
  for (std::size_t keepFrom = 0;;) {
    const std::string_view kept = shown.substr(keepFrom);
    if (kept.empty()) break;  // nothing in common: a new text as a whole
    if (next.starts_with(kept)) return {false, shown.substr(0, keepFrom), next.substr(kept.size())};
    const std::size_t lineEnd = shown.find("\r\n", keepFrom);
    if (lineEnd == std::string_view::npos) break;
    keepFrom = lineEnd + 2;
  }
  return {!shown.empty(), shown, next};
}

int FitFontSize(int preferred, int minimum, int width,
                const std::function<int(int size)>& textWidthAt) {
  if (minimum > preferred) return preferred;
  for (int size = preferred; size > minimum; --size)
    if (textWidthAt(size) <= width) return size;
  return minimum;
}

}  // namespace quorrel
