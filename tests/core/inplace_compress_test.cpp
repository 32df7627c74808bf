// Compress in place on a real btrfs image (as root, through a loop device): every file's
// content is hashed before and after each run and must not change; usage falls and extents
// become encoded; files that must be left alone are; a kill at any moment leaves every file
// whole; undo brings the extents back unencoded.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "cli/compress_command.h"
#include "platform/quoted_name.h"
#include "inplace/extent_census.h"
#include "inplace/inplace_compressor.h"
#include "settings/settings.h"
#include "tests/core/file_helpers.h"
#include "tests/core/loop_mount.h"

namespace orbelan {
namespace {

using testing::BtrfsMount;
using testing::WriteFile;

std::string Text(std::size_t n, std::uint32_t seed) {
  return testing::WordText(n, seed, {"folder ", "rewrite ", "extent ", "zstd ", "in place ", "line\n", "of ", "the "});
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Every regular file below folder by its path, with a hash of its bytes.
std::map<std::string, std::size_t> Hashes(const std::string& folder) {
  std::map<std::string, std::size_t> hashes;
  for (const std::string& name : testing::Names(folder)) {
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      for (const auto& [sub, hash] : Hashes(path)) hashes[sub] = hash;
    } else if (S_ISREG(st.st_mode)) {
      hashes[path] = std::hash<std::string>{}(testing::ReadAll(path)) ^ static_cast<std::size_t>(st.st_size);
    }
  }
  return hashes;
}

ExtentCensus CensusOf(const std::string& path) {
  ExtentCensus census;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << path;
  EXPECT_TRUE(TakeExtentCensus(fd, true, census)) << path;
  ::close(fd);
  return census;
}

class InplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!btrfs_.Ready()) GTEST_SKIP() << btrfs_.Why();
    dir_ = btrfs_.Root() + "/work";
    ASSERT_EQ(::mkdir(dir_.c_str(), 0755), 0);
  }
  // Every test ends with the contents as they were written.
  void TearDown() override {
    if (!before_.empty()) {
      EXPECT_EQ(Hashes(btrfs_.Root()), before_);
    }
  }
  void Remember() { before_ = Hashes(btrfs_.Root()); }

  InplaceResult Run(InplaceMode mode, InplaceOptions options = {}, InplacePlan* planOut = nullptr) {
    InplaceCompressor compressor(std::move(options));
    InplacePlan plan;
    InplaceResult result = compressor.Plan(dir_, mode, nullptr, plan);
    if (result.Outcome == InplaceOutcome::Done) result = compressor.Run(plan);
    if (planOut) *planOut = plan;
    return result;
  }
  InplaceSkip SkipOf(const InplacePlan& plan, const std::string& name) {
    for (const InplaceFile& f : plan.Files)
      if (f.Name == name) return f.Skip;
    ADD_FAILURE() << name << " not in the plan";
    return InplaceSkip::None;
  }

  BtrfsMount btrfs_{"noatime"};
  std::string dir_;
  std::map<std::string, std::size_t> before_;
};

// Text shrinks: usage falls by most of it, its extents are encoded, the folder's property
// compresses new files too; data that does not shrink is named. Undo brings every extent
// back unencoded and clears the property.
TEST_F(InplaceTest, CompressesGivesBackAndUndoes) {
  for (int i = 0; i < 6; ++i) WriteFile(dir_ + "/text" + std::to_string(i) + ".log", Text(1 << 20, static_cast<std::uint32_t>(i)));
  WriteFile(dir_ + "/noise.bin", testing::Noise(1 << 20, 7));
  Remember();

  const InplaceResult done = Run(InplaceMode::Compress);
  ASSERT_EQ(done.Outcome, InplaceOutcome::Done) << done.Message;
  EXPECT_EQ(done.Rewritten, 7);
  ASSERT_TRUE(done.Before.DataUsed && done.After.DataUsed);
  EXPECT_GT(*done.Before.DataUsed - *done.After.DataUsed, 4 << 20);  // 6 MiB of text, more than 3:1
  EXPECT_GT(done.Before.Used - done.After.Used, 4 << 20);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(CensusOf(dir_ + "/text" + std::to_string(i) + ".log").AllEncoded());
  EXPECT_EQ(done.NotShrunk, std::vector<std::string>{"noise.bin"});
  char value[32] = {};
  ASSERT_GT(::getxattr(dir_.c_str(), "btrfs.compression", value, sizeof value - 1), 0);
  EXPECT_EQ(std::string(value).substr(0, 4), "zstd");
  if (const std::int64_t disk = testing::CompsizeDiskBytes(dir_); disk >= 0) {
    EXPECT_LT(disk, 3 << 20);
  }

  const InplaceResult undone = Run(InplaceMode::Decompress);
  ASSERT_EQ(undone.Outcome, InplaceOutcome::Done) << undone.Message;
  EXPECT_EQ(undone.Rewritten, 6);  // the noise was never compressed
  EXPECT_TRUE(undone.Failed.empty()) << undone.Failed.front().second;
  for (int i = 0; i < 6; ++i) EXPECT_EQ(CensusOf(dir_ + "/text" + std::to_string(i) + ".log").Encoded, 0);
  EXPECT_LT(::getxattr(dir_.c_str(), "btrfs.compression", value, sizeof value), 0);
}

// Left alone: a reflinked copy and its original, a file a snapshot holds, a nodatacow file,
// a file open for writing. Asked for, shared files are rewritten with the cost stated.
TEST_F(InplaceTest, LeavesSharedNoCowAndOpenFilesAlone) {
  WriteFile(dir_ + "/orig.log", Text(400000, 1));
  ASSERT_TRUE(Shell("cp --reflink=always " + dir_ + "/orig.log " + dir_ + "/copy.log"));
  const std::string vol = btrfs_.Root() + "/vol";
  ASSERT_TRUE(Shell("btrfs subvolume create " + vol));
  WriteFile(vol + "/held.log", Text(400000, 2));
  ASSERT_TRUE(Shell("btrfs subvolume snapshot " + vol + " " + btrfs_.Root() + "/snap"));
  const std::string nocow = dir_ + "/nocow.img";
  ::close(::open(nocow.c_str(), O_CREAT | O_WRONLY, 0644));
  ASSERT_TRUE(Shell("chattr +C " + nocow));
  WriteFile(nocow, Text(400000, 3));
  WriteFile(dir_ + "/open.log", Text(400000, 4));
  WriteFile(dir_ + "/free.log", Text(400000, 5));
  ASSERT_TRUE(Shell("sync"));
  Remember();
  const int writer = ::open((dir_ + "/open.log").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);

  InplacePlan plan;
  ASSERT_EQ(Run(InplaceMode::Compress, {}, &plan).Outcome, InplaceOutcome::Done);
  EXPECT_EQ(SkipOf(plan, "orig.log"), InplaceSkip::Shared);
  EXPECT_EQ(SkipOf(plan, "copy.log"), InplaceSkip::Shared);
  EXPECT_EQ(SkipOf(plan, "nocow.img"), InplaceSkip::NoDataCow);
  EXPECT_EQ(SkipOf(plan, "open.log"), InplaceSkip::OpenForWriting);
  EXPECT_EQ(SkipOf(plan, "free.log"), InplaceSkip::None);
  for (const char* name : {"/orig.log", "/copy.log", "/nocow.img", "/open.log"})
    EXPECT_EQ(CensusOf(dir_ + name).Encoded, 0) << name;
  EXPECT_TRUE(CensusOf(dir_ + "/free.log").AllEncoded());
  ::close(writer);

  const std::string saved = dir_;
  dir_ = vol;
  InplacePlan snapped;
  EXPECT_EQ(Run(InplaceMode::Compress, {}, &snapped).Outcome, InplaceOutcome::Refused);
  EXPECT_EQ(SkipOf(snapped, "held.log"), InplaceSkip::Shared);
  InplaceOptions shared;
  shared.IncludeShared = true;
  ASSERT_EQ(Run(InplaceMode::Compress, shared, &snapped).Outcome, InplaceOutcome::Done);
  EXPECT_GE(snapped.SharedBytes, 400000);
  EXPECT_TRUE(CensusOf(vol + "/held.log").AllEncoded());
  EXPECT_EQ(CensusOf(btrfs_.Root() + "/snap/held.log").Encoded, 0);  // the snapshot keeps its own
  dir_ = saved;
}

// Killed at any moment (here within a file, between ranges), every file is whole; a rerun
// leaves the files done alone and finishes the rest.
TEST_F(InplaceTest, AKillLeavesEveryFileWholeAndARerunFinishes) {
  for (int i = 0; i < 12; ++i) WriteFile(dir_ + "/part" + std::to_string(i) + ".log", Text(3 << 20, static_cast<std::uint32_t>(i)));
  Remember();
  int started[2];
  ASSERT_EQ(::pipe(started), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InplaceOptions options;
    options.RangeBytes = 1 << 20;
    options.BeforeRewrite = [&](const InplaceFile&) { (void)!::write(started[1], "x", 1); };
    InplaceCompressor compressor(options);
    InplacePlan plan;
    if (compressor.Plan(dir_, InplaceMode::Compress, nullptr, plan).Outcome == InplaceOutcome::Done)
      compressor.Run(plan);
    ::_exit(0);
  }
  char byte = 0;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(::read(started[0], &byte, 1), 1);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ::close(started[0]);
  ::close(started[1]);
  EXPECT_EQ(Hashes(btrfs_.Root()), before_);

  InplacePlan plan;
  const InplaceResult rerun = Run(InplaceMode::Compress, {}, &plan);
  ASSERT_EQ(rerun.Outcome, InplaceOutcome::Done) << rerun.Message;
  EXPECT_LT(plan.Eligible, 12);  // those done before the kill are left alone
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(CensusOf(dir_ + "/part" + std::to_string(i) + ".log").AllEncoded()) << i;
}

// A subtree: the files of the folders below are compressed too, a subvolume below is left
// out and named, and hidden files and archives stay as they are.
TEST_F(InplaceTest, ASubtreeLeavesOutSubvolumes) {
  ASSERT_EQ(::mkdir((dir_ + "/sub").c_str(), 0755), 0);
  WriteFile(dir_ + "/sub/deep.log", Text(1 << 20, 1));
  WriteFile(dir_ + "/sub/.hidden.log", Text(1 << 20, 2));
  WriteFile(dir_ + "/sub/old.gz", Text(1 << 20, 3));
  ASSERT_TRUE(Shell("btrfs subvolume create " + dir_ + "/vol"));
  WriteFile(dir_ + "/vol/own.log", Text(1 << 20, 4));
  Remember();
  Settings settings;
  settings.SetDefaults();
  std::istringstream in;
  std::ostringstream out, err;
  CompressCommandContext context;
  context.settings = &settings;
  context.in = &in;
  context.out = &out;
  context.err = &err;
  EXPECT_EQ(RunCompressCommand({"--yes", "--subtree", dir_}, context), kCompressDone) << err.str();
  EXPECT_NE(out.str().find("on another file system or subvolume: vol"), std::string::npos) << out.str();
  EXPECT_TRUE(CensusOf(dir_ + "/sub/deep.log").AllEncoded());
  for (const char* name : {"/sub/.hidden.log", "/sub/old.gz", "/vol/own.log"}) EXPECT_EQ(CensusOf(dir_ + name).Encoded, 0) << name;
}

// Undo refuses when the space it needs back is not free, and changes nothing.
TEST_F(InplaceTest, UndoRefusesWithoutTheSpace) {
  WriteFile(dir_ + "/a.log", Text(1 << 20, 1));
  Remember();
  ASSERT_EQ(Run(InplaceMode::Compress).Outcome, InplaceOutcome::Done);
  InplaceOptions tight;
  tight.FreeSpace = [](int) { return std::optional<std::int64_t>(1 << 20); };
  const InplaceResult refused = Run(InplaceMode::Decompress, tight);
  EXPECT_EQ(refused.Outcome, InplaceOutcome::Refused);
  EXPECT_NE(refused.Message.find("needs the space back"), std::string::npos);
  EXPECT_TRUE(CensusOf(dir_ + "/a.log").AllEncoded());
}

// Root may rewrite anything, so an ordinary user (made up by the test) runs the command: its
// own file is compressed, root's file is named as not writable, and the exit status says so.
TEST_F(InplaceTest, AUserLeavesFilesItMayNotWrite) {
  const uid_t user = 64123;
  ASSERT_EQ(::chmod(btrfs_.Root().substr(0, btrfs_.Root().rfind('/')).c_str(), 0755), 0);
  WriteFile(dir_ + "/mine.log", Text(1 << 20, 1));
  WriteFile(dir_ + "/roots.log", Text(1 << 20, 2));
  ASSERT_EQ(::chown(dir_.c_str(), user, user), 0);
  ASSERT_EQ(::chown((dir_ + "/mine.log").c_str(), user, user), 0);
  Remember();
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(100);
    Settings settings;
    settings.SetDefaults();
    std::istringstream in;
    std::ostringstream text, err;
    CompressCommandContext context;
    context.settings = &settings;
    context.in = &in;
    context.out = &text;
    context.err = &err;
    const int status = RunCompressCommand({"--yes", dir_}, context);
    const std::string said = err.str();
    (void)!::write(out[1], said.data(), said.size());
    ::_exit(status);
  }
  ::close(out[1]);
  std::string said;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kCompressSomeLeft) << said;
  EXPECT_NE(said.find("skipped: " + QuotedName(dir_ + "/roots.log") + " (you may not write to it"), std::string::npos) << said;
  EXPECT_TRUE(CensusOf(dir_ + "/mine.log").AllEncoded());
  EXPECT_EQ(CensusOf(dir_ + "/roots.log").Encoded, 0);
}

}  // namespace
}  // namespace orbelan
