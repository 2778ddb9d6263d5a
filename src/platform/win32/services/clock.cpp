#include <windows.h>

#include <iterator>

#include "common/text.h"
#include "platform/win32/services/wide_text.h"
#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

namespace {

// The user's locale value, or `fallback` when the system has none. The wide
// call keeps separators such as French's no-break space that the ANSI code
// page may not hold.
std::string LocaleText(LCTYPE type, const char* fallback) {
  wchar_t value[16] = {};  // LOCALE_SDATE, _STIME and _STHOUSAND hold at most four
  int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, value, static_cast<int>(std::size(value)));
  if (length <= 0) return fallback;
  return Utf8FromWide(std::wstring_view(value, static_cast<std::size_t>(length - 1)));
}

}  // namespace

LocalTime Win32Clock::Now() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

// A locale may name a word or nothing where the separator stands; the time
// stamp then keeps "/" and ":".
std::string Win32Clock::DateSeparator() {
  return LocaleSeparatorOr(LocaleText(LOCALE_SDATE, "/"), "/");
}

std::string Win32Clock::TimeSeparator() {
  return LocaleSeparatorOr(LocaleText(LOCALE_STIME, ":"), ":");
}

// An empty separator is a real choice of some locales: digits run together.
std::string Win32Clock::ThousandsSeparator() { return LocaleText(LOCALE_STHOUSAND, ","); }

}  // namespace quorrel::win32
