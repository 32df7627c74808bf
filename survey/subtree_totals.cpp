#include "survey/subtree_totals.h"

#include <algorithm>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>

#include "estimate/disk_saving.h"
#include "estimate/saving_estimate.h"
#include "numbers/saturating_sum.h"
#include "scan/folder_figures.h"

namespace orbelan {
namespace {

void AddCounts(SubtreeFigures& into, const SubtreeFigures& from) {
  into.NFiles += from.NFiles;
  into.NIgno += from.NIgno;
  into.NZips += from.NZips;
  AddSize(into.SzFiles, from.SzFiles);
  AddSize(into.SzIgno, from.SzIgno);
  AddSize(into.SzZips, from.SzZips);
  into.Recent = std::max(into.Recent, from.Recent);
  into.NFolders += from.NFolders;
}

}  // namespace

void SubtreeTotals::Clear() {
  folders_ = nullptr;
  figures_ = {};
  savings_ = {};
  parent_ = {};
  childStart_ = {};
  child_ = {};
  roots_ = {};
  byAddress_ = {};
  linkedAcross_ = {};
  holders_ = {};
  depth_ = {};
}

void SubtreeTotals::Build(const FolderList& folders) {
  Clear();
  folders_ = &folders;
  const auto n = static_cast<std::size_t>(folders.Count());
  if (n >= std::numeric_limits<std::uint32_t>::max()) throw std::length_error("too many folders");
  figures_.resize(n);
  parent_.assign(n, 0);
  byAddress_.reserve(n);

  // Each record's parent: the nearest record before it on the path of folders still open.
  // A record that names its parent hangs from it; one that holds its whole path (the start
  // of a scan, a list made otherwise) hangs from the nearest open folder its path extends.
  struct Open {
    std::uint32_t index;
    std::string path;  // made only when a record holding its whole path needs it
  };
  std::vector<Open> open;
  std::uint32_t index = 0;
  for (const FolderRec& rec : folders) {
    const FolderRec* parent = rec.Parent();
    const std::string path = parent != nullptr ? std::string() : rec.Path();
    while (!open.empty()) {
      Open& above = open.back();
      const FolderRec& aboveRec = folders[above.index];
      if (parent != nullptr) {
        if (&aboveRec == parent) break;
      } else {
        if (above.path.empty()) above.path = aboveRec.Path();
        if (path.size() > above.path.size() && above.path.back() == '/' &&
            path.compare(0, above.path.size(), above.path) == 0)
          break;
      }
      open.pop_back();
    }
    if (!open.empty()) parent_[index] = open.back().index + 1;
    SubtreeFigures& figures = figures_[index];
    static_cast<FolderCounts&>(figures) = rec;
    figures.NFolders = 1;
    byAddress_.emplace_back(&rec, index);
    open.push_back({index, std::string()});
    ++index;
  }

  // Deepest first: every record is added into its parent after everything below it has
  // been added into it.
  for (std::size_t i = n; i-- > 0;) {
    if (parent_[i] != 0) AddCounts(figures_[parent_[i] - 1], figures_[i]);
  }

  // The children of each folder, in scan order, side by side (counted, then placed).
  childStart_.assign(n + 1, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (parent_[i] != 0)
      ++childStart_[parent_[i]];  // counts the children of parent_[i] - 1 one slot on
    else
      roots_.push_back(static_cast<std::uint32_t>(i));
  }
  for (std::size_t i = 1; i <= n; ++i) childStart_[i] += childStart_[i - 1];
  child_.resize(childStart_[n]);
  std::vector<std::uint32_t> fill(childStart_.begin(), childStart_.end() - 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (parent_[i] != 0) child_[fill[parent_[i] - 1]++] = static_cast<std::uint32_t>(i);
  }

  std::sort(byAddress_.begin(), byAddress_.end());
  // Records come parents first, so each depth is known before its children's.
  depth_.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i)
    if (parent_[i] != 0) depth_[i] = depth_[parent_[i] - 1] + 1;
  FindLinksAcross();
}

std::int64_t SubtreeTotals::Common(std::int64_t a, std::int64_t b) const {
  while (a != b && a >= 0 && b >= 0) {
    if (depth_[static_cast<std::size_t>(a)] >= depth_[static_cast<std::size_t>(b)])
      a = static_cast<std::int64_t>(parent_[static_cast<std::size_t>(a)]) - 1;
    else
      b = static_cast<std::int64_t>(parent_[static_cast<std::size_t>(b)]) - 1;
  }
  return a == b ? a : -1;
}

void SubtreeTotals::AddSharedAcross(std::vector<FolderPlace>& places) {
  // An extent two or more folders' files share: held by each folder alone, it may come
  // back once from the smallest subtree holding them all, if nothing outside shares it too,
  // which cannot be asked. Only the high end counts it, as a folder's own copies are counted.
  std::sort(places.begin(), places.end(),
            [](const FolderPlace& a, const FolderPlace& b) { return a.place.Physical < b.place.Physical; });
  for (std::size_t i = 0; i < places.size();) {
    std::size_t j = i;
    std::int64_t within = places[i].folder, longest = 0;
    bool counted = false;
    for (; j < places.size() && places[j].place.Physical == places[i].place.Physical; ++j) {
      within = within < 0 ? -1 : Common(within, places[j].folder);
      longest = std::max(longest, places[j].place.Length);
      counted = counted || places[j].place.Within;
    }
    if (j - i > 1 && within >= 0 && !counted) savings_[static_cast<std::size_t>(within)].AddPossibleGain(longest);
    i = j;
  }
}

void SubtreeTotals::FindLinksAcross() {
  struct Name {
    HeldFile file;
    std::uint32_t folder;
  };
  std::vector<Name> names;
  const std::size_t n = figures_.size();
  for (std::size_t i = 0; i < n; ++i)
    if (const auto& held = (*folders_)[static_cast<std::int64_t>(i)].Disk.HeldFiles)
      for (const HeldFile& file : *held) names.push_back({file, static_cast<std::uint32_t>(i)});
  if (names.empty()) return;
  std::sort(names.begin(), names.end(), [](const Name& a, const Name& b) {
    if (a.file.Device != b.file.Device) return a.file.Device < b.file.Device;
    if (a.file.Inode != b.file.Inode) return a.file.Inode < b.file.Inode;
    return a.folder < b.folder;
  });
  for (std::size_t i = 0; i < names.size();) {
    std::size_t j = i;
    std::uint64_t seen = 0, links = 0;
    std::int64_t within = names[i].folder;
    for (; j < names.size() && names[j].file.Device == names[i].file.Device && names[j].file.Inode == names[i].file.Inode;
         ++j) {
      seen += names[j].file.Names;
      links = std::max(links, names[j].file.Links);
      within = within < 0 ? -1 : Common(within, names[j].folder);
    }
    // A name outside every recorded folder keeps the blocks in every subtree.
    if (seen >= links && within >= 0) {
      linkedAcross_.push_back({static_cast<std::uint32_t>(within), depth_[static_cast<std::size_t>(within)],
                               names[i].file.Allocated, holders_.size(), j - i});
      for (std::size_t k = i; k < j; ++k) holders_.push_back(names[k].folder);
    }
    i = j;
  }
}

void SubtreeTotals::SumSavings(const EstimateOf& estimateOf) {
  const std::size_t n = figures_.size();
  savings_.assign(n, SavingSum{});
  std::vector<FolderPlace> places;  // the shared extents of every folder, for AddSharedAcross
  for (std::size_t i = 0; i < n; ++i) {
    const FolderRec& rec = (*folders_)[static_cast<std::int64_t>(i)];
    const SavingEstimate* known = estimateOf(rec);
    savings_[i].AddFolder(known, UnzippedBytes(rec));
    if (known != nullptr && known->Known && known->SharedPlaces)
      for (const SharedPlace& p : *known->SharedPlaces) places.push_back({p, static_cast<std::uint32_t>(i)});
  }
  // A file held by each folder alone but given back by a subtree. From the smallest
  // subtree holding all its names up, the blocks count once, and the folders holding its
  // names count as parts of one zip: their figures may go below nothing there (a folder whose
  // names keep their blocks still adds their copies to the archive), where each folder
  // alone is held at nothing. Worked out step by step from the deepest such subtree, each
  // step adding to its subtree what it changes in its folders' figures.
  struct Part {
    const SavingEstimate* estimate = nullptr;
    std::int64_t freed = 0;   // held blocks given back from here up
    bool whole = false;       // part of a larger zip: below nothing allowed
    SavingEstimate figures;   // as they stand
  };
  std::map<std::uint32_t, Part> parts;
  std::vector<std::size_t> order(linkedAcross_.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return linkedAcross_[a].Depth > linkedAcross_[b].Depth; });
  auto figure = [&](std::uint32_t folder, Part& part) {
    const FolderRec& rec = (*folders_)[folder];
    DiskUse use = rec.Disk;
    use.Held = std::max<std::int64_t>(0, rec.Disk.Held - part.freed);
    part.figures = *part.estimate;
    AddDiskFigures(use, part.figures, part.whole);
  };
  for (const std::size_t k : order) {
    const LinkedAcross& linked = linkedAcross_[k];
    std::int64_t before = 0, beforeLow = 0, beforeHigh = 0, after = 0, afterLow = 0, afterHigh = 0;
    bool given = false;
    for (std::size_t h = linked.Holders; h < linked.Holders + linked.HolderCount; ++h) {
      const std::uint32_t folder = holders_[h];
      const SavingEstimate* known = estimateOf((*folders_)[folder]);
      if (known == nullptr || !known->Known) continue;  // the subtree's figure is incomplete anyway
      auto [at, made] = parts.try_emplace(folder);
      Part& part = at->second;
      if (made) {
        part.estimate = known;
        figure(folder, part);
      }
      AddSize(before, part.figures.Disk);
      AddSize(beforeLow, part.figures.DiskLow);
      AddSize(beforeHigh, part.figures.DiskHigh);
      part.whole = true;
      if (!given) AddSize(part.freed, linked.Allocated);  // its blocks, once
      given = true;
      figure(folder, part);
      AddSize(after, part.figures.Disk);
      AddSize(afterLow, part.figures.DiskLow);
      AddSize(afterHigh, part.figures.DiskHigh);
    }
    if (given) savings_[linked.Within].AddDiskChange(after - before, afterLow - beforeLow, afterHigh - beforeHigh);
  }
  AddSharedAcross(places);
  for (std::size_t i = n; i-- > 0;) {
    if (parent_[i] != 0) savings_[parent_[i] - 1].Add(savings_[i]);
  }
}

std::int64_t SubtreeTotals::IndexOf(const FolderRec& rec) const {
  const auto found = std::lower_bound(
      byAddress_.begin(), byAddress_.end(), &rec,
      [](const std::pair<const FolderRec*, std::uint32_t>& entry, const FolderRec* key) {
        return std::less<const FolderRec*>()(entry.first, key);
      });
  if (found == byAddress_.end() || found->first != &rec) return kNone;
  return found->second;
}

const SubtreeFigures* SubtreeTotals::Of(const FolderRec& rec) const {
  const std::int64_t index = IndexOf(rec);
  return index == kNone ? nullptr : &Figures(index);
}

const SavingSum* SubtreeTotals::SavingOf(const FolderRec& rec) const {
  const std::int64_t index = IndexOf(rec);
  return index == kNone ? nullptr : SavingOf(index);
}

std::int64_t SubtreeTotals::Parent(std::int64_t index) const {
  const std::uint32_t parent = parent_[static_cast<std::size_t>(index)];
  return parent == 0 ? kNone : static_cast<std::int64_t>(parent) - 1;
}

std::span<const std::uint32_t> SubtreeTotals::Children(std::int64_t index) const {
  const auto i = static_cast<std::size_t>(index);
  return std::span<const std::uint32_t>(child_.data() + childStart_[i], childStart_[i + 1] - childStart_[i]);
}

}  // namespace orbelan
