#include "platform/dir_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "scan_tree_fixture.h"

namespace orbelan {
namespace {

using testing::TempTree;

std::map<std::string, EntryKind> KindsIn(DirReader& reader) {
  std::map<std::string, EntryKind> kinds;
  DirEntry entry;
  while (reader.Next(entry)) kinds[std::string(entry.NameView())] = reader.KindOf(entry);
  return kinds;
}

TEST(DirReader, DeliversEveryEntryWithItsKindWithoutFollowingLinks) {
  TempTree tree;
  tree.Dir("folder");
  tree.File("file", 10);
  tree.Link("folder", "link-to-folder");
  tree.Link("missing", "dangling");
  ASSERT_EQ(mkfifo(tree.PathOf("pipe").c_str(), 0644), 0);

  DirReader reader;
  ASSERT_TRUE(reader.OpenPath(tree.Root()));
  const auto kinds = KindsIn(reader);
  EXPECT_EQ(kinds, (std::map<std::string, EntryKind>{{".", EntryKind::Directory},
                                                     {"..", EntryKind::Directory},
                                                     {"folder", EntryKind::Directory},
                                                     {"file", EntryKind::File},
                                                     {"link-to-folder", EntryKind::Symlink},
                                                     {"dangling", EntryKind::Symlink},
                                                     {"pipe", EntryKind::Other}}));

  EntryStat stat;
  ASSERT_TRUE(reader.Stat("link-to-folder", stat));
  EXPECT_EQ(stat.Kind, EntryKind::Symlink);
  EXPECT_EQ(stat.Size, 6);  // the link's own size: its target's length
  ASSERT_TRUE(reader.Stat("file", stat));
  EXPECT_EQ(stat.Size, 10);
  EXPECT_FALSE(reader.Stat("vanished", stat));
  EXPECT_EQ(stat.Kind, EntryKind::Gone);
}

TEST(DirReader, ReadsLargeFoldersThroughASmallBufferExactlyOnce) {
  TempTree tree;
  std::set<std::string> made = {".", ".."};
  for (int i = 0; i < 1500; ++i) {
    const std::string name = "entry-with-a-longish-name-" + std::to_string(i);
    tree.File(name);
    made.insert(name);
  }
  DirReader reader(4096);
  ASSERT_TRUE(reader.OpenPath(tree.Root()));
  std::multiset<std::string> seen;
  DirEntry entry;
  while (reader.Next(entry)) {
    EXPECT_EQ(entry.Hidden(), entry.Name[0] == '.');
    seen.insert(std::string(entry.NameView()));
  }
  EXPECT_EQ(seen, std::multiset<std::string>(made.begin(), made.end()));
  EXPECT_FALSE(reader.Next(entry));  // stays at the end

  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_FALSE(reader.Next(entry));
}

TEST(DirReader, AParkedReaderGoesOnWhereItStoppedWithEveryEntryOnce) {
  TempTree tree;
  std::multiset<std::string> made = {".", ".."};
  for (int i = 0; i < 700; ++i) {  // several buffers' worth
    const std::string name = "entry-with-a-longer-name-" + std::to_string(i);
    tree.File(name);
    made.insert(name);
  }
  DirReader reader(4096);
  ASSERT_TRUE(reader.OpenPath(tree.Root()));
  reader.Park();  // before anything was read
  std::multiset<std::string> seen;
  DirEntry entry;
  for (int n = 0; reader.Next(entry); ++n) {
    seen.insert(std::string(entry.NameView()));
    if (n % 7 == 3) reader.Park();
    if (n % 11 == 5) reader.Park();  // twice in a row, at times
  }
  EXPECT_EQ(seen, made);
  reader.Park();  // at the end: still the end
  EXPECT_FALSE(reader.Next(entry));

  // A reader given back its buffer reads another folder whole.
  reader.Close();
  reader.ReleaseBuffer();
  ASSERT_TRUE(reader.OpenPath(tree.Root()));
  seen.clear();
  while (reader.Next(entry)) seen.insert(std::string(entry.NameView()));
  EXPECT_EQ(seen, made);
}

TEST(DirReader, OpensChildrenAndPathsBelowWithoutFollowingLinks) {
  TempTree tree;
  tree.Dir("real");
  tree.Dir("real/inner");
  tree.Link("real", "alias");

  DirReader base;
  ASSERT_TRUE(base.OpenPath(tree.PathOf("alias")));  // a named start follows its link
  DirReader child;
  EXPECT_TRUE(child.OpenChild(base.Fd(), "inner"));

  DirReader root;
  ASSERT_TRUE(root.OpenPath(tree.Root()));
  EXPECT_FALSE(child.OpenChild(root.Fd(), "alias"));
  EXPECT_TRUE(child.OpenBelow(root.Fd(), "real/inner"));
  EXPECT_FALSE(child.OpenBelow(root.Fd(), "alias/inner"));  // a link on the way
  EXPECT_FALSE(child.OpenBelow(root.Fd(), "alias"));
  EXPECT_FALSE(child.OpenBelow(root.Fd(), "nothing"));
  ASSERT_TRUE(child.OpenBelow(root.Fd(), ""));  // the base itself
  EXPECT_EQ(KindsIn(child).count("real"), 1u);
}

TEST(DirReader, OpensPathsLongerThanPathMax) {
  TempTree tree;
  // 20 levels of 240 bytes, made through descriptors; a link halfway down.
  int fd = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
  std::string relative;
  std::string linkedRelative;
  for (int i = 0; i < 20; ++i) {
    const std::string name(240, static_cast<char>('k' + i % 10));
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    if (i == 10) {
      ASSERT_EQ(symlinkat(name.c_str(), fd, "hop"), 0);
      linkedRelative = relative + "hop";
    } else if (i > 10) {
      linkedRelative += "/" + name;
    }
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    relative += (relative.empty() ? "" : "/") + name;
  }
  ASSERT_EQ(mkdirat(fd, "leaf", 0755), 0);
  close(fd);
  ASSERT_GT(relative.size(), 4096u);

  DirReader reader;
  ASSERT_TRUE(reader.OpenPath(tree.Root() + "/" + relative + "/"));
  EXPECT_EQ(KindsIn(reader).count("leaf"), 1u);

  DirReader root;
  ASSERT_TRUE(root.OpenPath(tree.Root()));
  ASSERT_TRUE(reader.OpenBelow(root.Fd(), relative));
  EXPECT_EQ(KindsIn(reader).count("leaf"), 1u);
  EXPECT_FALSE(reader.OpenBelow(root.Fd(), linkedRelative));  // still no link followed
}

TEST(OpenFileLimit, IsRaisedTowardsTheHardLimit) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  RaiseOpenFileLimit();
  rlimit after{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &after), 0);
  EXPECT_GE(after.rlim_cur, std::min<rlim_t>(before.rlim_max, 65536));
  EXPECT_GE(after.rlim_cur, before.rlim_cur);
}

}  // namespace
}  // namespace orbelan
