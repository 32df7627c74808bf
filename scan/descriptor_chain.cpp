#include "scan/descriptor_chain.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string_view>
#include <thread>

#include "platform/dir_reader.h"
#include "scan/folder_list.h"
#include "scan/record_links.h"

namespace orbelan {
namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// How long a chain waits for others to give descriptors back before it gives a folder up.
constexpr auto kDescriptorPatience = std::chrono::seconds(1);

}  // namespace

DescriptorChain::DescriptorChain(const RecordLinks& links, int startFd, DescriptorPressure& pressure, bool alone)
    : links_(links), startFd_(startFd), pressure_(pressure),
      requestsSeen_(pressure.Requests.load(std::memory_order_relaxed)), alone_(alone) {}

DescriptorChain::~DescriptorChain() { CloseAll(); }

void DescriptorChain::CloseAll() { Truncate(0); }

void DescriptorChain::Truncate(std::size_t depth) {
  while (levels_.size() > depth) {
    if (levels_.back().Fd >= 0) close(levels_.back().Fd);
    levels_.pop_back();
  }
}

std::size_t DescriptorChain::Shed(bool everything) { return Shed(everything, 0); }

void DescriptorChain::GiveBackIfAsked() {
  const std::uint64_t requests = pressure_.Requests.load(std::memory_order_relaxed);
  if (requests == requestsSeen_) return;
  requestsSeen_ = requests;
  CloseAll();
}

std::size_t DescriptorChain::Shed(bool everything, std::size_t spare) {
  // The top stays (everything else is reopened from it), and so do the deepest folder,
  // which the caller is using, and spare, which an open in progress starts from. Of the
  // rest, the shallower half goes unless everything must.
  if (levels_.size() < 3) return 0;
  std::size_t open = 0;
  for (std::size_t d = 1; d + 1 < levels_.size(); ++d) open += levels_[d].Fd >= 0 && d != spare ? 1 : 0;
  const std::size_t toClose = everything ? open : (open + 1) / 2;
  std::size_t closed = 0;
  for (std::size_t d = 1; d + 1 < levels_.size() && closed < toClose; ++d) {
    if (levels_[d].Fd < 0 || d == spare) continue;
    close(levels_[d].Fd);
    levels_[d].Fd = -1;
    ++closed;
  }
  return closed;
}

template <typename Open>
int DescriptorChain::OpenWithRetry(std::size_t spare, Open&& open) {
  const auto deadline = std::chrono::steady_clock::now() + kDescriptorPatience;
  for (;;) {
    const int fd = open();
    if (fd >= 0 || !OutOfDescriptors(errno)) return fd;
    const int error = errno;
    if (Shed(false, spare) > 0) continue;  // ours first
    // Nothing of ours left to give: ask the others, and wait a little for them.
    requestsSeen_ = pressure_.Requests.fetch_add(1, std::memory_order_relaxed) + 1;
    if (alone_ || std::chrono::steady_clock::now() > deadline) {
      errno = error;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void DescriptorChain::AppendNameBelowParent(std::int64_t index, std::string& out) const {
  const RecordLink& link = links_[index];
  const FolderRec& parent = *links_[link.Parent].Rec;
  if (link.Rec->Parent() == &parent) {
    out.append(link.Rec->Name());
    return;
  }
  // A list made elsewhere, whose records hold whole paths: what the two paths differ by.
  const std::string path = link.Rec->Path();
  out.append(path, parent.PathLength(), path.size() - parent.PathLength() - 1);
}

bool DescriptorChain::Reopen(std::size_t depth) {
  std::size_t from = depth;
  while (from > 0 && levels_[from - 1].Fd < 0 && levels_[from - 1].Error == 0) --from;
  if (from == 0 || levels_[from - 1].Fd < 0) {  // the top is never given back
    levels_[depth].Error = ENOENT;
    return false;
  }
  name_.clear();
  for (std::size_t d = from; d <= depth; ++d) {
    if (d > from) name_.push_back('/');
    AppendNameBelowParent(levels_[d].Index, name_);
  }
  const std::string_view relative = name_;
  const int baseFd = levels_[from - 1].Fd;
  const int fd = OpenWithRetry(from - 1, [&] { return OpenFolderBelow(baseFd, relative); });
  if (fd < 0) {
    levels_[depth].Error = errno;
    return false;
  }
  levels_[depth].Fd = fd;
  return true;
}

void DescriptorChain::OpenNext(std::int64_t index) {
  const RecordLink& link = links_[index];
  Level level;
  level.Index = index;
  if (link.Parent < 0) {
    if (index == 0 && startFd_ >= 0) {
      level.Fd = OpenWithRetry(0, [&] { return openat(startFd_, ".", kDirFlags); });
    } else {
      const std::string path = link.Rec->Path();
      DirReader opener(4096);
      level.Fd = OpenWithRetry(0, [&] {
        if (!opener.OpenPath(path)) return -1;
        const int fd = dup(opener.Fd());
        opener.Close();
        return fd;
      });
    }
  } else {
    Level& parent = levels_.back();
    if (parent.Fd < 0 && parent.Error == 0) Reopen(levels_.size() - 1);
    if (parent.Fd < 0) {
      level.Error = parent.Error;  // nothing below a folder that cannot be opened
    } else {
      name_.clear();
      AppendNameBelowParent(index, name_);
      const int parentFd = parent.Fd;
      level.Fd = OpenWithRetry(levels_.size() - 1, [&] {
        // A name is one component, unless the list skipped a level.
        if (name_.find('/') != std::string::npos) return OpenFolderBelow(parentFd, name_);
        return openat(parentFd, name_.c_str(), kDirFlags | O_NOFOLLOW);
      });
    }
  }
  if (level.Fd < 0 && level.Error == 0) level.Error = errno != 0 ? errno : ENOENT;
  levels_.push_back(level);
}

int DescriptorChain::Reach(std::int64_t index) {
  // Others short of descriptors: give back what can be reopened.
  const std::uint64_t requests = pressure_.Requests.load(std::memory_order_relaxed);
  if (requests != requestsSeen_) {
    requestsSeen_ = requests;
    Shed(true);
  }

  // Climb from the record to the first ancestor the chain holds; those below it are new.
  pending_.clear();
  std::int64_t node = index;
  std::size_t keep = 0;
  for (;;) {
    const RecordLink& link = links_[node];
    if (link.Depth < levels_.size() && levels_[link.Depth].Index == node) {
      keep = link.Depth + 1;
      break;
    }
    pending_.push_back(node);
    if (link.Parent < 0) break;
    node = link.Parent;
  }
  Truncate(keep);
  for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) OpenNext(*it);

  Level& last = levels_.back();
  if (last.Fd < 0 && last.Error == 0) Reopen(levels_.size() - 1);
  if (last.Fd < 0) {
    errno = last.Error;
    return -1;
  }
  return last.Fd;
}

}  // namespace orbelan
