#pragma once
// The ports a window has and a headless monitor does not: no message boxes,
// no tray, no graph, no files of the window's own. Each answers as a window
// would that nobody looks at.
#include <cstdio>
#include <string>

#include "platform/canvas.h"
#include "platform/files.h"
#include "platform/posix/posix_files.h"
#include "platform/profile.h"
#include "platform/shell.h"
#include "platform/toolkit.h"

namespace quorrel::watch {

// A message box has no one to wait for here: its text goes to stderr, where
// the journal keeps it, and it is dismissed at once with OK.
class NullToolkit : public Toolkit {
 public:
  int MessageBox(const std::string& text, const std::string& /*caption*/,
                 std::uint32_t /*style*/) override {
    std::fprintf(stderr, "quorrel-watch: %s\n", text.c_str());
    return 1;  // IDOK
  }
  std::uint32_t WindowHandle() override { return 0; }
  std::uint32_t WindowIconHandle() override { return 0; }
  double TwipsPerPixelX() override { return 15; }
  void ShowTrayMenu() override {}
  void FocusWindow() override {}
  void UnloadWindow() override {}
  void EndProgram() override {}
  bool TrayAvailable() override { return false; }
};

class NullShell : public ShellApi {
 public:
  bool Shell_NotifyIconA(std::uint32_t, const NotifyIconDataA&) override { return true; }
};

// The graph's size matters to the model's scale arithmetic only, so it keeps
// the window's picture box size; nothing is drawn.
class NullCanvas : public Canvas {
 public:
  int Width() override { return 100; }
  int Height() override { return 60; }
  void Clear() override {}
  void Refresh() override {}
  void SetForeColour(Colour) override {}
  int TextWidth(const std::string& text) override { return static_cast<int>(text.size()) * 6; }
  int TextHeight(const std::string&) override { return 13; }
  GdiObject CreatePen(int, int, Colour) override { return ++objects_; }
  GdiObject CreateSolidBrush(Colour) override { return ++objects_; }
  GdiObject SelectObject(GdiObject) override { return 0; }
  bool DeleteObject(GdiObject) override { return true; }
  bool Polyline(const Point*, int) override { return true; }
  bool Polygon(const Point*, int) override { return true; }
  bool TextOutA(int, int, const char*, int) override { return true; }

 private:
  GdiObject objects_ = 0;
};

// The window's Settings.ini and pinglog.txt are the window's: the monitor
// reads its settings from the file it is given (before the model exists)
// and writes none, so the model's own load and save find nothing and store
// nothing. Under systemd's DynamicUser there is no home to write to anyway.
class NullProfile : public ProfileApi {
 public:
  std::uint32_t GetPrivateProfileStringA(const char*, const char*, const char* defaultValue,
                                         char* buffer, std::uint32_t size, const char*) override {
    if (size == 0) return 0;
    std::string value = defaultValue ? defaultValue : "";
    if (value.size() >= size) value.resize(size - 1);
    value.copy(buffer, value.size());
    buffer[value.size()] = '\0';
    return static_cast<std::uint32_t>(value.size());
  }
  int WritePrivateProfileStringA(const char*, const char*, const char*, const char*) override {
    return 0;
  }
};

// The Linux file service with the window's own places taken away. The model
// is given a data folder under which nothing can ever be created (a path
// through /dev/null), so it neither makes a per-user folder nor says that it
// has none; it saves nothing there anyway, as the profile above stores
// nothing and the log is not saved.
class NullFiles : public posix::PosixFileSystem {
 public:
  std::string ExecutableFolder() override { return kNowhere; }
  bool IsFolderWritable(const std::string&) override { return false; }
  std::string UserDataFolder() override { return kNowhere; }
  bool AppendToFile(const std::string&, const std::string&) override { return false; }
  bool IsExistingFile(const std::string&) override { return false; }

 private:
  static constexpr char kNowhere[] = "/dev/null";
};

}  // namespace quorrel::watch
