// The INI file service on real files, held to GetPrivateProfileStringA /
// WritePrivateProfileStringA's behaviour.
#include "platform/posix/posix_profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "netns.h"
#include "platform/posix/posix_files.h"
#include "settings/mod_general.h"
#include "test_dir.h"

namespace quorrel::posix {
namespace {

using Names = std::vector<std::string>;
using namespace std::string_literals;

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
  int Put(const std::string& file, const char* section, const char* key, const char* value) {
    return profile.WritePrivateProfileStringA(section, key, value, file.c_str());
  }
  std::string Contents() { return test::ReadFile(path); }

  test::TempDir dir;
  std::string path = dir.path + "/Settings.ini";
  ProfileFile profile;
};

// The bytes of a UTF-16LE file.
std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}
const std::string kUtf16Bom = "\xFF\xFE";

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

TEST_F(ProfileTest, TabsAroundNamesAndValuesAreTrimmedOnReadAndWrite) {
  const std::string other = "\t[\tNext\t]\t\r\n\tIP\t=\tkept\t\r\n";
  test::WriteFile(path,
                  "\t[\tOptions\t]\t\r\n"
                  "\tIP\t=\t192.168.1.1\t\r\n"
                  " \tInterval \t= \t5\t \r\n"
                  "\tFix path\t=\t\"\tquoted\t\"\t\r\n" +
                      other);
  EXPECT_EQ(Get("Options", "IP"), "192.168.1.1");
  EXPECT_EQ(Get("Options", "Interval"), "5");
  EXPECT_EQ(Get("\tOptions\t", "\tInterval\t"), "5");
  // Inside the quotes the tabs are the value's own.
  EXPECT_EQ(Get("Options", "Fix path"), "\tquoted\t");
  EXPECT_EQ(Get("Next", "IP"), "kept");

  // The write finds the same key and section, so it neither adds a second
  // "IP" nor a second [Options].
  ASSERT_EQ(Put("\tOptions\t", "\tIP\t", "10.0.0.1"), 1);
  EXPECT_EQ(Contents(),
            "\t[\tOptions\t]\t\r\n"
            "IP=10.0.0.1\r\n"
            " \tInterval \t= \t5\t \r\n"
            "\tFix path\t=\t\"\tquoted\t\"\t\r\n" +
                other);
  EXPECT_EQ(Get("Options", "IP"), "10.0.0.1");
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

TEST_F(ProfileTest, NulEndsAStoredValue) {
  test::WriteFile(path,
                  "[Options]\r\n"
                  "IP=192.168.1.1\0; rest of the line\r\n"
                  "Fix path=\"/opt/fix it.sh\"\0\"\r\n"
                  "Int\0erval=5\r\n"s);
  EXPECT_EQ(Get("Options", "IP"), "192.168.1.1");
  EXPECT_EQ(Get("Options", "Fix path"), "/opt/fix it.sh");
  // A NUL inside a name ends the line before its '=': no key at all.
  EXPECT_EQ(Get("Options", "Int", "none"), "none");
  EXPECT_EQ(Get("Options", "Interval", "none"), "none");

  Utf8CodePage codePage;
  ModGeneral general(profile, codePage);
  std::string ip = general.ReadIniValue("Options", "IP", path);
  EXPECT_EQ(ip, "192.168.1.1");
  EXPECT_EQ(ip.find('\0'), std::string::npos);

  // The same in a UTF-16 file.
  test::WriteFile(path, kUtf16Bom + Utf16Le(u"[Options]\r\nIP=10.0.0.1\0junk\r\n"s));
  EXPECT_EQ(general.ReadIniValue("Options", "IP", path), "10.0.0.1");
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
  ::rmdir(path.c_str());
  // A FIFO neither hangs the read nor the write.
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  EXPECT_EQ(Get("Options", "IP", "dflt"), "dflt");
  EXPECT_EQ(Put("Options", "IP", "1.1.1.1"), 0);
}

TEST_F(ProfileTest, WriteChangesOnlyItsLinesByteForByte) {
  // Mixed line ends, as a file edited by hand on two systems has them.
  test::WriteFile(path,
                  "; settings\n"
                  "[Window]\r\n"
                  "Left=10\n"
                  "\n"
                  "[Options]\r\n"
                  "; the router\r"
                  "IP = 10.0.0.1\n"
                  "Unknown=kept  \r\n"
                  "ip=duplicate\n"
                  "\n"
                  "\r\n"
                  "[Tail]\n"
                  "x=1");
  ASSERT_EQ(Put("options", "ip", "192.168.1.1"), 1);
  ASSERT_EQ(Put("Options", "Interval", "5"), 1);
  ASSERT_EQ(Put("Window", "Top", "20"), 1);
  ASSERT_EQ(Put("New", "Key", "v"), 1);
  EXPECT_EQ(Contents(),
            "; settings\n"
            "[Window]\r\n"
            "Left=10\n"
            "Top=20\r\n"
            "\n"
            "[Options]\r\n"
            "; the router\r"
            "ip=192.168.1.1\n"  // a changed line keeps its own line end
            "Unknown=kept  \r\n"
            "ip=duplicate\n"
            "Interval=5\r\n"
            "\n"
            "\r\n"
            "[Tail]\n"
            "x=1\r\n"  // the last line needs an end once something follows it
            "\r\n"
            "[New]\r\n"
            "Key=v\r\n");
  EXPECT_EQ(Get("Options", "IP"), "192.168.1.1");

  // Writing what is already there changes nothing, not even the file's inode.
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_EQ(Put("Options", "ip", "192.168.1.1"), 1);
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(ProfileTest, WriteCreatesTheFileAndKeepsModeAndBom) {
  // A new file gets the mode any program's new file gets: 0666 less the umask.
  const mode_t umaskBefore = ::umask(002);
  const int created = Put("Options", "IP", "192.168.25.0");
  ::umask(umaskBefore);
  ASSERT_EQ(created, 1);
  struct stat made {};
  ASSERT_EQ(::stat(path.c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 07777, 0664u);
  ASSERT_EQ(Put("Options", "Interval", "  3 "), 1);
  EXPECT_EQ(Contents(), "[Options]\r\nIP=192.168.25.0\r\nInterval=  3 \r\n");
  EXPECT_EQ(Get("Options", "Interval"), "3");

  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  test::WriteFile(path, "\xEF\xBB\xBF[Options]\r\nIP=1\r\n");
  ASSERT_EQ(Put("Options", "IP", "2"), 1);
  EXPECT_EQ(Contents(), "\xEF\xBB\xBF[Options]\r\nIP=2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // The temporary file is gone.
  EXPECT_EQ(test::ListDir(dir.path), Names{"Settings.ini"});

  // Deleting from a file that does not exist creates none.
  std::string absent = dir.path + "/Absent.ini";
  EXPECT_EQ(Put(absent, "Options", "IP", nullptr), 1);
  EXPECT_EQ(Put(absent, "Options", nullptr, nullptr), 1);
  EXPECT_EQ(test::ListDir(dir.path), Names{"Settings.ini"});
}

TEST_F(ProfileTest, Utf16FileIsReadAndWrittenAsUtf16) {
  // As Notepad saves it: the byte-order mark, then UTF-16LE. The comment holds
  // a lone surrogate, which no conversion could give back: it must survive.
  const std::u16string comment = u"; Zo\u00EB's settings \xD83D\r\n";
  const std::u16string head = comment + u"[Options]\r\nIP=10.0.0.1\n";
  const std::u16string tail =
      u"Fix path=\"/home/zo\u00EB/fix \u65E5\u672C.sh\"\r\n"
      u"Long=" +
      std::u16string(300, u'\u00E9') + u"\r\n";
  test::WriteFile(path, kUtf16Bom + Utf16Le(head + tail));

  EXPECT_EQ(Get("Options", "IP"), "10.0.0.1");
  EXPECT_EQ(Get("Options", "Fix path"), "/home/zo\xC3\xAB/fix \xE6\x97\xA5\xE6\x9C\xAC.sh");
  Utf8CodePage codePage;
  ModGeneral general(profile, codePage);
  // The 254-byte cut is in ANSI bytes: 127 two-byte characters.
  std::string cut;
  for (int i = 0; i < 127; ++i) cut += "\xC3\xA9";
  EXPECT_EQ(general.ReadIniValue("Options", "Long", path), cut);

  ASSERT_EQ(Put("Options", "IP", "192.168.1.1"), 1);
  ASSERT_EQ(Put("Options", "Interval", "5"), 1);
  ASSERT_EQ(Put("M\xC3\xBCnchen",
                "Stra\xC3\x9F"
                "e",
                "\xE2\x82\xAC"),
            1);
  const std::u16string expected = comment + u"[Options]\r\nIP=192.168.1.1\n" + tail +
                                  u"Interval=5\r\n\r\n[M\u00FCnchen]\r\nStra\u00DFe=\u20AC\r\n";
  EXPECT_EQ(Contents(), kUtf16Bom + Utf16Le(expected));
  EXPECT_EQ(Get("m\xC3\xBCnchen",
                "stra\xC3\x9F"
                "e"),
            "\xE2\x82\xAC");
  EXPECT_EQ(Get("Options", "IP"), "192.168.1.1");
}

TEST_F(ProfileTest, LineBreaksInAValueBecomeBlanks) {
  test::WriteFile(path, "[Options]\r\nIP=1\r\nInterval=5\r\n");
  ASSERT_EQ(Put("Options", "IP", "a\r\nb\rc\nd"), 1);
  ASSERT_EQ(Put("Opt\nions", "K\ney", "v"), 1);
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

  ASSERT_EQ(Put("A", "K1", nullptr), 1);
  ASSERT_EQ(Put("b", nullptr, nullptr), 1);
  ASSERT_EQ(Put("Nowhere", "k", nullptr), 1);
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

// The file as it stood, the way to check it still does.
struct Snapshot {
  std::string bytes;
  struct stat st {};
  explicit Snapshot(const std::string& file) : bytes(test::ReadFile(file)) {
    ::lstat(file.c_str(), &st);
  }
  bool Unchanged(const std::string& file) const {
    struct stat now {};
    return ::lstat(file.c_str(), &now) == 0 && now.st_ino == st.st_ino &&
           now.st_mode == st.st_mode && now.st_uid == st.st_uid && test::ReadFile(file) == bytes;
  }
};

TEST_F(ProfileTest, FileTheUserMayNotWriteIsLeftAlone) {
  QUORREL_REQUIRE_ROOT();
  const std::string text = "[Options]\nIP=10.0.0.1\n";
  // Read-only, even to root, who could write it regardless of its mode.
  test::WriteFile(path, text);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  Snapshot readOnly(path);
  EXPECT_EQ(Put("Options", "IP", "192.168.1.1"), 0);
  EXPECT_EQ(Put("Options", "New", "1"), 0);
  EXPECT_EQ(Put("Options", nullptr, nullptr), 0);
  EXPECT_TRUE(readOnly.Unchanged(path));
  EXPECT_EQ(Get("Options", "IP"), "10.0.0.1");

  // Another user's file without a write bit for others.
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(::chown(path.c_str(), test::kNobody, test::kNoGroup), 0);
  Snapshot othersFile(path);
  EXPECT_EQ(Put("Options", "IP", "192.168.1.1"), 0);
  EXPECT_TRUE(othersFile.Unchanged(path));

  // With the write bit for others it may be written, and stays its owner's.
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  EXPECT_EQ(Put("Options", "IP", "192.168.1.1"), 1);
  EXPECT_EQ(Contents(), "[Options]\nIP=192.168.1.1\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, test::kNobody);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  EXPECT_EQ(test::ListDir(dir.path), Names{"Settings.ini"});
}

TEST_F(ProfileTest, OrdinaryUserKeepsReadOnlyFilesAndWritesTheirOwn) {
  QUORREL_REQUIRE_ROOT();
  ASSERT_EQ(::chmod(dir.path.c_str(), 0755), 0);
  const std::string text = "[Options]\nIP=10.0.0.1\n";
  test::WriteFile(path, text);
  ASSERT_EQ(::chown(path.c_str(), test::kNobody, test::kNoGroup), 0);
  ASSERT_EQ(::chown(dir.path.c_str(), test::kNobody, test::kNoGroup), 0);

  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  Snapshot readOnly(path);
  EXPECT_EQ(test::AsNobody([&] { return Put("Options", "IP", "192.168.1.1"); }), 0);
  EXPECT_TRUE(readOnly.Unchanged(path));

  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  EXPECT_EQ(test::AsNobody([&] { return Put("Options", "IP", "192.168.1.1"); }), 1);
  EXPECT_EQ(Contents(), "[Options]\nIP=192.168.1.1\n");
  EXPECT_EQ(test::ListDir(dir.path), Names{"Settings.ini"});
}

TEST_F(ProfileTest, ReadOnlyFolderOfAnOrdinaryUserLeavesTheFile) {
  QUORREL_REQUIRE_ROOT();
  // The folder is root's; the file is the user's and writable, but a safe
  // write needs a temporary file beside it.
  ASSERT_EQ(::chmod(dir.path.c_str(), 0755), 0);
  test::WriteFile(path, "[Options]\r\nIP=10.0.0.1\r\n");
  ASSERT_EQ(::chown(path.c_str(), test::kNobody, test::kNoGroup), 0);
  Snapshot before(path);
  EXPECT_EQ(test::AsNobody([&] { return Put("Options", "IP", "192.168.1.1"); }), 0);
  EXPECT_EQ(test::AsNobody([&] { return Put("Options", "New", "1"); }), 0);
  EXPECT_TRUE(before.Unchanged(path));
  EXPECT_EQ(test::ListDir(dir.path), Names{"Settings.ini"});

  // Once the folder is the user's, the same write goes through.
  ASSERT_EQ(::chown(dir.path.c_str(), test::kNobody, test::kNoGroup), 0);
  EXPECT_EQ(test::AsNobody([&] { return Put("Options", "IP", "192.168.1.1"); }), 1);
  EXPECT_EQ(Contents(), "[Options]\r\nIP=192.168.1.1\r\n");
}

TEST_F(ProfileTest, LinkIsWrittenThroughOnlyToTheUsersOwnRegularFile) {
  QUORREL_REQUIRE_ROOT();
  const std::string text = "# kept as it is\n[Options]\nIP=1\nother=x  \n";
  std::string own = dir.path + "/own.ini";
  test::WriteFile(own, text);
  ASSERT_EQ(::symlink(own.c_str(), path.c_str()), 0);
  ASSERT_EQ(Put("Options", "IP", "2"), 1);
  ASSERT_EQ(Put("Options", "Interval", "5"), 1);
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(test::ReadFile(own), "# kept as it is\n[Options]\nIP=2\nother=x  \nInterval=5\r\n");
  EXPECT_EQ(test::ListDir(dir.path), (Names{"Settings.ini", "own.ini"}));

  // Another user's file, even one anybody may write.
  std::string others = dir.path + "/others.ini";
  test::WriteFile(others, text);
  ASSERT_EQ(::chown(others.c_str(), test::kNobody, test::kNoGroup), 0);
  ASSERT_EQ(::chmod(others.c_str(), 0666), 0);
  std::string toOthers = dir.path + "/to-others.ini";
  ASSERT_EQ(::symlink(others.c_str(), toOthers.c_str()), 0);
  Snapshot othersBefore(others), linkBefore(toOthers);
  EXPECT_EQ(Put(toOthers, "Options", "IP", "2"), 0);
  EXPECT_TRUE(othersBefore.Unchanged(others));
  EXPECT_TRUE(linkBefore.Unchanged(toOthers));

  // A link someone else made, even to the user's own file.
  std::string planted = dir.path + "/planted.ini";
  ASSERT_EQ(::symlink(own.c_str(), planted.c_str()), 0);
  ASSERT_EQ(::lchown(planted.c_str(), test::kNobody, test::kNoGroup), 0);
  Snapshot ownBefore(own);
  EXPECT_EQ(Put(planted, "Options", "IP", "3"), 0);
  EXPECT_TRUE(ownBefore.Unchanged(own));

  // Something other than a regular file, and nothing at all.
  std::string fifo = dir.path + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::string toFifo = dir.path + "/to-fifo.ini";
  ASSERT_EQ(::symlink(fifo.c_str(), toFifo.c_str()), 0);
  EXPECT_EQ(Put(toFifo, "Options", "IP", "2"), 0);
  std::string dangling = dir.path + "/dangling.ini";
  ASSERT_EQ(::symlink((dir.path + "/nothing.ini").c_str(), dangling.c_str()), 0);
  EXPECT_EQ(Put(dangling, "Options", "IP", "2"), 0);
  EXPECT_EQ(test::ListDir(dir.path),
            (Names{"Settings.ini", "dangling.ini", "fifo", "others.ini", "own.ini", "planted.ini",
                   "to-fifo.ini", "to-others.ini"}));
}

TEST_F(ProfileTest, OrdinaryUsersLinkToTheirOwnFileOnly) {
  QUORREL_REQUIRE_ROOT();
  ASSERT_EQ(::chmod(dir.path.c_str(), 0755), 0);
  ASSERT_EQ(::chown(dir.path.c_str(), test::kNobody, test::kNoGroup), 0);
  const std::string text = "[Options]\r\nIP=1\nFix path=/bin/true\r\n";
  std::string own = dir.path + "/own.ini";
  std::string roots = dir.path + "/roots.ini";
  std::string toRoots = dir.path + "/to-roots.ini";
  test::WriteFile(own, text);
  test::WriteFile(roots, text);
  ASSERT_EQ(::chown(own.c_str(), test::kNobody, test::kNoGroup), 0);
  ASSERT_EQ(::chmod(roots.c_str(), 0666), 0);
  ASSERT_EQ(::symlink(own.c_str(), path.c_str()), 0);
  ASSERT_EQ(::symlink(roots.c_str(), toRoots.c_str()), 0);
  ASSERT_EQ(::lchown(path.c_str(), test::kNobody, test::kNoGroup), 0);
  ASSERT_EQ(::lchown(toRoots.c_str(), test::kNobody, test::kNoGroup), 0);

  EXPECT_EQ(test::AsNobody([&] { return Put("Options", "IP", "2"); }), 1);
  EXPECT_EQ(test::ReadFile(own), "[Options]\r\nIP=2\nFix path=/bin/true\r\n");
  Snapshot rootsBefore(roots);
  EXPECT_EQ(test::AsNobody([&] { return Put(toRoots, "Options", "IP", "2"); }), 0);
  EXPECT_TRUE(rootsBefore.Unchanged(roots));
}

// A small tmpfs of the test's own, gone with the object.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& folder, const char* options) : folder_(folder) {
    ::mkdir(folder.c_str(), 0755);
    mounted_ = ::mount("quorrel-test", folder.c_str(), "tmpfs", 0, options) == 0;
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
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
  // A folder that not even root may write: a tmpfs mounted read-only.
  std::string folder = dir.path + "/ro";
  TmpfsMount mount(folder, "size=64k");
  ASSERT_TRUE(mount.Mounted()) << std::strerror(errno);
  path = folder + "/Settings.ini";
  const std::string before = "[Options]\nIP=10.0.0.1\n";
  test::WriteFile(path, before);
  ASSERT_TRUE(mount.MakeReadOnly()) << std::strerror(errno);

  EXPECT_EQ(Put("Options", "IP", "192.168.1.1"), 0);
  EXPECT_EQ(Put("Options", "New", "1"), 0);
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(test::ListDir(folder), Names{"Settings.ini"});
  EXPECT_EQ(Get("Options", "IP"), "10.0.0.1");
  path = folder + "/Absent.ini";
  EXPECT_EQ(Put("Options", "IP", "1"), 0);
}

TEST_F(ProfileTest, FullDiskKeepsTheOldFileWholeAndNoTemporaryFile) {
  QUORREL_REQUIRE_ROOT();
  std::string folder = dir.path + "/full";
  TmpfsMount mount(folder, "size=64k");
  ASSERT_TRUE(mount.Mounted()) << std::strerror(errno);
  path = folder + "/Settings.ini";
  // Several pages, so that a write in place could reuse what it truncated.
  std::string before = "[Options]\r\n";
  for (int i = 0; i < 400; ++i) before += "Key" + std::to_string(i) + "=some value\r\n";
  test::WriteFile(path, before);
  ASSERT_EQ(Contents(), before);

  std::string filler = folder + "/filler";
  {
    int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
  }

  const std::string longer(6000, 'x');
  EXPECT_EQ(Put("Options", "Fix path", longer.c_str()), 0);
  EXPECT_EQ(Put("Options", "Key7", longer.c_str()), 0);
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(test::ListDir(folder), (Names{"Settings.ini", "filler"}));

  // The same write succeeds once there is room: the disk was the only reason.
  ASSERT_EQ(::unlink(filler.c_str()), 0);
  EXPECT_EQ(Put("Options", "Key7", longer.c_str()), 1);
  EXPECT_EQ(Get("Options", "Key8"), "some value");
  EXPECT_EQ(test::ListDir(folder), Names{"Settings.ini"});
}

TEST_F(ProfileTest, StaleTemporaryFilesAreRemovedAtTheNextWrite) {
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string deadRun = ".Settings.ini." + std::to_string(gone) + "-0.tmp";
  const std::string oldRun = ".Settings.ini.1-4.tmp";   // pid 1 runs, but this is old
  const std::string liveRun = ".Settings.ini.1-5.tmp";  // a save going on now
  const std::string pid = std::to_string(gone);
  // Names that only look like ours: another file's, a pid or a counter that
  // is missing or no number.
  const Names kept = {".Other.ini." + pid + "-0.tmp",
                      ".Settings.ini.1x-0.tmp",
                      "Settings.ini.tmp",
                      ".Settings.ini." + pid + "-.tmp",
                      ".Settings.ini.-0.tmp",
                      ".Settings.ini." + pid + "-0x.tmp",
                      ".Settings.ini." + pid + ".tmp"};
  for (const std::string& name : {deadRun, oldRun, liveRun})
    test::WriteFile(dir.path + "/" + name, "[Options]\r\nIP=half");
  for (const std::string& name : kept) test::WriteFile(dir.path + "/" + name, "x");
  const timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir.path + "/" + oldRun).c_str(), hourAgo, 0), 0);

  ASSERT_EQ(Put("Options", "IP", "192.168.1.1"), 1);
  Names expected = kept;
  expected.push_back(liveRun);
  expected.push_back("Settings.ini");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(test::ListDir(dir.path), expected);
  EXPECT_EQ(Contents(), "[Options]\r\nIP=192.168.1.1\r\n");
}

// Holds every open of a file inside one folder until the test has acted: the
// steps of a save (its read of the file, its temporary file) become moments a
// test can change the folder at, with nothing in the service to hook. The
// opens are answered on a thread of the gate's own, so no open the test
// itself makes can wait on it.
class OpenGate {
 public:
  // `onOpen` gets the name of each file being opened while its opener waits.
  OpenGate(const std::string& folder, std::function<void(const std::string&)> onOpen)
      : fd_(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE)),
        onOpen_(std::move(onOpen)) {
    armed_ = fd_ >= 0 && ::fanotify_mark(fd_, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD,
                                         AT_FDCWD, folder.c_str()) == 0;
    if (armed_) server_ = std::thread([this] { Serve(); });
  }
  // Closing lets any open still held go on.
  ~OpenGate() {
    stop_ = true;
    if (server_.joinable()) server_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  OpenGate(const OpenGate&) = delete;
  OpenGate& operator=(const OpenGate&) = delete;
  bool Armed() const { return armed_; }

 private:
  void Serve() {
    alignas(fanotify_event_metadata) char buffer[4096];
    while (!stop_) {
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      ssize_t left = ::read(fd_, buffer, sizeof buffer);
      for (auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
           left > 0 && FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
        if (event->fd < 0) continue;
        char target[4096] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(event->fd);
        if (::readlink(link.c_str(), target, sizeof target - 1) > 0) {
          const std::string name = target;
          onOpen_(name.substr(name.rfind('/') + 1));
        }
        const fanotify_response allow{event->fd, FAN_ALLOW};
        EXPECT_EQ(::write(fd_, &allow, sizeof allow), static_cast<ssize_t>(sizeof allow));
        ::close(event->fd);
      }
    }
  }

  int fd_;
  std::function<void(const std::string&)> onOpen_;
  bool armed_ = false;
  std::atomic<bool> stop_{false};
  std::thread server_;
};

TEST_F(ProfileTest, ASaveLeavesAFileReplacedOrMadeSinceItWasRead) {
  QUORREL_REQUIRE_ROOT();
  // The gate watches a folder of its own, so that the test makes the other
  // program's file beside it, past the gate, and only renames it in.
  const std::string folder = dir.path + "/gated";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  path = folder + "/Settings.ini";
  const std::string theirs = "[Options]\r\nIP=10.99.99.99\r\n";
  auto putTheirsInPlace = [&] {
    const std::string made = dir.path + "/theirs.ini";
    test::WriteFile(made, theirs);
    return ::rename(made.c_str(), path.c_str()) == 0;
  };

  for (const bool existed : {true, false}) {
    SCOPED_TRACE(existed ? "a file replaced after the save read it"
                         : "a file made after the save found none");
    if (existed) test::WriteFile(path, "[Options]\r\nIP=10.0.0.1\r\n");
    int saved = -1;
    bool swapped = false;
    {
      // The file that was read is swapped while the save opens it; the missing
      // one appears while the save opens its temporary file.
      OpenGate gate(folder, [&](const std::string& name) {
        if (!swapped && (existed ? name == "Settings.ini" : name.ends_with(".tmp")))
          swapped = putTheirsInPlace();
      });
      ASSERT_TRUE(gate.Armed()) << std::strerror(errno);
      saved = Put("Options", "IP", "192.168.1.1");
    }
    EXPECT_TRUE(swapped);
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(Contents(), theirs);
    EXPECT_EQ(test::ListDir(folder), Names{"Settings.ini"});
    ::unlink(path.c_str());
  }
}

}  // namespace
}  // namespace quorrel::posix
