#pragma once
// The longest time the event loop went without turning, measured by a timer that asks to
// run every millisecond: a tick that comes late tells how long the loop was held up.

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace orbelan::testing {

class EventLoopGapMeter {
 public:
  EventLoopGapMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      longestNs_ = std::max(longestNs_, now - lastNs_);
      lastNs_ = now;
      ++ticks_;
    });
  }
  void Start() {
    clock_.start();
    lastNs_ = 0;
    longestNs_ = 0;
    ticks_ = 0;
    timer_.start();
  }
  void Stop() { timer_.stop(); }
  double LongestMs() const { return static_cast<double>(longestNs_) / 1e6; }
  long Ticks() const { return ticks_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 lastNs_ = 0, longestNs_ = 0;
  long ticks_ = 0;
};

}  // namespace orbelan::testing
