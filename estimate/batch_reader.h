#pragma once
// Opening, reading the start of and closing several files of one folder in one go. Most
// folders of a real tree hold a few small files, and on some machines every system call is
// dear (under a hypervisor, entering the kernel costs more than reading a 4 KiB file): three
// calls a file (open, read, close) made one call for up to kMaxFiles files. Through io_uring
// where the kernel lets this process use it: each file opened into a slot of the ring's own
// descriptor table, read from that slot and closed there, linked so that a file that fails
// to open is neither read nor closed. Where the ring cannot be set up (an old kernel, a
// container or sysctl that forbids io_uring), plain calls, chosen once. Internal to the
// estimate.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "estimate/byte_buffer.h"

namespace orbelan::saving {

class BatchReader {
 public:
  static constexpr std::size_t kMaxFiles = 16;

  struct File {
    const char* name = nullptr;  // in: NUL-terminated, inside the folder
    std::int64_t want = 0;       // in: bytes to read from its start
    std::int64_t got = -1;       // out: bytes read (fewer: the file is shorter); -1 when it
                                 // could not be opened or read
    ByteBuffer bytes;  // out: got bytes of it (at least want long); a caller may swap it
                       // for a buffer of its own
  };

  BatchReader();
  ~BatchReader();
  BatchReader(const BatchReader&) = delete;
  BatchReader& operator=(const BatchReader&) = delete;

  // Whether Read batches: the ring is set up and batching is allowed (AllowBatchReading).
  // A caller that does not batch reads its files one by one as before.
  bool Batching();
  // Whether the ring is set up (it is tried once a thread, and not again once it failed).
  bool Ready();

  // How many files the next batch should take: as many as the last batch read in
  // kBatchTime, within [1, kMaxFiles]. A batch is waited for whole and a stop is seen only
  // between batches, so on a cold disk or a slow network file system (milliseconds a file)
  // batches shrink to a file or two, as plain calls read them; a few at first.
  static constexpr std::int64_t kBatchTimeNs = 20'000'000;
  std::size_t Limit() const { return limit_; }

  // The reader's own files, whose buffers are kept from batch to batch.
  File* Files() { return files_; }

  // Opens files[0..count) (count <= kMaxFiles) of the folder dirFd as OpenForReading does
  // (without following a link, never blocking, O_NOATIME until it is refused: noAtimeRefused
  // as there), reads each once at offset 0 (up to want bytes) and closes it. Files the ring
  // cannot do are done with plain calls, so the results never differ from theirs.
  void Read(int dirFd, File* files, std::size_t count, bool* noAtimeRefused);

  // Closes fd (the caller's no longer) along with the next batch, not with a call of its
  // own: a folder whose files were just read has its close ride on the next folder's
  // reads. At once where the reader does not batch or kMaxLater already wait; those left
  // are closed by CloseWaiting, or when the reader goes.
  static constexpr std::size_t kMaxLater = 4;
  void CloseLater(int fd);
  // Closes at once, with plain calls, the descriptors that wait (a run that ends: none is
  // held open past it).
  void CloseWaiting();

 private:
  struct Ring;
  bool Setup();
  bool ReadThroughRing(int dirFd, File* files, std::size_t count, bool noAtime, std::vector<int>& errors);
  bool QueueThroughRing(int dirFd, File* files, std::size_t count, bool noAtime);
  bool ReapFromRing(File* files, std::size_t count, unsigned expected, std::vector<int>& errors);
  Ring* ring_ = nullptr;
  int later_[kMaxLater] = {};
  std::size_t laterCount_ = 0;
  File files_[kMaxFiles];
  unsigned generation_ = 0;  // the fork generation the ring was set up in
  bool tried_ = false;
  std::size_t limit_ = 4;
};

// The calling thread's reader (one ring per thread: a ring is not shared between threads).
BatchReader& ThreadBatchReader();

// Whether readers batch at all where the ring works (true at first): tests compare both ways.
void AllowBatchReading(bool allow);
// Whether this process can batch: a ring could be set up and passes a trial read.
bool BatchReadingWorks();

}  // namespace orbelan::saving
