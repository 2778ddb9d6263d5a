// Programs start with CreateProcessW, which takes the command line as typed
// and reports why a start failed. Batch files go through the command
// interpreter explicitly ("cmd /c"): CreateProcess only runs them by an
// undocumented courtesy, and would report a missing batch file as a started
// interpreter. ShellExecuteEx would need the program and its arguments apart
// and gives poorer errors; WinExec knows only the ANSI code page.
#include <windows.h>

#include <cwctype>

#include "platform/win32/services/command_line.h"
#include "platform/win32/services/owned_handle.h"
#include "platform/win32/services/wide_text.h"
#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view TrimLeadingBlanks(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

// The file a program name stands for, searched as CreateProcess searches
// (the program's folder, the current folder, the system folders, PATH, with
// ".exe" added to a name without extension); empty when there is none.
std::wstring FindProgram(const std::wstring& name) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = SearchPathW(nullptr, name.c_str(), L".exe", static_cast<DWORD>(path.size()),
                               path.data(), nullptr);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(length);
  }
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return path;
}

std::wstring CommandInterpreter() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"ComSpec", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return path;
  length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"cmd.exe";
  return std::wstring(path, length) + L"\\cmd.exe";
}

}  // namespace

CommandParts SplitCommandLine(std::wstring_view commandLine,
                              const std::function<bool(const std::wstring&)>& exists) {
  std::wstring_view line = TrimLeadingBlanks(commandLine);
  if (!line.empty() && line.front() == L'"') {
    std::size_t close = line.find(L'"', 1);
    if (close == std::wstring_view::npos) return {std::wstring(line.substr(1)), {}};
    return {std::wstring(line.substr(1, close - 1)),
            std::wstring(TrimLeadingBlanks(line.substr(close + 1)))};
  }
  std::size_t firstBlank = std::wstring_view::npos;
  for (std::size_t at = 0; at <= line.size(); ++at) {
    if (at < line.size() && !IsBlank(line[at])) continue;
    if (firstBlank == std::wstring_view::npos) firstBlank = at;
    std::wstring candidate(line.substr(0, at));
    if (!candidate.empty() && exists(candidate))
      return {std::move(candidate), std::wstring(TrimLeadingBlanks(line.substr(at)))};
    while (at + 1 < line.size() && IsBlank(line[at + 1])) ++at;
  }
  // The loop has passed the end of the line, so firstBlank is set.
  return {std::wstring(line.substr(0, firstBlank)),
          std::wstring(TrimLeadingBlanks(line.substr(firstBlank)))};
}

bool IsBatchFile(std::wstring_view program) {
  if (program.size() < 4) return false;
  std::wstring extension(program.substr(program.size() - 4));
  for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
  return extension == L".bat" || extension == L".cmd";
}

bool Win32Process::StartDetached(const std::string& commandLine, int showCommand,
                                 std::string& error) {
  std::wstring line = WideFromUtf8(commandLine);
  if (TrimLeadingBlanks(line).empty()) {
    error = "no command given";
    return false;
  }
  CommandParts parts =
      SplitCommandLine(line, [](const std::wstring& name) { return !FindProgram(name).empty(); });

  std::wstring application;  // empty: CreateProcess finds the program itself
  if (IsBatchFile(parts.program)) {
    std::wstring batch = FindProgram(parts.program);
    if (batch.empty()) {
      error = SystemErrorText(ERROR_FILE_NOT_FOUND);
      return false;
    }
    application = CommandInterpreter();
    // cmd takes off the outer pair of quotes and runs the rest as it stands,
    // so the batch path may hold blanks and the arguments keep their quotes.
    line = L"cmd.exe /c \"\"" + batch + L"\"";
    if (!parts.arguments.empty()) line += L" " + parts.arguments;
    line += L"\"";
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  PROCESS_INFORMATION started{};
  // A console program or batch file gets a window of its own rather than
  // sharing (or lacking) ours.
  if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr,
                      nullptr, FALSE, CREATE_NEW_CONSOLE | CREATE_DEFAULT_ERROR_MODE, nullptr,
                      nullptr, &startup, &started)) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  // Nothing is kept: the process lives on its own once these are closed.
  OwnedHandle thread(started.hThread);
  OwnedHandle process(started.hProcess);
  return true;
}

}  // namespace quorrel::win32
