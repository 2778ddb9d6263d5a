#pragma once
#include "platform/clock.h"

namespace quorrel::posix {

// Local time, and the separators of the process's locale (LC_TIME and
// LC_NUMERIC as set by setlocale).
class LocaleClock : public Clock {
 public:
  LocalTime Now() override;
  std::string DateSeparator() override;
  std::string TimeSeparator() override;
  std::string ThousandsSeparator() override;
};

// The separator a strftime pattern such as "%d.%m.%Y" or "%H:%M:%S" puts
// after its first field, when that is one mark that is neither a letter, a
// digit nor an ideograph; else `fallback` ("%Y年%m月%d日" gives the fallback).
std::string SeparatorOf(const std::string& pattern, const std::string& fallback);

}  // namespace quorrel::posix
