#include "platform/posix/posix_profile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/utf8.h"
#include "platform/posix/safe_files.h"
#include "platform/posix/unique_fd.h"

namespace quorrel::posix {
namespace {

// A settings file is a few hundred bytes; anything past this is not one, and
// is neither read into memory nor rewritten.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kNewLineEnd = "\r\n";

enum class ReadOutcome { kOk, kMissing, kFailed };

// O_NONBLOCK: a FIFO put where the file should be must not hang the caller in
// open(); it is refused below as not a regular file.
ReadOutcome ReadOpenFile(int fd, std::string& content, struct stat& st) {
  content.clear();
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize)
    return ReadOutcome::kFailed;
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadOutcome::kFailed;
    if (n == 0) return ReadOutcome::kOk;
    if (content.size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(kMaxFileSize))
      return ReadOutcome::kFailed;
    content.append(chunk, static_cast<std::size_t>(n));
  }
}

ReadOutcome ReadWholeFile(const char* path, std::string& content) {
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) return errno == ENOENT ? ReadOutcome::kMissing : ReadOutcome::kFailed;
  struct stat st {};
  return ReadOpenFile(fd.Get(), content, st);
}

// The file's text in its own encoding. Windows reads a file that starts with
// the UTF-16LE byte-order mark as UTF-16 and keeps it so when it writes;
// everything else is 8-bit text in the ANSI code page, which is UTF-8 here.
enum class Encoding { kAnsi, kUtf16Le };

// A line as it stands in the file, kept byte for byte so that a save rewrites
// only the lines it changes; `text` is what the parser looks at.
struct Line {
  std::string bytes;  // in the file's encoding, without the line end
  std::string end;    // the line's own end in the file's encoding; empty on a last line without one
  std::string text;   // UTF-8, up to the first NUL
};

struct IniText {
  Encoding encoding = Encoding::kAnsi;
  std::string head;  // the byte-order mark
  std::vector<Line> lines;
  std::string tail;  // the odd last byte of a UTF-16 file, which is no character
};

// Windows' profile functions end a value, like any string, at a NUL.
std::string UpToNul(std::string text) {
  if (std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

std::string Encode(Encoding encoding, std::string_view utf8) {
  if (encoding == Encoding::kAnsi) return std::string(utf8);
  std::u16string units = Utf8ToUtf16(utf8);
  std::string bytes(units.size() * 2, '\0');
  for (std::size_t i = 0; i < units.size(); ++i) WriteLe16(bytes.data() + 2 * i, units[i]);
  return bytes;
}

Line NewLine(Encoding encoding, std::string text) {
  return {Encode(encoding, text), Encode(encoding, kNewLineEnd), std::move(text)};
}

// CR LF, LF alone and CR alone all end a line: files come from every editor.
// `unit(i)` is the i-th character of the file's encoding, `width` its size in bytes.
template <typename UnitAt, typename Decode>
void SplitLines(std::string_view body, std::size_t width, UnitAt unit, Decode decode,
                std::vector<Line>& lines) {
  const std::size_t count = body.size() / width;
  std::size_t start = 0;
  while (start < count) {
    std::size_t stop = start;
    while (stop < count && unit(stop) != '\r' && unit(stop) != '\n') ++stop;
    std::size_t next = stop;
    if (next < count) {
      if (unit(next) == '\r' && next + 1 < count && unit(next + 1) == '\n') ++next;
      ++next;
    }
    lines.push_back({std::string(body.substr(start * width, (stop - start) * width)),
                     std::string(body.substr(stop * width, (next - stop) * width)),
                     UpToNul(decode(start, stop))});
    start = next;
  }
}

IniText Parse(std::string_view content) {
  IniText text;
  if (content.starts_with(kUtf16LeBom)) {
    text.encoding = Encoding::kUtf16Le;
    text.head = kUtf16LeBom;
    std::string_view body = content.substr(kUtf16LeBom.size());
    if (body.size() % 2 != 0) {
      text.tail = body.substr(body.size() - 1);
      body.remove_suffix(1);
    }
    auto unit = [body](std::size_t i) {
      return static_cast<char16_t>(ReadLe16(body.data() + 2 * i));
    };
    auto decode = [&unit](std::size_t from, std::size_t to) {
      std::u16string units;
      for (std::size_t i = from; i < to; ++i) units.push_back(unit(i));
      return Utf16ToUtf8(units);
    };
    SplitLines(body, 2, unit, decode, text.lines);
    return text;
  }
  if (content.starts_with(kUtf8Bom)) {
    text.head = kUtf8Bom;
    content.remove_prefix(kUtf8Bom.size());
  }
  auto unit = [content](std::size_t i) { return content[i]; };
  auto decode = [content](std::size_t from, std::size_t to) {
    return std::string(content.substr(from, to - from));
  };
  SplitLines(content, 1, unit, decode, text.lines);
  return text;
}

std::string Join(const IniText& text) {
  std::string content = text.head;
  for (const Line& line : text.lines) {
    content += line.bytes;
    content += line.end;
  }
  return content + text.tail;
}

std::string_view Trim(std::string_view s) {
  std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  std::size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y && !(x < 0x80 && y < 0x80 && std::tolower(x) == std::tolower(y))) return false;
  }
  return true;
}

// "[name]" (blanks allowed around and inside the brackets, anything after them ignored).
bool SectionOf(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (!line.starts_with('[')) return false;
  line.remove_prefix(1);
  name = Trim(line.substr(0, line.find(']')));
  return true;
}

// "key = value"; comments, section headers, blank lines and lines without '='
// are not keys (and are kept as they are on every write).
bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return false;
  std::size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(trimmed.substr(0, eq));
  value = Trim(trimmed.substr(eq + 1));
  return true;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// The lines [begin, end) of the first section of that name; begin is its header.
struct SectionRange {
  bool found = false;
  std::size_t begin = 0;
  std::size_t end = 0;
};

SectionRange FindSection(const std::vector<Line>& lines, std::string_view section) {
  SectionRange range;
  std::string_view name;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!SectionOf(lines[i].text, name)) continue;
    if (range.found) {
      range.end = i;
      return range;
    }
    if (SameName(name, section)) {
      range.found = true;
      range.begin = i;
    }
  }
  range.end = lines.size();
  return range;
}

// The line of the first matching key inside the section, or npos.
std::size_t FindKey(const std::vector<Line>& lines, const SectionRange& range,
                    std::string_view key) {
  std::string_view k, v;
  for (std::size_t i = range.begin + 1; i < range.end; ++i)
    if (KeyOf(lines[i].text, k, v) && SameName(k, key)) return i;
  return std::string::npos;
}

std::uint32_t CopyOut(std::string_view text, char* buffer, std::uint32_t size) {
  std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  if (n > 0) std::memcpy(buffer, text.data(), n);  // an empty view may hold no pointer
  buffer[n] = '\0';
  return static_cast<std::uint32_t>(n);
}

// Names one after another, each ending in NUL, the list in a second NUL. A list
// that does not fit is cut and still ends in two NULs; the count is then size - 2.
std::uint32_t CopyOutList(const std::vector<std::string_view>& names, char* buffer,
                          std::uint32_t size) {
  std::string list;
  for (std::string_view name : names) {
    list.append(name);
    list.push_back('\0');
  }
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return static_cast<std::uint32_t>(list.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

// A line break inside a name or value would split the line and leave a stray
// line in the file; each CR or LF becomes a blank instead.
std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  return line;
}

// Applies one WritePrivateProfileStringA to the text. False when nothing changes.
bool Edit(IniText& text, std::string_view section, const char* key, const char* value) {
  const Encoding encoding = text.encoding;
  std::vector<Line>& lines = text.lines;
  auto at = [&lines](std::size_t i) { return lines.begin() + static_cast<std::ptrdiff_t>(i); };
  auto insert = [&](std::size_t i, std::string line) {
    // Only the last line can lack a line end, and it needs one now.
    if (i == lines.size() && !lines.empty() && lines.back().end.empty())
      lines.back().end = Encode(encoding, kNewLineEnd);
    lines.insert(at(i), NewLine(encoding, std::move(line)));
  };

  std::string sectionName = OneLine(section);
  SectionRange range = FindSection(lines, sectionName);
  if (key == nullptr) {
    // No key: the whole section goes.
    if (!range.found) return false;
    lines.erase(at(range.begin), at(range.end));
    return true;
  }
  std::string keyName = OneLine(Trim(key));
  std::size_t found = range.found ? FindKey(lines, range, keyName) : std::string::npos;
  if (value == nullptr) {
    // No value: the key goes.
    if (found == std::string::npos) return false;
    lines.erase(at(found));
    return true;
  }
  std::string line = keyName + "=" + OneLine(value);
  if (found != std::string::npos) {
    // The line keeps its own line end.
    lines[found].bytes = Encode(encoding, line);
    lines[found].text = std::move(line);
  } else if (range.found) {
    // After the section's last non-blank line, before the blank lines that
    // set it off from the next one.
    std::size_t after = range.end;
    while (after > range.begin + 1 && Trim(lines[after - 1].text).empty()) --after;
    insert(after, std::move(line));
  } else {
    if (!lines.empty() && !Trim(lines.back().text).empty()) insert(lines.size(), "");
    insert(lines.size(), "[" + sectionName + "]");
    insert(lines.size(), std::move(line));
  }
  return true;
}

}  // namespace

std::uint32_t ProfileFile::GetPrivateProfileStringA(const char* section, const char* key,
                                                    const char* defaultValue, char* buffer,
                                                    std::uint32_t size, const char* fileName) {
  if (buffer == nullptr || size == 0) return 0;
  std::string content;
  if (fileName == nullptr || ReadWholeFile(fileName, content) != ReadOutcome::kOk) content.clear();
  IniText text = Parse(content);

  if (section == nullptr) {
    std::vector<std::string_view> names;
    std::string_view name;
    for (const Line& line : text.lines)
      if (SectionOf(line.text, name)) names.push_back(name);
    return CopyOutList(names, buffer, size);
  }
  SectionRange range = FindSection(text.lines, Trim(section));
  if (key == nullptr) {
    std::vector<std::string_view> names;
    std::string_view k, v;
    if (range.found)
      for (std::size_t i = range.begin + 1; i < range.end; ++i)
        if (KeyOf(text.lines[i].text, k, v)) names.push_back(k);
    return CopyOutList(names, buffer, size);
  }
  if (range.found) {
    std::size_t at = FindKey(text.lines, range, Trim(key));
    std::string_view k, value;
    if (at != std::string::npos && KeyOf(text.lines[at].text, k, value))
      return CopyOut(Unquote(value), buffer, size);
  }
  // Trailing blanks of the default are dropped, as Windows does.
  std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
  return CopyOut(fallback.substr(0, fallback.find_last_not_of(' ') + 1), buffer, size);
}

int ProfileFile::WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                            const char* fileName) {
  if (section == nullptr || fileName == nullptr || fileName[0] == '\0') return 0;
  std::string folder, base;
  if (!ResolveTarget(fileName, folder, base)) return 0;
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0) return 0;
  RemoveStaleTemps(dir.Get(), base);

  std::string content;
  struct stat st {};
  bool exists = false;
  {
    // O_NOFOLLOW: the name was checked above and must not have become a link since.
    UniqueFd file(
        ::openat(dir.Get(), base.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (file.Get() >= 0) {
      if (ReadOpenFile(file.Get(), content, st) != ReadOutcome::kOk || !MayWrite(st)) return 0;
      exists = true;
    } else if (errno != ENOENT) {
      return 0;
    }
  }
  IniText text = Parse(content);
  if (!Edit(text, Trim(section), key, value)) return 1;
  std::string bytes = Join(text);
  if (exists && bytes == content) return 1;
  return ReplaceFile(dir.Get(), base, bytes, exists ? &st : nullptr) ? 1 : 0;
}

}  // namespace quorrel::posix
