#pragma once
// Phase 2 on worker threads: each worker takes runs of consecutive records (so its chain of
// descriptors moves little), counts their files into them and marks them finished. Records
// may be handed over while phase 1 still finds them. The scan's own thread stays in charge:
// it reads how many records are finished, pauses the workers while the user is asked about a
// cancel, and stops them; a worker looks at that after every directory entry.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fsfacts/disk_use.h"
#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "scan/file_draws.h"
#include "scan/folder_figures.h"
#include "scan/folder_list.h"
#include "scan/listing_handoff.h"
#include "scan/scan_rules.h"

namespace orbelan {

class DescriptorChain;
class RecordLinks;
struct DescriptorPressure;

// Counts the files of the folder open at fd (the caller's) into rec. stop() is asked after
// every entry; true ends the count there. False when stopped. With a drawer that is on, the
// record also gets its draws (or none) when the count completes. With listed (the folder's
// entries as read a moment before, scan/listing_handoff.h) the folder is not read again.
template <typename Stop>
bool CountFolderFiles(DirReader& reader, int fd, FolderRec& rec, const ScanRules& rules,
                      LocalDayClock& clock, Stop&& stop, FileDrawer* drawer = nullptr,
                      const std::string* listed = nullptr) {
  reader.ReadFrom(fd);
  std::optional<FolderEntries::Cursor> cursor;
  if (listed != nullptr) cursor.emplace(*listed);
  DirEntry entry;
  EntryStat stat;
  bool stopped = false;
  const bool drawing = drawer != nullptr && drawer->On();
  if (drawing) drawer->Begin();
  DiskTally disk;
  while (cursor ? cursor->Next(entry) : reader.Next(entry)) {
    if (!entry.Hidden() && !entry.TypeIsDirectory() && reader.Stat(entry.Name, stat) &&
        stat.Kind != EntryKind::Directory) {
      const bool unzipped =
          TallyFile(rec, entry.NameView(), stat.Size, clock.DayNumber(stat.Modified), rules);
      if (unzipped && stat.Kind == EntryKind::File)
        disk.Add(entry.NameView(), stat.Size, stat.Allocated, stat.Inode, stat.Links, stat.BlockSize,
                 stat.Device);
      if (drawing && unzipped) {
        if (stat.Kind == EntryKind::File)
          drawer->Offer(entry.NameView(), stat.Size, stat.Allocated);
        else
          drawer->Other(stat.Size);
      }
    }
    if (stop()) {
      stopped = true;
      break;
    }
  }
  reader.Close();
  if (drawing && !stopped) rec.Draws = drawer->Finish();
  if (!stopped) rec.Disk = disk.Finish();
  return !stopped;
}

class CountingCrew {
 public:
  // startFd: the scan's start folder (record 0), or -1 to open records without a parent by
  // their path. Starts the threads at once; they wait for records.
  // draws: which folders get files drawn for the saving estimate (none by default).
  // handoff: the folders' entries as phase 1 read them, where it offers them (or null).
  CountingCrew(const RecordLinks& links, const ScanRules& rules, int startFd,
               DescriptorPressure& pressure, int threads, const FileDrawLimits& draws = {},
               ListingHandoff* handoff = nullptr);
  ~CountingCrew();  // stops and joins
  CountingCrew(const CountingCrew&) = delete;
  CountingCrew& operator=(const CountingCrew&) = delete;

  // Records below count may be counted (their links and paths are written).
  void Publish(std::int64_t count);
  // No more records will come; count is the final total.
  void Close(std::int64_t count);

  void Pause();   // workers wait after their current entry
  void Resume();
  void Stop();    // workers end after their current entry; Join waits for them
  void Join();

  std::int64_t Finished() const { return finished_.load(std::memory_order_acquire); }
  // No worker is counting: each is paused, waiting for records, or done.
  bool AtRest() const { return busy_.load() == 0; }
  // Waits until every record is finished, the crew stopped, or the time is up.
  void WaitForProgress(std::chrono::milliseconds timeout);
  // Records that could not be opened for want of descriptors, by path.
  std::vector<std::string> TakeUnscanned();

 private:
  enum State { kRun, kPause, kStop };
  void Work(LocalDayClock& clock);
  // Waits for records; chain (the worker's) gives its descriptors back while it waits if
  // asked, since the walk that would publish more may be waiting for them.
  bool TakeRun(std::int64_t& from, std::int64_t& to, DescriptorChain& chain);
  bool Interrupted();  // after an entry: waits out a pause; true when told to stop
  bool AllDone() const;

  const RecordLinks& links_;
  const ScanRules rules_;  // the workers' own copy, read by all of them
  int startFd_;
  DescriptorPressure& pressure_;
  int threadCount_;
  FileDrawLimits draws_;
  ListingHandoff* handoff_;

  std::mutex mutex_;
  std::condition_variable wake_;      // workers: records, resume or stop
  std::condition_variable progress_;  // the scan's thread: all finished or stopped
  std::atomic<int> state_{kRun};
  std::atomic<std::int64_t> published_{0};
  std::atomic<std::int64_t> finished_{0};
  std::atomic<int> waiting_{0};
  std::atomic<int> busy_{0};  // workers outside every wait
  std::int64_t next_ = 0;     // guarded by mutex_
  std::int64_t total_ = -1;   // guarded by mutex_; -1 while phase 1 runs
  std::int64_t notified_ = 0; // publisher only
  std::vector<std::string> unscanned_;  // guarded by mutex_
  std::vector<LocalDayClock> clocks_;  // one per worker
  std::vector<std::thread> threads_;
};

}  // namespace orbelan
