// What the zipper checks before and around writing: system folders, the folder's real path,
// leftovers of earlier runs, folders of holes, a folder replaced after the plan, files that
// cannot be read, and the archive's true disk use on XFS.

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "archive/folder_lock.h"
#include "archive/zip_manifest.h"
#include "archive/zip_messages.h"
#include "scan/recorded_subfolders.h"
#include "tests/core/loop_mount.h"
#include "tests/core/zip_fixture.h"

namespace orbelan {
namespace {

using testing::Exists;
using testing::Names;
using testing::ReadAll;
using testing::Text;
using testing::WriteAll;

// Each member of a zip with its bytes, as libarchive reads them.
std::map<std::string, std::string> Members(const std::string& zip) {
  std::map<std::string, std::string> out;
  archive* a = ::archive_read_new();
  ::archive_read_support_format_zip(a);
  EXPECT_EQ(::archive_read_open_filename(a, zip.c_str(), 10240), ARCHIVE_OK) << zip;
  archive_entry* e;
  while (::archive_read_next_header(a, &e) == ARCHIVE_OK) {
    std::string& data = out[::archive_entry_pathname(e)];
    char buf[8192];
    la_ssize_t n;
    while ((n = ::archive_read_data(a, buf, sizeof buf)) > 0) data.append(buf, static_cast<std::size_t>(n));
  }
  ::archive_read_free(a);
  return out;
}

std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using ZipPlanChecksTest = testing::ZipFolderTest;

TEST_F(ZipPlanChecksTest, SystemFoldersAreRefusedByTheirRealPath) {
  FolderZipper zipper(options);
  ZipPlan plan;
  ZipResult r = zipper.Plan("/usr/bin/", rules, plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_TRUE(Has(r.Message, "belongs to the system") && Has(r.Message, "/usr/") &&
              Has(r.Message, "Nothing was changed."))
      << r.Message;
  // A link is only a way in: /etc stays /etc.
  ASSERT_EQ(::symlink("/etc", tree.PathOf("settings").c_str()), 0);
  r = zipper.Plan(tree.PathOf("settings/"), rules, plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_TRUE(Has(r.Message, "/etc/")) << r.Message;
}

TEST_F(ZipPlanChecksTest, FoldersThatPackagesPutFilesInAreRefused) {
  WriteAll(At("a.txt"), Text(30000));
  tree.Dir("dpkg");
  options.DpkgInfo = tree.PathOf("dpkg");
  const std::string real = RealPath(folder);  // no trailing "/", as dpkg lists folders
  // A folder whose name starts alike, and a file two levels down, are not the folder's own.
  WriteAll(tree.PathOf("dpkg/other.list"), "/.\n" + real + "2\n" + real + "2/a.txt\n" + real + "/sub/deep.txt\n");
  ZipPlan plan;
  EXPECT_EQ(FolderZipper(options).Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  // A subtree takes the deep one too.
  EXPECT_EQ(FolderZipper(options).PlanSubtree(folder, {}, rules, plan).Outcome, ZipOutcome::Refused);

  WriteAll(tree.PathOf("dpkg/hello:amd64.list"), "/.\n" + real + "/a.txt\n");
  ZipResult r = FolderZipper(options).Plan(folder, rules, plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_TRUE(Has(r.Message, "hello:amd64")) << r.Message;

  ::unlink(tree.PathOf("dpkg/hello:amd64.list").c_str());
  WriteAll(tree.PathOf("dpkg/tool.list"), real + "\n");
  r = FolderZipper(options).Plan(folder, rules, plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_TRUE(Has(r.Message, "tool")) << r.Message;
  EXPECT_EQ(Names(folder), std::vector<std::string>{"a.txt"});
}

TEST_F(ZipPlanChecksTest, AFolderGivenThroughALinkOntoAnotherFileSystemIsNamedByItsRealPath) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
  tree.Dir("mnt");
  const std::string mnt = tree.PathOf("mnt");
  ASSERT_EQ(::mount("orbelan-test", mnt.c_str(), "tmpfs", 0, "size=8m"), 0) << std::strerror(errno);
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{mnt};
  ASSERT_EQ(::mkdir((mnt + "/Real").c_str(), 0755), 0);
  WriteAll(mnt + "/Real/a.txt", Text(30000));
  WriteAll(mnt + "/Real/b.txt", Text(20000, "b"));
  ASSERT_EQ(::symlink((mnt + "/Real").c_str(), tree.PathOf("Way in").c_str()), 0);
  const std::string real = RealPath(mnt + "/Real") + "/";

  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(tree.PathOf("Way in/"), rules, plan).Outcome, ZipOutcome::Done);
  EXPECT_EQ(plan.Folder, real);
  EXPECT_EQ(plan.GivenFolder, tree.PathOf("Way in/"));
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedFiles, 2);
  for (const TrashEntry& entry : r.Trashed) EXPECT_TRUE(entry.Original.starts_with(real)) << entry.Original;
  const auto manifest = ParseManifest(Members(real + r.ArchiveName)[kManifestName], nullptr);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->Folder, real);
}

TEST_F(ZipPlanChecksTest, ASubtreeGivenThroughALinkKeepsTheSubfoldersItsScanNamedThroughTheLink) {
  tree.Dir("Work/sub");
  WriteAll(At("a.txt"), Text(30000));
  WriteAll(At("sub/b.txt"), Text(30000, "b"));
  ASSERT_EQ(::symlink(folder.c_str(), tree.PathOf("Way in").c_str()), 0);
  const std::string way = tree.PathOf("Way in/");
  ZipPlan plan;
  ASSERT_EQ(FolderZipper(options).PlanSubtree(way, RecordedSubfolders(way, rules), rules, plan).Outcome,
            ZipOutcome::Done);
  ASSERT_EQ(plan.Members.size(), 2u);
  EXPECT_EQ(plan.Members[1].Name, "sub/b.txt");
}

TEST_F(ZipPlanChecksTest, ARunRefusesAFolderReplacedSinceThePlan) {
  WriteAll(At("a.txt"), Text(30000));
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  ASSERT_EQ(::rename(tree.PathOf("Work").c_str(), tree.PathOf("Work.old").c_str()), 0);
  tree.Dir("Work");
  WriteAll(At("a.txt"), Text(30000));
  const ZipResult r = zipper.Run(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_TRUE(Has(r.Message, "moved or replaced")) << r.Message;
  EXPECT_EQ(Names(folder), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(Names(tree.PathOf("Work.old")), std::vector<std::string>{"a.txt"});
}

// One run at a time in a folder: while another (zip or undo) holds it, a run changes nothing.
TEST_F(ZipPlanChecksTest, ARunWhileAnotherHoldsTheFolderChangesNothing) {
  WriteAll(At("a.txt"), Text(30000));
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::optional<FolderLock> other = FolderLock::Take(fd, nullptr);
  ASSERT_TRUE(other);
  const ZipResult r = zipper.Run(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_TRUE(Has(r.Message, kFolderBusy)) << r.Message;
  EXPECT_EQ(Names(folder), std::vector<std::string>{"a.txt"});
  other.reset();
  ::close(fd);
  EXPECT_EQ(zipper.Run(plan).Outcome, ZipOutcome::Done);
}

// What a trash stage stopped part way, or files deleted after being read, leave is said.
TEST(ZipSummary, NamesFilesDeletedAfterReadingAndAStoppedTrashStage) {
  ZipResult r;
  r.Files = 3;
  r.ArchiveName = "w.zip";
  r.TrashedFiles = 1;
  r.Gone = {"gone.txt"};
  r.TrashStopped = true;
  r.NotReached = 1;
  r.Changed = {"busy.log"};
  r.ChangedWhy = {"open for writing"};
  const std::string text = ZipSummaryText(r, std::nullopt);
  EXPECT_TRUE(Has(text, "1 file was deleted or moved away by another program after being read; the archive holds "
                        "a copy: gone.txt")) << text;
  EXPECT_TRUE(Has(text, "stopped: 1 file went, 1 file stayed")) << text;
  EXPECT_TRUE(Has(text, "busy.log (open for writing)")) << text;
}

TEST_F(ZipPlanChecksTest, OnlyOurAbandonedTemporariesGoAndOnlyToTheTrashOnceTheRunStarts) {
  WriteAll(At("a.txt"), Text(30000));
  auto temp = [&](const char* hex) { return At(".Work-2026-12-08.zip.orbelan-" + std::string(hex) + ".part"); };
  WriteAll(temp("0000000a"), "");                                 // linked, killed before writing
  WriteAll(temp("0000000b"), std::string("PK\x03\x04", 4) + "x");  // killed while writing
  WriteAll(temp("0000000c"), "my notes");                          // a user's file that looks alike
  WriteAll(temp("0000000d"), "");                                  // a run that is alive holds it
  WriteAll(temp("0000000e"), "");                                  // has another name
  ASSERT_EQ(::link(temp("0000000e").c_str(), At(".kept").c_str()), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    WriteAll(temp("0000000f"), "");  // another user's
    ASSERT_EQ(::chown(temp("0000000f").c_str(), 65534, 65534), 0);
  }
  const int held = ::open(temp("0000000d").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  EXPECT_TRUE(Exists(temp("0000000a")) && Exists(temp("0000000b"))) << "the plan touched them";
  const ZipResult r = zipper.Run(plan);
  ::close(held);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_FALSE(Exists(temp("0000000a")));
  EXPECT_FALSE(Exists(temp("0000000b")));
  const std::vector<std::string> trashed = Names(home + "/files");
  EXPECT_EQ(std::count_if(trashed.begin(), trashed.end(), [](const std::string& n) { return n.ends_with(".part"); }),
            2);
  EXPECT_EQ(ReadAll(temp("0000000c")), "my notes");
  EXPECT_TRUE(Exists(temp("0000000d")));
  EXPECT_TRUE(Exists(temp("0000000e")));
  if (root) {
    EXPECT_TRUE(Exists(temp("0000000f")));
  }
}

TEST_F(ZipPlanChecksTest, AFolderOfHolesIsRefusedBeforeAnythingIsDeflated) {
  // A 10 GiB disk image with nothing written, and a little real text to pass the first check.
  const int fd = ::open(At("disk.img").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 10LL << 30), 0);
  ::close(fd);
  WriteAll(At("notes.txt"), Text(40000));
  ZipPlan plan;
  const ZipResult r = FolderZipper(options).Plan(folder, rules, plan);  // the plan reads no file
  if (plan.Compression.Compresses()) GTEST_SKIP() << "the file system compresses: an archive has no floor";
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_TRUE(Has(r.Message, "however well they compress")) << r.Message;
}

// The three files, b.txt unreadable to whoever runs the zip: the zipper's outcome as an
// exit code (0 when as expected).
int ZipWithOneUnreadable(const ZipOptions& options, const ScanRules& rules, const std::string& folder) {
  FolderZipper zipper(options);
  ZipPlan plan;
  if (zipper.Plan(folder, rules, plan).Outcome != ZipOutcome::Done) return 1;
  const ZipResult r = zipper.Run(plan);
  if (r.Outcome != ZipOutcome::Done) return 2;
  if (r.Unreadable != std::vector<std::string>{"b.txt"} || r.UnreadableWhy.size() != 1 ||
      r.UnreadableWhy[0] != std::strerror(EACCES))
    return 3;
  if (r.TrashedFiles != 2 || r.Files != 2) return 4;
  if (!Has(ZipSummaryText(r, std::nullopt), "b.txt (" + std::string(std::strerror(EACCES)) + ")")) return 5;
  return 0;
}

TEST_F(ZipPlanChecksTest, AFileThatCannotBeReadStaysOutAndTheRestIsZipped) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteAll(At(name), Text(20000, name));
  ASSERT_EQ(::chmod(At("b.txt").c_str(), 0), 0);
  int outcome;
  if (::geteuid() != 0) {
    outcome = ZipWithOneUnreadable(options, rules, folder);
  } else {
    // Root reads any file: the zip runs as an ordinary user who owns all but b.txt.
    ASSERT_EQ(::chmod(tree.Root().c_str(), 0755), 0);
    tree.Dir("home");
    for (const std::string& path : {tree.PathOf("home"), folder, At("a.txt"), At("c.txt")})
      ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
      ::_exit(ZipWithOneUnreadable(options, rules, folder));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    outcome = WEXITSTATUS(status);
  }
  EXPECT_EQ(outcome, 0);
  ASSERT_EQ(::chmod(At("b.txt").c_str(), 0644), 0);  // to read it back as it stayed
  EXPECT_EQ(ReadAll(At("b.txt")), Text(20000, "b.txt"));
  const auto members = Members(At("Work-2026-12-08.zip"));
  EXPECT_EQ(members.size(), 3u);  // a.txt, c.txt and the manifest
  EXPECT_EQ(members.count("b.txt"), 0u);
  EXPECT_EQ(members.at("c.txt"), Text(20000, "c.txt"));
}

TEST_F(ZipPlanChecksTest, TheArchivesDiskUseIsWhatItKeepsOnXfs) {
  testing::LoopMount xfs("xfs", "");
  if (!xfs.Ready()) GTEST_SKIP() << xfs.Why();
  const std::string work = xfs.Root() + "/Work/";
  ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
  // Mostly noise, stored the second time the archive is written: some 10% comes back, less
  // than the blocks XFS reserves past the end of a growing file.
  WriteAll(work + "noise.bin", testing::Noise(1000000, 4));
  WriteAll(work + "text.txt", Text(100000));
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(work, rules, plan).Outcome, ZipOutcome::Done);
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  // Whole blocks of its bytes, nothing reserved past its end.
  EXPECT_EQ(r.ArchiveAllocated, (r.ArchiveBytes + 4095) / 4096 * 4096) << r.ArchiveBytes;
  EXPECT_EQ(r.ArchiveAllocated, testing::AllocatedOf(work + r.ArchiveName));
}

}  // namespace
}  // namespace orbelan
