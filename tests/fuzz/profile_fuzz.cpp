// The INI service on a fuzzed Settings.ini in a private folder: reads stay in
// their buffer, a write is read back, every line the write has no business
// with survives byte for byte (its own line end included), other keys keep
// their values, and no temporary file is left behind.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/posix_profile.h"

namespace {

using quorrel::fuzz::Check;

std::string folder;
std::string path;

void RemoveFolder() {
  if (folder.empty()) return;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        ::unlink((folder + "/" + e->d_name).c_str());
    ::closedir(dir);
  }
  ::rmdir(folder.c_str());
}

std::vector<std::string> FolderEntries() {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.emplace_back(e->d_name);
    ::closedir(dir);
  }
  return names;
}

void WriteFile(std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Check(fd >= 0, "cannot create the test file");
  Check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
        "cannot write the test file");
  ::close(fd);
}

std::string ReadFile() {
  std::string bytes;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char chunk[4096];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, n);
  ::close(fd);
  return bytes;
}

// A text in one of the two forms a Settings.ini may take, as code units.
struct Units {
  bool utf16 = false;
  std::u16string text;
};

Units UnitsOf(std::string_view bytes, bool& bom) {
  Units u;
  bom = false;
  if (bytes.starts_with("\xFF\xFE")) {
    bom = true;
    u.utf16 = true;
    bytes.remove_prefix(2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
      u.text += static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                      static_cast<std::uint8_t>(bytes[i + 1]) << 8);
    return u;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bom = true;
    bytes.remove_prefix(3);
  }
  for (char c : bytes) u.text += static_cast<char16_t>(static_cast<std::uint8_t>(c));
  return u;
}

// Lines with their own ends (CR LF, LF or CR); the last may have none.
std::vector<std::u16string> LinesOf(const std::u16string& text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    std::size_t next = end + 1;
    if (text[end] == u'\r' && next < text.size() && text[next] == u'\n') ++next;
    lines.push_back(text.substr(start, next - start));
    start = next;
  }
  return lines;
}

std::u16string Body(const std::u16string& line) {
  std::size_t end = line.find_first_of(u"\r\n");
  return end == std::u16string::npos ? line : line.substr(0, end);
}

// What a line says: its text up to the first NUL, as a NUL ends every string
// Windows' profile functions read.
std::u16string Meaning(const std::u16string& line) {
  std::u16string body = Body(line);
  return body.substr(0, body.find(u'\0'));
}

// The lines of a diff, escaped, for the report of a broken invariant.
void Show(const char* what, const std::vector<std::u16string>& lines) {
  std::fprintf(stderr, "%s (%zu):\n", what, lines.size());
  for (const std::u16string& line : lines) {
    std::fprintf(stderr, "  \"");
    for (char16_t c : line)
      std::fprintf(stderr, c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x{%X}", c);
    std::fprintf(stderr, "\"\n");
  }
}

std::u16string Trim(const std::u16string& s) {
  std::size_t first = s.find_first_not_of(u" \t");
  if (first == std::u16string::npos) return {};
  return s.substr(first, s.find_last_not_of(u" \t") - first + 1);
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; }

bool SameName(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

bool IsHeader(const std::u16string& line) { return Trim(Meaning(line)).starts_with(u'['); }

std::u16string HeaderName(const std::u16string& line) {
  std::u16string t = Trim(Meaning(line)).substr(1);
  return Trim(t.substr(0, t.find(u']')));
}

// A line that names `key` as a key (`key = value`, blanks around the name).
bool IsKeyLine(const std::u16string& line, const std::u16string& key) {
  std::u16string t = Trim(Meaning(line));
  std::size_t eq = t.find(u'=');
  return !t.empty() && t[0] != u';' && t[0] != u'[' && eq != std::u16string::npos &&
         SameName(Trim(t.substr(0, eq)), key);
}

std::u16string Widen(std::string_view s) {
  std::u16string w;
  for (char c : s) w += static_cast<char16_t>(static_cast<std::uint8_t>(c));
  return w;
}

// A name or value made of printable ASCII that no INI rule reads specially:
// it is written and read back unchanged.
bool Plain(std::string_view s, bool value) {
  if (s.empty()) return value;
  if (s.size() > 200 || s.front() == ' ' || s.back() == ' ') return false;
  if (s.front() == '"' || s.front() == '\'' || s.front() == ';' || s.front() == '[') return false;
  return std::all_of(s.begin(), s.end(), [&](char c) {
    return c >= 0x20 && c < 0x7F && (value || (c != '=' && c != ']' && c != '['));
  });
}

enum class Op { kWrite, kDeleteKey, kDeleteSection };

// The write may touch only lines of the section it names: the one key line it
// replaces or removes, the lines it inserts, or the section it deletes. Every
// other line is kept with its bytes and its own line end; the one exception is
// a last line without an end, which gains a CR LF when lines follow it.
void CheckUnrelatedLinesKept(const std::u16string& before, const std::u16string& after, Op op,
                             const std::u16string& section, const std::u16string& key) {
  std::vector<std::u16string> old = LinesOf(before), now = LinesOf(after);
  std::size_t p = 0;
  while (p < old.size() && p < now.size() && old[p] == now[p]) ++p;
  std::size_t s = 0;
  while (s < old.size() - p && s < now.size() - p &&
         old[old.size() - 1 - s] == now[now.size() - 1 - s])
    ++s;
  std::vector<std::u16string> removed(old.begin() + p, old.end() - s);
  std::vector<std::u16string> inserted(now.begin() + p, now.end() - s);

  if (!removed.empty() && p + removed.size() == old.size() && !inserted.empty()) {
    const std::u16string& last = removed.back();
    bool unended = !last.ends_with(u'\r') && !last.ends_with(u'\n');
    if (unended && std::find(inserted.begin(), inserted.end(), last + u"\r\n") != inserted.end()) {
      inserted.erase(std::find(inserted.begin(), inserted.end(), last + u"\r\n"));
      removed.pop_back();
    }
  }
  auto check = [&](bool holds, const char* what) {
    if (!holds) {
      Show("removed", removed);
      Show("inserted", inserted);
    }
    Check(holds, what);
  };
  // Which section each removed line is in, by the file as it was.
  bool inTarget = false;
  for (std::size_t i = 0; i < p + removed.size(); ++i) {
    if (IsHeader(old[i])) inTarget = SameName(HeaderName(old[i]), section);
    if (i < p) continue;
    bool related = op == Op::kDeleteSection ? inTarget : inTarget && IsKeyLine(old[i], key);
    check(related, "the write changed or dropped a line it had no business with");
  }
  if (op == Op::kWrite) {
    check(removed.size() <= 1, "the write replaced more than one line");
    // Nothing changes when the key's line already says key=value.
    check(inserted.size() <= 3 && (!inserted.empty() || removed.empty()),
          "the write added an unexpected number of lines");
    for (const std::u16string& line : inserted) {
      bool keepsOwnEnd =
          removed.size() == 1 && Body(line) != line &&
          line.substr(Body(line).size()) == removed[0].substr(Body(removed[0]).size());
      bool lastWithoutEnd = removed.size() == 1 && Body(removed[0]) == removed[0] &&
                            Body(line) == line && p + 1 == old.size();
      check(line.ends_with(u"\r\n") || keepsOwnEnd || lastWithoutEnd,
            "a new line does not end in CR LF");
    }
  } else {
    check(inserted.empty(), "a deletion added lines");
    if (op == Op::kDeleteKey)
      check(removed.size() <= 1, "a key deletion removed more than one line");
  }
}

constexpr std::uint32_t kBuffer = 255;

std::string Read(quorrel::posix::ProfileFile& profile, const char* section, const char* key) {
  char buffer[kBuffer + 16];
  std::memset(buffer, 0x5A, sizeof buffer);
  std::uint32_t n =
      profile.GetPrivateProfileStringA(section, key, "", buffer, kBuffer, path.c_str());
  Check(n < kBuffer, "a read filled the whole buffer");
  Check(buffer[kBuffer] == 0x5A, "a read wrote past its buffer");
  if (section != nullptr && key != nullptr) {
    Check(buffer[n] == '\0', "a value is not NUL-terminated");
    Check(std::strlen(buffer) == n, "a value holds a NUL (NUL ends a stored value)");
  }
  return std::string(buffer, n);
}

std::vector<std::string> Names(const std::string& list) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start < list.size();) {
    std::size_t end = list.find('\0', start);
    if (end == std::string::npos) end = list.size();
    names.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every input writes the file and syncs it: a tmpfs keeps that cheap.
  const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/quorrel-fuzz-ini-XXXXXX";
  Check(::mkdtemp(pattern.data()) != nullptr, "cannot make the test folder");
  folder = pattern;
  path = folder + "/Settings.ini";
  std::atexit(RemoveFolder);
  return 0;
}

// Input: an operation byte, then (when its bit 2 is set) section, key and
// value each ending in NUL, else only the value; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t opByte = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  auto take = [&](std::string fallback) {
    std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) return fallback;
    std::string field(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
    return field;
  };
  std::string section = "Options", key = "IP";
  if (opByte & 4) {
    section = take(section);
    key = take(key);
  }
  std::string value = take("192.168.1.1");
  const Op op = (opByte & 3) == 2   ? Op::kDeleteKey
                : (opByte & 3) == 3 ? Op::kDeleteSection
                                    : Op::kWrite;
  const std::string content(rest);

  WriteFile(content);
  quorrel::posix::ProfileFile profile;

  // What the file says before the write: every key of every section.
  struct Entry {
    std::string section, key, value;
  };
  std::vector<Entry> entries;
  std::vector<std::string> sections = Names(Read(profile, nullptr, nullptr));
  for (std::size_t i = 0; i < sections.size() && i < 4; ++i) {
    std::vector<std::string> keys = Names(Read(profile, sections[i].c_str(), nullptr));
    for (std::size_t k = 0; k < keys.size() && k < 8; ++k)
      entries.push_back(
          {sections[i], keys[k], Read(profile, sections[i].c_str(), keys[k].c_str())});
  }
  std::string readOnce = Read(profile, section.c_str(), key.c_str());
  Check(Read(profile, section.c_str(), key.c_str()) == readOnce, "two reads differ");
  Check(ReadFile() == content, "a read changed the file");

  int written =
      op == Op::kWrite ? profile.WritePrivateProfileStringA(section.c_str(), key.c_str(),
                                                            value.c_str(), path.c_str())
      : op == Op::kDeleteKey
          ? profile.WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, path.c_str())
          : profile.WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, path.c_str());
  const std::string after = ReadFile();
  std::vector<std::string> left = FolderEntries();
  Check(left.size() == 1 && left[0] == "Settings.ini", "the write left a file beside Settings.ini");
  if (written == 0) {
    Check(after == content, "a failed write changed the file");
    return 0;
  }

  const bool plainNames = Plain(section, false) && Plain(key, false);
  if (op == Op::kWrite && plainNames && Plain(value, true))
    Check(Read(profile, section.c_str(), key.c_str()) == value,
          "a written value does not read back");
  auto same = [](const std::string& a, const std::string& b) {
    return SameName(Widen(a), Widen(b));
  };
  // A name with INI syntax in it can make a line of another meaning, as it
  // does on Windows; the program writes only its own five keys.
  for (const Entry& e : entries) {
    if (!plainNames) break;
    if (same(e.section, section) && (op == Op::kDeleteSection || same(e.key, key))) continue;
    Check(Read(profile, e.section.c_str(), e.key.c_str()) == e.value,
          "the write changed another key's value");
  }

  // Line by line, in the file's own code units (UTF-16LE behind its mark).
  bool bomBefore = false, bomAfter = false;
  Units before = UnitsOf(content, bomBefore);
  Units now = UnitsOf(after, bomAfter);
  if (!content.empty()) {
    Check(bomBefore == bomAfter && before.utf16 == now.utf16,
          "the write changed the file's encoding or its byte-order mark");
  }
  if (before.utf16 && content.size() % 2 != 0) return 0;  // half a code unit: no lines to compare
  if (plainNames) CheckUnrelatedLinesKept(before.text, now.text, op, Widen(section), Widen(key));
  return 0;
}
