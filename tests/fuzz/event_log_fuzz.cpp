// The on-screen log's bound: after every line the log holds at most 3000
// UTF-16 code units, starts at the beginning of a line, and lost only the
// fewest whole lines the rule allows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "fuzz_check.h"
#include "window/event_log.h"

namespace {

using quorrel::fuzz::Check;
constexpr std::size_t kLimit = quorrel::kLogLimit;

// `trimmed` is what the bound made of `full`: all of it when it is short
// enough; otherwise what follows the first CR LF whose CR stands at or after
// the 1-based position L - 3000.
void CheckTrim(const std::string& full, const std::string& trimmed) {
  std::u16string before = quorrel::Utf8ToUtf16(full);
  if (before.size() <= kLimit) {
    Check(trimmed == full, "a log within the bound was changed");
    return;
  }
  std::u16string after = quorrel::Utf8ToUtf16(trimmed);
  Check(after.size() <= kLimit, "the trimmed log is over 3000 units");
  Check(after.size() <= before.size() &&
            std::u16string_view(before).substr(before.size() - after.size()) == after,
        "the trimmed log is not the end of the log");
  std::size_t cut = before.size() - after.size();
  const std::size_t first = before.size() - kLimit - 1;  // 0-based index of position L - 3000
  // The first CR LF at or after that position. When it ends the text,
  // that line alone is over the bound and its newest units stay (one fewer
  // when a surrogate pair straddles the cut).
  std::size_t pair = first;
  while (pair + 1 < before.size() && !(before[pair] == u'\r' && before[pair + 1] == u'\n')) ++pair;
  // A text without one (only ever handed over by a platform edit) empties.
  if (pair + 1 >= before.size()) {
    Check(after.empty(), "no line end to cut at, yet the log is not empty");
    return;
  }
  if (pair + 2 == before.size()) {
    const bool straddles = before[before.size() - kLimit] >= 0xDC00 &&
                           before[before.size() - kLimit] <= 0xDFFF;
    Check(after.size() == kLimit - (straddles ? 1 : 0),
          "a line over the bound did not keep its newest 3000 units");
    return;
  }
  Check(after.size() < kLimit, "the trimmed log is not below 3000 units");
  Check(cut == pair + 2, "the trim did not cut right after the first line end it may use");
  Check(cut >= 2 && before[cut - 2] == u'\r' && before[cut - 1] == u'\n',
        "the trimmed log does not begin at a line start");
}

bool IsValidUtf8(std::string_view s) { return quorrel::Utf16ToUtf8(quorrel::Utf8ToUtf16(s)) == s; }

std::string StampFrom(const std::uint8_t* data, std::size_t size) {
  quorrel::LocalTime t;
  if (size >= 6)
    t = {2000 + data[0], data[1] % 13, data[2] % 32, data[3] % 24, data[4] % 60, data[5] % 60};
  std::string stamp = quorrel::FormatLogStamp(t, "/", ":");
  Check(stamp.size() == 17 && stamp[2] == '/' && stamp[5] == '/' && stamp[8] == ' ' &&
            stamp[11] == ':' && stamp[14] == ':',
        "the stamp is not dd/mm/yy hh:nn:ss");
  return stamp;
}

}  // namespace

// Input: a fill byte, then messages separated by NUL bytes. The log starts
// filled with whole lines of those messages, up to about 12 units per unit of
// the fill byte (never past the bound, as the program would hold it), and
// then each message is logged in turn and every step checked.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t fill = std::min<std::size_t>(data[0] * 12u, kLimit);
  std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string_view> messages;
  for (std::size_t start = 0;;) {
    std::size_t end = body.find('\0', start);
    messages.push_back(body.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  const std::string stamp = StampFrom(data + 1, size - 1);

  std::string log;
  std::size_t units = 0;
  for (std::size_t i = 0; units < fill; ++i) {
    std::string line = stamp + " - " + std::string(messages[i % messages.size()]) + "\r\n";
    std::size_t n = quorrel::Utf8ToUtf16(line).size();
    if (units + n > fill) break;
    log += line;
    units += n;
  }
  // The log as the window keeps it, with its length counted as it goes, must
  // hold what the plain append gives: the same text where every byte was
  // valid UTF-8, the same characters where a malformed byte was mended.
  quorrel::LogText kept;
  kept.Assign(log);
  bool valid = IsValidUtf8(log);
  for (std::size_t i = 0; i < messages.size() && i < 24; ++i) {
    std::string message(messages[i]);
    std::string next = quorrel::AppendLogLine(log, stamp, message);
    CheckTrim(log + stamp + " - " + message + "\r\n", next);
    log = std::move(next);

    kept.Append(stamp, message);
    valid = valid && IsValidUtf8(message);
    std::u16string units = quorrel::Utf8ToUtf16(kept.Text());
    Check(kept.Units() == units.size(), "the kept length is not the text's length");
    Check(units == quorrel::Utf8ToUtf16(log), "the kept log differs from the appended log");
    if (valid) Check(kept.Text() == log, "the kept log's bytes differ from the appended log's");
  }

  // The bound on any text, line ends or not, as the box might hold after a
  // platform edit: the input itself and enough copies of it to need a trim.
  std::string text(body);
  CheckTrim(text, quorrel::TrimLog(text));
  if (!text.empty()) {
    std::string copies;
    while (copies.size() <= kLimit) copies += text;
    CheckTrim(copies, quorrel::TrimLog(copies));
  }
  return 0;
}
