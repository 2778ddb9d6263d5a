// What both faces take from the model: focus order, mirrored properties, the
// tray menu, the log box, colours, accessible texts, log edits, font fitting.
#include "window/face_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>

#include "fakes/if_rows.h"
#include "form_fixture.h"
#include "window/event_log.h"

namespace quorrel::fakes {
namespace {

std::vector<std::string> Names(const std::vector<Control*>& controls) {
  std::vector<std::string> names;
  for (const Control* c : controls) names.push_back(c->Name());
  return names;
}

// What a face does with a LogEdit: the text it shows afterwards.
std::string Apply(std::string_view shown, std::string_view next, const LogEdit& edit) {
  if (edit.replaceAll) return std::string(next);
  EXPECT_EQ(edit.dropped.data(), shown.data()) << "dropped must be a view of the shown text";
  EXPECT_TRUE(edit.appended.empty() ||
              edit.appended.data() + edit.appended.size() == next.data() + next.size())
      << "appended must be the end of the next text";
  std::string text(shown.substr(edit.dropped.size()));
  text += edit.appended;
  return text;
}

}  // namespace

TEST_F(FormTest, FocusOrderFollowsTheTabIndexAndSkipsUnfocusableControls) {
  Form1& f = Load();
  EXPECT_EQ(Names(FocusOrder(f)),
            (std::vector<std::string>{"txtInterval", "txtOut", "cmdToggle", "txtIP", "chkChanges",
                                      "cmdSysTray", "cboConnections", "picGraph", "chkMarkers",
                                      "chkSaveLog", "txtFix", "cmdRunFix"}));
  // A disabled control keeps its place: Run Fix starts disabled.
  EXPECT_FALSE(f.cmdRunFix.Enabled());
  const std::vector<Control*> created = CreationOrder(f);
  ASSERT_EQ(created.size(), f.Controls().size());
  EXPECT_EQ(std::set<Control*>(created.begin(), created.end()).size(), created.size());
  EXPECT_EQ(std::vector<Control*>(created.begin(), created.begin() + 12), FocusOrder(f));
  // The rest keep the table's order: the timer tmrBandwidth stands before pbTime.
  EXPECT_EQ(created[12]->Name(), std::string("tmrBandwidth"));
  EXPECT_EQ(created.back()->Name(), std::string("Label1"));
}

TEST(MirroredProperties, CoverEveryStatePropertyOfAControlOnce) {
  const std::span<const Property> props = MirroredProperties();
  const std::set<Property> unique(props.begin(), props.end());
  EXPECT_EQ(unique.size(), props.size());
  for (Property p :
       {Property::kText, Property::kEnabled, Property::kVisible, Property::kValue, Property::kMax,
        Property::kFillColour, Property::kForeColour, Property::kItems, Property::kListIndex})
    EXPECT_TRUE(unique.count(p)) << static_cast<int>(p);
  // An append is an event, not a state: a new widget takes the whole list.
  EXPECT_FALSE(unique.count(Property::kItemAdded));
  // The window's own properties are the window binder's business.
  EXPECT_FALSE(unique.count(Property::kIcon));
  EXPECT_FALSE(unique.count(Property::kWindowState));
}

TEST_F(FormTest, TrayMenuEntriesLeaveOutThePopupAndMarkSeparators) {
  Form1& f = Load();
  const std::vector<TrayMenuEntry> entries = TrayMenuEntries(f);
  ASSERT_EQ(entries.size(), 5u);
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.item->Name());
  EXPECT_EQ(names,
            (std::vector<std::string>{"mnRestore", "mnSep1", "mnToggle", "mnSep2", "mnClose"}));
  for (const auto& e : entries) {
    EXPECT_EQ(e.separator, e.item == &f.mnSep1 || e.item == &f.mnSep2) << e.item->Name();
    // Every entry that is not a separator has a handler to call.
    if (!e.separator) {
      EXPECT_NE(f.EventHandlerOf(*e.item), nullptr) << e.item->Name();
    }
  }
  // The toggle's caption changes at Start; it never becomes a separator.
  f.cmdToggle_Click();
  EXPECT_FALSE(TrayMenuEntries(f)[2].separator);
  EXPECT_EQ(TrayMenuEntries(f)[2].item->Caption(), "Stop Pings");
}

TEST_F(FormTest, OnlyTheEventLogIsTheReadOnlyLog) {
  Form1& f = Load();
  for (Control* c : f.Controls()) EXPECT_EQ(IsReadOnlyLog(f, *c), c == &f.txtOut) << c->Name();
}

namespace {
Colour SystemColour(int index) { return 0x00101000u + static_cast<Colour>(index); }
}  // namespace

TEST(ResolveColour, SystemReferencesGoThroughTheFaceAndPlainColoursPass) {
  EXPECT_EQ(ResolveColour(kWindowTextColour, &SystemColour), 0x00101008u);
  EXPECT_EQ(ResolveColour(0x8000000F, &SystemColour), 0x0010100Fu);
  for (Colour plain : {kRed, kBlue, kGreen, kYellow, kSilver, Colour{0}, Colour{0x00FFFFFF}})
    EXPECT_EQ(ResolveColour(plain, &SystemColour), plain);
  EXPECT_EQ(ResolveColour(kWindowTextColour, nullptr), 0u);
  EXPECT_EQ(ColourWord(kYellow), "yellow");
  EXPECT_EQ(ColourWord(kSilver), "grey");
  EXPECT_EQ(ColourWord(0x00336699), "#996633");  // 0x00BBGGRR read as #RRGGBB
}

TEST(TonedForContrast, MeetsTheRatioOnEitherSideAndKeepsTheHue) {
  // WCAG's own figures: black on white is 21:1, a colour against itself 1:1.
  EXPECT_NEAR(ContrastRatio(0x000000, 0xFFFFFF), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(0x777777, 0x777777), 1.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(kRed, 0xFFFFFF), 3.998, 1e-3);
  // Blue on white is legible already and stays as it is.
  EXPECT_EQ(TonedForContrast(kBlue, 0xFFFFFF, kTextContrast), kBlue);
  auto hue = [](Colour c) {
    const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    const int hi = std::max({r, g, b}), lo = std::min({r, g, b});
    if (hi == lo) return -1.0;
    double h = hi == r   ? (g - b) / double(hi - lo)
               : hi == g ? 2 + (b - r) / double(hi - lo)
                         : 4 + (r - g) / double(hi - lo);
    return std::fmod(h * 60 + 360, 360);
  };
  const Colour backgrounds[] = {0xFFFFFF, 0xEFEFEF, 0x2D2D2D, 0x000000, 0x353535};
  for (Colour bg : backgrounds)
    for (Colour fg : {kRed, kBlue, kGreen, kYellow, Colour{0x0080FF}})
      for (double ratio : {kLineContrast, kTextContrast}) {
        const Colour toned = TonedForContrast(fg, bg, ratio);
        EXPECT_GE(ContrastRatio(toned, bg), ratio) << std::hex << fg << " on " << bg;
        EXPECT_NEAR(hue(toned), hue(fg), 2.0) << std::hex << fg << " on " << bg;
        // Lighter on a dark background, darker on a light one.
        if (toned != fg) {
          EXPECT_EQ(RelativeLuminance(toned) > RelativeLuminance(fg), RelativeLuminance(bg) < 0.18)
              << std::hex << fg << " on " << bg;
        }
      }
  // The least change that suffices: one step less falls short.
  const Colour red = TonedForContrast(kRed, 0xFFFFFF, kTextContrast);
  EXPECT_LT(ContrastRatio(red + 2, 0xFFFFFF), kTextContrast);
}

TEST_F(FormTest, AccessibleNamesComeFromTheLabelsAndTheLampsSpeakTheirState) {
  Form1& f = Load();
  EXPECT_EQ(AccessibleNameOf(f, f.txtIP), "Destination IP");
  EXPECT_EQ(AccessibleNameOf(f, f.txtInterval), "Interval in seconds:");
  EXPECT_EQ(AccessibleNameOf(f, f.cboConnections), "Adaptor:");
  EXPECT_EQ(AccessibleNameOf(f, f.txtFix), "Fix location:");
  EXPECT_EQ(AccessibleNameOf(f, f.txtOut), "Event log");
  EXPECT_EQ(AccessibleNameOf(f, f.cmdToggle), "Start");
  EXPECT_EQ(AccessibleNameOf(f, f.cmdSysTray), "Send to System Tray");
  EXPECT_EQ(AccessibleNameOf(f, f.chkSaveLog), "Save log on exit");
  EXPECT_EQ(AccessibleNameOf(f, f.shpResult), "Ping result: none");
  EXPECT_EQ(AccessibleDescriptionOf(f, f.shpResult), "No ping result yet. Stopped");
  EXPECT_EQ(AccessibleNameOf(f, f.shpPing), "Ping activity: grey");

  f.txtIP.SetText("10.1.2.3");
  f.txtInterval.SetText("0");
  f.cmdToggle_Click();
  Tick();
  EXPECT_EQ(AccessibleNameOf(f, f.shpResult), "Ping result: passed");
  EXPECT_EQ(AccessibleDescriptionOf(f, f.shpResult), "The last ping passed. " + f.PingResultTip());
  EXPECT_NE(f.PingResultTip().find("Round trip:"), std::string::npos);
  EXPECT_EQ(AccessibleNameOf(f, f.shpPing), "Ping activity: yellow");
  fake.icmp.statuses = {kIpReqTimedOut};
  Tick();
  EXPECT_EQ(AccessibleNameOf(f, f.shpResult), "Ping result: failed");
  EXPECT_EQ(AccessibleNameOf(f, f.shpPing), "Ping activity: blue");
  EXPECT_EQ(AccessibleDescriptionOf(f, f.shpPing), "Changes colour at every ping; now blue");

  f.tmrBandwidth_Timer();
  EXPECT_EQ(AccessibleDescriptionOf(f, f.picGraph), f.lblDS.Caption() + ", " + f.lblUS.Caption());
  EXPECT_EQ(AccessibleDescriptionOf(f, f.picGraph), "Downstream: 0 KB, Upstream: 0 KB");
}

TEST(DiffLog, FollowsTheModelOverManyLinesAndTrims) {
  // The model's own log, grown line by line past many trims; the face applies
  // each change as DiffLog says and must end up with exactly the model's text.
  std::mt19937 random(7);
  std::string model;
  std::string shown;
  int partial = 0;
  for (int i = 0; i < 2000; ++i) {
    std::string message =
        "Ping 10.0.0." + std::to_string(i % 256) + (i % 3 ? " passed" : " failed");
    message.append(random() % 90, static_cast<char>('a' + i % 26));
    if (i % 97 == 0) message += "\xE2\x82\xAC\xF0\x9F\x98\x80";  // multi-unit characters
    if (i == 1500) message.assign(3100, 'x');  // its tail alone is kept, then dropped whole
    const std::string next = AppendLogLine(model, "08/12/26 07:" + std::to_string(i % 60), message);
    const LogEdit edit = DiffLog(shown, next);
    EXPECT_EQ(edit.replaceAll, i == 1500 || i == 1501) << i;
    if (!edit.dropped.empty() && edit.dropped.size() < shown.size()) ++partial;
    // The kept part starts at a line start.
    if (!edit.dropped.empty()) {
      EXPECT_TRUE(edit.dropped.ends_with("\r\n")) << i;
    }
    shown = Apply(shown, next, edit);
    ASSERT_EQ(shown, next) << i;
    model = next;
  }
  EXPECT_GT(partial, 1000);  // trimming did happen, as a drop at the top
}

TEST(DiffLog, PlainAppendNoChangeEmptyingAndUnrelatedText) {
  const std::string a = "1 - one\r\n";
  const std::string ab = a + "2 - two\r\n";
  LogEdit e = DiffLog(a, ab);
  EXPECT_FALSE(e.replaceAll);
  EXPECT_TRUE(e.dropped.empty());
  EXPECT_EQ(e.appended, "2 - two\r\n");

  e = DiffLog(ab, ab);
  EXPECT_FALSE(e.replaceAll);
  EXPECT_TRUE(e.dropped.empty());
  EXPECT_TRUE(e.appended.empty());

  e = DiffLog(ab, "");  // the log emptied by one overlong line
  EXPECT_TRUE(e.replaceAll);
  EXPECT_EQ(e.dropped, ab);
  EXPECT_TRUE(e.appended.empty());
  EXPECT_FALSE(DiffLog("", "").replaceAll);

  e = DiffLog("", ab);
  EXPECT_FALSE(e.replaceAll);
  EXPECT_EQ(e.appended, ab);

  // Only whole lines are dropped: "one\r\n2 - two" shares no line start.
  e = DiffLog("typed by hand", ab);
  EXPECT_TRUE(e.replaceAll);
  EXPECT_EQ(e.appended, ab);
  e = DiffLog(ab, "ne\r\n2 - two\r\n3\r\n");
  EXPECT_TRUE(e.replaceAll);
  // Dropping two lines and appending one.
  const std::string abc = ab + "3 - three\r\n";
  e = DiffLog(abc, "3 - three\r\n4\r\n");
  EXPECT_FALSE(e.replaceAll);
  EXPECT_EQ(e.dropped, ab);
  EXPECT_EQ(e.appended, "4\r\n");
}

TEST(FitFontSize, LargestFittingSizeBetweenPreferredAndMinimum) {
  int measured = 0;
  auto width = [&measured](int size) {
    ++measured;
    return size * 10;
  };
  EXPECT_EQ(FitFontSize(12, 6, 200, width), 12);  // fits at once
  EXPECT_EQ(FitFontSize(12, 6, 95, width), 9);
  EXPECT_EQ(FitFontSize(12, 6, 90, width), 9);  // exactly the width fits
  EXPECT_EQ(FitFontSize(12, 6, 10, width), 6);  // nothing fits: the minimum
  EXPECT_EQ(FitFontSize(8, 10, 10, width), 8);  // a minimum above preferred
  // A measure that is not monotonic still gets the largest fitting size.
  auto bumpy = [](int size) { return size == 11 ? 50 : size * 10; };
  EXPECT_EQ(FitFontSize(12, 6, 100, bumpy), 11);
}

TEST_F(FormTest, TheAdapterListAnnouncesEachAppendAndRefillsOnlyOnClear) {
  fake.ifTable.rows = Images({Adapter("eth0", 1), Adapter("wlan0", 2), Adapter("lo", 3)});
  form = std::make_unique<Form1>(fake.Ports());
  std::vector<Property> seen;
  form->cboConnections.SetObserver([&](Control&, Property p) { seen.push_back(p); });
  form->Form_Load();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), Property::kItemAdded), 3);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), Property::kItems), 0);
  seen.clear();
  form->cboConnections.Clear();
  EXPECT_EQ(seen, std::vector<Property>{Property::kItems});
  EXPECT_TRUE(form->cboConnections.Items().empty());
  EXPECT_EQ(form->cboConnections.ListIndex(), -1);
  seen.clear();
  form->cboConnections.Clear();  // nothing changes, nothing is said
  EXPECT_TRUE(seen.empty());
}

namespace {

// A face that makes no toolkit call but notes the caption fitting: each
// control has `room` and a text is as wide as its bytes times the size.
struct FittingFace : WidgetCalls {
  void EnableWidget(Control&, bool) override {}
  void ShowWidget(Control&, bool) override {}
  void RunTimer(Timer&, bool) override {}
  void SetBoxText(TextBox&, const std::string&) override {}
  void EditLog(TextBox&, const LogEdit&, std::string_view) override {}
  void SetCaption(CaptionControl&, const std::string&) override {}
  void SetCheckValue(CheckBox&, int) override {}
  void SetBarValue(ProgressBar&, int) override {}
  void SetBarMax(ProgressBar&, int) override {}
  void SetLampColour(Shape&, Colour) override {}
  void SetLabelColour(Label&, Colour) override {}
  void FillList(ComboBox&) override {}
  void AppendToList(ComboBox&, const std::string&) override {}
  void SelectInList(ComboBox&, int) override {}
  int CaptionRoom(Control&) override { return room; }
  int CaptionFontSize() override { return fontSize; }
  int WidestText(const std::vector<std::string>& texts, int size) override {
    measuring = texts;
    std::size_t widest = 0;
    for (const std::string& t : texts) widest = std::max(widest, t.size());
    return static_cast<int>(widest) * size;
  }
  void SetCaptionFont(Control& control, int size) override {
    fonts[control.Name()] = size;
    fitted[control.Name()].push_back(measuring);
  }

  int room = 1000;
  int fontSize = 20;
  std::vector<std::string> measuring;
  std::map<std::string, std::vector<std::vector<std::string>>> fitted;  // per fit, its texts
  std::map<std::string, int> fonts;
};

void BindAll(Form1& form, Binder& binder) {
  for (Control* c : form.Controls()) {
    binder.MirrorAll(*c);
    c->SetObserver([&binder](Control& changed, Property p) { binder.Mirror(changed, p); });
  }
}

}  // namespace

TEST_F(FormTest, RateCaptionsAreFittedOnceForTheFastestRateInEveryGrouping) {
  Form1& f = Load();
  FittingFace face;
  Binder binder(f, face, "\xE2\x80\xAF");  // a narrow no-break space, as fr_FR groups
  BindAll(f, binder);
  f.tmrBandwidth_Timer();
  f.lblDS.SetCaption("Downstream: 1,220,703 KB");
  f.lblUS.SetCaption("Upstream: 3 KB");
  EXPECT_EQ(face.fitted["lblDS"].size(), 1u) << "refitted as the rate moved";
  EXPECT_EQ(face.fitted["lblUS"].size(), 1u);
  // Fitted for the figure 10 Gbit/s reaches, in both groupings and the user's.
  const std::vector<std::string> texts = face.fitted["lblDS"].front();
  for (const char* figure : {"1,220,703", "1.220.703",
                             "1\xE2\x80\xAF"
                             "220\xE2\x80\xAF"
                             "703"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Downstream: " + std::string(figure) + " KB"),
              texts.end())
        << figure;
  // The other captions follow every change: "&Stop" is measured as drawn.
  const std::size_t toggleFits = face.fitted["cmdToggle"].size();
  f.cmdToggle_Click();
  ASSERT_EQ(face.fitted["cmdToggle"].size(), toggleFits + 1);
  EXPECT_EQ(face.fitted["cmdToggle"].back(), std::vector<std::string>{"Stop"});
  f.cmdToggle_Click();
  // A new font fits them all again.
  binder.RefitCaptions();
  EXPECT_EQ(face.fitted["lblDS"].size(), 2u);
}

TEST_F(FormTest, ACaptionThatCannotFitGetsTheSmallestReadableFontAndOneThatFitsKeepsItsOwn) {
  Form1& f = Load();
  FittingFace face;
  face.room = 1;
  Binder binder(f, face, ",");
  BindAll(f, binder);
  EXPECT_EQ(face.fonts.size(), 14u);  // 8 labels, 3 buttons, 3 check boxes
  for (const auto& [name, size] : face.fonts) EXPECT_EQ(size, 14) << name << " at 70 % of 20";
  face.room = 1000;
  binder.RefitCaptions();
  for (const auto& [name, size] : face.fonts) EXPECT_EQ(size, 20) << name;
}

}  // namespace quorrel::fakes
