#include "survey/path_order.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "scan/folder_list.h"

namespace orbelan {
namespace {

unsigned char LowerByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// Compares name a + "/" with name b + "/", lower-cased, as unsigned bytes: the order in which
// everything below the two sibling folders sorts. Names hold no "/".
int CompareNames(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char ca = LowerByte(a[i]);
    const unsigned char cb = LowerByte(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  const unsigned char ca = a.size() > common ? LowerByte(a[common]) : '/';
  const unsigned char cb = b.size() > common ? LowerByte(b[common]) : '/';
  return ca < cb ? -1 : 1;  // never equal: one of them is "/", which no name holds
}

}  // namespace

bool PathOrderFromTree(const FolderList& folders, const std::vector<ResultRow>& rows,
                       std::vector<std::size_t>& order) {
  const std::size_t n = static_cast<std::size_t>(folders.Count());
  if (n == 0 || n > UINT32_MAX) return false;
  constexpr std::uint32_t kNone = UINT32_MAX;

  // Each record's parent, by index, from the depth-first order (a stack of the open
  // ancestors, as the scan had them), and its row, if it has one.
  std::vector<std::uint32_t> parentOf(n, kNone);
  std::vector<std::uint32_t> rowOf(n, kNone);
  std::vector<std::pair<const FolderRec*, std::uint32_t>> above;
  std::size_t nextRow = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const FolderRec& rec = folders[static_cast<std::int64_t>(i)];
    if (i == 0) {
      // The start: its path whole, ending in "/", so blanks trimmed off the front of the
      // Path column's text touch only the part every path shares.
      if (rec.Parent() != nullptr || rec.Name().empty() || rec.Name().back() != '/') return false;
    } else {
      if (rec.Parent() == nullptr || rec.Name().empty() ||
          rec.Name().find('/') != std::string::npos)
        return false;
      while (!above.empty() && above.back().first != rec.Parent()) above.pop_back();
      if (above.empty()) return false;
      parentOf[i] = above.back().second;
    }
    above.emplace_back(&rec, static_cast<std::uint32_t>(i));
    if (nextRow < rows.size() && rows[nextRow].Rec == &rec) rowOf[i] = static_cast<std::uint32_t>(nextRow++);
  }
  if (nextRow != rows.size()) return false;  // rows not made from this list in scan order

  // Every record's subfolders, side by side: first[p]..first[p + 1] in children.
  std::vector<std::uint32_t> first(n + 1, 0);
  for (std::size_t i = 1; i < n; ++i) ++first[parentOf[i] + 1];
  for (std::size_t p = 0; p < n; ++p) first[p + 1] += first[p];
  std::vector<std::uint32_t> children(n > 0 ? n - 1 : 0);
  {
    std::vector<std::uint32_t> at(first.begin(), first.end() - 1);
    for (std::size_t i = 1; i < n; ++i) children[at[parentOf[i]]++] = static_cast<std::uint32_t>(i);
  }
  auto nameOf = [&](std::uint32_t i) -> std::string_view {
    return folders[static_cast<std::int64_t>(i)].Name();
  };
  for (std::size_t p = 0; p < n; ++p) {
    const auto begin = children.begin() + first[p];
    const auto end = children.begin() + first[p + 1];
    if (end - begin < 2) continue;
    std::sort(begin, end, [&](std::uint32_t a, std::uint32_t b) {
      return CompareNames(nameOf(a), nameOf(b)) < 0;
    });
    for (auto it = begin + 1; it != end; ++it)
      if (CompareNames(nameOf(*(it - 1)), nameOf(*it)) == 0) return false;
  }

  // Each folder, then its subfolders' subtrees in turn; without recursion, for depth.
  std::vector<std::size_t> sorted;
  sorted.reserve(rows.size());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> walk{{0, first[0]}};  // folder, next child
  if (rowOf[0] != kNone) sorted.push_back(rowOf[0]);
  while (!walk.empty()) {
    auto& [folder, next] = walk.back();
    if (next == first[folder + 1]) {
      walk.pop_back();
      continue;
    }
    const std::uint32_t child = children[next++];
    if (rowOf[child] != kNone) sorted.push_back(rowOf[child]);
    walk.emplace_back(child, first[child]);
  }
  order = std::move(sorted);
  return true;
}

}  // namespace orbelan
