#pragma once
// How the fix command's text is taken apart before it is started.
#include <functional>
#include <string>
#include <string_view>

namespace quorrel::win32 {

struct CommandParts {
  std::wstring program;    // without the quotes it may have been typed in
  std::wstring arguments;  // as typed, without the blanks that lead them
};

// A quoted program ends at its closing quote. An unquoted one may hold blanks
// ("C:\My Scripts\fix.bat"): like CreateProcess, the shortest prefix ending at
// a blank that `exists` accepts is the program, else the first word.
CommandParts SplitCommandLine(std::wstring_view commandLine,
                              const std::function<bool(const std::wstring&)>& exists);

// .bat and .cmd files run only inside the command interpreter.
bool IsBatchFile(std::wstring_view program);

}  // namespace quorrel::win32
