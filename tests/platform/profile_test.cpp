// The INI file service on real files, held to GetPrivateProfileStringA /
// WritePrivateProfileStringA's behaviour.
#include "platform/posix/profile.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "netns.h"
#include "platform/posix/files.h"
#include "settings/mod_general.h"
#include "test_dir.h"

namespace quorrel::posix {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  std::string Get(const char* section, const char* key, const char* defaultValue = "",
                  std::uint32_t size = 256) {
    std::string buffer(size, '\x7F');
    std::uint32_t n = profile.GetPrivateProfileStringA(section, key, defaultValue, buffer.data(),
                                                       size, path.c_str());
    EXPECT_EQ(buffer[n], '\0');
    return buffer.substr(0, n);
  }
  int Put(const char* section, const char* key, const char* value) {
    return profile.WritePrivateProfileStringA(section, key, value, path.c_str());
  }
  std::string Contents() { return test::ReadFile(path); }

  test::TempDir dir;
  std::string path = dir.path + "/Settings.ini";
  ProfileFile profile;
};

TEST_F(ProfileTest, ReadsNamesCaseBlindAndValuesTrimmedAndUnquoted) {
  test::WriteFile(path,
                  "\xEF\xBB\xBF; saved by hand\r\n"
                  "[Other]\r\n"
                  "IP=10.0.0.1\r\n"
                  "\r\n"
                  "  [ options ]  ; trailing note\r\n"
                  "  ip  =   192.168.1.1   \r\n"
                  "Fix path=\"C:\\fix it.bat\"\r\n"
                  "Single='x y'\r\n"
                  "Mismatched=\"abc'\r\n"
                  "Doubled=\"\"in\"\"\r\n"
                  "Lonely=\"\r\n"
                  ";Interval=9\r\n"
                  "no equals sign here\r\n"
                  "Empty=\r\n"
                  "ip=second wins never\r\n"
                  "[OPTIONS]\r\n"
                  "Interval=7\r\n");
  EXPECT_EQ(Get("Options", "IP"), "192.168.1.1");
  EXPECT_EQ(Get("OPTIONS", "Ip"), "192.168.1.1");
  EXPECT_EQ(Get("Other", "IP"), "10.0.0.1");
  EXPECT_EQ(Get("Options", "Fix path"), "C:\\fix it.bat");
  EXPECT_EQ(Get("Options", "Single"), "x y");
  EXPECT_EQ(Get("Options", "Mismatched"), "\"abc'");
  EXPECT_EQ(Get("Options", "Doubled"), "\"in\"");
  EXPECT_EQ(Get("Options", "Lonely"), "\"");
  // A comment is not a key, and only the first section of a name is looked at.
  EXPECT_EQ(Get("Options", "Interval", "none"), "none");
  EXPECT_EQ(Get("Options", "no equals sign here", "none"), "none");
  EXPECT_EQ(Get("Options", "Empty", "none"), "");
  EXPECT_EQ(Get("Missing", "IP", "dflt"), "dflt");
  EXPECT_EQ(Get("Options", "Missing", "dflt  "), "dflt");
  EXPECT_EQ(Get("Options", "Missing", nullptr), "");
}

TEST_F(ProfileTest, EveryLineEndIsRead) {
  for (const char* end : {"\r\n", "\n", "\r"}) {
    std::string e = end;
    test::WriteFile(
        path, "[Options]" + e + "IP=1.2.3.4" + e + "Interval=5" + e + "[Next]" + e + "IP=9.9.9.9");
    EXPECT_EQ(Get("Options", "IP"), "1.2.3.4") << "line end " << testing::PrintToString(e);
    EXPECT_EQ(Get("Options", "Interval"), "5");
    EXPECT_EQ(Get("Next", "IP"), "9.9.9.9");
  }
}

TEST_F(ProfileTest, BufferTakesSizeLessOneAndNothingBeyond) {
  test::WriteFile(path, "[Options]\r\nIP=192.168.25.0\r\n");
  EXPECT_EQ(Get("Options", "IP", "", 5), "192.");
  EXPECT_EQ(Get("Options", "IP", "", 1), "");
  EXPECT_EQ(Get("Options", "IP", "", 15), "192.168.25.0");
  EXPECT_EQ(Get("Options", "Nope", "a long default", 4), "a l");

  char guard[8];
  std::memset(guard, 'Z', sizeof guard);
  EXPECT_EQ(profile.GetPrivateProfileStringA("Options", "IP", "", guard, 4, path.c_str()), 3u);
  EXPECT_EQ(std::string(guard, 4), std::string("192\0", 4));
  EXPECT_EQ(std::string(guard + 4, 4), "ZZZZ");
  EXPECT_EQ(profile.GetPrivateProfileStringA("Options", "IP", "", guard, 0, path.c_str()), 0u);
  EXPECT_EQ(profile.GetPrivateProfileStringA("Options", "IP", "", nullptr, 9, path.c_str()), 0u);
}

TEST_F(ProfileTest, MissingOrUnreadableFileGivesTheDefault) {
  EXPECT_EQ(Get("Options", "IP", "dflt"), "dflt");
  ::mkdir(path.c_str(), 0755);  // a folder where the file should be
  EXPECT_EQ(Get("Options", "IP", "dflt"), "dflt");
  EXPECT_EQ(Put("Options", "IP", "1.1.1.1"), 0);
}

TEST_F(ProfileTest, WriteChangesOneLineAndKeepsTheRest) {
  test::WriteFile(path,
                  "; settings\n"
                  "[Window]\n"
                  "Left=10\n"
                  "\n"
                  "[Options]\n"
                  "; the router\n"
                  "IP = 10.0.0.1\n"
                  "Unknown=kept\n"
                  "ip=duplicate\n"
                  "\n"
                  "\n"
                  "[Tail]\n"
                  "x=1");
  ASSERT_NE(Put("options", "ip", "192.168.1.1"), 0);
  ASSERT_NE(Put("Options", "Interval", "5"), 0);
  ASSERT_NE(Put("Window", "Top", "20"), 0);
  ASSERT_NE(Put("New", "Key", "v"), 0);
  EXPECT_EQ(Contents(),
            "; settings\r\n"
            "[Window]\r\n"
            "Left=10\r\n"
            "Top=20\r\n"
            "\r\n"
            "[Options]\r\n"
            "; the router\r\n"
            "ip=192.168.1.1\r\n"
            "Unknown=kept\r\n"
            "ip=duplicate\r\n"
            "Interval=5\r\n"
            "\r\n"
            "\r\n"
            "[Tail]\r\n"
            "x=1\r\n"
            "\r\n"
            "[New]\r\n"
            "Key=v\r\n");
  EXPECT_EQ(Get("Options", "IP"), "192.168.1.1");
}

TEST_F(ProfileTest, WriteCreatesTheFileAndKeepsModeAndBom) {
  ASSERT_NE(Put("Options", "IP", "192.168.25.0"), 0);
  ASSERT_NE(Put("Options", "Interval", "  3 "), 0);
  EXPECT_EQ(Contents(), "[Options]\r\nIP=192.168.25.0\r\nInterval=  3 \r\n");
  EXPECT_EQ(Get("Options", "Interval"), "3");

  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  test::WriteFile(path, "\xEF\xBB\xBF[Options]\r\nIP=1\r\n");
  ASSERT_NE(Put("Options", "IP", "2"), 0);
  EXPECT_EQ(Contents(), "\xEF\xBB\xBF[Options]\r\nIP=2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // The temporary file is gone.
  EXPECT_EQ(test::ListDir(dir.path), std::vector<std::string>{"Settings.ini"});
}

TEST_F(ProfileTest, WriteThroughALinkReplacesTheTarget) {
  std::string real = dir.path + "/real.ini";
  test::WriteFile(real, "[Options]\r\nIP=1\r\n");
  ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
  ASSERT_NE(Put("Options", "IP", "2"), 0);
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(test::ReadFile(real), "[Options]\r\nIP=2\r\n");
}

TEST_F(ProfileTest, LineBreaksInAValueBecomeBlanks) {
  test::WriteFile(path, "[Options]\r\nIP=1\r\nInterval=5\r\n");
  ASSERT_NE(Put("Options", "IP", "a\r\nb\rc\nd"), 0);
  ASSERT_NE(Put("Opt\nions", "K\ney", "v"), 0);
  EXPECT_EQ(Contents(), "[Options]\r\nIP=a  b c d\r\nInterval=5\r\n\r\n[Opt ions]\r\nK ey=v\r\n");
  EXPECT_EQ(Get("Options", "IP"), "a  b c d");
  EXPECT_EQ(Get("Options", "Interval"), "5");
}

TEST_F(ProfileTest, NullFormsDeleteAndList) {
  test::WriteFile(path, "[A]\r\nk1=1\r\nk2=2\r\n[B]\r\nk3=3\r\n[C]\r\n");
  // Listing: names each ending in NUL, then one more NUL.
  std::string sections(32, 'Z');
  EXPECT_EQ(
      profile.GetPrivateProfileStringA(nullptr, nullptr, "", sections.data(), 32, path.c_str()),
      6u);
  EXPECT_EQ(sections.substr(0, 7), std::string("A\0B\0C\0\0", 7));
  std::string keys(6, 'Z');  // too small: cut, still two NULs at the end
  EXPECT_EQ(profile.GetPrivateProfileStringA("a", nullptr, "", keys.data(), 6, path.c_str()), 4u);
  EXPECT_EQ(keys, std::string("k1\0k\0\0", 6));

  ASSERT_NE(Put("A", "K1", nullptr), 0);
  ASSERT_NE(Put("b", nullptr, nullptr), 0);
  ASSERT_NE(Put("Nowhere", "k", nullptr), 0);
  EXPECT_EQ(Contents(), "[A]\r\nk2=2\r\n[C]\r\n");
  EXPECT_EQ(Put(nullptr, "k", "v"), 0);
}

TEST_F(ProfileTest, ReadIniValueCutsALongValueTo254) {
  std::string longValue(300, 'x');
  longValue.replace(250, 10, "0123456789");
  test::WriteFile(path, "[Options]\r\nFix path=" + longValue + "\r\n");
  Utf8CodePage codePage;
  ModGeneral general(profile, codePage);
  EXPECT_EQ(general.ReadIniValue("Options", "Fix path", path), longValue.substr(0, 254));
  EXPECT_EQ(general.ReadIniValue("Options", "IP", path), "");
  EXPECT_NE(general.WriteIniValue("Options", "IP", "192.168.25.0", path), 0);
  EXPECT_EQ(general.ReadIniValue("options", "ip", path), "192.168.25.0");
}

// A folder that not even root may write: a tmpfs mounted read-only.
class ReadOnlyMount {
 public:
  explicit ReadOnlyMount(const std::string& folder) : folder_(folder) {
    ::mkdir(folder.c_str(), 0755);
    mounted_ = ::mount("quorrel-test", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~ReadOnlyMount() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  ReadOnlyMount(const ReadOnlyMount&) = delete;
  ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;
  bool Mounted() const { return mounted_; }
  bool MakeReadOnly() {
    return ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string folder_;
  bool mounted_ = false;
};

TEST_F(ProfileTest, UnwritableFolderLeavesTheFileAndFails) {
  QUORREL_REQUIRE_ROOT();
  std::string folder = dir.path + "/ro";
  ReadOnlyMount mount(folder);
  ASSERT_TRUE(mount.Mounted()) << std::strerror(errno);
  path = folder + "/Settings.ini";
  const std::string before = "[Options]\nIP=10.0.0.1\n";
  test::WriteFile(path, before);
  ASSERT_TRUE(mount.MakeReadOnly()) << std::strerror(errno);

  EXPECT_EQ(Put("Options", "IP", "192.168.1.1"), 0);
  EXPECT_EQ(Put("Options", "New", "1"), 0);
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(test::ListDir(folder), std::vector<std::string>{"Settings.ini"});
  EXPECT_EQ(Get("Options", "IP"), "10.0.0.1");
  path = folder + "/Absent.ini";
  EXPECT_EQ(Put("Options", "IP", "1"), 0);
}

}  // namespace
}  // namespace quorrel::posix
