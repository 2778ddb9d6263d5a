#pragma once
// Text at the boundary of the wide (*W) calls.
#include <string>
#include <string_view>

namespace quorrel::win32 {

// UTF-8 <-> UTF-16 in wchar_t, which is 16 bits wide on Windows.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// The system's text for a GetLastError code, on one line, in UTF-8.
std::string SystemErrorText(unsigned long code);

}  // namespace quorrel::win32
