// The close's files on a real file system: kills during the save, two
// instances at once, hostile pinglog.txt names, and the folder for each user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <random>

#include "fakes/fakes.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_profile.h"
#include "settings/mod_general.h"
#include "test_dir.h"
#include "window/form1.h"

namespace quorrel {
namespace {

// The real file services, with the program's folder set by the test.
class FolderFiles : public posix::PosixFileSystem {
 public:
  explicit FolderFiles(std::string folder) : folder_(std::move(folder)) {}
  std::string ExecutableFolder() override { return folder_; }

 private:
  std::string folder_;
};

struct RealFiles {
  explicit RealFiles(const std::string& folder) : files(folder) {}
  fakes::FakeToolkit toolkit;
  fakes::FakeClock clock;
  FolderFiles files;
  posix::Utf8CodePage codePage;
  posix::ProfileFile profile;
  fakes::FakeWinsock winsock;
  fakes::FakeIcmp icmp;
  fakes::FakeIfTable ifTable;
  fakes::FakeShell shell;
  fakes::FakeProcess process;
  fakes::RecordingCanvas canvas;
  Services Ports() {
    return {toolkit, clock, files, codePage, profile, winsock, icmp, ifTable, shell, process, canvas};
  }
};

using Values = std::array<std::string, 5>;

void Type(Form1& f, const Values& v) {
  f.txtFix.SetText(v[0]);
  f.txtIP.SetText(v[1]);
  f.txtInterval.SetText(v[2]);
  f.chkChanges.SetValue(v[3] == "1" ? 1 : 0);
  f.chkSaveLog.SetValue(v[4] == "1" ? 1 : 0);
}

Values Stored(const std::string& file) {
  posix::ProfileFile profile;
  posix::Utf8CodePage codePage;
  ModGeneral general(profile, codePage);
  Values v;
  const char* keys[] = {kKeyFixPath, kKeyIp, kKeyInterval, kKeyChangesOnly, kKeySaveLogOnExit};
  for (int i = 0; i < 5; ++i) v[i] = general.ReadIniValue(kOptionsSection, keys[i], file);
  return v;
}

Values Numbered(int n) {
  return {"/opt/fix " + std::to_string(n) + ".sh", "10.0." + std::to_string(n % 250) + ".1",
          std::to_string(n + 2), n % 2 ? "1" : "0", "0"};
}

// A child that loads, types `values`, says so on `ready` and closes when
// `go` gives a byte (or at once without one).
pid_t CloseInChild(const std::string& folder, const Values& values, int ready, int go) {
  pid_t child = ::fork();
  if (child != 0) return child;
  RealFiles real(folder);
  Form1 form(real.Ports());
  form.Form_Load();
  Type(form, values);
  char byte = 1;
  if (ready >= 0 && ::write(ready, &byte, 1) != 1) ::_exit(3);
  if (go >= 0 && ::read(go, &byte, 1) != 1) ::_exit(4);
  form.Form_QueryUnload();
  ::_exit(0);
}

TEST(SaveSafety, AKillDuringTheCloseLeavesTheOldSettingsOrTheNewNeverAMix) {
  test::TempDir dir;
  const std::string ini = dir.path + "/Settings.ini";
  test::WriteFile(ini, "; kept\r\n[Options]\r\nFix path=old\r\nIP=10.9.9.9\r\nInterval=5\r\n"
                       "Changes only=0\r\nSave log on exit=0\r\n[Other]\r\nx=1\r\n");
  Values current = Stored(ini);
  std::mt19937 random(1234);
  int kept = 0, replaced = 0, mixed = 0, empty = 0;
  for (int run = 0; run < 50; ++run) {
    const Values next = Numbered(run);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = CloseInChild(dir.path, next, ready[1], -1);
    ::close(ready[1]);
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::usleep(random() % 4000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    const std::string text = test::ReadFile(ini);
    const Values now = Stored(ini);
    if (text.empty()) ++empty;
    if (now == current) {
      ++kept;
    } else if (now == next) {
      ++replaced;
    } else {
      ++mixed;
    }
    EXPECT_NE(text.find("; kept\r\n"), std::string::npos) << run;
    EXPECT_NE(text.find("[Other]\r\nx=1\r\n"), std::string::npos) << run;
    current = now;
  }
  std::printf("kills during the close: 50 runs, %d old, %d new, %d mixed, %d empty\n", kept,
              replaced, mixed, empty);
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(empty, 0);
  // A later save removes what the killed ones left behind.
  pid_t child = CloseInChild(dir.path, Numbered(99), -1, -1);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(Stored(ini), Numbered(99));
  EXPECT_EQ(test::ListDir(dir.path), (std::vector<std::string>{"Settings.ini"}));
}

TEST(SaveSafety, TwoInstancesClosingTogetherLeaveOneInstancesFiveValuesWhole) {
  test::TempDir dir;
  const std::string ini = dir.path + "/Settings.ini";
  for (int round = 0; round < 12; ++round) {
    const Values a = Numbered(2 * round), b = Numbered(2 * round + 1);
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    pid_t first = CloseInChild(dir.path, a, ready[1], go[0]);
    pid_t second = CloseInChild(dir.path, b, ready[1], go[0]);
    char bytes[2];
    ASSERT_EQ(::read(ready[0], bytes, 1) + ::read(ready[0], bytes, 1), 2);
    ASSERT_EQ(::write(go[1], "xx", 2), 2);
    int status1 = 0, status2 = 0;
    ::waitpid(first, &status1, 0);
    ::waitpid(second, &status2, 0);
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
    const Values now = Stored(ini);
    EXPECT_TRUE(now == a || now == b) << "round " << round << ": " << now[0] << " / " << now[1];
    EXPECT_EQ(test::ListDir(dir.path), (std::vector<std::string>{"Settings.ini"}));
  }
}

TEST(SaveSafety, PinglogIsAppendedOnlyToThisUsersOwnRegularWritableFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's files";
  test::TempDir dir;
  posix::PosixFileSystem files;
  const std::string log = dir.path + "/pinglog.txt";
  const std::string victim = dir.path + "/victim.txt";
  test::WriteFile(victim, "theirs\n");
  ASSERT_EQ(::chown(victim.c_str(), test::kNobody, test::kNoGroup), 0);

  // Another user's link, to their file or to nowhere, is not written through.
  ASSERT_EQ(::symlink(victim.c_str(), log.c_str()), 0);
  ASSERT_EQ(::lchown(log.c_str(), test::kNobody, test::kNoGroup), 0);
  EXPECT_FALSE(files.AppendToFile(log, "run\r\n"));
  EXPECT_EQ(test::ReadFile(victim), "theirs\n");
  ::unlink(log.c_str());
  ASSERT_EQ(::symlink((dir.path + "/made-by-root").c_str(), log.c_str()), 0);
  ASSERT_EQ(::lchown(log.c_str(), test::kNobody, test::kNoGroup), 0);
  EXPECT_FALSE(files.AppendToFile(log, "run\r\n"));
  EXPECT_FALSE(files.IsExistingFile(dir.path + "/made-by-root"));
  ::unlink(log.c_str());
  // The user's own link to the user's own file is.
  const std::string mine = dir.path + "/mine.txt";
  test::WriteFile(mine, "a\r\n");
  ASSERT_EQ(::symlink(mine.c_str(), log.c_str()), 0);
  EXPECT_TRUE(files.AppendToFile(log, "b\r\n"));
  EXPECT_EQ(test::ReadFile(mine), "a\r\nb\r\n");
  ::unlink(log.c_str());

  // A FIFO is refused at once instead of hanging the close; a folder and a
  // read-only file (root's power to write it unused) are refused as well.
  ASSERT_EQ(::mkfifo(log.c_str(), 0666), 0);
  EXPECT_FALSE(files.AppendToFile(log, "run\r\n"));
  ::unlink(log.c_str());
  ASSERT_EQ(::mkdir(log.c_str(), 0755), 0);
  EXPECT_FALSE(files.AppendToFile(log, "run\r\n"));
  ::rmdir(log.c_str());
  test::WriteFile(log, "kept\r\n");
  ASSERT_EQ(::chmod(log.c_str(), 0444), 0);
  EXPECT_FALSE(files.AppendToFile(log, "run\r\n"));
  EXPECT_EQ(test::ReadFile(log), "kept\r\n");
  // nobody may not append to root's file in a folder open to all.
  ASSERT_EQ(::chmod(log.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
  EXPECT_EQ(test::AsNobody([&] { return files.AppendToFile(log, "x") ? 1 : 0; }), 0);
  EXPECT_EQ(test::ReadFile(log), "kept\r\n");
  EXPECT_EQ(test::AsNobody([&] {
              return files.AppendToFile(dir.path + "/nobodys.txt", "x\r\n") ? 1 : 0;
            }),
            1);
}

TEST(SaveSafety, AFullDiskLeavesPinglogAsItWas) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  test::TempDir dir;
  if (::mount("tmpfs", dir.path.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount tmpfs here";
  posix::PosixFileSystem files;
  const std::string log = dir.path + "/pinglog.txt";
  EXPECT_TRUE(files.AppendToFile(log, std::string(40000, 'a') + "\r\n"));
  EXPECT_FALSE(files.AppendToFile(log, std::string(40000, 'b') + "\r\n"));
  EXPECT_EQ(test::ReadFile(log), std::string(40000, 'a') + "\r\n");
  EXPECT_EQ(::umount(dir.path.c_str()), 0);
}

TEST(SaveSafety, TheFolderIsOneThisUserOwnsAndCanUse) {
  test::TempDir dir;
  posix::PosixFileSystem files;
  EXPECT_TRUE(files.IsInstalledProgramFolder("/usr/bin"));
  EXPECT_TRUE(files.IsInstalledProgramFolder("/opt/quorrel/bin/"));
  EXPECT_FALSE(files.IsInstalledProgramFolder(dir.path));
  EXPECT_FALSE(files.IsFolderWritable(dir.path + "/" + std::string(PATH_MAX - 40, 'd')));
  if (::geteuid() != 0) return;
  // Root in a user's own program folder is a guest there.
  ASSERT_EQ(::chown(dir.path.c_str(), test::kNobody, test::kNoGroup), 0);
  EXPECT_TRUE(files.IsInstalledProgramFolder(dir.path));
  ASSERT_EQ(::chown(dir.path.c_str(), 0, 0), 0);

  // Root's Settings.ini beside the program is not nobody's to replace.
  const std::string ini = dir.path + "/Settings.ini";
  test::WriteFile(ini, "[Options]\r\n");
  ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
  EXPECT_TRUE(files.MayReplace(ini));
  EXPECT_EQ(test::AsNobody([&] { return files.MayReplace(ini) ? 1 : 0; }), 0);
  EXPECT_TRUE(files.MayReplace(dir.path + "/missing.ini"));

  // XDG_CONFIG_HOME naming a file falls back to ~/.config; with no usable
  // folder at all there is none.
  const std::string notAFolder = dir.path + "/plain";
  test::WriteFile(notAFolder, "");
  ::setenv("XDG_CONFIG_HOME", notAFolder.c_str(), 1);
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", dir.path.c_str(), 1);
  EXPECT_EQ(files.UserDataFolder(), dir.path + "/.config/quorrel");
  EXPECT_EQ(test::AsNobody([&] {
              ::setenv("HOME", "/", 1);
              return files.UserDataFolder().empty() ? 1 : 0;
            }),
            1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", home.c_str(), 1);
}

TEST(SaveSafety, QuotedAndLongValuesSurviveTwoRestarts) {
  test::TempDir dir;
  const std::string ini = dir.path + "/Settings.ini";
  const std::string quoted = "\"/opt/my tool/fix.sh\"";
  const std::string longIp(300, '9');
  test::WriteFile(ini, "[Options]\r\nIP=" + longIp + "\r\n");
  for (int restart = 0; restart < 3; ++restart) {
    RealFiles real(dir.path);
    Form1 form(real.Ports());
    form.Form_Load();
    if (restart == 0) {
      form.txtFix.SetText(quoted);
    } else {
      EXPECT_EQ(form.txtFix.Text(), quoted) << restart;
    }
    EXPECT_EQ(form.txtIP.Text(), std::string(254, '9')) << restart;
    form.Form_QueryUnload();
    EXPECT_NE(test::ReadFile(ini).find("IP=" + longIp + "\r\n"), std::string::npos) << restart;
  }
}

}  // namespace
}  // namespace quorrel
