// The Linux clock/locale and file services on the real system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/posix/clock.h"
#include "platform/posix/files.h"
#include "test_dir.h"

namespace quorrel::posix {

TEST(LocaleSeparators, ComeFromTheLocalesPatterns) {
  EXPECT_EQ(SeparatorOf("%d/%m/%y", "?"), "/");
  EXPECT_EQ(SeparatorOf("%d.%m.%Y", "?"), ".");
  EXPECT_EQ(SeparatorOf("%Y-%m-%d", "?"), "-");
  EXPECT_EQ(SeparatorOf("%H:%M:%S", "?"), ":");
  EXPECT_EQ(SeparatorOf("%-d.%-m.%Y", "?"), ".");
  EXPECT_EQ(SeparatorOf("%r", "?"), "?");  // no second field: the fallback
  EXPECT_EQ(SeparatorOf("", ":"), ":");

  // The C locale writes dates as %m/%d/%y and times as %H:%M:%S.
  std::setlocale(LC_ALL, "C");
  LocaleClock clock;
  EXPECT_EQ(clock.DateSeparator(), "/");
  EXPECT_EQ(clock.TimeSeparator(), ":");
  LocalTime t = clock.Now();
  EXPECT_GE(t.year, 2024);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
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
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
}

TEST(Utf8CodePage, MendsACutCharacter) {
  Utf8CodePage cp;
  EXPECT_EQ(cp.FromAnsi("caf\xC3\xA9"), "caf\xC3\xA9");
  // A value cut after the first byte of a two-byte character.
  EXPECT_EQ(cp.FromAnsi("caf\xC3"), "caf\xEF\xBF\xBD");
}

}  // namespace quorrel::posix
