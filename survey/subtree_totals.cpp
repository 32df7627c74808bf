#include "survey/subtree_totals.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "survey/figures.h"

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
}

void SubtreeTotals::SumSavings(const EstimateOf& estimateOf) {
  const std::size_t n = figures_.size();
  savings_.assign(n, SavingSum{});
  for (std::size_t i = 0; i < n; ++i) {
    const FolderRec& rec = (*folders_)[static_cast<std::int64_t>(i)];
    savings_[i].AddFolder(estimateOf(rec), UnzippedBytes(rec));
  }
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
