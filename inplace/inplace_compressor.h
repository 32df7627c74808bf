#pragma once
// Compress in place on btrfs: a folder's files rewritten compressed by the file system
// itself, file by file, through the defragment ioctl; they stay where they are and open as
// before. The folder's compression property is set so that files written later are
// compressed too. Undo clears it and rewrites the files uncompressed. Nothing is deleted
// or renamed: the kernel writes the new extents before it lets go of the old ones, so a
// kill at any moment leaves every file whole, and a rerun carries on where it stopped.
// No Qt: the window runs this on a worker thread and reads the progress it publishes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "inplace/fs_usage.h"
#include "inplace/inplace_plan.h"

namespace orbelan {

enum class InplaceStage : int { Listing, Rewriting, Flushing };

enum class InplaceOutcome {
  Done,       // every file planned was tried; see the result for those skipped or failed
  Refused,    // a precondition failed; nothing was changed
  Cancelled,  // stopped on request between files (or ranges); the files done stay done
};

struct InplaceResult {
  InplaceOutcome Outcome = InplaceOutcome::Done;
  std::string Message;  // why it was refused
  std::int64_t Rewritten = 0, RewrittenBytes = 0;  // files rewritten whole, their sizes
  // Compressing: rewritten files whose data did not shrink, so btrfs keeps it as it was.
  std::vector<std::string> NotShrunk;
  // Each with its cause: left alone, and tried but failed (partly rewritten files are whole).
  std::vector<std::pair<std::string, std::string>> Skipped, Failed;
  FsUsage Before, After;
  // Folders whose compression property could not be set (or cleared), with the cause.
  std::vector<std::pair<std::string, std::string>> PropertyFailed;
  std::string Property;  // the value set ("zstd:3"), empty when undoing
  bool LevelRefused = false;  // the kernel took no level: its default (3) was used
};

struct InplaceOptions {
  int Level = 3;               // zstd's, 1 to 15
  bool IncludeShared = false;  // rewrite files with shared extents too, at the stated cost
  // Free bytes for the user on the file system of fd; nullopt when unknown. Default:
  // statvfs. Tests report little space through it.
  std::function<std::optional<std::int64_t>(int fd)> FreeSpace;
  // Test seam: called on the worker before each file is rewritten.
  std::function<void(const InplaceFile& file)> BeforeRewrite;
  // Bytes rewritten by one request; cancel is looked at between requests.
  std::int64_t RangeBytes = 16 << 20;
};

// Which files of a folder a plan takes: its name's bytes (the command line takes the files
// a scan counts as unzipped); all regular files without one.
using InplaceNameFilter = std::function<bool(std::string_view name)>;

struct RewriteWay;
struct RewriteSupport;

class InplaceCompressor {
 public:
  explicit InplaceCompressor(InplaceOptions options);

  // Lists and classifies the folder's own regular files that wanted accepts (undo: all of
  // them that hold compressed extents). Refused unless the folder is a real folder on a
  // writable btrfs mount; undo also when the free space is short of what decompressing
  // needs. A refusal carries its message and nothing was changed.
  InplaceResult Plan(const std::string& folderPath, InplaceMode mode, const InplaceNameFilter& wanted,
                     InplacePlan& plan);
  // The same for the folder and the subfolders given (real paths ending in "/" below it, as
  // a scan records them), each opened below the folder without following a link; one on
  // another file system is left out with everything below it, and named.
  InplaceResult PlanSubtree(const std::string& folderPath, const std::vector<std::string>& subfolders,
                            InplaceMode mode, const InplaceNameFilter& wanted, InplacePlan& plan);

  // Sets (or clears) the folders' compression property and rewrites each file that is still
  // the one planned and still eligible; measures the file system's usage before and after.
  InplaceResult Run(const InplacePlan& plan);

  // Set from any thread; honoured between files and between ranges of a large file.
  std::atomic<bool> CancelRequested{false};
  // Published for a progress bar: the stage, and bytes done of total.
  std::atomic<int> Stage{static_cast<int>(InplaceStage::Listing)};
  std::atomic<std::int64_t> Done{0};
  std::atomic<std::int64_t> Total{0};

  // The free space undo needs for a plan: every compressed byte stored again whole, and a
  // margin for the metadata.
  static std::int64_t SpaceNeeded(const InplacePlan& plan);

 private:
  InplaceResult Open(const std::string& folderPath, InplaceMode mode, InplacePlan& plan, int& topFd);
  void ListFolder(int dirFd, std::size_t folder, const InplaceNameFilter& wanted, InplacePlan& plan);
  InplaceResult Finish(InplacePlan& plan, int topFd);
  void RewriteFolder(const InplacePlan& plan, std::size_t f, std::size_t begin, std::size_t next, int topFd,
                     const RewriteWay& way, RewriteSupport& support, InplaceResult& result,
                     std::vector<const InplaceFile*>& rewritten);
  void RewriteFile(const InplacePlan& plan, std::size_t f, const InplaceFile& file, int dirFd, const RewriteWay& way,
                   RewriteSupport& support, InplaceResult& result, std::vector<const InplaceFile*>& rewritten);
  void CheckRewritten(const InplacePlan& plan, int topFd, const std::vector<const InplaceFile*>& rewritten,
                      InplaceResult& result);

  InplaceOptions options_;
  std::set<std::pair<std::uint64_t, std::uint64_t>> seen_;  // files listed, by device and inode
};

}  // namespace orbelan
