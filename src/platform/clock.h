#pragma once
// Local date and time, and the user's locale separators.
#include <string>

namespace quorrel {

struct LocalTime {
  int year = 0;  // four digits
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  virtual std::string DateSeparator() = 0;  // UTF-8, e.g. "/" or "."
  virtual std::string TimeSeparator() = 0;  // UTF-8, e.g. ":"
  virtual std::string ThousandsSeparator() = 0;  // UTF-8, e.g. "," or "" 
};

}  // namespace quorrel
