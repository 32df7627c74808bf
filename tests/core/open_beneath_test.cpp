// Opening beneath a folder: a link anywhere on the way or at the end, "..", an absolute or
// empty name are refused, by openat2 and by the component walk alike.

#include "platform/open_beneath.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <gtest/gtest.h>

#include "tests/core/file_helpers.h"
#include "tests/core/scan_tree_fixture.h"

namespace orbelan {
namespace {

TEST(OpenBeneath, NoLinkIsFollowedAndNothingOutsideIsReached) {
  testing::TempTree tree;
  tree.Dir("root");
  tree.Dir("root/a");
  tree.Dir("outside");
  testing::WriteAll(tree.PathOf("root/a/f"), "inside");
  testing::WriteAll(tree.PathOf("outside/f"), "outside");
  ASSERT_EQ(::symlink(tree.PathOf("outside").c_str(), tree.PathOf("root/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink("../outside", tree.PathOf("root/a/up").c_str()), 0);
  ASSERT_EQ(::symlink("f", tree.PathOf("root/a/filelink").c_str()), 0);
  const int root = ::open(tree.PathOf("root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(root, 0);
  for (auto open : {&OpenBeneath, &OpenBeneathByWalk}) {
    const int fd = open(root, "a/f", O_RDONLY);
    ASSERT_GE(fd, 0);
    char byte = 0;
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    EXPECT_EQ(byte, 'i');
    ::close(fd);
    for (const char* bad : {"dirlink/f", "a/up/f", "a/filelink", "dirlink"}) {
      for (int flags : {O_RDONLY, O_PATH}) {
        const int refused = open(root, bad, flags);
        EXPECT_LT(refused, 0) << bad;
        if (refused >= 0) ::close(refused);
      }
    }
    for (const char* bad : {"../outside/f", "/etc/passwd", "a//f", "", "a/./f"}) {
      EXPECT_LT(open(root, bad, O_RDONLY), 0) << bad;
      EXPECT_EQ(errno, EINVAL) << bad;
    }
  }
  ::close(root);
}

}  // namespace
}  // namespace orbelan
