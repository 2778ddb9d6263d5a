// The on-screen log's format and bound, and the log file.
#include "window/event_log.h"

#include <gtest/gtest.h>

#include "common/utf8.h"
#include "form_fixture.h"

namespace quorrel {
namespace {

std::string Lines(int count, std::size_t lineLength, char fill) {
  // Each line is `lineLength` characters including its CR LF.
  std::string out;
  for (int i = 0; i < count; ++i) out += std::string(lineLength - 2, fill) + "\r\n";
  return out;
}

}  // namespace

TEST(LogStamp, UsesTheLocalesSeparatorsInAFixedOrder) {
  LocalTime t{2026, 12, 7, 9, 5, 3};
  EXPECT_EQ(FormatLogStamp(t, "/", ":"), "07/12/26 09:05:03");
  EXPECT_EQ(FormatLogStamp(t, ".", "."), "07.12.26 09.05.03");
  EXPECT_EQ(FormatLogStamp({2000, 1, 31, 23, 59, 0}, "-", ":"), "31-01-00 23:59:00");
}

TEST(TrimLog, DropsWholeLinesFromTheTopOnceOverTheLimit) {
  // 2990 characters, then a 40-character line: 3030, so every line whose CR
  // stands before position 30 goes, and so does the line holding that CR.
  std::string log = Lines(299, 10, 'a');
  ASSERT_EQ(log.size(), 2990u);
  std::string added = log + std::string(38, 'n') + "\r\n";
  std::string trimmed = TrimLog(added);
  // The first CR at or after position 30 (1-based) is the 4th line's, at 39:
  // the first four lines go.
  EXPECT_EQ(trimmed.size(), 3030u - 40u);
  EXPECT_EQ(trimmed, added.substr(40));
  EXPECT_EQ(trimmed.substr(0, 8), "aaaaaaaa");
  EXPECT_EQ(trimmed.substr(trimmed.size() - 40), std::string(38, 'n') + "\r\n");
}

TEST(TrimLog, ACrStandingExactlyAtLMinus3000IsTheOneCut) {
  // 2990 characters and a 39-character line: L = 3029, and the third line's
  // CR stands at position 29 = L - 3000 itself, so three lines go, not four.
  const std::string log = Lines(299, 10, 'a');
  const std::string line = std::string(37, 'n') + "\r\n";
  const std::string added = log + line;
  ASSERT_EQ(added.size(), 3029u);
  ASSERT_EQ(added[28], '\r');  // position 29, 1-based
  EXPECT_EQ(TrimLog(added), added.substr(30));
  EXPECT_EQ(TrimLog(added).size(), 2999u);
  // The model's own log cuts at the same CR.
  LogText model;
  model.Assign(log);
  model.Append(std::string(14, 's'), std::string(20, 'n'));  // 14 + 3 + 20 + 2 = 39
  EXPECT_EQ(model.Text(),
            log.substr(30) + std::string(14, 's') + " - " + std::string(20, 'n') + "\r\n");
  EXPECT_EQ(model.Units(), 2999u);
  // One character less and the CR at 29 stands after L - 3000 = 28: still that line.
  const std::string shorter = log + std::string(36, 'n') + "\r\n";
  EXPECT_EQ(TrimLog(shorter), shorter.substr(30));
  // One more and L - 3000 = 30 lies past it: four lines go.
  const std::string longer = log + std::string(38, 'n') + "\r\n";
  EXPECT_EQ(TrimLog(longer), longer.substr(40));
}

TEST(TrimLog, KeepsTextUpToTheLimitAndCountsCharactersNotBytes) {
  std::string exact = Lines(300, 10, 'a');
  EXPECT_EQ(TrimLog(exact), exact);
  // 300 lines of 10 characters where each 'é' is two bytes: 3000 characters, kept.
  std::string accents;
  for (int i = 0; i < 300; ++i)
    accents += "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\r\n";
  EXPECT_EQ(TrimLog(accents), accents);
  // Ten more characters: the first CR at or after position 10 is the second
  // line's, so two lines go and 2990 characters remain.
  std::string more = accents + "xxxxxxxx\r\n";
  EXPECT_EQ(TrimLog(more), more.substr(36));
}

TEST(TrimLog, AMessageLongerThanTheLimitKeepsItsNewestCharacters) {
  std::string log = Lines(3, 10, 'a');
  EXPECT_EQ(AppendLogLine(log, "07/12/26 09:05:03", std::string(3100, 'x')),
            std::string(2998, 'x') + "\r\n");
}

TEST(TrimLog, BoundHoldsOverManyLines) {
  std::string log;
  for (int i = 0; i < 500; ++i) {
    log =
        AppendLogLine(log, "07/12/26 09:05:03", "Ping 10.0.0.1 passed : line " + std::to_string(i));
    ASSERT_LE(log.size(), kLogLimit);
    ASSERT_EQ(log.substr(0, 3), "07/");  // always starts with a whole line
  }
  EXPECT_NE(log.find("line 499\r\n"), std::string::npos);
}

TEST(LogText, KeepsItsLengthAsItGoesAndTrimsExactlyAsAppendLogLine) {
  // Lines of every length around the bound, with characters of one, two and
  // three bytes and of two UTF-16 units, so the trim point falls on every
  // kind of position; the kept text and its length must match the
  // whole-text rule after every line.
  const char* pieces[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\r", "\n"};
  LogText log;
  std::string reference;
  unsigned seed = 1;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245u + 12345u;
    std::string message = "Ping " + std::to_string(i) + " ";
    const unsigned length = (seed >> 16) % (i % 50 == 0 ? 3200 : 120);
    for (unsigned k = 0; k < length; ++k) message += pieces[(seed >> (k % 13)) % 6];
    log.Append("07/12/26 09:05:03", message);
    reference = AppendLogLine(reference, "07/12/26 09:05:03", message);
    ASSERT_EQ(log.Text(), reference) << i;
    ASSERT_EQ(log.Units(), Utf8ToUtf16(reference).size()) << i;
    ASSERT_LE(log.Units(), kLogLimit) << i;
  }
}

TEST(LogText, StoresMalformedBytesAsReplacementCharacters) {
  LogText log;
  log.Append("s", "bad \xFF\xC3 end");
  EXPECT_EQ(log.Text(), "s - bad \xEF\xBF\xBD\xEF\xBF\xBD end\r\n");
  EXPECT_EQ(log.Units(), 16u);
  log.Assign("x\r\n");
  EXPECT_EQ(log.Units(), 3u);
}

namespace fakes {

TEST_F(FormTest, LogLinesCarryTheStampAndTheMessage) {
  Load();
  fake.clock.dateSep = ".";
  form->AddLogLine("Running connection refresh");
  EXPECT_EQ(form->txtOut.Text(), "07.12.26 09:05:03 - Running connection refresh\r\n");
}

TEST_F(FormTest, AddLogLineTrimsTheBoxAsItStands) {
  Load();
  for (int i = 0; i < 80; ++i) form->AddLogLine("Ping 10.0.0.1 passed : line " + std::to_string(i));
  // Something else replaces the text; the next line follows what is there.
  const std::string replaced = Lines(299, 10, 'z');
  form->txtOut.SetText(replaced);
  form->AddLogLine(std::string(18, 'n'));
  EXPECT_EQ(form->txtOut.Text(),
            AppendLogLine(replaced, "07/12/26 09:05:03", std::string(18, 'n')));
  EXPECT_EQ(form->txtOut.Text().substr(0, 2), "zz");
}

TEST_F(FormTest, SavingTheLogAppendsABlockWithAnEmptyLineAfterIt) {
  SetOption("Save log on exit", "1");
  Load();
  form->cmdToggle_Click();
  form->Form_QueryUnload();
  const std::string path = "C:\\Apps\\Quorrel\\pinglog.txt";
  const std::string first = "07/12/26 09:05:03 - Monitoring started\r\n\r\n";
  EXPECT_EQ(fake.files.files[path], first);

  // A second run appends; nothing of the first is lost.
  Load();
  form->cmdToggle_Click();
  form->cmdToggle_Click();
  form->Form_QueryUnload();
  EXPECT_EQ(fake.files.files[path], first +
                                        "07/12/26 09:05:03 - Monitoring started\r\n"
                                        "07/12/26 09:05:03 - Monitoring stopped\r\n\r\n");
}

TEST_F(FormTest, ClosingWithSaveLogClearedOrGreyedWritesNoLogButAllSettings) {
  for (const char* value : {"0", "2"}) {
    fake.files.files.clear();
    fake.profile.writes.clear();
    SetOption("Save log on exit", value);
    Load();
    form->cmdToggle_Click();
    form->Form_QueryUnload();
    EXPECT_TRUE(fake.files.files.empty()) << value;
    EXPECT_EQ(fake.profile.writes.size(), 5u) << value;
  }
}

TEST_F(FormTest, ALogFileThatCannotBeWrittenStillLetsTheSettingsBeSaved) {
  SetOption("Save log on exit", "1");
  fake.files.failAppend = true;
  Load();
  form->AddLogLine("x");
  form->Form_QueryUnload();
  EXPECT_EQ(fake.profile.writes.size(), 5u);
}

}  // namespace fakes
}  // namespace quorrel
