#include "archive/member_links.h"

#include <algorithm>

#include "numbers/saturating_sum.h"

namespace orbelan {
namespace {

// A member's blocks that no other file or snapshot shares.
std::int64_t Own(const ZipMember& m) {
  return std::max<std::int64_t>(m.Allocated - std::clamp<std::int64_t>(m.Shared, 0, m.Allocated), 0);
}

// Of those, what the file system's compression already spares.
std::int64_t Spared(const ZipMember& m) { return std::clamp<std::int64_t>(m.FsSaved, 0, Own(m)); }

// What a member's file gives back once it goes: its own blocks as the file system stores them.
std::int64_t Unshared(const ZipMember& m) { return Own(m) - Spared(m); }

}  // namespace

LinkTally TallyLinks(const std::vector<const ZipMember*>& members) {
  LinkTally tally;
  std::vector<const ZipMember*> linked;
  for (const ZipMember* m : members) {
    if (m->Links > 1) {
      linked.push_back(m);
    } else {
      AddSize(tally.Allocated, Unshared(*m));
      AddSize(tally.Shared, std::max<std::int64_t>(m->Shared, 0));
      AddSize(tally.FsSaved, Spared(*m));
    }
  }
  std::sort(linked.begin(), linked.end(), [](const ZipMember* a, const ZipMember* b) {
    return a->Device != b->Device ? a->Device < b->Device : a->Inode < b->Inode;
  });
  for (std::size_t i = 0; i < linked.size();) {
    std::size_t j = i;
    std::uint64_t links = 0;
    std::int64_t allocated = 0, shared = 0, spared = 0;
    for (; j < linked.size() && linked[j]->Device == linked[i]->Device && linked[j]->Inode == linked[i]->Inode; ++j) {
      links = std::max(links, linked[j]->Links);
      allocated = std::max(allocated, Unshared(*linked[j]));
      shared = std::max(shared, linked[j]->Shared);
      spared = std::max(spared, Spared(*linked[j]));
    }
    const std::int64_t names = static_cast<std::int64_t>(j - i);
    if (static_cast<std::uint64_t>(names) >= links) {
      AddSize(tally.Allocated, allocated);
      AddSize(tally.Shared, shared);
      AddSize(tally.FsSaved, spared);
      tally.Together += names;
    } else {
      tally.Elsewhere += names;
    }
    i = j;
  }
  return tally;
}

LinkTally TallyLinks(const std::vector<ZipMember>& members) {
  std::vector<const ZipMember*> all;
  all.reserve(members.size());
  for (const ZipMember& m : members) all.push_back(&m);
  return TallyLinks(all);
}

}  // namespace orbelan
