#pragma once
// The Win32 side of every port but the toolkit and the canvas, which belong to
// the window. This header stays free of <windows.h> so the portable types are
// all a user of the services sees.
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/icmp.h"
#include "platform/iphlpapi.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/shell.h"
#include "platform/winsock.h"

namespace quorrel::win32 {

// GetLocalTime, and the user locale's separators (GetLocaleInfoW).
class Win32Clock : public Clock {
 public:
  LocalTime Now() override;
  std::string DateSeparator() override;
  std::string TimeSeparator() override;
  std::string ThousandsSeparator() override;
};

// UTF-8 paths, handed to the wide *W calls.
class Win32FileSystem : public FileSystem {
 public:
  std::string ExecutableFolder() override;
  char PathSeparator() override { return '\\'; }
  bool IsFolderWritable(const std::string& folder) override;
  // %APPDATA%\Quorrel, created when missing.
  std::string UserDataFolder() override;
  // False for a folder, a read-only file and what is not a disk file.
  bool MayReplace(const std::string& path) override;
  // Shares the file for reading and writing, so a viewer that has it open
  // does not lose the block, and retries for a moment while another program
  // holds it; checks the free space first and cuts a half-written block back off.
  bool AppendToFile(const std::string& path, const std::string& bytes) override;
  bool IsExistingFile(const std::string& path) override;
  // The copy is a ".<name>.<pid>-<n>.tmp" beside the file; it replaces the
  // file through MoveFileExW with MOVEFILE_WRITE_THROUGH.
  FileReplacement BeginReplace(const std::string& path, const std::string& seed) override;
  bool CommitReplace(const FileReplacement& replacement, const std::string& path) override;
  void AbandonReplace(const FileReplacement& replacement) override;
  // The debugger output (OutputDebugString): a GUI program has no stderr.
  void ReportUnsaved(const std::string& line) override;
};

// UTF-8 <-> the system's ANSI code page (CP_ACP), through UTF-16.
class AnsiCodePage : public CodePage {
 public:
  std::string ToAnsi(const std::string& utf8) override;
  std::string FromAnsi(const std::string& ansi) override;
};

// kernel32's private-profile functions, unchanged.
class PrivateProfile : public ProfileApi {
 public:
  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultValue, char* buffer, std::uint32_t size,
                                         const char* fileName) override;
  int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                 const char* fileName) override;
};

// Windows Sockets 1.1 from wsock32.
class Wsock32 : public WinsockApi {
 public:
  int WSAStartup(std::uint16_t versionRequested) override;
  int WSACleanup() override;
  std::uint32_t inet_addr(const char* text) override;
};

// The ICMP echo functions. An invalid handle from IcmpCreateFile comes back
// as null, as the port has it.
class IcmpDll : public IcmpApi {
 public:
  IcmpHandle IcmpCreateFile() override;
  std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                             std::uint16_t requestSize, const void* requestOptions, void* reply,
                             std::uint32_t replySize, std::uint32_t timeoutMs) override;
  bool IcmpCloseHandle(IcmpHandle handle) override;
};

// iphlpapi's GetIfTable, passed straight through.
class IpHelper : public IpHelperApi {
 public:
  std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool sort) override;
};

// Shell_NotifyIconA with the first-form NOTIFYICONDATAA.
class ShellNotify : public ShellApi {
 public:
  bool Shell_NotifyIconA(std::uint32_t message, const NotifyIconDataA& data) override;
};

// Starts a command line in a normal, focused window without waiting; batch
// files run through the command interpreter.
class Win32Process : public ProcessApi {
 public:
  bool StartDetached(const std::string& commandLine, int showCommand, std::string& error) override;
};

// Everything the window needs from the system besides its own toolkit and
// canvas; one instance lives as long as the program.
struct Win32Services {
  Win32Clock clock;
  Win32FileSystem files;
  AnsiCodePage codePage;
  PrivateProfile profile;
  Wsock32 winsock;
  IcmpDll icmp;
  IpHelper ifTable;
  ShellNotify shell;
  Win32Process process;
};

}  // namespace quorrel::win32
