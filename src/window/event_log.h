#pragma once
// The on-screen log's line format and its bound.
#include <string>

#include "platform/clock.h"

namespace quorrel {

inline constexpr std::size_t kLogLimit = 3000;  // characters (UTF-16 code units)

// "dd/mm/yy hh:nn:ss" with the locale's separators in place of "/" and ":".
std::string FormatLogStamp(const LocalTime& t, const std::string& dateSep,
                           const std::string& timeSep);

// The log text after one more line: the stamp, " - ", the message and CR LF,
// then whole lines dropped from the top while it is longer than the limit.
std::string AppendLogLine(const std::string& log, const std::string& stamp,
                          const std::string& message);

// Drops whole lines from the top of `log` once it holds more than kLogLimit
// characters: everything up to and including the first CR LF whose CR stands
// at or after position L - 3000 (1-based).
std::string TrimLog(const std::string& log);

}  // namespace quorrel
