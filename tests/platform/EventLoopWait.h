#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace tarvel::test {

// Runs the event loop for a while: to show that something does NOT happen.
inline void RunEventsFor(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop in short slices until done() holds or the time is up; returns done().
template <typename Done>
bool WaitUntil(Done done, int timeoutMs = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    RunEventsFor(5);
  }
  return true;
}

}  // namespace tarvel::test
