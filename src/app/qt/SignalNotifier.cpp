#include "app/qt/SignalNotifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <utility>

namespace tarvel {

namespace {

int signalWriteFd = -1;

void WriteSignal(int signalNumber) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  // A full pipe already holds a signal still to be handled; dropping this one loses nothing.
  [[maybe_unused]] const ssize_t written = ::write(signalWriteFd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

SignalNotifier::SignalNotifier(std::function<void(StopSignal)> onSignal)
    : onSignal_(std::move(onSignal)) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  readFd_ = fds[0];
  signalWriteFd = fds[1];
  notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadSignals(); });

  struct sigaction action {};
  action.sa_handler = WriteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signalNumber, &action, nullptr);
}

SignalNotifier::~SignalNotifier() {
  for (int signalNumber : {SIGTERM, SIGHUP, SIGINT}) std::signal(signalNumber, SIG_DFL);
  notifier_.reset();
  if (readFd_ >= 0) ::close(readFd_);
  if (signalWriteFd >= 0) ::close(signalWriteFd);
  signalWriteFd = -1;
}

void SignalNotifier::ReadSignals() {
  unsigned char byte = 0;
  while (::read(readFd_, &byte, 1) == 1) {
    if (!onSignal_) continue;
    if (byte == SIGTERM) {
      onSignal_(StopSignal::Terminate);
    } else if (byte == SIGHUP) {
      onSignal_(StopSignal::HangUp);
    } else {
      onSignal_(StopSignal::Interrupt);
    }
  }
}

}  // namespace tarvel
