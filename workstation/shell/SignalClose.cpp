#include "SignalClose.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace arm {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The pipe is the handler's only state; write() is safe in a handler, and a full pipe just drops the
// byte (one is enough to close).
int g_pipe[2] = {-1, -1};

void onSignalHandler(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  if (g_pipe[1] >= 0) (void)!::write(g_pipe[1], &byte, 1);
  errno = saved;
}

void defaultHandling() {
  for (int s : kSignals) ::signal(s, SIG_DFL);
}

}  // namespace

SignalClose::~SignalClose() {
  if (!notifier_) return;
  defaultHandling();
  delete notifier_;
  for (int& fd : g_pipe) {
    ::close(fd);
    fd = -1;
  }
}

bool SignalClose::install(std::function<void(int)> onSignal) {
  if (notifier_) return true;
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return false;
  }
  onSignal_ = std::move(onSignal);
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { readPipe(); });
  struct sigaction sa {};
  sa.sa_handler = onSignalHandler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // the toolkit's own system calls go on as if nothing had happened
  for (int s : kSignals) sigaction(s, &sa, nullptr);
  return true;
}

void SignalClose::readPipe() {
  char bytes[16];
  ssize_t n = 0;
  int first = 0;
  while ((n = ::read(g_pipe[0], bytes, sizeof bytes)) > 0)
    if (first == 0) first = static_cast<unsigned char>(bytes[0]);
  if (first == 0 || handled_) return;
  handled_ = true;
  defaultHandling();
  if (onSignal_) onSignal_(first);
}

const char* SignalClose::name(int signal) {
  switch (signal) {
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    default:
      return "signal";
  }
}

}  // namespace arm
