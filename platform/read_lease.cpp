#include "platform/read_lease.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <mutex>

namespace orbelan {

void IgnoreLeaseBreakSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      ::sigemptyset(&ignore.sa_mask);
      ::sigaction(SIGIO, &ignore, nullptr);
    }
  });
}

LeaseState TakeReadLease(int fd) {
  IgnoreLeaseBreakSignal();
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) return LeaseState::Held;
  return errno == EAGAIN ? LeaseState::Writers : LeaseState::Unknown;
}

bool LeaseStillHeld(int fd) { return ::fcntl(fd, F_GETLEASE) == F_RDLCK; }

void DropLease(int fd) { ::fcntl(fd, F_SETLEASE, F_UNLCK); }

}  // namespace orbelan
