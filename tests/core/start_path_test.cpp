#include "platform/start_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include "scan_tree_fixture.h"

namespace orbelan {
namespace {

using testing::TempTree;

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? buffer : path;
}

// Moves into a folder (with $PWD as a shell would set it) and back at the end.
class InFolder {
 public:
  InFolder(const std::string& folder, const std::optional<std::string>& pwd)
      : saved_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (const char* old = std::getenv("PWD")) oldPwd_ = old;
    EXPECT_EQ(chdir(folder.c_str()), 0);
    if (pwd) setenv("PWD", pwd->c_str(), 1); else unsetenv("PWD");
  }
  ~InFolder() {
    EXPECT_EQ(fchdir(saved_), 0);
    close(saved_);
    if (oldPwd_) setenv("PWD", oldPwd_->c_str(), 1); else unsetenv("PWD");
  }

 private:
  int saved_;
  std::optional<std::string> oldPwd_;
};

TEST(StartPath, AbsolutePathsAreTidiedByTheirTextAndLinksAreNeverClimbedOver) {
  EXPECT_EQ(AbsoluteFolderPath(""), "");
  EXPECT_EQ(AbsoluteFolderPath("/"), "/");
  EXPECT_EQ(AbsoluteFolderPath("///"), "/");
  EXPECT_EQ(AbsoluteFolderPath("/.."), "/");
  EXPECT_EQ(AbsoluteFolderPath("/./../."), "/");

  TempTree tree;
  tree.Dir("a");
  tree.Dir("a/b");
  tree.Link("a", "l");
  const std::string root = tree.Root();
  EXPECT_EQ(AbsoluteFolderPath(root + "//a/./b/"), root + "/a/b");
  EXPECT_EQ(AbsoluteFolderPath(root + "/a/b/.."), root + "/a");
  EXPECT_EQ(AbsoluteFolderPath(root + "/a/b/../../a"), root + "/a");
  // "l/.." is the parent of l's target, which only the kernel may decide: kept as written,
  // and so is every ".." after it.
  EXPECT_EQ(AbsoluteFolderPath(root + "/l/.."), root + "/l/..");
  EXPECT_EQ(AbsoluteFolderPath(root + "/l/b/../.."), root + "/l/..");
  EXPECT_EQ(AbsoluteFolderPath(root + "/l/../a/../a"), root + "/l/../a/../a");
  // A folder that does not exist is not folded over either.
  EXPECT_EQ(AbsoluteFolderPath(root + "/missing/../a"), root + "/missing/../a");
  // Bytes that are not UTF-8 pass unchanged.
  EXPECT_EQ(AbsoluteFolderPath(root + "/\xff\xfe//x/"), root + "/\xff\xfe/x");
}

TEST(StartPath, RelativePathsStartAtTheWorkingFolderAsTheShellNamesIt) {
  TempTree tree;
  tree.Dir("real");
  tree.Dir("real/t2");
  tree.Link("real", "via");
  const std::string root = tree.Root();
  {
    // Entered through a link: $PWD keeps it.
    InFolder here(root + "/via", root + "/via");
    for (const char* typed : {"t2", "./t2", "t2//", "t2/.", "t2/../t2"})
      EXPECT_EQ(AbsoluteFolderPath(typed), root + "/via/t2") << typed;
    EXPECT_EQ(AbsoluteFolderPath("../via/t2"), root + "/via/../via/t2");  // climbs over a link
    EXPECT_EQ(AbsoluteFolderPath("."), root + "/via");
  }
  {
    // A $PWD that names another folder, or none, gives way to the kernel's folder.
    InFolder here(root + "/via", root + "/real/t2");
    EXPECT_EQ(AbsoluteFolderPath("t2"), RealPath(root + "/real") + "/t2");
  }
  {
    InFolder here(root + "/real", std::nullopt);
    EXPECT_EQ(AbsoluteFolderPath("./t2//"), RealPath(root + "/real") + "/t2");
  }
}

}  // namespace
}  // namespace orbelan
