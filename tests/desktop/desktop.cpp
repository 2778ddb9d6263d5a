#include "desktop.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "window/layout.h"

namespace quorrel::desktop {

int Sh(const std::string& command) {
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string ShOut(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    std::array<char, 512> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(50);
  }
  return true;
}

TempDir::TempDir() {
  QByteArray pattern = QDir::tempPath().toUtf8() + "/quorrel-desktop-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = QString::fromUtf8(pattern);
}

TempDir::~TempDir() { QDir(path_).removeRecursively(); }

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("cannot write");
  f.write(bytes);
}

Child::Child(const QString& program, const QStringList& args, const QStringList& environment) {
  process_.setProgram(program);
  process_.setArguments(args);
  process_.setEnvironment(environment);
  process_.start();
  if (!process_.waitForStarted(10000))
    throw std::runtime_error("cannot start " + program.toStdString());
}

Child::~Child() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

int Child::WaitExit(int timeoutMs) {
  if (!process_.waitForFinished(timeoutMs)) return -1;
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

VirtualDisplay::VirtualDisplay(const char* screen) {
  // A display number nobody holds: neither a lock file nor a socket.
  for (int n = 140 + ::getpid() % 40; n < 400; ++n) {
    if (QFile::exists(QString("/tmp/.X%1-lock").arg(n)) ||
        QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
      continue;
    name_ = QString(":%1").arg(n);
    break;
  }
  server_ = std::make_unique<Child>(
      "Xvfb", QStringList{name_, "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
      QProcess::systemEnvironment());
  if (!WaitFor([this] { return X("xdpyinfo") == 0 || X("xdotool getdisplaygeometry") == 0; },
               15000))
    throw std::runtime_error("Xvfb did not come up");
}

VirtualDisplay::~VirtualDisplay() { Kill(); }

int VirtualDisplay::X(const std::string& command) const {
  return Sh("DISPLAY=" + name_.toStdString() + " " + command);
}

std::string VirtualDisplay::XOut(const std::string& command) const {
  return ShOut("DISPLAY=" + name_.toStdString() + " " + command);
}

void VirtualDisplay::Kill() {
  if (!server_) return;
  server_->Process().terminate();
  server_->WaitExit(5000);
  server_.reset();
}

SessionBus::SessionBus() {
  const QString socket = dir_.File("bus");
  address_ = "unix:path=" + socket;
  daemon_ = std::make_unique<Child>(
      "dbus-daemon", QStringList{"--session", "--nofork", "--nopidfile", "--address=" + address_},
      QProcess::systemEnvironment());
  if (!WaitFor([&socket] { return QFile::exists(socket); }, 10000))
    throw std::runtime_error("dbus-daemon did not come up");
}

SessionBus::~SessionBus() = default;

LoopbackNamespace::LoopbackNamespace() {
  name_ = "qdesk" + std::to_string(::getpid());
  if (Sh("ip netns add " + name_) != 0 || Sh("ip netns exec " + name_ + " ip link set lo up") != 0)
    throw std::runtime_error("cannot make network namespace " + name_);
}

LoopbackNamespace::~LoopbackNamespace() { Sh("ip netns del " + name_); }

void LoopbackNamespace::DropEchoes() {
  const std::string nft = "ip netns exec " + name_ + " nft ";
  if (Sh(nft + "add table inet qdrop") != 0 ||
      Sh(nft + "'add chain inet qdrop out { type filter hook output priority 0; }'") != 0 ||
      Sh(nft + "add rule inet qdrop out icmp type echo-request drop") != 0)
    throw std::runtime_error("cannot add the drop rule");
}

void PrepareSettings(const TempDir& folder) {
  WriteFile(folder.File("Settings.ini"),
            "[Options]\r\nIP=127.0.0.1\r\nInterval=0\r\nSave log on exit=1\r\n");
}

Program::Program(const TempDir& folder, const VirtualDisplay& display, const QStringList& extraEnv,
                 const std::string& netns)
    : display_(display) {
  const QString binary = folder.File("quorrel");
  QFile::remove(binary);
  if (!QFile::copy(QUORREL_BINARY, binary)) throw std::runtime_error("cannot copy the program");
  ::chmod(binary.toUtf8().constData(), 0755);
  QStringList env = QProcess::systemEnvironment();
  env.removeIf([](const QString& v) {
    return v.startsWith("DISPLAY=") || v.startsWith("QT_") || v.startsWith("DBUS_SESSION");
  });
  env << "DISPLAY=" + display.Name() << "QT_QPA_PLATFORM=xcb" << "HOME=" + folder.Path()
      << "XDG_RUNTIME_DIR=" + folder.Path();
  env << extraEnv;
  for (const QString& v : extraEnv)
    if (v.startsWith("QT_SCALE_FACTOR=")) scale_ = v.mid(16).toDouble();
  if (netns.empty()) {
    child_ = std::make_unique<Child>(binary, QStringList{}, env);
  } else {
    child_ = std::make_unique<Child>(
        "ip", QStringList{"netns", "exec", QString::fromStdString(netns), binary}, env);
  }
}

Program::~Program() = default;

std::string Program::WaitWindow(int timeoutMs) {
  WaitFor(
      [this] {
        window_ = display_.XOut("xdotool search --onlyvisible --name '^Quorrel by Vandrel$'");
        const auto nl = window_.find('\n');
        if (nl != std::string::npos) window_.resize(nl);
        return !window_.empty();
      },
      timeoutMs);
  // Let the widgets settle before the first click.
  if (!window_.empty()) QThread::msleep(300);
  return window_;
}

bool Program::WindowVisible() {
  return !display_.XOut("xdotool search --onlyvisible --name '^Quorrel by Vandrel$'").empty();
}

void Program::ClickTwips(int x, int y) {
  const int px = static_cast<int>(x / 15.0 * scale_);
  const int py = static_cast<int>(y / 15.0 * scale_);
  display_.X("xdotool mousemove --window " + window_ + " " + std::to_string(px) + " " +
             std::to_string(py) + " click 1");
}

void Program::ClickControl(const char* name) {
  const TwipsRect& r = LayoutOf(name).rect;
  ClickTwips(r.left + r.width / 2, r.top + r.height / 2);
}

bool HaveTools(const char* const* tools, std::size_t n, std::string* missing) {
  for (std::size_t i = 0; i < n; ++i)
    if (Sh(std::string("command -v ") + tools[i]) != 0) {
      *missing = tools[i];
      return false;
    }
  return true;
}

}  // namespace quorrel::desktop
