// One run per folder: a second taker of a folder's lock is refused, in the same process as
// in another, and the lock goes with its holder.

#include "archive/folder_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/core/scan_tree_fixture.h"

namespace orbelan {
namespace {

TEST(FolderLock, ASecondTakerIsRefusedUntilTheFirstLetsGo) {
  testing::TempTree tree;
  const int folder = ::open(tree.Root().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  std::string why;
  {
    std::optional<FolderLock> first = FolderLock::Take(folder, nullptr);
    ASSERT_TRUE(first);
    const std::optional<FolderLock> moved = std::move(first);
    EXPECT_FALSE(FolderLock::Take(folder, &why));
    EXPECT_EQ(why, kFolderBusy);
  }
  EXPECT_TRUE(FolderLock::Take(folder, nullptr));

  // Held by another process, until it ends (killed: the kernel lets go).
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::optional<FolderLock> held = FolderLock::Take(folder, nullptr);
    const char byte = held ? 'y' : 'n';
    if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  EXPECT_FALSE(FolderLock::Take(folder, &why));
  EXPECT_EQ(why, kFolderBusy);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(FolderLock::Take(folder, nullptr));
  ::close(ready[0]);
  ::close(ready[1]);
  ::close(folder);
}

}  // namespace
}  // namespace orbelan
