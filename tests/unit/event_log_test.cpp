// The on-screen log's format and bound, and the log file.
#include <gtest/gtest.h>

#include "form_fixture.h"
#include "window/event_log.h"

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

TEST(TrimLog, KeepsTextUpToTheLimitAndCountsCharactersNotBytes) {
  std::string exact = Lines(300, 10, 'a');
  EXPECT_EQ(TrimLog(exact), exact);
  // 300 lines of 10 characters where each 'é' is two bytes: 3000 characters, kept.
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\r\n";
  EXPECT_EQ(TrimLog(accents), accents);
  // Ten more characters: the first CR at or after position 10 is the second
  // line's, so two lines go and 2990 characters remain.
  std::string more = accents + "xxxxxxxx\r\n";
  EXPECT_EQ(TrimLog(more), more.substr(36));
}

TEST(TrimLog, AMessageLongerThanTheLimitEmptiesTheLog) {
  std::string log = Lines(3, 10, 'a');
  EXPECT_EQ(AppendLogLine(log, "07/12/26 09:05:03", std::string(3100, 'x')), "");
}

TEST(TrimLog, BoundHoldsOverManyLines) {
  std::string log;
  for (int i = 0; i < 500; ++i) {
    log = AppendLogLine(log, "07/12/26 09:05:03", "Ping 10.0.0.1 passed : line " + std::to_string(i));
    ASSERT_LE(log.size(), kLogLimit);
    ASSERT_EQ(log.substr(0, 3), "07/");  // always starts with a whole line
  }
  EXPECT_NE(log.find("line 499\r\n"), std::string::npos);
}

namespace fakes {

TEST_F(FormTest, LogLinesCarryTheStampAndTheMessage) {
  Load();
  fake.clock.dateSep = ".";
  form->AddLogLine("Running connection refresh");
  EXPECT_EQ(form->txtOut.Text(), "07.12.26 09:05:03 - Running connection refresh\r\n");
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
  EXPECT_EQ(fake.files.files[path],
            first + "07/12/26 09:05:03 - Monitoring started\r\n"
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
