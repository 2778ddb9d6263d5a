#include "platform/qt/session_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>

namespace quorrel::qt {
namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Read by the signal handler, which may touch nothing else.
volatile std::sig_atomic_t wakeFd = -1;
SessionEnd* live = nullptr;
struct sigaction previous[std::size(kEndSignals)];

}  // namespace

SessionEnd::SessionEnd(Shutdown shutdown) : shutdown_(std::move(shutdown)) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_.Reset(fds[0]);
    wakeWrite_.Reset(fds[1]);
    notifier_ = std::make_unique<QSocketNotifier>(wakeRead_.Get(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { OnWake(); });
    wakeFd = wakeWrite_.Get();
  }
  live = this;
  // Qt's xcb connection calls exit() when the X server goes away; an exit
  // hook is the last moment at which the log and the settings can be saved.
  static const bool hooked = std::atexit(&SessionEnd::AtExit) == 0;
  (void)hooked;
  struct sigaction action {};
  action.sa_handler = &SessionEnd::OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kEndSignals); ++i)
    ::sigaction(kEndSignals[i], &action, &previous[i]);
}

SessionEnd::~SessionEnd() {
  for (std::size_t i = 0; i < std::size(kEndSignals); ++i)
    ::sigaction(kEndSignals[i], &previous[i], nullptr);
  wakeFd = -1;
  live = nullptr;
}

void SessionEnd::OnSignal(int signal) {
  const int saved = errno;
  const int fd = wakeFd;
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

void SessionEnd::AtExit() {
  // A normal end has run the shutdown already (and cleared `live` with the
  // object); anything else ending the process with the window up is the
  // toolkit giving up on a display that is gone.
  if (live) live->RunShutdown(true);
}

void SessionEnd::OnWake() {
  unsigned char drained[16];
  while (::read(wakeRead_.Get(), drained, sizeof drained) > 0) {
  }
  End();
}

void SessionEnd::RunShutdown(bool displayGone) {
  if (ran_) return;
  ran_ = true;
  if (shutdown_) shutdown_(displayGone);
}

void SessionEnd::End() {
  RunShutdown(false);
  QCoreApplication::exit(0);
}

}  // namespace quorrel::qt
