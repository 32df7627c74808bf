#pragma once
// The window's scans run in the background: a test that starts one waits for its end (the
// busy state over, its results listed) with the event loop turning, as a user would.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <string>

#include "app/main_form.h"

namespace orbelan::testing {

// False (and a warning) when the scan has not ended in time.
inline bool WaitForScan(TForm1& form, int milliseconds = 60000) {
  QElapsedTimer clock;
  clock.start();
  // A loop that sleeps between looks: a busy wait would take a core from the scan.
  QEventLoop loop;
  QTimer look;
  look.setInterval(2);
  QObject::connect(&look, &QTimer::timeout, &loop, [&] {
    if (!form.IsBusy() || clock.elapsed() >= milliseconds) loop.quit();
  });
  look.start();
  if (form.IsBusy()) loop.exec();
  if (form.IsBusy()) qWarning("the scan did not end within %d ms", milliseconds);
  return !form.IsBusy();
}

inline bool ScanAndWait(TForm1& form, const std::string& path) {
  form.ScanPath(path);
  return WaitForScan(form);
}

}  // namespace orbelan::testing
