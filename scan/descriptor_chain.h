#pragma once
// Reaches recorded folders one after another without walking their whole paths: the chain
// keeps the descriptors of the last folder reached and its ancestors, so that the next record
// (records come depth-first) costs only the components it does not share with the last one.
// Every component is opened relative to its parent, never following a link, so a folder
// swapped for a link during the scan leads nowhere outside the tree.
//
// When the process runs out of descriptors, the chain closes ancestors it can reopen later
// (relative to the nearest one still open) instead of giving the folder up.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace orbelan {

class RecordLinks;

// Shared by every chain and walk of one scan: one that cannot get a descriptor asks the
// others to give back what they can reopen.
struct DescriptorPressure {
  std::atomic<std::uint64_t> Requests{0};
};

class DescriptorChain {
 public:
  // startFd: the folder of record 0 (the scan's start), opened again from it; -1 when
  // records without a parent are to be opened by their path.
  // alone: no other chain shares the pressure, so nobody can give a descriptor back and a
  // folder that cannot be opened is given up at once.
  DescriptorChain(const RecordLinks& links, int startFd, DescriptorPressure& pressure, bool alone = false);
  ~DescriptorChain();
  DescriptorChain(const DescriptorChain&) = delete;
  DescriptorChain& operator=(const DescriptorChain&) = delete;

  // The folder of the record at index, open and owned by the chain until the next call;
  // -1 with errno when it cannot be opened (an errno of OutOfDescriptors only when no
  // descriptor could be had even after every one that can be given back was).
  int Reach(std::int64_t index);
  // Closes every descriptor that can be reopened later; the number closed.
  std::size_t Shed(bool everything);
  // For a chain with nothing to reach at present: closes every descriptor if others have
  // asked for some since the chain last looked. Until then, an idle chain holds a whole
  // path's worth that the walk finding new records may need.
  void GiveBackIfAsked();
  void CloseAll();

 private:
  struct Level {
    std::int64_t Index = -1;
    int Fd = -1;       // -1 when failed or given back
    int Error = 0;     // why it failed; 0 when it was given back and can be reopened
  };

  void Truncate(std::size_t depth);
  void OpenNext(std::int64_t index);
  bool Reopen(std::size_t depth);
  // The record's path below its parent's, without the trailing "/": its name, unless the
  // list skipped a level.
  void AppendNameBelowParent(std::int64_t index, std::string& out) const;
  std::size_t Shed(bool everything, std::size_t spare);
  // Retries open until it succeeds or fails for a reason other than descriptors.
  template <typename Open>
  int OpenWithRetry(std::size_t spare, Open&& open);

  const RecordLinks& links_;
  int startFd_;
  DescriptorPressure& pressure_;
  std::uint64_t requestsSeen_ = 0;
  bool alone_ = false;
  std::vector<Level> levels_;  // by depth
  std::vector<std::int64_t> pending_;
  std::string name_;
};

}  // namespace orbelan
