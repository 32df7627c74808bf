#pragma once
// The main window's splash timer (Timer1): half a second after it is created it shows the
// splash, three seconds later it hides it and stops for good.

#include <QObject>
#include <QTimer>

namespace orbelan {

class TfrmSplash;

class SplashTimer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kShowAfterMs = 500;
  static constexpr int kHideAfterMs = 3000;

  // Starts at once; the splash must outlive this timer (both live for the whole run).
  SplashTimer(TfrmSplash* splash, QObject* parent = nullptr);

  QTimer& Timer1() { return timer_; }

  // One tick: the first shows the splash and re-arms for the hide, the second hides it.
  void Timer1Timer();

 private:
  QTimer timer_;
  TfrmSplash* splash_;
};

}  // namespace orbelan
