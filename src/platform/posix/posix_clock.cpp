#include "platform/posix/posix_clock.h"

#include <langinfo.h>

#include <ctime>
#include <string_view>

#include "common/text.h"

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
  std::string_view rest = pattern;
  auto first = rest.find('%');
  if (first == std::string_view::npos) return fallback;
  std::size_t i = first + 1;
  while (i < rest.size() &&
         (rest[i] == 'E' || rest[i] == 'O' || rest[i] == '-' || rest[i] == '_' || rest[i] == '0'))
    ++i;
  ++i;  // the conversion letter
  if (i >= rest.size()) return fallback;
  auto next = rest.find('%', i);
  if (next == std::string_view::npos) return fallback;
  return LocaleSeparatorOr(rest.substr(i, next - i), fallback);
}

std::string LocaleClock::DateSeparator() { return SeparatorOf(nl_langinfo(D_FMT), "/"); }
std::string LocaleClock::TimeSeparator() { return SeparatorOf(nl_langinfo(T_FMT), ":"); }
std::string LocaleClock::ThousandsSeparator() { return nl_langinfo(THOUSEP); }

}  // namespace quorrel::posix
