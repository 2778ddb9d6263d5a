#include "platform/posix/clock.h"

#include <langinfo.h>

#include <ctime>

namespace quorrel::posix {

LocalTime LocaleClock::Now() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string SeparatorOf(const std::string& pattern, const std::string& fallback) {
  // Skip the first conversion ("%d", "%Ey", "%-m", ...) and take what follows
  // up to the next '%'.
  auto first = pattern.find('%');
  if (first == std::string::npos) return fallback;
  std::size_t i = first + 1;
  while (i < pattern.size() && (pattern[i] == 'E' || pattern[i] == 'O' || pattern[i] == '-' ||
                                pattern[i] == '_' || pattern[i] == '0'))
    ++i;
  ++i;  // the conversion letter
  auto next = pattern.find('%', i);
  if (i >= pattern.size() || next == std::string::npos || next == i) return fallback;
  std::string sep = pattern.substr(i, next - i);
  // Some locales close a field with a word ("%Y년 %m월"); keep a plain mark only.
  if (sep.size() > 3) return fallback;
  return sep;
}

std::string LocaleClock::DateSeparator() { return SeparatorOf(nl_langinfo(D_FMT), "/"); }
std::string LocaleClock::TimeSeparator() { return SeparatorOf(nl_langinfo(T_FMT), ":"); }
std::string LocaleClock::ThousandsSeparator() { return nl_langinfo(THOUSEP); }

}  // namespace quorrel::posix
