// The Linux clock/locale and file services on the real system.
#include <gtest/gtest.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_files.h"
#include "common/text.h"
#include "test_dir.h"
#include "window/event_log.h"

namespace quorrel::posix {

// Switches the whole process to a locale for one test, as the Qt face's
// setlocale(LC_ALL, "") does at start-up, and back afterwards.
class ProcessLocale {
 public:
  explicit ProcessLocale(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
    active_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ProcessLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
  ProcessLocale(const ProcessLocale&) = delete;
  ProcessLocale& operator=(const ProcessLocale&) = delete;
  bool Active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

constexpr LocalTime kBoxingDay{2008, 12, 26, 5, 37, 12};

std::string StampIn(LocaleClock& clock) {
  return FormatLogStamp(kBoxingDay, clock.DateSeparator(), clock.TimeSeparator());
}

TEST(LocaleSeparators, ComeFromTheLocalesPatterns) {
  EXPECT_EQ(SeparatorOf("%d/%m/%y", "?"), "/");
  EXPECT_EQ(SeparatorOf("%d.%m.%Y", "?"), ".");
  EXPECT_EQ(SeparatorOf("%Y-%m-%d", "?"), "-");
  EXPECT_EQ(SeparatorOf("%H:%M:%S", "?"), ":");
  EXPECT_EQ(SeparatorOf("%-d.%-m.%Y", "?"), ".");
  EXPECT_EQ(SeparatorOf("%r", "?"), "?");  // no second field: the fallback
  EXPECT_EQ(SeparatorOf("%d", "?"), "?");
  EXPECT_EQ(SeparatorOf("", ":"), ":");
  // Words, and more than one mark, are no separators.
  EXPECT_EQ(SeparatorOf("%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", "/"), "/");    // 年 月 日
  EXPECT_EQ(SeparatorOf("%H\xE6\x99\x82%M\xE5\x88\x86%S\xE7\xA7\x92", ":"), ":");    // 時 分 秒
  EXPECT_EQ(SeparatorOf("%Y\xEB\x85\x84 %m\xEC\x9B\x94 %d\xEC\x9D\xBC", "/"), "/");  // 년 월 일
  EXPECT_EQ(SeparatorOf("%d. %m. %Y", "/"), "/");
  EXPECT_EQ(SeparatorOf("%dT%m", "/"), "/");
  EXPECT_EQ(SeparatorOf("%d%m%Y", "/"), "/");
  // One mark of any script is.
  EXPECT_EQ(SeparatorOf("%H\xEF\xBC\x9A%M", ":"), "\xEF\xBC\x9A");  // fullwidth colon

  // The C locale writes dates as %m/%d/%y and times as %H:%M:%S.
  ProcessLocale c("C");
  LocaleClock clock;
  EXPECT_EQ(clock.DateSeparator(), "/");
  EXPECT_EQ(clock.TimeSeparator(), ":");
  EXPECT_EQ(StampIn(clock), "26/12/08 05:37:12");
  LocalTime t = clock.Now();
  EXPECT_GE(t.year, 2024);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
}

TEST(LocaleSeparators, JapaneseWordsGiveThePlainMarks) {
  ProcessLocale japanese("ja_JP.UTF-8");
  ASSERT_TRUE(japanese.Active())
      << "ja_JP.UTF-8 is not generated here; tests/unit/ensure-locales makes it";
  // What the locale itself says, so the test knows it looks at the words.
  ASSERT_EQ(std::string(nl_langinfo(D_FMT)).find("%m"), 5u) << nl_langinfo(D_FMT);
  LocaleClock clock;
  EXPECT_EQ(clock.DateSeparator(), "/");
  EXPECT_EQ(clock.TimeSeparator(), ":");
  EXPECT_NE(StampIn(clock),
            "08\xE5\xB9\xB4"
            "12\xE5\xB9\xB4"
            "26 05\xE6\x99\x82"
            "37\xE6\x99\x82"
            "12");
  EXPECT_EQ(StampIn(clock), "26/12/08 05:37:12");
}

TEST(LocaleSeparators, ArabicBlanksAndDirectionMarksGiveThePlainMarks) {
  ProcessLocale arabic("ar_EG.UTF-8");
  ASSERT_TRUE(arabic.Active())
      << "ar_EG.UTF-8 is not generated here; tests/unit/ensure-locales makes it";
  LocaleClock clock;
  EXPECT_EQ(StampIn(clock), "26/12/08 05:37:12") << nl_langinfo(D_FMT) << " / " << nl_langinfo(T_FMT);
  // The marks go, the mark between them stays; blanks and pairs are refused.
  EXPECT_EQ(LocaleSeparatorOr("\u200F.\u200F", "/"), ".");
  EXPECT_EQ(LocaleSeparatorOr("\u061C-", "/"), "-");
  for (const char* refused : {" ", "\u00A0", "\u202F", "\u200F", "./", "\u200F \u200F"})
    EXPECT_EQ(LocaleSeparatorOr(refused, ":"), ":") << refused;
}

TEST(LocaleSeparators, GermanDatesTakeFullStops) {
  ProcessLocale german("de_DE.UTF-8");
  ASSERT_TRUE(german.Active())
      << "de_DE.UTF-8 is not generated here; tests/unit/ensure-locales makes it";
  LocaleClock clock;
  EXPECT_EQ(clock.DateSeparator(), ".");
  EXPECT_EQ(clock.TimeSeparator(), ":");
  EXPECT_EQ(clock.ThousandsSeparator(), ".");
  EXPECT_EQ(StampIn(clock), "26.12.08 05:37:12");
}

TEST(PosixFiles, AppendKeepsWhatWasThereAndFailsCleanly) {
  test::TempDir dir;
  PosixFileSystem fs;
  const std::string path = dir.path + "/pinglog.txt";
  ASSERT_TRUE(fs.AppendToFile(path, "first\r\n\r\n"));
  ASSERT_TRUE(fs.AppendToFile(path, "second\r\n\r\n"));
  EXPECT_EQ(test::ReadFile(path), "first\r\n\r\nsecond\r\n\r\n");
  EXPECT_FALSE(fs.AppendToFile(dir.path + "/missing/pinglog.txt", "x"));
}

TEST(PosixFiles, ExecutableFolderAndWritability) {
  PosixFileSystem fs;
  std::string folder = fs.ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_NE(folder.back(), '/');
  struct stat st {};
  EXPECT_EQ(::stat((folder + "/platform_tests").c_str(), &st), 0) << folder;

  test::TempDir dir;
  EXPECT_TRUE(fs.IsFolderWritable(dir.path));
  EXPECT_FALSE(fs.IsFolderWritable(dir.path + "/no-such-folder"));
  // A probe file must not be left behind.
  EXPECT_EQ(test::ListDir(dir.path).size(), 0u);

  // Only a regular file counts as an existing Settings.ini.
  EXPECT_FALSE(fs.IsExistingFile(dir.path + "/Settings.ini"));
  ASSERT_TRUE(fs.AppendToFile(dir.path + "/Settings.ini", "[Options]\r\n"));
  EXPECT_TRUE(fs.IsExistingFile(dir.path + "/Settings.ini"));
  EXPECT_FALSE(fs.IsExistingFile(dir.path));
}

TEST(PosixFiles, FolderOfAnotherUserIsNotWritableToAnOrdinaryUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  test::TempDir dir;
  ASSERT_EQ(::chmod(dir.path.c_str(), 0755), 0);
  PosixFileSystem fs;
  EXPECT_EQ(test::AsNobody([&] { return fs.IsFolderWritable(dir.path) ? 1 : 0; }), 0);
  EXPECT_EQ(test::AsNobody([&] { return fs.AppendToFile(dir.path + "/pinglog.txt", "x") ? 1 : 0; }),
            0);
  ASSERT_EQ(::chown(dir.path.c_str(), test::kNobody, test::kNoGroup), 0);
  EXPECT_EQ(test::AsNobody([&] { return fs.IsFolderWritable(dir.path) ? 1 : 0; }), 1);
  EXPECT_EQ(test::ListDir(dir.path).size(), 0u);
}

TEST(PosixFiles, UserDataFolderFollowsXdgConfigHome) {
  test::TempDir dir;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
  PosixFileSystem fs;
  EXPECT_EQ(fs.UserDataFolder(), dir.path + "/quorrel");
  struct stat st {};
  EXPECT_EQ(::stat((dir.path + "/quorrel").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  if (old)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(Utf8CodePage, MendsACutCharacter) {
  Utf8CodePage cp;
  EXPECT_EQ(cp.FromAnsi("caf\xC3\xA9"), "caf\xC3\xA9");
  // A value cut after the first byte of a two-byte character.
  EXPECT_EQ(cp.FromAnsi("caf\xC3"), "caf\xEF\xBF\xBD");
}

}  // namespace quorrel::posix
