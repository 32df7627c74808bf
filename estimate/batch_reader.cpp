// Reading the starts of a folder's files in batches (estimate/batch_reader.h).

#include "estimate/batch_reader.h"

#include <fcntl.h>
#include <liburing.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "estimate/saving_io.h"

namespace orbelan::saving {
namespace {

// OpenForReading's flags; O_CLOEXEC has no meaning for a slot of the ring's table (and is
// refused there).
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

// Whether this process can use a ring: unknown until a thread first tries, then settled for
// every thread.
enum RingState { kUntried, kWorks, kFails };
std::atomic<int> gRingState{kUntried};
std::atomic<bool> gAllowed{true};
// A child made by fork shares its parent's rings: it sets up rings of its own.
std::atomic<unsigned> gForkGeneration{0};
std::once_flag gAtFork;

// What tells an operation apart in its completion: the file's index and the step.
enum Step : std::uint64_t { kOpen = 0, kRead = 1, kClose = 2 };
std::uint64_t Tag(std::size_t index, Step step) { return (static_cast<std::uint64_t>(index) << 2) | step; }

// Errors a plain open or read of a listed file can give that tell something about the file;
// any other one (EINVAL, EAGAIN, ECANCELED...) may be the ring's own, and the file is done
// again with plain calls.
bool FileSaysSo(int error) {
  switch (error) {
    case ENOENT: case EACCES: case EPERM: case ELOOP: case ENOTDIR: case EISDIR:
    case ENXIO: case ENODEV: case ETXTBSY: case EIO: case EOVERFLOW: case ENAMETOOLONG:
      return true;
    default:
      return false;
  }
}

// Rings are set up and closed one at a time. A thread's ring is closed when the thread
// ends, and the kernel may give its addresses to the ring the next thread sets up; liburing
// maps and unmaps rings with system calls of its own, which the thread sanitizer does not
// see, so without this order it takes the two rings for one memory shared without a lock.
std::mutex gRingMapping;

int OpenRing(io_uring& ring, io_uring_params& params) {
  const std::lock_guard<std::mutex> hold(gRingMapping);
  return io_uring_queue_init_params(4 * BatchReader::kMaxFiles, &ring, &params);
}

void CloseRing(io_uring& ring) {
  const std::lock_guard<std::mutex> hold(gRingMapping);
  io_uring_queue_exit(&ring);
}

void ReadPlain(int dirFd, BatchReader::File& file, bool* noAtimeRefused) {
  const int fd = OpenForReading(dirFd, file.name, noAtimeRefused);
  file.got = fd >= 0 ? ReadOnce(fd, file.bytes.data(), file.want, 0) : -1;
  if (fd >= 0) close(fd);
}

}  // namespace

struct BatchReader::Ring {
  io_uring ring{};
  std::vector<int> errors, retryErrors;  // of the last batch: errno of each file, 0 if read
  bool broken = false;
};

namespace {

// Buffers the kernel may still write into once the ring has failed: given up for good.
void Abandon(ByteBuffer& bytes) {
  static std::mutex lock;
  static std::vector<ByteBuffer>* abandoned = new std::vector<ByteBuffer>;
  const std::lock_guard<std::mutex> hold(lock);
  abandoned->push_back(std::move(bytes));
  bytes = {};
}

}  // namespace

BatchReader::BatchReader() = default;

BatchReader::~BatchReader() {
  CloseWaiting();
  if (ring_ != nullptr) CloseRing(ring_->ring);
  delete ring_;
}

bool BatchReader::Setup() {
  // A fork waits for a ring being set up or closed, so that the child is not left with the
  // lock held by a thread it does not have.
  std::call_once(gAtFork, [] {
    pthread_atfork([] { gRingMapping.lock(); }, [] { gRingMapping.unlock(); },
                   [] {
                     gRingMapping.unlock();
                     gForkGeneration.fetch_add(1);
                   });
  });
  auto fail = [this] {
    if (ring_ != nullptr) CloseRing(ring_->ring);
    delete ring_;
    ring_ = nullptr;
    return false;
  };
  ring_ = new Ring;
  io_uring_params params{};
  // One thread submits and reaps, and only when it waits: the cheapest way where the kernel
  // knows it (6.1), the plain ring where it does not.
  params.flags = IORING_SETUP_SUBMIT_ALL | IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN;
  if (OpenRing(ring_->ring, params) < 0) {
    params = {};
    if (OpenRing(ring_->ring, params) < 0) {
      delete ring_;
      ring_ = nullptr;
      return false;
    }
  }
  if (io_uring_register_files_sparse(&ring_->ring, kMaxFiles) < 0) return fail();
  // A trial on a file every system has: opened into a slot, read and closed there.
  File trial;
  trial.name = "/dev/null";
  trial.want = 1;
  trial.bytes.resize(1);
  std::vector<int> unused;
  if (!ReadThroughRing(AT_FDCWD, &trial, 1, false, unused) || trial.got != 0) return fail();
  return true;
}

bool BatchReader::Batching() { return gAllowed.load(std::memory_order_relaxed) && Ready(); }

bool BatchReader::Ready() {
  const unsigned generation = gForkGeneration.load(std::memory_order_relaxed);
  if (ring_ != nullptr && generation_ != generation) {
    CloseWaiting();  // the child's copies
    CloseRing(ring_->ring);  // the child's own mapping of its parent's ring
    delete ring_;
    ring_ = nullptr;
    tried_ = false;
  }
  if (!tried_) {
    tried_ = true;
    generation_ = generation;
    if (gRingState.load() != kFails) gRingState.store(Setup() ? kWorks : kFails);
  }
  return ring_ != nullptr && !ring_->broken;
}

// Each file: opened into slot i, linked to a read of that slot (a file that fails to open is
// not read), hard-linked to the slot's close (a file read short or not at all is closed
// still). False when the ring failed as a whole; the files it did not do then have got -1.
bool BatchReader::ReadThroughRing(int dirFd, File* files, std::size_t count, bool noAtime,
                                  std::vector<int>& errors) {
  errors.assign(count, ECANCELED);
  const std::size_t closing = laterCount_;
  if (!QueueThroughRing(dirFd, files, count, noAtime)) return false;
  return ReapFromRing(files, count, static_cast<unsigned>(3 * count + closing), errors);
}

// Queues the closes that wait, then each file's open, read and close; false when the ring
// has no room (it cannot be: it holds four a file and kMaxLater more).
bool BatchReader::QueueThroughRing(int dirFd, File* files, std::size_t count, bool noAtime) {
  io_uring& ring = ring_->ring;
  const std::size_t closing = laterCount_;
  // The descriptors waiting to be closed go first, unlinked; their completions are not
  // looked at (tagged past the files). Once taken by the ring they are its: a ring that
  // fails after that leaves them open rather than risk closing a number used again.
  for (std::size_t j = 0; j < closing; ++j) {
    io_uring_sqe* shut = io_uring_get_sqe(&ring);
    if (shut == nullptr) {  // cannot be: the ring holds four a file and kMaxLater more
      ring_->broken = true;
      return false;
    }
    io_uring_prep_close(shut, later_[j]);
    io_uring_sqe_set_data64(shut, Tag(kMaxFiles + j, kClose));
  }
  laterCount_ = 0;
  for (std::size_t i = 0; i < count; ++i) {
    File& f = files[i];
    f.got = -1;
    const auto slot = static_cast<unsigned>(i);
    io_uring_sqe* open = io_uring_get_sqe(&ring);
    io_uring_sqe* read = io_uring_get_sqe(&ring);
    io_uring_sqe* shut = io_uring_get_sqe(&ring);
    if (open == nullptr || read == nullptr || shut == nullptr) {  // cannot be: the ring holds four a file
      ring_->broken = true;
      return false;
    }
    io_uring_prep_openat_direct(open, dirFd, f.name, kOpenFlags | (noAtime ? O_NOATIME : 0), 0, slot);
    open->flags |= IOSQE_IO_LINK;
    io_uring_sqe_set_data64(open, Tag(i, kOpen));
    io_uring_prep_read(read, static_cast<int>(slot), f.bytes.data(), static_cast<unsigned>(f.want), 0);
    read->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
    io_uring_sqe_set_data64(read, Tag(i, kRead));
    io_uring_prep_close_direct(shut, slot);
    io_uring_sqe_set_data64(shut, Tag(i, kClose));
  }
  return true;
}

// Submits what was queued, expected operations in all, and takes their completions: each
// file's got and error. False when the ring failed as a whole.
bool BatchReader::ReapFromRing(File* files, std::size_t count, unsigned expected, std::vector<int>& errors) {
  io_uring& ring = ring_->ring;
  int submitted = 0;
  for (;;) {
    const int n = io_uring_submit_and_wait(&ring, expected);
    if (n >= 0) submitted += n;
    if (io_uring_sq_ready(&ring) == 0) break;
    if (n < 0 && n != -EINTR && n != -EAGAIN && n != -EBUSY) {
      // What was not taken is never submitted now: the ring is not used again.
      ring_->broken = true;
      break;
    }
  }
  for (int seen = 0; seen < submitted;) {
    io_uring_cqe* cqe = nullptr;
    const int w = io_uring_wait_cqe(&ring, &cqe);
    if (w == -EINTR || w == -EAGAIN) continue;
    if (w < 0) {  // reads may still land in these buffers: they are given up
      for (std::size_t i = 0; i < count; ++i) {
        Abandon(files[i].bytes);
        files[i].bytes.resize(static_cast<std::size_t>(files[i].want));
        files[i].got = -1;
        errors[i] = ECANCELED;
      }
      ring_->broken = true;
      return false;
    }
    const std::uint64_t tag = io_uring_cqe_get_data64(cqe);
    const std::size_t i = static_cast<std::size_t>(tag >> 2);
    const int res = cqe->res;
    io_uring_cqe_seen(&ring, cqe);
    ++seen;
    if (i >= count) continue;
    switch (static_cast<Step>(tag & 3)) {
      case kOpen:
        if (res < 0) errors[i] = -res;
        break;
      case kRead:  // cancelled when the open failed: its error stands
        if (res >= 0) {
          files[i].got = res;
          errors[i] = 0;
        } else if (res != -ECANCELED) {
          errors[i] = -res;
        }
        break;
      case kClose:
        break;
    }
  }
  return !ring_->broken;
}

void BatchReader::Read(int dirFd, File* files, std::size_t count, bool* noAtimeRefused) {
  count = std::min(count, kMaxFiles);
  for (std::size_t i = 0; i < count; ++i) {
    files[i].got = -1;
    files[i].want = std::max<std::int64_t>(files[i].want, 0);
    if (files[i].bytes.size() < static_cast<std::size_t>(files[i].want))
      files[i].bytes.resize(static_cast<std::size_t>(files[i].want));
  }
  if (!Batching()) {
    for (std::size_t i = 0; i < count; ++i) ReadPlain(dirFd, files[i], noAtimeRefused);
    return;
  }
  std::vector<int>& errors = ring_->errors;
  const bool noAtime = noAtimeRefused == nullptr || !*noAtimeRefused;
  const auto start = std::chrono::steady_clock::now();
  ReadThroughRing(dirFd, files, count, noAtime, errors);
  const auto perFile = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count() /
                       static_cast<std::int64_t>(std::max<std::size_t>(count, 1));
  limit_ = static_cast<std::size_t>(std::clamp<std::int64_t>(kBatchTimeNs / std::max<std::int64_t>(perFile, 1), 1,
                                                               static_cast<std::int64_t>(kMaxFiles)));
  // O_NOATIME refused: the files are not the user's. Once more without it, as
  // OpenForReading does, and not asked for again in this folder.
  std::array<File*, kMaxFiles> again{};
  std::size_t refused = 0;
  for (std::size_t i = 0; i < count; ++i)
    if (noAtime && files[i].got < 0 && errors[i] == EPERM) again[refused++] = &files[i];
  if (refused > 0) {
    if (noAtimeRefused != nullptr) *noAtimeRefused = true;
    std::array<File, kMaxFiles> retry;
    for (std::size_t j = 0; j < refused; ++j) {
      retry[j].name = again[j]->name;
      retry[j].want = again[j]->want;
      retry[j].bytes.swap(again[j]->bytes);
    }
    std::vector<int>& retryErrors = ring_->retryErrors;
    retryErrors.clear();
    if (!ring_->broken) ReadThroughRing(dirFd, retry.data(), refused, false, retryErrors);
    for (std::size_t j = 0; j < refused; ++j) {
      again[j]->bytes.swap(retry[j].bytes);
      again[j]->got = retry[j].got;
      const auto i = static_cast<std::size_t>(again[j] - files);
      errors[i] = retryErrors.empty() ? ECANCELED : retryErrors[j];
    }
  }
  for (std::size_t i = 0; i < count; ++i)
    if (files[i].got < 0 && !FileSaysSo(errors[i])) ReadPlain(dirFd, files[i], noAtimeRefused);
}

void BatchReader::CloseLater(int fd) {
  if (fd < 0) return;
  if (laterCount_ == kMaxLater || !Batching()) {
    close(fd);
    return;
  }
  later_[laterCount_++] = fd;
}

void BatchReader::CloseWaiting() {
  for (std::size_t j = 0; j < laterCount_; ++j) close(later_[j]);
  laterCount_ = 0;
}

BatchReader& ThreadBatchReader() {
  thread_local BatchReader reader;
  return reader;
}

void AllowBatchReading(bool allow) { gAllowed.store(allow); }

bool BatchReadingWorks() { return ThreadBatchReader().Ready(); }

}  // namespace orbelan::saving
