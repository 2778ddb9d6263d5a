#pragma once
// The program's end, however it is asked for: the close box and the tray menu
// go through the window; SIGTERM, SIGHUP and SIGINT (logout, poweroff, a
// closed terminal, Ctrl+C) and the session manager's logout come here. Each
// runs the window's shutdown once, on the window's thread, and ends the
// program with status 0.
#include <QObject>
#include <functional>
#include <memory>

#include "platform/posix/unique_fd.h"

class QSocketNotifier;

namespace quorrel::qt {

class SessionEnd {
 public:
  // `shutdown` runs at most once. `displayGone` is true when the toolkit is
  // ending the process itself (the X server went away): then only what needs
  // no display may be done.
  using Shutdown = std::function<void(bool displayGone)>;

  // One at a time: the signal handlers and the exit hook reach the live one.
  explicit SessionEnd(Shutdown shutdown);
  ~SessionEnd();
  SessionEnd(const SessionEnd&) = delete;
  SessionEnd& operator=(const SessionEnd&) = delete;

  // Runs the shutdown (unless it ran) and leaves the event loop with status 0.
  void End();
  // Runs the shutdown unless it ran; the caller ends the program.
  void RunShutdown(bool displayGone);
  bool ShutdownRan() const { return ran_; }

 private:
  static void OnSignal(int signal);
  static void AtExit();
  void OnWake();

  Shutdown shutdown_;
  bool ran_ = false;
  posix::UniqueFd wakeRead_;
  posix::UniqueFd wakeWrite_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quorrel::qt
