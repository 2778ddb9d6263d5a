#include <windows.h>
// <windows.h> first: the shell header builds on its types.
#include <shlobj.h>

#include <string>

#include "platform/win32/services/owned_handle.h"
#include "platform/win32/services/wide_text.h"
#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

namespace {

constexpr wchar_t kUserFolderName[] = L"Quorrel";

std::wstring WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder;
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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
                      std::to_wstring(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::wstring probe = base + std::to_wstring(attempt);
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

bool Win32FileSystem::AppendToFile(const std::string& path, const std::string& bytes) {
  // FILE_APPEND_DATA alone puts every write at the end, whoever else appends.
  OwnedHandle file = Own(CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace quorrel::win32
