// Which mounts compress and which share extents, from /proc/self/mountinfo
// (fsfacts/mount_facts.h).

#include "fsfacts/mount_facts.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>

namespace orbelan {
namespace {

// The mountinfo fields escape spaces and such as octal; options never need unescaping here.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    if (end > at) out.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

// How often, at most, the mount table is asked whether it changed.
constexpr int kMountLookPeriodMs = 20;

struct MountTable {
  std::mutex mutex;
  std::vector<MountEntry> mounts;
  std::vector<std::pair<std::uint64_t, MountFacts>> known;  // by device, as found
  int watch = -1;  // /proc/self/mountinfo kept open: poll tells when a mount came or went
  std::chrono::steady_clock::time_point looked{};

  // Forgets what it knows when the mounts changed since it last looked (a device number
  // freed by an unmount is soon given to the next mount). Asked at most every few
  // milliseconds: a run of thousands of folders would otherwise pay a system call for each,
  // and a mount made or unmade takes longer than that anyway.
  void ForgetIfChanged() {
    if (watch < 0) watch = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (watch < 0) {
      known.clear();  // cannot tell: look again every time
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - looked < std::chrono::milliseconds(kMountLookPeriodMs) && looked != decltype(looked){}) return;
    looked = now;
    struct pollfd p {watch, POLLPRI, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)) != 0) known.clear();
  }

  void Reread() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    mounts = ParseMounts(text.str());
  }
};

MountTable& Table() {
  static MountTable table;
  return table;
}

}  // namespace

bool SharesExtents(std::string_view fsType) {
  return fsType == "btrfs" || fsType == "xfs" || fsType == "bcachefs" || fsType == "ocfs2";
}

std::vector<MountEntry> ParseMounts(std::string_view mountinfo) {
  std::vector<MountEntry> out;
  std::size_t at = 0;
  while (at < mountinfo.size()) {
    const std::size_t end = std::min(mountinfo.find('\n', at), mountinfo.size());
    const std::vector<std::string_view> f = Fields(mountinfo.substr(at, end - at));
    at = end + 1;
    // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    const auto dash = std::find(f.begin(), f.end(), std::string_view("-"));
    if (f.size() < 6 || dash == f.end() || f.end() - dash < 4) continue;
    const std::string_view dev = f[2];
    const std::size_t colon = dev.find(':');
    if (colon == std::string_view::npos) continue;
    unsigned major = 0, minor = 0;
    for (char c : dev.substr(0, colon)) major = major * 10 + static_cast<unsigned>(c - '0');
    for (char c : dev.substr(colon + 1)) minor = minor * 10 + static_cast<unsigned>(c - '0');
    MountEntry m;
    m.Device = makedev(major, minor);
    // Octal escapes (\040 for a blank) decoded.
    const std::string_view point = f[4];
    for (std::size_t i = 0; i < point.size(); ++i) {
      if (point[i] == '\\' && i + 3 < point.size() &&
          point.substr(i + 1, 3).find_first_not_of("01234567") == std::string_view::npos) {
        m.Point.push_back(static_cast<char>((point[i + 1] - '0') * 64 + (point[i + 2] - '0') * 8 + (point[i + 3] - '0')));
        i += 3;
      } else {
        m.Point.push_back(point[i]);
      }
    }
    m.Facts.Compression = CompressionFromOptions(dash[1], dash[3]);
    m.Facts.SharesExtents = SharesExtents(dash[1]);
    out.push_back(m);
  }
  return out;
}

MountFacts MountFactsOfFolder(std::uint64_t device, std::string_view path) {
  MountTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.ForgetIfChanged();
  for (const auto& [dev, facts] : table.known) {
    if (dev == device) return facts;
  }
  table.Reread();
  const MountEntry* found = nullptr;
  // The last mount of a device is the one on top.
  for (const MountEntry& m : table.mounts) {
    if (m.Device == device) found = &m;
  }
  if (found == nullptr) {
    std::size_t longest = 0;
    for (const MountEntry& m : table.mounts) {
      const std::string_view point = m.Point;
      const bool below = path.substr(0, point.size()) == point &&
                         (point.size() == path.size() || point == "/" || path[point.size()] == '/');
      if (below && point.size() >= longest) {
        longest = point.size();
        found = &m;
      }
    }
  }
  const MountFacts facts = found != nullptr ? found->Facts : MountFacts{};
  table.known.emplace_back(device, facts);
  return facts;
}

}  // namespace orbelan
