#pragma once
// Real desktop parts for the tests: a virtual X display, a private session
// bus, the program itself copied into a folder of its own, and a network
// namespace for it so that a ping can be made to fail without touching any
// other host.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

namespace quorrel::desktop {

// Runs a shell command, output discarded; returns its exit status.
int Sh(const std::string& command);
// Runs a shell command and returns what it printed (trimmed).
std::string ShOut(const std::string& command);

// Polls `done` (running the Qt events in between) until it holds or
// `timeoutMs` passes; returns whether it held.
bool WaitFor(const std::function<bool()>& done, int timeoutMs);

// A temporary folder, removed with what it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const QString& Path() const { return path_; }
  QString File(const QString& name) const { return path_ + "/" + name; }

 private:
  QString path_;
};

QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& bytes);

// A process the test started; killed and reaped when the object goes.
class Child {
 public:
  Child(const QString& program, const QStringList& args, const QStringList& environment);
  ~Child();
  QProcess& Process() { return process_; }
  qint64 Pid() const { return process_.processId(); }
  // Waits for the end; returns the exit status, or -1 for a crash or timeout.
  int WaitExit(int timeoutMs);
  QByteArray Output() { return process_.readAllStandardOutput() + process_.readAllStandardError(); }

 private:
  QProcess process_;
};

// Xvfb on a free display number.
class VirtualDisplay {
 public:
  explicit VirtualDisplay(const char* screen = "1024x768x24");
  ~VirtualDisplay();
  const QString& Name() const { return name_; }  // ":143"
  // Runs a command with DISPLAY set; returns its exit status.
  int X(const std::string& command) const;
  std::string XOut(const std::string& command) const;
  // Ends the server, as when the display goes away under a program.
  void Kill();

 private:
  QString name_;
  std::unique_ptr<Child> server_;
};

// dbus-daemon --session listening on a socket in its own folder.
class SessionBus {
 public:
  SessionBus();
  ~SessionBus();
  const QString& Address() const { return address_; }

 private:
  TempDir dir_;
  QString address_;
  std::unique_ptr<Child> daemon_;
};

// A network namespace with loopback up; ICMP echo requests can be dropped in
// it so that a ping of 127.0.0.1 fails.
class LoopbackNamespace {
 public:
  LoopbackNamespace();
  ~LoopbackNamespace();
  const std::string& Name() const { return name_; }
  void DropEchoes();

 private:
  std::string name_;
};

// The real program, copied into its own writable folder with a prepared
// Settings.ini beside it, on the given display.
class Program {
 public:
  Program(const TempDir& folder, const VirtualDisplay& display, const QStringList& extraEnv,
          const std::string& netns = {});
  ~Program();
  Child& Process() { return *child_; }
  // The main window's X id once it is mapped, 0 when it did not appear.
  std::string WaitWindow(int timeoutMs = 15000);
  bool WindowVisible();
  // Clicks at a point of the window given in twips of the control table.
  void ClickTwips(int x, int y);
  void ClickControl(const char* name);
  double Scale() const { return scale_; }

 private:
  const VirtualDisplay& display_;
  std::unique_ptr<Child> child_;
  std::string window_;
  double scale_ = 1.0;
};

// Writes the prepared Settings.ini: destination 127.0.0.1, a ping every tick
// and "Save log on exit" set; "Changes only" and "Fix path" are left out so
// that the shutdown's writing of all five shows.
void PrepareSettings(const TempDir& folder);

// True when the tools these tests drive are installed.
bool HaveTools(const char* const* tools, std::size_t n, std::string* missing);

}  // namespace quorrel::desktop
