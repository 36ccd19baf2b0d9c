#include "platform/qt/QtUpdateTimer.h"

#include <QTimer>
#include <utility>

#include "platform/qt/QtEventQueue.h"

namespace tarvel {

QtUpdateTimer::QtUpdateTimer(int32_t interval) : timer_(std::make_unique<QTimer>()) {
  timer_->setTimerType(Qt::PreciseTimer);
  timer_->setInterval(interval);
  QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { OnTimeout(); });
  timer_->start();
}

QtUpdateTimer::~QtUpdateTimer() = default;

void QtUpdateTimer::SetHandler(std::function<void()> onTimer) {
  onTimer_ = std::move(onTimer);
}

int32_t QtUpdateTimer::Interval() const {
  return timer_->interval();
}

void QtUpdateTimer::SetEnabled(bool enabled) {
  ++generation_;
  tickQueued_ = false;
  if (enabled) {
    timer_->start();
  } else {
    timer_->stop();
  }
}

// Ticks go through the event queue like every other event; a tick that is still waiting there
// (a long handler) is not doubled.
void QtUpdateTimer::OnTimeout() {
  if (tickQueued_) return;
  tickQueued_ = true;
  QtEventQueue::Post(timer_.get(), "timer tick", [this, generation = generation_] {
    if (generation != generation_) return;
    tickQueued_ = false;
    if (onTimer_) onTimer_();
  });
}

}  // namespace tarvel
