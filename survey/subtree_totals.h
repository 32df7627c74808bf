#pragma once
// Each folder of a scan with everything below it: the subtree figures (the folder's own
// counts added up with those of every recorded folder below it), and the tree itself
// (parent and children of each record) for the views that walk it.
//
// Built in one pass over the records after the scan, with no second walk of the disk and no
// recursion: records come depth-first, each folder before its subfolders, so every record's
// parent stands before it, and adding each record into its parent from the last record to
// the first leaves every folder holding its whole subtree. Folders the minimum-size rule
// leaves out of the list still count in their parents' totals; ignored and hidden folders
// have no record and so stay out, as in the scan.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fsfacts/folder_extents.h"
#include "scan/folder_list.h"
#include "survey/saving_sum.h"

namespace orbelan {

struct SavingEstimate;

struct SubtreeFigures : FolderCounts {
  std::int64_t NFolders = 0;  // the folder and every recorded folder below it
};

class SubtreeTotals {
 public:
  static constexpr std::int64_t kNone = -1;

  // The figures and the tree of folders' records; the list must outlive the totals and not
  // change while they are used (build them again after it does).
  void Build(const FolderList& folders);
  void Clear();
  bool Empty() const { return figures_.empty(); }

  // Adds up the folders' saving estimates over each subtree; estimateOf gives a record's
  // estimate or nullptr when it has none. Cheap enough to run again as estimates arrive.
  // A file with names in several folders, held by each folder alone, gives its blocks back
  // once in the smallest subtree that holds every one of its names, and in those above it.
  using EstimateOf = std::function<const SavingEstimate*(const FolderRec&)>;
  void SumSavings(const EstimateOf& estimateOf);
  bool HasSavings() const { return !savings_.empty(); }

  // Records by their index in the list (scan order).
  std::int64_t Size() const { return static_cast<std::int64_t>(figures_.size()); }
  const FolderRec& Record(std::int64_t index) const { return (*folders_)[index]; }
  // The index of rec in the list, or kNone when it is not one of its records.
  std::int64_t IndexOf(const FolderRec& rec) const;

  const SubtreeFigures& Figures(std::int64_t index) const {
    return figures_[static_cast<std::size_t>(index)];
  }
  // The subtree figures of rec, or nullptr when it is not one of the list's records.
  const SubtreeFigures* Of(const FolderRec& rec) const;
  // The subtree's saving (SumSavings first; nullptr before).
  const SavingSum* SavingOf(std::int64_t index) const {
    return savings_.empty() ? nullptr : &savings_[static_cast<std::size_t>(index)];
  }
  const SavingSum* SavingOf(const FolderRec& rec) const;

  // The folder holding index's folder, or kNone for a folder at the top (the start).
  std::int64_t Parent(std::int64_t index) const;
  // The folders directly below, in scan order.
  std::span<const std::uint32_t> Children(std::int64_t index) const;
  // The folders at the top: the start folder of a scan (more only for lists made otherwise).
  const std::vector<std::uint32_t>& Roots() const { return roots_; }

 private:
  const FolderList* folders_ = nullptr;
  std::vector<SubtreeFigures> figures_;
  std::vector<SavingSum> savings_;
  std::vector<std::uint32_t> parent_;       // index + 1; 0 for none
  std::vector<std::uint32_t> childStart_;   // Children(i) = child_[childStart_[i] .. childStart_[i + 1])
  std::vector<std::uint32_t> child_;
  std::vector<std::uint32_t> roots_;
  std::vector<std::pair<const FolderRec*, std::uint32_t>> byAddress_;  // sorted, for IndexOf
  std::vector<std::uint32_t> depth_;        // 0 at the top
  // The smallest subtree holding both folders, or -1 when they share no top.
  std::int64_t Common(std::int64_t a, std::int64_t b) const;
  struct FolderPlace {
    SharedPlace place;
    std::uint32_t folder;
  };
  void AddSharedAcross(std::vector<FolderPlace>& places);

  // A hard-linked file whose names all lie in the subtree of Within but in no smaller one:
  // from there up, one of the folders holding its names no longer counts it as held.
  struct LinkedAcross {
    std::uint32_t Within;
    std::uint32_t Depth;  // of Within
    std::int64_t Allocated;
    std::size_t Holders;  // its folders: holders_[Holders .. Holders + HolderCount)
    std::size_t HolderCount;
  };
  std::vector<LinkedAcross> linkedAcross_;
  std::vector<std::uint32_t> holders_;
  void FindLinksAcross();
};

}  // namespace orbelan
