#include "platform/pseudo_fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/dir_reader.h"
#include "scan_tree_fixture.h"
#include "scan/scan_rules.h"
#include "scan/folder_list.h"
#include "scan/scanner.h"

namespace orbelan {
namespace {

using testing::TempTree;

TEST(MountInfo, ParsesPointsTypesAndDevicesWithEscapes) {
  const std::string text =
      "22 1 0:21 / /sys rw,nosuid shared:7 - sysfs sysfs rw\n"
      "23 1 0:5 / /dev rw master:2 - devtmpfs udev rw,size=100k\n"
      "40 22 8:1 /x /mnt/with\\040blank\\011tab\\134back rw - ext4 /dev/sda1 rw\n"
      "malformed line\n"
      "41 22 259:3 / /no/tags rw - tmpfs tmpfs rw";
  const auto entries = ParseMountInfo(text);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].Point, "/sys");
  EXPECT_EQ(entries[0].Type, "sysfs");
  EXPECT_EQ(entries[1].Type, "devtmpfs");
  EXPECT_EQ(entries[1].Device, static_cast<std::uint64_t>(makedev(0, 5)));
  EXPECT_EQ(entries[2].Point, "/mnt/with blank\ttab\\back");
  EXPECT_EQ(entries[2].Device, static_cast<std::uint64_t>(makedev(8, 1)));
  EXPECT_EQ(entries[3].Point, "/no/tags");
  EXPECT_EQ(entries[3].Device, static_cast<std::uint64_t>(makedev(259, 3)));
}

TEST(PseudoFsDetector, TellsKernelFileSystemsFromOrdinaryFolders) {
  PseudoFsDetector detector;
  TempTree tree;
  DirReader reader;
  ASSERT_TRUE(reader.OpenPath(tree.Root()));
  EXPECT_FALSE(detector.IsPseudo(reader.Fd()));

  for (const char* path : {"/proc", "/sys"}) {
    struct statfs fs;
    if (statfs(path, &fs) != 0) continue;
    if (fs.f_type != 0x9fa0 && fs.f_type != 0x62656572) continue;  // not mounted here
    ASSERT_TRUE(reader.OpenPath(path));
    EXPECT_TRUE(detector.IsPseudo(reader.Fd())) << path;
  }

  // devtmpfs, where it is mounted, despite sharing tmpfs's magic number.
  std::ifstream file("/proc/self/mountinfo");
  std::stringstream text;
  text << file.rdbuf();
  for (const MountEntry& mount : ParseMountInfo(text.str())) {
    if (mount.Type != "devtmpfs" && mount.Type != "tmpfs") continue;
    if (!reader.OpenPath(mount.Point)) continue;
    struct stat st;
    struct statfs fs;
    if (fstat(reader.Fd(), &st) != 0 || fstatfs(reader.Fd(), &fs) != 0) continue;
    // Skip points with something else mounted over them.
    if (fs.f_type != 0x01021994 || st.st_dev != mount.Device) continue;
    EXPECT_EQ(detector.IsPseudo(reader.Fd()), mount.Type == "devtmpfs") << mount.Point;
  }
}

TEST(PseudoFsDetector, AsksOnlyWhereTheMountTableHasAMountPoint) {
  DirReader reader;
  PseudoFsDetector detector;
  struct statfs fs;
  if (statfs("/proc", &fs) != 0 || fs.f_type != 0x9fa0) GTEST_SKIP() << "no /proc";

  ASSERT_TRUE(reader.OpenPath("/"));
  detector.Begin(reader.Fd());
  EXPECT_TRUE(detector.MountsBelow(""));
  EXPECT_TRUE(detector.MayBeMountPoint("proc"));
  EXPECT_FALSE(detector.MayBeMountPoint("proc/self"));

  TempTree tree;
  tree.Dir("sub");
  ASSERT_TRUE(reader.OpenPath(tree.Root()));
  detector.Begin(reader.Fd());
  EXPECT_FALSE(detector.MountsBelow(""));
  EXPECT_FALSE(detector.MayBeMountPoint("sub"));

  // Inside a pseudo file system every folder is asked.
  ASSERT_TRUE(reader.OpenPath("/proc"));
  detector.Begin(reader.Fd());
  EXPECT_TRUE(detector.MountsBelow("self"));
  EXPECT_TRUE(detector.MayBeMountPoint("self"));
}

// Mounts a file system for one test, where the test may mount at all.
class MountGuard {
 public:
  MountGuard(const std::string& point, const char* type) : point_(point) {
    mounted_ = mount(type, point.c_str(), type, 0, nullptr) == 0;
  }
  ~MountGuard() {
    if (mounted_) umount2(point_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string point_;
  bool mounted_ = false;
};

TEST(Scanner, LeavesOutPseudoFileSystemsButNotOtherMounts) {
  TempTree tree;
  for (const char* d : {"a", "a/proc here", "a/mem", "a/mem/inner", "a/sys"}) tree.Dir(d);
  MountGuard proc(tree.PathOf("a/proc here"), "proc");
  if (!proc.Mounted()) GTEST_SKIP() << "not allowed to mount here";
  MountGuard sys(tree.PathOf("a/sys"), "sysfs");
  MountGuard mem(tree.PathOf("a/mem/inner"), "tmpfs");  // real files: scanned
  ASSERT_TRUE(sys.Mounted() && mem.Mounted());
  tree.File("a/mem/inner/f", 77);

  ScanRules settings;
  FolderList folders;
  SilentScanObserver observer;
  Scanner scanner(folders, settings, observer);
  ASSERT_TRUE(scanner.Run(tree.Root()));
  std::vector<std::string> paths;
  for (const FolderRec& rec : folders) paths.push_back(rec.Path());
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{tree.PathOf(""), tree.PathOf("a/"), tree.PathOf("a/mem/"),
                                             tree.PathOf("a/mem/inner/")}));
  EXPECT_EQ(folders.Tail()->SzFiles, 77);

  // Started inside one, only the start is recorded.
  ASSERT_TRUE(scanner.Run(tree.PathOf("a/proc here")));
  EXPECT_EQ(folders.Count(), 1);
}

}  // namespace
}  // namespace orbelan
