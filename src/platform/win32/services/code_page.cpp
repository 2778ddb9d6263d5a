#include <windows.h>

#include <climits>

#include "common/text.h"
#include "platform/win32/services/wide_text.h"
#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 in wchar_t");

std::wstring WideFromUtf8(std::string_view utf8) {
  std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string Utf8FromWide(std::wstring_view wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::string SystemErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length != 0 ? std::wstring(text, length) : std::wstring();
  LocalFree(text);
  // The system's messages end in ".\r\n", which has no place in one line.
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  std::string reason = message.empty() ? std::string("system error") : Utf8FromWide(message);
  return reason + " (" + std::to_string(code) + ")";
}

namespace {

// Texts longer than an int can count are beyond what either call takes; they
// come back empty rather than cut somewhere unseen.
bool FitsInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

}  // namespace

std::string AnsiCodePage::ToAnsi(const std::string& utf8) {
  std::wstring wide = WideFromUtf8(utf8);
  if (wide.empty() || !FitsInt(wide.size())) return {};
  int wideLength = static_cast<int>(wide.size());
  // Characters the code page lacks become its default character ('?').
  int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string ansi(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, ansi.data(), size, nullptr, nullptr);
  return ansi;
}

std::string AnsiCodePage::FromAnsi(const std::string& ansi) {
  if (ansi.empty() || !FitsInt(ansi.size())) return {};
  int ansiLength = static_cast<int>(ansi.size());
  int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, wide.data(), size);
  return Utf8FromWide(wide);
}

}  // namespace quorrel::win32
