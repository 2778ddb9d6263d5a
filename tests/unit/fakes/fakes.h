#pragma once
// Scripted stand-ins for the platform ports, for tests of the portable code.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/icmp.h"
#include "platform/iphlpapi.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/shell.h"
#include "platform/toolkit.h"
#include "platform/winsock.h"

namespace quorrel::fakes {

struct MessageBoxCall {
  std::string text;
  std::string caption;
  std::uint32_t style;
};

class FakeToolkit : public Toolkit {
 public:
  std::vector<MessageBoxCall> messageBoxes;
  std::vector<std::string> events;  // "menu", "focus", "unload", "end"
  bool trayAvailable = true;
  std::uint32_t windowHandle = 0x1234;
  double twipsPerPixel = 15.0;   // 96 dpi
  std::uint32_t iconHandle = 0;  // follows the icon when a form is attached
  std::function<std::uint32_t()> iconSource;
  std::function<void()> onUnload;
  std::function<void()> onMessageBox;  // runs while the box is "open"

  int MessageBox(const std::string& text, const std::string& caption,
                 std::uint32_t style) override {
    messageBoxes.push_back({text, caption, style});
    if (onMessageBox) onMessageBox();
    return 1;
  }
  std::uint32_t WindowHandle() override { return windowHandle; }
  std::uint32_t WindowIconHandle() override { return iconSource ? iconSource() : iconHandle; }
  double TwipsPerPixelX() override { return twipsPerPixel; }
  void ShowTrayMenu() override { events.push_back("menu"); }
  void FocusWindow() override { events.push_back("focus"); }
  void UnloadWindow() override {
    events.push_back("unload");
    if (onUnload) onUnload();
  }
  void EndProgram() override { events.push_back("end"); }
  bool TrayAvailable() override { return trayAvailable; }
};

class FakeClock : public Clock {
 public:
  LocalTime now{2026, 12, 7, 9, 5, 3};
  std::string dateSep = "/";
  std::string timeSep = ":";
  std::string thousandsSep = ",";
  LocalTime Now() override { return now; }
  std::string DateSeparator() override { return dateSep; }
  std::string TimeSeparator() override { return timeSep; }
  std::string ThousandsSeparator() override { return thousandsSep; }
};

class FakeProfile;

class FakeFileSystem : public FileSystem {
 public:
  std::string exeFolder = "C:\\Apps\\Quorrel";
  char separator = '\\';
  bool writable = true;
  bool installed = false;
  std::string userFolder = "C:\\Users\\me\\AppData\\Roaming\\Quorrel";
  std::map<std::string, std::string> files;
  std::set<std::string> existing;   // files that exist besides those in `files`
  std::set<std::string> readOnly;   // files this user may not replace
  bool failAppend = false;
  bool failCommit = false;
  int commitsReplacedMeanwhile = 0;  // commits that find the file replaced since Begin
  std::vector<std::string> reports;  // what ReportUnsaved was told
  // Replacements act on the fake profile's files (set by the form fixture):
  // a copy starts as the file (or the seed) and takes its place at commit.
  FakeProfile* profile = nullptr;
  int copies = 0;

  std::string ExecutableFolder() override { return exeFolder; }
  char PathSeparator() override { return separator; }
  bool IsFolderWritable(const std::string&) override { return writable; }
  std::string UserDataFolder() override { return userFolder; }
  bool IsInstalledProgramFolder(const std::string&) override { return installed; }
  bool MayReplace(const std::string& path) override { return readOnly.count(path) == 0; }
  bool AppendToFile(const std::string& path, const std::string& bytes) override {
    if (failAppend) return false;
    files[path] += bytes;
    return true;
  }
  bool IsExistingFile(const std::string& path) override {
    return existing.count(path) > 0 || files.count(path) > 0;
  }
  FileReplacement BeginReplace(const std::string& path, const std::string& seed) override;
  bool CommitReplace(const FileReplacement& r, const std::string& path) override;
  void AbandonReplace(const FileReplacement& r) override;
  void ReportUnsaved(const std::string& line) override { reports.push_back(line); }
};

class IdentityCodePage : public CodePage {
 public:
  std::string ToAnsi(const std::string& s) override { return s; }
  std::string FromAnsi(const std::string& s) override { return s; }
};

// Keeps [section] key=value pairs in memory; names compare exactly. The real
// file semantics are tested against the Linux service.
class FakeProfile : public ProfileApi {
 public:
  using Sections = std::map<std::string, std::map<std::string, std::string>>;
  Sections sections;                           // every file not in `otherFiles`
  std::map<std::string, Sections> otherFiles;  // by path
  std::vector<std::string> writes;             // "key=value" in the order written
  std::vector<std::string> readPaths;
  std::vector<std::string> writePaths;
  bool failWrites = false;

  Sections& FileAt(const char* path) {
    auto other = otherFiles.find(path);
    return other != otherFiles.end() ? other->second : sections;
  }

  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                         char* buffer, std::uint32_t size,
                                         const char* path) override {
    readPaths.push_back(path);
    const Sections& file = FileAt(path);
    std::string value = def;
    auto s = file.find(section);
    if (s != file.end()) {
      auto k = s->second.find(key);
      if (k != s->second.end()) value = k->second;
    }
    if (size == 0) return 0;
    std::size_t n = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
  }
  int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                 const char* path) override {
    writes.push_back(std::string(key) + "=" + value);
    writePaths.push_back(path);
    if (failWrites) return 0;
    FileAt(path)[section][key] = value;
    return 1;
  }
};

inline FileReplacement FakeFileSystem::BeginReplace(const std::string& path,
                                                   const std::string& seed) {
  if (readOnly.count(path) != 0 || profile == nullptr) return {};
  const std::string copy = path + ".copy" + std::to_string(++copies);
  const bool there = profile->otherFiles.count(path) > 0 || !profile->sections.empty();
  profile->otherFiles[copy] = profile->FileAt((there || seed.empty() ? path : seed).c_str());
  return {copy, "original"};
}

inline bool FakeFileSystem::CommitReplace(const FileReplacement& r, const std::string& path) {
  FakeProfile::Sections copy = profile->otherFiles[r.copy];
  profile->otherFiles.erase(r.copy);
  if (failCommit) return false;
  if (commitsReplacedMeanwhile > 0) {
    --commitsReplacedMeanwhile;
    return false;
  }
  profile->FileAt(path.c_str()) = copy;
  return true;
}

inline void FakeFileSystem::AbandonReplace(const FileReplacement& r) {
  profile->otherFiles.erase(r.copy);
}

class FakeWinsock : public WinsockApi {
 public:
  int startupResult = 0;
  int cleanupResult = 0;
  int startups = 0;
  int cleanups = 0;
  std::vector<std::string> parsed;

  int WSAStartup(std::uint16_t version) override {
    ++startups;
    lastVersion = version;
    return startupResult;
  }
  int WSACleanup() override {
    ++cleanups;
    return cleanupResult;
  }
  // Four decimal parts only; enough for the probe's tests.
  std::uint32_t inet_addr(const char* text) override {
    parsed.push_back(text);
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 ||
        c > 255 || d > 255)
      return kInaddrNone;
    return a | (b << 8) | (c << 16) | (d << 24);
  }
  std::uint16_t lastVersion = 0;
};

// Answers each echo with the next status of its queue (kIpSuccess when empty).
class FakeIcmp : public IcmpApi {
 public:
  std::deque<std::uint32_t> statuses;
  // RoundTripTime written into each reply record (0 once empty), and what
  // RoundTripMicros tells after each echo (nothing once empty).
  std::deque<std::uint32_t> roundTrips;
  std::deque<std::uint32_t> roundTripMicros;
  bool noHandle = false;
  bool zeroRepliesOnSuccess = false;
  int opened = 0;
  int closed = 0;
  struct Echo {
    std::uint32_t destination;
    std::string data;
    bool nullOptions;
    std::uint32_t replySize;
    std::uint32_t timeout;
  };
  std::vector<Echo> echoes;

  IcmpHandle IcmpCreateFile() override {
    if (noHandle) return nullptr;
    ++opened;
    return reinterpret_cast<IcmpHandle>(0x42);
  }
  std::uint32_t IcmpSendEcho(IcmpHandle, std::uint32_t destination, const void* data,
                             std::uint16_t size, const void* options, void* reply,
                             std::uint32_t replySize, std::uint32_t timeout) override {
    echoes.push_back({destination, std::string(static_cast<const char*>(data), size),
                      options == nullptr, replySize, timeout});
    std::uint32_t status = kIpSuccess;
    if (!statuses.empty()) {
      status = statuses.front();
      statuses.pop_front();
    }
    WriteLe32(static_cast<std::uint8_t*>(reply) + kEchoReplyStatusOffset, status);
    WriteLe32(static_cast<std::uint8_t*>(reply) + kEchoReplyRoundTripOffset, Next(roundTrips, 0));
    lastMicros = roundTripMicros.empty() ? std::nullopt : std::optional(Next(roundTripMicros, 0));
    if (status == kIpSuccess && zeroRepliesOnSuccess) return 0;
    return status == kIpSuccess ? 1 : 0;
  }
  bool IcmpCloseHandle(IcmpHandle) override {
    ++closed;
    return true;
  }
  bool RoundTripMicros(IcmpHandle, std::uint32_t& micros) override {
    if (!lastMicros) return false;
    micros = *lastMicros;
    return true;
  }
  std::string blockedReason;  // what SendBlockedReason answers
  int blockedQueries = 0;
  std::string SendBlockedReason() override {
    ++blockedQueries;
    return blockedReason;
  }

 private:
  static std::uint32_t Next(std::deque<std::uint32_t>& queue, std::uint32_t otherwise) {
    if (queue.empty()) return otherwise;
    const std::uint32_t value = queue.front();
    queue.pop_front();
    return value;
  }
  std::optional<std::uint32_t> lastMicros;
};

// An interface table built from values.
class FakeIfTable : public IpHelperApi {
 public:
  std::uint32_t sizeAnswer = kErrorInsufficientBuffer;  // answer of the size query
  std::uint32_t fillAnswer = kNoError;                  // answer of the filling call
  std::vector<std::vector<std::byte>> rows;             // 860 bytes each
  int calls = 0;

  std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool) override {
    ++calls;
    std::uint32_t needed =
        static_cast<std::uint32_t>(kIfTableHeaderSize + rows.size() * kIfRowSize);
    if (table == nullptr || size < needed) {
      size = needed;
      return sizeAnswer;
    }
    if (fillAnswer != kNoError) return fillAnswer;
    WriteLe32(table, static_cast<std::uint32_t>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
      std::memcpy(table + kIfTableHeaderSize + i * kIfRowSize, rows[i].data(), kIfRowSize);
    return kNoError;
  }
};

class FakeShell : public ShellApi {
 public:
  struct Call {
    std::uint32_t message;
    NotifyIconDataA data;
  };
  std::vector<Call> calls;
  bool Shell_NotifyIconA(std::uint32_t message, const NotifyIconDataA& data) override {
    calls.push_back({message, data});
    return true;
  }
};

class FakeProcess : public ProcessApi {
 public:
  std::vector<std::string> started;
  std::vector<int> showCommands;
  bool fail = false;
  bool StartDetached(const std::string& commandLine, int show, std::string& error) override {
    if (fail || commandLine.empty()) {
      error = commandLine.empty() ? "no command given" : "not found";
      return false;
    }
    started.push_back(commandLine);
    showCommands.push_back(show);
    return true;
  }
};

// Keeps what was drawn, and checks that every created object is deleted.
class RecordingCanvas : public Canvas {
 public:
  struct Op {
    std::string what;  // "clear", "refresh", "fore", "pen", "brush", "select", "delete",
                       // "polyline", "polygon", "text"
    std::vector<Point> points;
    Colour colour = 0;
    GdiObject object = 0;
    std::string text;
  };
  int width = 513;
  int height = 65;
  int textWidth = 14;
  int textHeight = 13;
  std::vector<Op> ops;
  std::map<GdiObject, Colour> live;  // created and not yet deleted
  GdiObject nextObject = 100;
  GdiObject selectedPen = 1;
  GdiObject selectedBrush = 2;
  std::map<GdiObject, bool> isPen;

  int Width() override { return width; }
  int Height() override { return height; }
  void Clear() override { Push("clear"); }
  void Refresh() override { Push("refresh"); }
  void SetForeColour(Colour c) override { Push("fore", {}, c); }
  int TextWidth(const std::string&) override { return textWidth; }
  int TextHeight(const std::string&) override { return textHeight; }
  GdiObject CreatePen(int, int, Colour c) override {
    GdiObject o = nextObject++;
    live[o] = c;
    isPen[o] = true;
    Push("pen", {}, c, o);
    return o;
  }
  GdiObject CreateSolidBrush(Colour c) override {
    GdiObject o = nextObject++;
    live[o] = c;
    isPen[o] = false;
    Push("brush", {}, c, o);
    return o;
  }
  GdiObject SelectObject(GdiObject o) override {
    Push("select", {}, 0, o);
    bool pen = isPen.count(o) ? isPen[o] : (o == 1);
    GdiObject& slot = pen ? selectedPen : selectedBrush;
    GdiObject old = slot;
    slot = o;
    return old;
  }
  bool DeleteObject(GdiObject o) override {
    Push("delete", {}, 0, o);
    return live.erase(o) == 1;
  }
  bool Polyline(const Point* p, int n) override {
    Push("polyline", std::vector<Point>(p, p + n), CurrentColour(selectedPen));
    return true;
  }
  bool Polygon(const Point* p, int n) override {
    Push("polygon", std::vector<Point>(p, p + n), CurrentColour(selectedBrush));
    return true;
  }
  bool TextOutA(int x, int y, const char* text, int length) override {
    Push("text", {{x, y}}, 0, 0, std::string(text, static_cast<std::size_t>(length)));
    return true;
  }
  std::vector<Op> OpsOf(const std::string& what) const {
    std::vector<Op> out;
    for (const auto& op : ops)
      if (op.what == what) out.push_back(op);
    return out;
  }

 private:
  void Push(std::string what, std::vector<Point> points = {}, Colour colour = 0,
            GdiObject object = 0, std::string text = {}) {
    ops.push_back({std::move(what), std::move(points), colour, object, std::move(text)});
  }
  Colour CurrentColour(GdiObject o) { return live.count(o) ? live[o] : 0xFFFFFFFF; }
};

}  // namespace quorrel::fakes
