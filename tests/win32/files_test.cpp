// Files, INI profile and process start of the Win32 services, in a folder of
// their own under %TEMP% that each test removes again.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "fakes/fakes.h"
#include "platform/win32/services/command_line.h"
#include "platform/win32/services/wide_text.h"
#include "platform/win32/services/win32_services.h"
#include "settings/mod_general.h"
#include "window/form1.h"

namespace quorrel::win32 {
namespace {

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

bool Exists(const std::string& utf8Path) {
  return GetFileAttributesW(WideFromUtf8(utf8Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFile(const std::string& utf8Path) {
  HANDLE file = CreateFileW(WideFromUtf8(utf8Path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
    content.append(chunk, got);
  CloseHandle(file);
  return content;
}

void WriteFile(const std::string& utf8Path, const std::string& bytes) {
  HANDLE file = CreateFileW(WideFromUtf8(utf8Path).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size());
}

// A fresh folder with a blank in its name; `suffix` may hold any character.
class TempFolder {
 public:
  explicit TempFolder(const std::string& suffix = "") {
    wchar_t base[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, base);
    static int counter = 0;
    std::wstring name = L"quorrel test " + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++counter) + WideFromUtf8(suffix);
    wide_ = std::wstring(base, length) + name;
    created_ = CreateDirectoryW(wide_.c_str(), nullptr) != FALSE;
  }
  ~TempFolder() {
    // A batch file may still be held open by its interpreter for a moment.
    for (int attempt = 0; attempt < 50 && Exists(Path()); ++attempt) {
      RemoveTree(wide_);
      if (Exists(Path())) Sleep(100);
    }
  }
  bool Created() const { return created_; }
  std::string Path() const { return Utf8FromWide(wide_); }
  std::string operator/(const std::string& name) const { return Path() + "\\" + name; }
  bool IsEmpty() const {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((wide_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
      std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") empty = false;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return empty;
  }

 private:
  std::wstring wide_;
  bool created_ = false;
};

// --- File system -----------------------------------------------------------

TEST(Win32FileSystemTest, ExecutableFolderHoldsThisProgram) {
  Win32FileSystem files;
  std::string folder = files.ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(Exists(folder + "\\win32_tests.exe")) << folder;
  EXPECT_EQ(files.PathSeparator(), '\\');
}

TEST(Win32FileSystemTest, WritableFolderIsProbedWithoutATrace) {
  Win32FileSystem files;
  TempFolder folder(" \xC3\xA9\xE2\x98\x83");  // " é☃": beyond any ANSI code page
  ASSERT_TRUE(folder.Created());
  EXPECT_TRUE(files.IsFolderWritable(folder.Path()));
  EXPECT_TRUE(files.IsFolderWritable(folder.Path() + "\\"));
  EXPECT_TRUE(folder.IsEmpty());
}

TEST(Win32FileSystemTest, NoFolderIsNotWritable) {
  Win32FileSystem files;
  TempFolder folder;
  ASSERT_TRUE(folder.Created());
  EXPECT_FALSE(files.IsFolderWritable(folder / "missing"));
  ASSERT_TRUE(files.AppendToFile(folder / "plain.txt", "x"));
  EXPECT_FALSE(files.IsFolderWritable(folder / "plain.txt"));
  EXPECT_TRUE(files.IsExistingFile(folder / "plain.txt"));
  EXPECT_FALSE(files.IsExistingFile(folder / "missing"));
  EXPECT_FALSE(files.IsExistingFile(folder.Path()));
}

TEST(Win32FileSystemTest, UserDataFolderIsUnderAppData) {
  wchar_t appData[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::string expected = Utf8FromWide(std::wstring(appData, length)) + "\\Quorrel";
  bool existedBefore = Exists(expected);

  Win32FileSystem files;
  std::string folder = files.UserDataFolder();
  EXPECT_EQ(CompareStringOrdinal(WideFromUtf8(folder).c_str(), -1, WideFromUtf8(expected).c_str(),
                                 -1, TRUE),
            CSTR_EQUAL)
      << folder;
  DWORD attributes = GetFileAttributesW(WideFromUtf8(folder).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(files.IsFolderWritable(folder));
  // A second call finds the folder there.
  EXPECT_EQ(files.UserDataFolder(), folder);
  if (!existedBefore) RemoveDirectoryW(WideFromUtf8(folder).c_str());
}

TEST(Win32FileSystemTest, AppendToFileAppendsAndCreates) {
  Win32FileSystem files;
  TempFolder folder;
  ASSERT_TRUE(folder.Created());
  std::string log = folder / "ping log \xE2\x98\x83.txt";  // the name needs the wide call
  ASSERT_TRUE(files.AppendToFile(log, "01/02/26 10:00:00 - Monitoring started\r\n"));
  ASSERT_TRUE(files.AppendToFile(log, "second\r\n"));
  EXPECT_EQ(ReadFile(log), "01/02/26 10:00:00 - Monitoring started\r\nsecond\r\n");
  // Bytes go through unchanged: the caller has already chosen the code page.
  ASSERT_TRUE(files.AppendToFile(log, std::string("\xE9\0z", 3)));
  EXPECT_EQ(ReadFile(log).substr(48), std::string("\xE9\0z", 3));

  std::string empty = folder / "empty.txt";
  EXPECT_TRUE(files.AppendToFile(empty, ""));
  EXPECT_EQ(ReadFile(empty), "");
}

TEST(Win32FileSystemTest, AppendToFileFailsWhereNoFileCanBe) {
  Win32FileSystem files;
  TempFolder folder;
  ASSERT_TRUE(folder.Created());
  EXPECT_FALSE(files.AppendToFile(folder / "missing\\log.txt", "x"));
  EXPECT_FALSE(files.AppendToFile(folder.Path(), "x"));
  EXPECT_FALSE(files.AppendToFile("", "x"));
}

// --- Private profile -------------------------------------------------------

class PrivateProfileTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::string ini = folder / "Settings.ini";
  PrivateProfile profile;
  AnsiCodePage codePage;
  ModGeneral general{profile, codePage};
};

TEST_F(PrivateProfileTest, KeysRoundTripThroughModGeneral) {
  ASSERT_TRUE(folder.Created());
  const std::string fix = "\"C:\\Program Files\\Fix\\quick_opt.bat\" /renew";
  EXPECT_NE(general.WriteIniValue("Options", "Fix path", fix, ini), 0);
  EXPECT_NE(general.WriteIniValue("Options", "IP", "127.0.0.1", ini), 0);
  EXPECT_NE(general.WriteIniValue("Options", "Interval", "Caf\xC3\xA9", ini), 0);  // "Café"
  EXPECT_NE(general.WriteIniValue("Options", "Changes only", "1", ini), 0);
  EXPECT_EQ(general.ReadIniValue("Options", "Fix path", ini), fix);
  EXPECT_EQ(general.ReadIniValue("Options", "IP", ini), "127.0.0.1");
  EXPECT_EQ(general.ReadIniValue("Options", "Interval", ini), "Caf\xC3\xA9");
  EXPECT_EQ(general.ReadIniValue("Options", "Changes only", ini), "1");
  EXPECT_EQ(general.ReadIniValue("Options", "Save log on exit", ini), "");
  EXPECT_EQ(general.ReadIniValue("Other", "IP", ini), "");
  // The file is an ordinary INI file another program can read.
  std::string text = ReadFile(ini);
  EXPECT_NE(text.find("[Options]"), std::string::npos) << text;
  EXPECT_NE(text.find("IP=127.0.0.1"), std::string::npos) << text;
}

TEST_F(PrivateProfileTest, LongValueArrivesCutTo254) {
  ASSERT_TRUE(folder.Created());
  std::string longValue;
  for (int i = 0; i < 300; ++i) longValue += static_cast<char>('a' + i % 26);
  ASSERT_NE(general.WriteIniValue("Options", "IP", longValue, ini), 0);
  EXPECT_EQ(general.ReadIniValue("Options", "IP", ini), longValue.substr(0, 254));

  char buffer[kIniBufferSize];
  EXPECT_EQ(
      profile.GetPrivateProfileStringA("Options", "IP", "", buffer, kIniBufferSize, ini.c_str()),
      254u);
  EXPECT_EQ(buffer[254], '\0');
}

TEST_F(PrivateProfileTest, MissingFileGivesTheDefault) {
  char buffer[16] = "untouched";
  std::string missing = folder / "none.ini";
  EXPECT_EQ(profile.GetPrivateProfileStringA("Options", "IP", "dflt", buffer, sizeof buffer,
                                             missing.c_str()),
            4u);
  EXPECT_STREQ(buffer, "dflt");
  EXPECT_EQ(general.ReadIniValue("Options", "IP", missing), "");
  EXPECT_FALSE(Exists(missing));
  // No room at all: nothing is written and nothing counted.
  EXPECT_EQ(profile.GetPrivateProfileStringA("Options", "IP", "dflt", nullptr, 0, missing.c_str()),
            0u);
}

// --- Process --------------------------------------------------------------

TEST(SplitCommandLineTest, TakesTheProgramApartFromItsArguments) {
  auto exists = [](const std::wstring& name) {
    return name == L"C:\\My Scripts\\fix it.bat" || name == L"C:\\tools\\renew.cmd";
  };
  CommandParts quoted = SplitCommandLine(L"  \"C:\\A B\\x.bat\"   /all \"two words\"", exists);
  EXPECT_EQ(quoted.program, L"C:\\A B\\x.bat");
  EXPECT_EQ(quoted.arguments, L"/all \"two words\"");

  CommandParts blanks = SplitCommandLine(L"C:\\My Scripts\\fix it.bat  now", exists);
  EXPECT_EQ(blanks.program, L"C:\\My Scripts\\fix it.bat");
  EXPECT_EQ(blanks.arguments, L"now");

  CommandParts plain = SplitCommandLine(L"C:\\tools\\renew.cmd", exists);
  EXPECT_EQ(plain.program, L"C:\\tools\\renew.cmd");
  EXPECT_EQ(plain.arguments, L"");

  CommandParts unknown = SplitCommandLine(L"ipconfig /renew\tall", exists);
  EXPECT_EQ(unknown.program, L"ipconfig");
  EXPECT_EQ(unknown.arguments, L"/renew\tall");

  CommandParts unclosed = SplitCommandLine(L"\"C:\\x y.bat", exists);
  EXPECT_EQ(unclosed.program, L"C:\\x y.bat");
  EXPECT_EQ(unclosed.arguments, L"");

  EXPECT_EQ(SplitCommandLine(L"", exists).program, L"");
}

TEST(SplitCommandLineTest, KnowsBatchFilesByExtension) {
  EXPECT_TRUE(IsBatchFile(L"C:\\fix\\quick_opt.bat"));
  EXPECT_TRUE(IsBatchFile(L"RENEW.CMD"));
  EXPECT_TRUE(IsBatchFile(L"x.Bat"));
  EXPECT_FALSE(IsBatchFile(L"quick_opt.bat.exe"));
  EXPECT_FALSE(IsBatchFile(L"bat"));
  EXPECT_FALSE(IsBatchFile(L""));
}

class Win32ProcessTest : public ::testing::Test {
 protected:
  // Waits for a file the started process writes; the process runs on its own.
  std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 300 && !Exists(path); ++i) Sleep(100);
    // The writer may still be writing it: echo ends its line with a second
    // write of the line break.
    for (int i = 0; i < 20; ++i) {
      std::string text = ReadFile(path);
      if (text.ends_with("\r\n")) return text;
      Sleep(100);
    }
    return ReadFile(path);
  }

  TempFolder folder;
  Win32Process process;
  std::string error;
};

TEST_F(Win32ProcessTest, BatchFileRunsWithItsArguments) {
  ASSERT_TRUE(folder.Created());
  std::string marker = folder / "marker one.txt";
  std::string batch = folder / "fix it.bat";
  WriteFile(batch, "@echo off\r\necho ran %~1> \"" + marker + "\"\r\n");
  ASSERT_TRUE(process.StartDetached("\"" + batch + "\" \"hello world\"", kSwShowNormal, error))
      << error;
  EXPECT_EQ(WaitForFile(marker), "ran hello world\r\n");
}

TEST_F(Win32ProcessTest, UnquotedBatchPathWithBlanksRuns) {
  ASSERT_TRUE(folder.Created());
  std::string marker = folder / "marker two.txt";
  std::string batch = folder / "renew now.cmd";
  WriteFile(batch, "@echo off\r\necho [%1]> \"" + marker + "\"\r\n");
  ASSERT_TRUE(process.StartDetached(batch, kSwShowNormal, error)) << error;
  EXPECT_EQ(WaitForFile(marker), "[]\r\n");
}

TEST_F(Win32ProcessTest, ProgramStartsWithTheCommandLineAsTyped) {
  ASSERT_TRUE(folder.Created());
  std::string marker = folder / "marker three.txt";
  ASSERT_TRUE(
      process.StartDetached("cmd.exe /c echo direct> \"" + marker + "\"", kSwShowNormal, error))
      << error;
  EXPECT_EQ(WaitForFile(marker), "direct\r\n");
}

TEST_F(Win32ProcessTest, MissingProgramIsReportedAsFailure) {
  ASSERT_TRUE(folder.Created());
  EXPECT_FALSE(process.StartDetached(folder / "nothing here.exe", kSwShowNormal, error));
  EXPECT_FALSE(error.empty());

  error.clear();
  EXPECT_FALSE(
      process.StartDetached("\"" + (folder / "missing.bat") + "\" x", kSwShowNormal, error));
  EXPECT_NE(error.find("(2)"), std::string::npos) << error;

  error.clear();
  EXPECT_FALSE(process.StartDetached("  ", kSwShowNormal, error));
  EXPECT_EQ(error, "no command given");
}


// --- The close's files ---------------------------------------------------

TEST(Win32SaveTest, AReplacementIsWholeAndSeesAFileReplacedMeanwhile) {
  TempFolder folder;
  ASSERT_TRUE(folder.Created());
  Win32FileSystem files;
  const std::string ini = folder / "Settings.ini";
  WriteFile(ini, "; kept\r\n[Options]\r\nIP=1\r\n");
  FileReplacement r = files.BeginReplace(ini, "");
  ASSERT_FALSE(r.copy.empty());
  EXPECT_EQ(ReadFile(r.copy), "; kept\r\n[Options]\r\nIP=1\r\n");
  PrivateProfile profile;
  EXPECT_NE(profile.WritePrivateProfileStringA("Options", "IP", "2", r.copy.c_str()), 0);
  EXPECT_EQ(ReadFile(ini), "; kept\r\n[Options]\r\nIP=1\r\n");  // untouched until the commit
  EXPECT_TRUE(files.CommitReplace(r, ini));
  EXPECT_EQ(ReadFile(ini), "; kept\r\n[Options]\r\nIP=2\r\n");

  // Another program's file in between stands; the copy goes.
  r = files.BeginReplace(ini, "");
  WriteFile(ini, "[Options]\r\nIP=theirs\r\n");
  EXPECT_FALSE(files.CommitReplace(r, ini));
  EXPECT_FALSE(Exists(r.copy));
  EXPECT_EQ(ReadFile(ini), "[Options]\r\nIP=theirs\r\n");
  // A new file starts from the seed; one made meanwhile is not overwritten.
  const std::string fresh = folder / "fresh.ini";
  r = files.BeginReplace(fresh, ini);
  EXPECT_EQ(ReadFile(r.copy), "[Options]\r\nIP=theirs\r\n");
  WriteFile(fresh, "made meanwhile");
  EXPECT_FALSE(files.CommitReplace(r, fresh));
  EXPECT_EQ(ReadFile(fresh), "made meanwhile");
  // A read-only file is not replaced; a dead run's copy is cleared away.
  SetFileAttributesW(WideFromUtf8(fresh).c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(files.BeginReplace(fresh, "").copy.empty());
  SetFileAttributesW(WideFromUtf8(fresh).c_str(), FILE_ATTRIBUTE_NORMAL);
  const std::string stale = folder / ".Settings.ini.999999-1.tmp";
  WriteFile(stale, "left by a killed run");
  files.AbandonReplace(files.BeginReplace(ini, ""));
  EXPECT_FALSE(Exists(stale));
}

TEST(Win32SaveTest, AppendSharesTheLogAndWaitsBrieflyForAProgramHoldingIt) {
  TempFolder folder;
  ASSERT_TRUE(folder.Created());
  Win32FileSystem files;
  const std::string log = folder / "pinglog.txt";
  WriteFile(log, "a\r\n");
  auto hold = [&](DWORD share) {
    return CreateFileW(WideFromUtf8(log).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0,
                       nullptr);
  };
  // A viewer that shares the file does not stop the append.
  HANDLE viewer = hold(FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_TRUE(files.AppendToFile(log, "b\r\n"));
  CloseHandle(viewer);
  // One that lets go after a moment is waited for.
  HANDLE brief = hold(0);
  std::thread release([brief] {
    Sleep(200);
    CloseHandle(brief);
  });
  EXPECT_TRUE(files.AppendToFile(log, "c\r\n"));
  release.join();
  // One that never does: the append fails and the file stays as it was.
  HANDLE keeps = hold(0);
  EXPECT_FALSE(files.AppendToFile(log, "d\r\n"));
  CloseHandle(keeps);
  EXPECT_EQ(ReadFile(log), "a\r\nb\r\nc\r\n");
  SetFileAttributesW(WideFromUtf8(log).c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(files.AppendToFile(log, "e\r\n"));
  SetFileAttributesW(WideFromUtf8(log).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The child of the kill test: the window's close with the real files, in
// the folder the parent names.
class FolderFiles : public Win32FileSystem {
 public:
  explicit FolderFiles(std::string folder) : folder_(std::move(folder)) {}
  std::string ExecutableFolder() override { return folder_; }

 private:
  std::string folder_;
};

TEST(Win32SaveChild, CloseWhenAsked) {
  const char* folder = std::getenv("QUORREL_SAVE_CHILD");
  if (folder == nullptr) GTEST_SKIP() << "run by Win32SaveTest only";
  fakes::FakeToolkit toolkit;
  fakes::FakeClock clock;
  FolderFiles files(folder);
  AnsiCodePage codePage;
  PrivateProfile profile;
  fakes::FakeWinsock winsock;
  fakes::FakeIcmp icmp;
  fakes::FakeIfTable ifTable;
  fakes::FakeShell shell;
  fakes::FakeProcess process;
  fakes::RecordingCanvas canvas;
  Form1 form(
      {toolkit, clock, files, codePage, profile, winsock, icmp, ifTable, shell, process, canvas});
  form.Form_Load();
  const std::string n = std::getenv("QUORREL_SAVE_VALUE");
  form.txtFix.SetText("C:\\fix " + n + ".bat");
  form.txtIP.SetText("10.0.0." + n);
  form.txtInterval.SetText(n);
  WriteFile(std::string(folder) + "\\ready", "");
  form.Form_QueryUnload();
}

TEST(Win32SaveTest, AKillDuringTheCloseLeavesTheOldSettingsOrTheNew) {
  TempFolder folder;
  ASSERT_TRUE(folder.Created());
  const std::string ini = folder / "Settings.ini";
  WriteFile(ini, "[Options]\r\nFix path=C:\\fix 0.bat\r\nIP=10.0.0.0\r\nInterval=0\r\n");
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  PrivateProfile profile;
  AnsiCodePage codePage;
  ModGeneral general(profile, codePage);
  std::mt19937 random(99);
  int kept = 0, replaced = 0, mixed = 0, empty = 0;
  std::string current = "0";
  for (int run = 1; run <= 10; ++run) {
    const std::string value = std::to_string(run);
    SetEnvironmentVariableW(L"QUORREL_SAVE_CHILD", WideFromUtf8(folder.Path()).c_str());
    SetEnvironmentVariableW(L"QUORREL_SAVE_VALUE", WideFromUtf8(value).c_str());
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_filter=Win32SaveChild.CloseWhenAsked";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &child));
    SetEnvironmentVariableW(L"QUORREL_SAVE_CHILD", nullptr);
    for (int wait = 0; wait < 3000 && !Exists(folder / "ready"); ++wait) Sleep(1);
    Sleep(random() % 25);
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    DeleteFileW(WideFromUtf8(folder / "ready").c_str());

    const std::string fix = general.ReadIniValue("Options", "Fix path", ini);
    const std::string ip = general.ReadIniValue("Options", "IP", ini);
    const std::string interval = general.ReadIniValue("Options", "Interval", ini);
    if (ReadFile(ini).empty()) ++empty;
    auto whole = [&](const std::string& v) {
      return fix == "C:\\fix " + v + ".bat" && ip == "10.0.0." + v && interval == v;
    };
    if (whole(current)) {
      ++kept;
    } else if (whole(value)) {
      ++replaced;
      current = value;
    } else {
      ++mixed;
      current = interval;
    }
  }
  std::printf("kills during the close under Wine: 10 runs, %d old, %d new, %d mixed, %d empty\n",
              kept, replaced, mixed, empty);
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(empty, 0);
}

}  // namespace
}  // namespace quorrel::win32
