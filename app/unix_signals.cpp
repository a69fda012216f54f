#include "app/unix_signals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace tavo {

namespace {
int g_pipe[2] = {-1, -1};

void onSignal(int sig) {
  const unsigned char b = static_cast<unsigned char>(sig);
  [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
}
}  // namespace

UnixSignals::UnixSignals(QObject* parent) : QObject(parent) {
  if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0) return;
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    unsigned char b = 0;
    if (::read(g_pipe[0], &b, 1) == 1) emit quitRequested(b);
  });
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
}

UnixSignals::~UnixSignals() {
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGINT, SIG_DFL);
}

}  // namespace tavo
