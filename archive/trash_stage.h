#pragma once
// The zipper's last stage: the originals, each proved to be the file that was read and
// idle, go to the trash in batches. A batch's records are written and made durable at once
// (one sync of the file system), then its files move one by one from the descriptors of
// their folders; the moves are made durable at the end. After a kill, or a crash on a
// journaling file system, at any moment every original is in its folder, or in files/ with
// a durable record that restores it; a record left without its file (a kill or crash before
// its move) is removed by the next plan or run (trash_orphans.h). A cancel is seen between
// files: those moved stay in the trash, the rest in place. No Qt.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "archive/folder_zipper.h"
#include "platform/trash_at.h"

namespace orbelan {

struct TrashStage {
  const ZipPlan& Plan;
  int FolderFd;  // the plan's folder, as the archive was read from it
  FolderTrash& Trash;
  const ZipOptions& Options;
  const std::atomic<bool>& Cancel;
  std::atomic<std::int64_t>& Done;
  unsigned char* Buffer;
  std::size_t BufferSize;
  // Filled: the subtree's folders (relative, without "/") that gave a file to the trash,
  // and the members that went.
  std::set<std::string> TrashedFrom;
  std::vector<const ZipMember*> Trashed;

  // Moves every member it can; the outcome of each goes into result.
  void Run(ZipResult& result);

 private:
  struct Progress;  // what is left to move, and the change times the moves gave
  struct Batch;     // the members taken at once, their claims and folders

  void TakeBatch(Progress& progress, Batch& taken, ZipResult& result);
  bool MakeClaimsDurable(Batch& taken, ZipResult& result);
  std::size_t MoveBatch(Progress& progress, Batch& taken);
  void CheckUnleased(Progress& progress, Batch& taken, std::size_t moved);
  void SettleBatch(Progress& progress, Batch& taken, std::size_t moved, ZipResult& result);
};

// Members a batch takes at most: each holds its record open until it has moved.
std::size_t TrashBatchSize();

}  // namespace orbelan
