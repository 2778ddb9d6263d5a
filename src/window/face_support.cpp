#include "window/face_support.h"

#include <algorithm>
#include <cmath>

#include "common/text.h"

namespace quorrel {
namespace {

constexpr Property kMirrored[] = {Property::kText,       Property::kEnabled, Property::kVisible,
                                  Property::kValue,      Property::kMax,     Property::kFillColour,
                                  Property::kForeColour, Property::kItems,   Property::kListIndex};

constexpr char kSeparatorCaption[] = "-";

// The fastest rate the rate captions must show whole: 10 Gbit/s in bytes per
// second, that is "1,220,703 KB".
constexpr double kFastestRateBytes = 1.25e9;

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

std::string WithoutMnemonics(std::string_view caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

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

double RelativeLuminance(Colour c) {
  auto linear = [](Colour channel) {
    const double v = static_cast<double>(channel & 0xFF) / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(c) + 0.7152 * linear(c >> 8) + 0.0722 * linear(c >> 16);
}

double ContrastRatio(Colour a, Colour b) {
  const double la = RelativeLuminance(a);
  const double lb = RelativeLuminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Colour TonedForContrast(Colour fg, Colour bg, double minRatio) {
  fg &= 0x00FFFFFF;
  bg &= 0x00FFFFFF;
  if (ContrastRatio(fg, bg) >= minRatio) return fg;
  // Mixing with white or black keeps each channel's share of the colour's
  // spread, so the hue stays; the side with the more room for contrast wins.
  const Colour towards = ContrastRatio(0x00FFFFFF, bg) >= ContrastRatio(0, bg) ? 0x00FFFFFF : 0;
  auto mixed = [&](int step) {  // step / 256 of the way to `towards`
    Colour out = 0;
    for (int shift : {0, 8, 16}) {
      const int from = static_cast<int>((fg >> shift) & 0xFF);
      const int to = static_cast<int>((towards >> shift) & 0xFF);
      out |= static_cast<Colour>(from + ((to - from) * step + (to > from ? 255 : 0)) / 256)
             << shift;
    }
    return out;
  };
  // The contrast grows with every step, so the least step that suffices is
  // found by halving.
  int low = 0;
  int high = 256;
  while (high - low > 1) {
    const int step = (low + high) / 2;
    (ContrastRatio(mixed(step), bg) >= minRatio ? high : low) = step;
  }
  return mixed(high);
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
    // The tooltip's figures too, for those who cannot hover.
    const std::string word = ResultWord(form.shpResult.FillColour());
    return (word == "none" ? "No ping result yet" : "The last ping " + word) + ". " +
           form.PingResultTip();
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

bool IsRateCaption(const Form1& form, const Control& control) {
  return &control == &form.lblDS || &control == &form.lblUS;
}

std::vector<std::string> CaptionTextsToFit(const Form1& form, const Control& control,
                                           std::string_view userSeparator) {
  const ControlKind kind = control.Kind();
  if (kind != ControlKind::kLabel && kind != ControlKind::kCheckBox &&
      kind != ControlKind::kCommandButton)
    return {};
  if (!IsRateCaption(form, control))
    return {WithoutMnemonics(static_cast<const CaptionControl&>(control).Caption())};
  std::vector<std::string> texts;
  for (std::string_view separator : {std::string_view(","), std::string_view("."), userSeparator})
    texts.push_back(std::string(control.Layout().caption) + " " +
                    FormatKilobytes(kFastestRateBytes / 1024, separator));
  return texts;
}

Binder::Binder(Form1& form, WidgetCalls& calls, std::string userSeparator)
    : form_(form), calls_(calls), userSeparator_(std::move(userSeparator)) {}

void Binder::MirrorAll(Control& control) {
  for (Property p : MirroredProperties()) Mirror(control, p);
  calls_.Redescribe(control);
}

void Binder::Mirror(Control& control, Property property) {
  Control& c = control;
  switch (property) {
    case Property::kText:
      MirrorText(c);
      break;
    case Property::kEnabled:
      if (c.Kind() == ControlKind::kTimer)
        calls_.RunTimer(static_cast<Timer&>(c), c.Enabled());
      else if (c.Kind() != ControlKind::kImageList)
        calls_.EnableWidget(c, c.Enabled());
      break;
    case Property::kVisible:
      if (c.Kind() != ControlKind::kTimer && c.Kind() != ControlKind::kImageList &&
          c.Kind() != ControlKind::kMenuItem)
        calls_.ShowWidget(c, c.Visible());
      break;
    case Property::kValue:
      if (c.Kind() == ControlKind::kCheckBox)
        calls_.SetCheckValue(static_cast<CheckBox&>(c), static_cast<CheckBox&>(c).Value());
      else if (c.Kind() == ControlKind::kProgressBar)
        calls_.SetBarValue(static_cast<ProgressBar&>(c), static_cast<ProgressBar&>(c).Value());
      break;
    case Property::kMax:
      if (c.Kind() == ControlKind::kProgressBar)
        calls_.SetBarMax(static_cast<ProgressBar&>(c), static_cast<ProgressBar&>(c).Max());
      break;
    case Property::kFillColour:
      if (c.Kind() == ControlKind::kShape) {
        calls_.SetLampColour(static_cast<Shape&>(c), static_cast<Shape&>(c).FillColour());
        // A lamp's colour is its state; the words say it to a screen reader.
        calls_.Redescribe(c);
      }
      break;
    case Property::kForeColour:
      if (c.Kind() == ControlKind::kLabel)
        calls_.SetLabelColour(static_cast<Label&>(c), static_cast<Label&>(c).ForeColour());
      break;
    case Property::kItems:
      if (c.Kind() == ControlKind::kComboBox) calls_.FillList(static_cast<ComboBox&>(c));
      break;
    case Property::kItemAdded:
      // Only the newest entry: refilling at every addition made the start-up
      // quadratic in the number of adapters.
      if (c.Kind() == ControlKind::kComboBox && !static_cast<ComboBox&>(c).Items().empty())
        calls_.AppendToList(static_cast<ComboBox&>(c), static_cast<ComboBox&>(c).Items().back());
      break;
    case Property::kListIndex:
      if (c.Kind() == ControlKind::kComboBox)
        calls_.SelectInList(static_cast<ComboBox&>(c), static_cast<ComboBox&>(c).ListIndex());
      break;
    case Property::kIcon:
    case Property::kWindowState:
      break;
  }
}

void Binder::MirrorText(Control& c) {
  switch (c.Kind()) {
    case ControlKind::kTextBox:
      if (IsReadOnlyLog(form_, c)) {
        // The model trims the log at the top and appends at the bottom; the
        // box is edited the same way instead of being given its whole text
        // again, which made it lay out and repaint all of it at every line.
        const std::string& next = static_cast<TextBox&>(c).Text();
        calls_.EditLog(static_cast<TextBox&>(c), DiffLog(shownLog_, next), next);
        shownLog_ = next;
      } else {
        calls_.SetBoxText(static_cast<TextBox&>(c), static_cast<TextBox&>(c).Text());
      }
      break;
    case ControlKind::kMenuItem:
      // A separator has no caption to show.
      if (static_cast<MenuItem&>(c).Caption() != kSeparatorCaption)
        calls_.SetCaption(static_cast<MenuItem&>(c), static_cast<MenuItem&>(c).Caption());
      break;
    case ControlKind::kLabel:
    case ControlKind::kCheckBox:
    case ControlKind::kCommandButton:
      calls_.SetCaption(static_cast<CaptionControl&>(c), static_cast<CaptionControl&>(c).Caption());
      // The name is the caption: "&Stop" must not be announced as "Start".
      calls_.Redescribe(c);
      // "&Stop" may need another size than "&Start"; the rate captions were
      // fitted for any rate, so their font does not jump about.
      if (!IsRateCaption(form_, c) ||
          std::find(fittedRates_.begin(), fittedRates_.end(), &c) == fittedRates_.end())
        FitCaption(c);
      // The graph's description reads the rate captions.
      if (IsRateCaption(form_, c)) calls_.Redescribe(form_.picGraph);
      break;
    default:
      break;
  }
}

void Binder::FitCaption(Control& control) {
  const std::vector<std::string> texts = CaptionTextsToFit(form_, control, userSeparator_);
  const int preferred = calls_.CaptionFontSize();
  if (texts.empty() || preferred <= 0) return;
  const int minimum = std::max(1, preferred * kSmallestCaptionFontPercent / 100);
  const int room = calls_.CaptionRoom(control);
  const int size =
      FitFontSize(preferred, minimum, room, [&](int at) { return calls_.WidestText(texts, at); });
  calls_.SetCaptionFont(control, size);
  if (IsRateCaption(form_, control)) fittedRates_.push_back(&control);
}

void Binder::RefitCaptions() {
  fittedRates_.clear();
  for (Control* c : form_.Controls()) FitCaption(*c);
}

}  // namespace quorrel
