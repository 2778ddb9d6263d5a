#include "platform/posix/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace quorrel::posix {
namespace {

// A settings file is a few hundred bytes; anything past this is not one, and
// is neither read into memory nor rewritten.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

enum class ReadOutcome { kOk, kMissing, kFailed };

ReadOutcome ReadWholeFile(const char* path, std::string& content) {
  content.clear();
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadOutcome::kMissing : ReadOutcome::kFailed;
  struct stat st {};
  ReadOutcome outcome = ReadOutcome::kOk;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    outcome = ReadOutcome::kFailed;
  } else {
    char chunk[8192];
    for (;;) {
      ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || content.size() + static_cast<std::size_t>(std::max<ssize_t>(n, 0)) >
                       static_cast<std::size_t>(kMaxFileSize)) {
        outcome = ReadOutcome::kFailed;
        break;
      }
      if (n == 0) break;
      content.append(chunk, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return outcome;
}

struct IniText {
  bool bom = false;
  std::vector<std::string> lines;  // without their line ends
};

// CR LF, LF alone and CR alone all end a line: files come from every editor.
IniText SplitLines(std::string_view content) {
  IniText text;
  if (content.starts_with(kUtf8Bom)) {
    text.bom = true;
    content.remove_prefix(kUtf8Bom.size());
  }
  while (!content.empty()) {
    std::size_t end = content.find_first_of("\r\n");
    text.lines.emplace_back(content.substr(0, end));
    if (end == std::string_view::npos) break;
    std::size_t next = end + 1;
    if (content[end] == '\r' && next < content.size() && content[next] == '\n') ++next;
    content.remove_prefix(next);
  }
  return text;
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

SectionRange FindSection(const std::vector<std::string>& lines, std::string_view section) {
  SectionRange range;
  std::string_view name;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!SectionOf(lines[i], name)) continue;
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
std::size_t FindKey(const std::vector<std::string>& lines, const SectionRange& range,
                    std::string_view key) {
  std::string_view k, v;
  for (std::size_t i = range.begin + 1; i < range.end; ++i)
    if (KeyOf(lines[i], k, v) && SameName(k, key)) return i;
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

std::string JoinLines(const IniText& text) {
  std::string content = text.bom ? std::string(kUtf8Bom) : std::string();
  for (const std::string& line : text.lines) {
    content += line;
    content += kLineEnd;
  }
  return content;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes a sibling temporary file and renames it over `path`, so a crash or a
// full disk leaves either the old file or the new one, never half of either.
bool ReplaceFile(const char* path, const std::string& bytes) {
  std::string target = path;
  struct stat st {};
  // Replace what a symbolic link points to, not the link itself.
  if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path, resolved) == nullptr) return false;
    target = resolved;
  }
  bool exists = ::stat(target.c_str(), &st) == 0;
  std::size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : target.substr(0, slash);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + "/." + base + "." + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = WriteAll(fd, bytes);
  if (ok && exists) {
    ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    // Keeps a file that root rewrites owned by its user; only root may, so a
    // refusal here is expected and harmless.
    if (ok && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
    }
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself lasts only once the folder is on disk.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
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
  IniText text = SplitLines(content);

  if (section == nullptr) {
    std::vector<std::string_view> names;
    std::string_view name;
    for (const std::string& line : text.lines)
      if (SectionOf(line, name)) names.push_back(name);
    return CopyOutList(names, buffer, size);
  }
  SectionRange range = FindSection(text.lines, Trim(section));
  if (key == nullptr) {
    std::vector<std::string_view> names;
    std::string_view k, v;
    if (range.found)
      for (std::size_t i = range.begin + 1; i < range.end; ++i)
        if (KeyOf(text.lines[i], k, v)) names.push_back(k);
    return CopyOutList(names, buffer, size);
  }
  if (range.found) {
    std::size_t at = FindKey(text.lines, range, Trim(key));
    std::string_view k, value;
    if (at != std::string::npos && KeyOf(text.lines[at], k, value))
      return CopyOut(Unquote(value), buffer, size);
  }
  // Trailing blanks of the default are dropped, as Windows does.
  std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
  return CopyOut(fallback.substr(0, fallback.find_last_not_of(' ') + 1), buffer, size);
}

int ProfileFile::WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                            const char* fileName) {
  if (section == nullptr || fileName == nullptr || fileName[0] == '\0') return 0;
  std::string content;
  ReadOutcome read = ReadWholeFile(fileName, content);
  if (read == ReadOutcome::kFailed) return 0;
  IniText text = SplitLines(content);

  std::string sectionName = OneLine(Trim(section));
  SectionRange range = FindSection(text.lines, sectionName);
  if (key == nullptr) {
    // No key: the whole section goes.
    if (!range.found) return 1;
    text.lines.erase(text.lines.begin() + static_cast<std::ptrdiff_t>(range.begin),
                     text.lines.begin() + static_cast<std::ptrdiff_t>(range.end));
  } else {
    std::string keyName = OneLine(Trim(key));
    std::size_t at = range.found ? FindKey(text.lines, range, keyName) : std::string::npos;
    if (value == nullptr) {
      // No value: the key goes.
      if (at == std::string::npos) return 1;
      text.lines.erase(text.lines.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
      std::string line = keyName + "=" + OneLine(value);
      if (at != std::string::npos) {
        text.lines[at] = std::move(line);
      } else if (range.found) {
        // After the section's last non-blank line, before the blank lines
        // that set it off from the next one.
        std::size_t insert = range.end;
        while (insert > range.begin + 1 && Trim(text.lines[insert - 1]).empty()) --insert;
        text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(insert),
                          std::move(line));
      } else {
        if (!text.lines.empty() && !Trim(text.lines.back()).empty()) text.lines.emplace_back();
        text.lines.push_back("[" + sectionName + "]");
        text.lines.push_back(std::move(line));
      }
    }
  }
  return ReplaceFile(fileName, JoinLines(text)) ? 1 : 0;
}

}  // namespace quorrel::posix
