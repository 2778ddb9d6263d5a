#include <windows.h>
// <windows.h> first: the shell header builds on its types.
#include <shlobj.h>

#include <string>
#include <string_view>

#include "platform/win32/services/owned_handle.h"
#include "platform/win32/services/wide_text.h"
#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

namespace {

constexpr wchar_t kUserFolderName[] = L"Quorrel";
// How long an append waits for another program (a viewer, a virus scanner)
// to let go of the log file.
constexpr int kShareRetries = 20;
constexpr DWORD kShareRetryMs = 50;
// A copy older than this was left by a run that was killed.
constexpr ULONGLONG kStaleCopyAge100ns = 60ULL * 10'000'000ULL;

std::wstring WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder;
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// std::to_wstring goes through the C library's wide printf, which brings its
// whole float formatting into the program; these names need digits only.
std::wstring Digits(unsigned long long value) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

bool IsSharingConflict(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The folder part of a path (with its separator) and the name after it.
void SplitPath(const std::wstring& path, std::wstring& folder, std::wstring& name) {
  std::size_t slash = path.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
  name = slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Which file a name stands for now: a replaced file has another index.
std::string Identity(const std::wstring& path) {
  OwnedHandle file = Own(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return {};
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
         ":" + std::to_string(info.nFileIndexLow) + ":" +
         std::to_string(info.ftLastWriteTime.dwHighDateTime) + ":" +
         std::to_string(info.ftLastWriteTime.dwLowDateTime) + ":" +
         std::to_string(info.nFileSizeLow);
}

bool ProcessRuns(DWORD pid) {
  OwnedHandle process = Own(OpenProcess(SYNCHRONIZE, FALSE, pid));
  return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// Removes the copies killed runs left beside `name`; a fresh one of a
// running process belongs to a save going on now.
void RemoveStaleCopies(const std::wstring& folder, const std::wstring& name) {
  const std::wstring prefix = L"." + name + L".";
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + prefix + L"*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME nowTime{};
  GetSystemTimeAsFileTime(&nowTime);
  const ULONGLONG now = (ULONGLONG{nowTime.dwHighDateTime} << 32) | nowTime.dwLowDateTime;
  do {
    std::wstring_view rest(found.cFileName);
    if (!rest.starts_with(prefix) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    rest.remove_prefix(prefix.size());
    const std::size_t dash = rest.find(L'-');
    if (dash == 0 || dash == std::wstring_view::npos) continue;
    DWORD pid = 0;
    bool digits = true;
    for (wchar_t c : rest.substr(0, dash)) {
      digits = digits && c >= L'0' && c <= L'9';
      pid = pid * 10 + static_cast<DWORD>(c - L'0');
    }
    if (!digits) continue;
    const ULONGLONG written = (ULONGLONG{found.ftLastWriteTime.dwHighDateTime} << 32) |
                              found.ftLastWriteTime.dwLowDateTime;
    if (ProcessRuns(pid) && now - written < kStaleCopyAge100ns) continue;
    DeleteFileW((folder + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

std::string Win32FileSystem::ExecutableFolder() {
  // The path can be longer than MAX_PATH; the call cuts silently and says so
  // only by filling the whole buffer.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return ".";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return ".";  // beyond the longest path Windows knows
    path.resize(path.size() * 2);
  }
  std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return ".";
  return Utf8FromWide(std::wstring_view(path).substr(0, slash));
}

bool Win32FileSystem::IsFolderWritable(const std::string& folder) {
  // Access rights, read-only media, UAC and network shares all answer one
  // question truthfully: can a file be made here? The probe vanishes with its
  // handle, even if the program dies in between.
  std::wstring base = WithSeparator(WideFromUtf8(folder)) + L".quorrel-write-test-" +
                      Digits(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::wstring probe = base + Digits(attempt);
    OwnedHandle file = Own(CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (file) return true;
    // A probe left by another instance says nothing; anything else is an answer.
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

bool Win32FileSystem::IsExistingFile(const std::string& path) {
  DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Win32FileSystem::UserDataFolder() {
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                              SHGFP_TYPE_CURRENT, appData)))
    return {};
  std::wstring folder = WithSeparator(appData) + kUserFolderName;
  if (!CreateDirectoryW(folder.c_str(), nullptr) && !IsFolder(folder)) return {};
  return Utf8FromWide(folder);
}

bool Win32FileSystem::MayReplace(const std::string& path) {
  DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

bool Win32FileSystem::AppendToFile(const std::string& path, const std::string& bytes) {
  const std::wstring wide = WideFromUtf8(path);
  // Refused on Windows anyway; checked here too because Wine run as root
  // would write it.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    return false;
  OwnedHandle file;
  for (int attempt = 0; attempt < kShareRetries && !file; ++attempt) {
    file = Own(CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && !IsSharingConflict(GetLastError())) return false;
    if (!file) Sleep(kShareRetryMs);
  }
  // A device name (CON, a pipe) is no log file.
  if (!file || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  std::wstring folder, name;
  SplitPath(wide, folder, name);
  ULARGE_INTEGER freeBytes{};
  if (GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &freeBytes, nullptr,
                          nullptr) &&
      freeBytes.QuadPart < bytes.size())
    return false;
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file.get(), LARGE_INTEGER{}, &end, FILE_END)) return false;
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0) {
      // No half block stays behind to have the next one glued onto it.
      if (SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN)) SetEndOfFile(file.get());
      return false;
    }
    data += written;
    left -= written;
  }
  return true;
}

FileReplacement Win32FileSystem::BeginReplace(const std::string& path, const std::string& seed) {
  const std::wstring wide = WideFromUtf8(path);
  std::wstring folder, name;
  SplitPath(wide, folder, name);
  if (name.empty() || !MayReplace(path)) return {};
  RemoveStaleCopies(folder, name);
  const bool exists = IsExistingFile(path);
  const std::wstring from = exists ? wide : IsExistingFile(seed) ? WideFromUtf8(seed) : L"";
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring copy = folder + L"." + name + L"." +
                              Digits(GetCurrentProcessId()) + L"-" +
                              Digits(counter++) + L".tmp";
    // The identity is taken before the copy, so a replacement in between is seen.
    const std::string original = exists ? Identity(wide) : std::string();
    if (exists && original.empty()) return {};
    bool made = false;
    if (!from.empty()) {
      made = CopyFileW(from.c_str(), copy.c_str(), TRUE) != 0;
      // A read-only seed would make a read-only copy.
      if (made) SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    } else {
      made = static_cast<bool>(Own(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL, nullptr)));
    }
    if (made) return {Utf8FromWide(copy), original};
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

bool Win32FileSystem::CommitReplace(const FileReplacement& replacement, const std::string& path) {
  const std::wstring copy = WideFromUtf8(replacement.copy);
  const std::wstring wide = WideFromUtf8(path);
  // The profile functions may keep the copy's text in a cache; all three
  // nulls write it out.
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, copy.c_str());
  bool ok = false;
  if (replacement.original.empty()) {
    // Without MOVEFILE_REPLACE_EXISTING a file made meanwhile is not overwritten.
    ok = !IsExistingFile(path) &&
         MoveFileExW(copy.c_str(), wide.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  } else {
    ok = Identity(wide) == replacement.original &&
         MoveFileExW(copy.c_str(), wide.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (!ok) DeleteFileW(copy.c_str());
  return ok;
}

void Win32FileSystem::AbandonReplace(const FileReplacement& replacement) {
  if (!replacement.copy.empty()) DeleteFileW(WideFromUtf8(replacement.copy).c_str());
}

void Win32FileSystem::ReportUnsaved(const std::string& line) {
  OutputDebugStringW((L"quorrel: " + WideFromUtf8(line) + L"\n").c_str());
}

}  // namespace quorrel::win32
