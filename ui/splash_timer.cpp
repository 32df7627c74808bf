#include "ui/splash_timer.h"

#include "ui/splash_window.h"

namespace orbelan {

SplashTimer::SplashTimer(TfrmSplash* splash, QObject* parent)
    : QObject(parent), timer_(this), splash_(splash) {
  timer_.setObjectName("Timer1");
  timer_.setInterval(kShowAfterMs);
  connect(&timer_, &QTimer::timeout, this, &SplashTimer::Timer1Timer);
  timer_.start();
}

void SplashTimer::Timer1Timer() {
  if (timer_.interval() == kShowAfterMs) {
    timer_.start(kHideAfterMs);  // the count starts again from now
    splash_->show();
  } else if (timer_.interval() == kHideAfterMs) {
    timer_.stop();
    splash_->hide();  // a splash the user closed early just stays hidden
  }
}

}  // namespace orbelan
