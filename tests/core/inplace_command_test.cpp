// orbelan-compress: what it refuses before anything (usage, a folder not on btrfs), the
// question that defaults to No, and names quoted so that none can forge a line.

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <linux/magic.h>

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "cli/compress_command.h"
#include "inplace/extent_census.h"
#include "settings/settings.h"
#include "tests/core/file_helpers.h"
#include "tests/core/loop_mount.h"

namespace orbelan {
namespace {

struct Command {
  Settings settings;
  std::istringstream in;
  std::ostringstream out, err;
  CompressCommandContext context;
  explicit Command(const std::string& input = "", bool terminal = false) : in(input) {
    settings.SetDefaults();
    context.settings = &settings;
    context.in = &in;
    context.out = &out;
    context.err = &err;
    context.terminal = terminal;
  }
  int Run(const std::vector<std::string>& args) { return RunCompressCommand(args, context); }
};

TEST(InplaceCommand, UsageErrorsExitTwo) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"--level", "0", "/x"}, {"--level", "16", "/x"}, {"--level=x", "/x"},
                                             {"--level"}, {"--frobnicate", "/x"}, {"/x", "/y"}}) {
    Command c;
    EXPECT_EQ(c.Run(args), kCompressUsage) << (args.empty() ? "" : args[0]);
  }
}

TEST(InplaceCommand, AFolderNotOnBtrfsIsRefused) {
  char dir[] = "/tmp/orbelan-inplace-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  struct statfs fs {};
  ASSERT_EQ(::statfs(dir, &fs), 0);
  if (static_cast<unsigned long>(fs.f_type) == BTRFS_SUPER_MAGIC) GTEST_SKIP() << "/tmp is btrfs here";
  testing::WriteAll(std::string(dir) + "/a.txt", testing::Text(100000));
  Command c;
  EXPECT_EQ(c.Run({"--yes", dir}), kCompressNothingChanged);
  EXPECT_NE(c.err.str().find("is not on btrfs"), std::string::npos) << c.err.str();
  ::unlink((std::string(dir) + "/a.txt").c_str());
  ::rmdir(dir);
}

// On a terminal the question names what is left alone and why; an empty answer is No.
// Elsewhere, without --yes, nothing is asked and nothing changes.
TEST(InplaceCommand, AsksFirstAndDefaultsToNo) {
  testing::BtrfsMount btrfs("noatime");
  if (!btrfs.Ready()) GTEST_SKIP() << btrfs.Why();
  const std::string dir = btrfs.Root();
  testing::WriteFile(dir + "/a.log", testing::Text(300000));
  const std::string nocow = dir + "/vm\nimage";
  ::close(::open(nocow.c_str(), O_CREAT | O_WRONLY, 0644));
  ASSERT_EQ(std::system(("chattr +C '" + nocow + "'").c_str()), 0);
  testing::WriteFile(nocow, testing::Text(300000));

  Command asked("\n", true);
  EXPECT_EQ(asked.Run({dir}), kCompressNothingChanged);
  EXPECT_NE(asked.err.str().find("nodatacow (chattr +C), which btrfs never compresses:\n    $'vm\\nimage'"),
            std::string::npos)
      << asked.err.str();
  EXPECT_NE(asked.err.str().find("[y/N]"), std::string::npos);
  Command piped("y\n", false);
  EXPECT_EQ(piped.Run({dir}), kCompressNothingChanged);
  const int fd = ::open((dir + "/a.log").c_str(), O_RDONLY | O_CLOEXEC);
  ExtentCensus census;
  ASSERT_TRUE(TakeExtentCensus(fd, true, census));
  ::close(fd);
  EXPECT_EQ(census.Encoded, 0);
}

}  // namespace
}  // namespace orbelan
