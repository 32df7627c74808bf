// Zipping through the real trash where it can hurt: names the reading library would
// respell, files in use or edited behind a restored time, a disk that fills while the
// archive is written, folders that would not shrink, hard links.

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "archive/zip_directory.h"
#include "archive/zip_manifest.h"
#include "tests/core/zip_fixture.h"

namespace orbelan {
namespace {

using testing::Exists;
using testing::Names;
using testing::Noise;
using testing::ReadAll;
using testing::Text;
using testing::WriteAll;
using ZipSafetyTest = testing::ZipFolderTest;

TEST_F(ZipSafetyTest, NamesTheReadingLibraryRespellsZipVerifyAndRestore) {
  const std::vector<std::string> names = {
      "back\\slash.txt", "cafe\xcc\x81.txt", "ctl\x01\x7f.txt", "line\nbreak.txt",
      "latin1 \xe9t\xe9.txt", "%2e%2e%2fx.txt", std::string(250, 'n'),
  };
  for (std::size_t i = 0; i < names.size(); ++i) WriteAll(At(names[i]), Text(9000, std::to_string(i)));
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedFiles, static_cast<std::int64_t>(names.size()));
  ASSERT_EQ(r.Trashed.size(), names.size());

  // The archive's directory holds the names' own bytes.
  const int fd = ::open(At(r.ArchiveName).c_str(), O_RDONLY);
  const auto inArchive = CentralDirectoryNames(fd, nullptr);
  ::close(fd);
  ASSERT_TRUE(inArchive);
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  sorted.push_back(kManifestName);
  EXPECT_EQ(*inArchive, sorted);

  // Every record leads back to the exact path, and the bytes come back with it.
  for (const TrashEntry& entry : r.Trashed) {
    EXPECT_EQ(ReadTrashRecord(entry.Trash, entry.Name, nullptr), entry.Original);
    ASSERT_TRUE(RestoreFromTrash(entry, nullptr)) << entry.Original;
  }
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(ReadAll(At(names[i])), Text(9000, std::to_string(i)));
}

TEST_F(ZipSafetyTest, FilesInUseOrEditedBehindARestoredTimeStay) {
  for (const char* name : {"calm.txt", "writer.log", "mapped.db", "retimed.txt", "late.txt"})
    WriteAll(At(name), Text(20000, name));
  int writer = -1;
  void* map = nullptr;
  options.BeforeTrash = [&] {
    // A log held open by an idle writer.
    writer = ::open(At("writer.log").c_str(), O_WRONLY | O_APPEND);
    // A database mapped shared and writable, its descriptor already closed.
    const int fd = ::open(At("mapped.db").c_str(), O_RDWR);
    map = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    // Same size, same modification time, other bytes.
    struct stat st {};
    ::stat(At("retimed.txt").c_str(), &st);
    WriteAll(At("retimed.txt"), Text(20000, "edited"));
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, At("retimed.txt").c_str(), times, 0);
  };
  // A writer that opens the file while it is on its way to the trash: the move is undone.
  options.BeforeMove = [&](const ZipMember& m) {
    if (m.Name != "late.txt") return;
    const int late = ::open(At("late.txt").c_str(), O_WRONLY | O_NONBLOCK);  // breaks the lease
    EXPECT_LT(late, 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
  };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  if (writer >= 0) ::close(writer);
  if (map && map != MAP_FAILED) ::munmap(map, 4096);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Changed, (std::vector<std::string>{"late.txt", "mapped.db", "retimed.txt", "writer.log"}));
  EXPECT_EQ(r.ChangedWhy, (std::vector<std::string>{"opened for writing while it moved",
                                                    "open for writing, or mapped shared and writable",
                                                    "changed since it was read",
                                                    "open for writing, or mapped shared and writable"}));
  EXPECT_EQ(r.TrashedFiles, 1);
  EXPECT_FALSE(Exists(At("calm.txt")));
  for (const char* name : {"writer.log", "mapped.db", "late.txt"}) EXPECT_EQ(ReadAll(At(name)), Text(20000, name));
  EXPECT_EQ(ReadAll(At("retimed.txt")), Text(20000, "edited"));
}

// Without a lease (another user's file, a file system without leases) the bytes are read
// again, and only a look at every process (root's) may tell that nobody holds it for writing.
TEST_F(ZipSafetyTest, WithoutLeasesAFileHeldForWritingStays) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root sees every process's open files";
  options.UseLeases = false;
  WriteAll(At("same.txt"), Text(20000, "s"));
  WriteAll(At("open.txt"), Text(20000, "o"));
  int open = -1;
  options.BeforeTrash = [&] { open = ::open(At("open.txt").c_str(), O_WRONLY); };  // idle, untouched
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  if (open >= 0) ::close(open);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedFiles, 1);
  EXPECT_EQ(r.Changed, std::vector<std::string>{"open.txt"});
  EXPECT_EQ(r.ChangedWhy, std::vector<std::string>{"open for writing"});
  EXPECT_EQ(ReadAll(At("open.txt")), Text(20000, "o"));
}

// A writer that opens the file between the look at every process and the move is seen
// after the move: the file goes back.
TEST_F(ZipSafetyTest, WithoutLeasesAWriterComingDuringTheMoveSendsItBack) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root sees every process's open files";
  options.UseLeases = false;
  WriteAll(At("late.txt"), Text(20000, "l"));
  int late = -1;
  options.BeforeMove = [&](const ZipMember&) { late = ::open(At("late.txt").c_str(), O_WRONLY); };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  if (late >= 0) ::close(late);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedFiles, 0);
  EXPECT_EQ(r.ChangedWhy, std::vector<std::string>{"written to while it moved"});
  EXPECT_EQ(ReadAll(At("late.txt")), Text(20000, "l"));
  EXPECT_TRUE(Names(home + "/files").empty());
  EXPECT_TRUE(Names(home + "/info").empty());
}

// Another user's file, zipped by a user who can neither take its lease nor see the other
// user's processes: nothing can prove it idle, so it stays and says why.
TEST_F(ZipSafetyTest, AnotherUsersFileStaysWhereNothingProvesItIdle) {
  if (::geteuid() != 0) GTEST_SKIP() << "a second user is made by root";
  const uid_t user = 64123;  // an id no account has here; the zip runs as it
  ASSERT_EQ(::chmod(tree.PathOf("").c_str(), 0777), 0);
  ASSERT_EQ(::chown(folder.c_str(), user, user), 0);
  WriteAll(At("theirs.txt"), Text(20000, "t"));  // root's
  WriteAll(At("mine.txt"), Text(20000, "m"));
  ASSERT_EQ(::chown(At("mine.txt").c_str(), user, user), 0);
  ASSERT_EQ(::chmod(At("theirs.txt").c_str(), 0644), 0);
  const std::string userHome = tree.PathOf("userhome");
  ::mkdir(userHome.c_str(), 0700);
  ASSERT_EQ(::chown(userHome.c_str(), user, user), 0);
  home = userHome + "/Trash";
  options.HomeTrash = home;
  int pipes[2];
  ASSERT_EQ(::pipe(pipes), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipes[0]);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0 || ::setresuid(user, user, user) != 0)
      ::_exit(2);
    ZipPlan plan;
    const ZipResult r = PlanAndRun(plan);
    std::string out = r.Message;
    for (std::size_t i = 0; i < r.Changed.size(); ++i) out += "|" + r.Changed[i] + ":" + r.ChangedWhy[i];
    out += "|trashed " + std::to_string(r.TrashedFiles);
    (void)!::write(pipes[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(pipes[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipes[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
  ::close(pipes[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_EQ(out, "|theirs.txt:another user's file: whether it is open for writing cannot be told|trashed 1");
  EXPECT_EQ(ReadAll(At("theirs.txt")), Text(20000, "t"));
}

// Races staged between a member's check and its move: whatever stands at the member's
// path then, the trash gets only the file that was checked and is in the archive.
TEST_F(ZipSafetyTest, AFolderRenamedAndMadeAgainBeforeTheMoveKeepsTheNewFile) {
  WriteAll(At("a.txt"), Text(20000, "old"));
  const std::string moved = tree.PathOf("Work.1") + "/";
  options.BeforeMove = [&](const ZipMember&) {
    ASSERT_EQ(::rename(folder.c_str(), moved.c_str()), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    WriteAll(At("a.txt"), Text(20000, "new"));
  };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedFiles, 1);
  EXPECT_EQ(ReadAll(At("a.txt")), Text(20000, "new"));
  EXPECT_EQ(ReadAll(home + "/files/a.txt"), Text(20000, "old"));
}

TEST_F(ZipSafetyTest, AFolderSwappedForALinkBeforeTheMoveSendsNothingElse) {
  WriteAll(At("a.txt"), Text(20000, "ours"));
  tree.Dir("Other");
  WriteAll(tree.PathOf("Other/a.txt"), Text(20000, "other"));
  options.BeforeMove = [&](const ZipMember&) {
    ASSERT_EQ(::rename(folder.c_str(), tree.PathOf("Work.old").c_str()), 0);
    ASSERT_EQ(::symlink(tree.PathOf("Other").c_str(), tree.PathOf("Work").c_str()), 0);
  };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(ReadAll(tree.PathOf("Other/a.txt")), Text(20000, "other"));
  EXPECT_EQ(ReadAll(home + "/files/a.txt"), Text(20000, "ours"));
}

TEST_F(ZipSafetyTest, ASubtreesSubfolderSwappedForALinkBeforeTheMoveSendsNothingElse) {
  tree.Dir("Work/sub");
  tree.Dir("Other");
  WriteAll(At("sub/a.txt"), Text(20000, "ours"));
  WriteAll(tree.PathOf("Other/a.txt"), Text(20000, "other"));
  options.BeforeMove = [&](const ZipMember&) {
    ASSERT_EQ(::rename(At("sub").c_str(), At("sub.old").c_str()), 0);
    ASSERT_EQ(::symlink(tree.PathOf("Other").c_str(), At("sub").c_str()), 0);
  };
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.PlanSubtree(folder, {folder + "sub/"}, rules, plan).Outcome, ZipOutcome::Done);
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(ReadAll(tree.PathOf("Other/a.txt")), Text(20000, "other"));
  EXPECT_EQ(ReadAll(home + "/files/a.txt"), Text(20000, "ours"));
}

TEST_F(ZipSafetyTest, AnEditorsSaveByRenameBeforeTheMoveIsPutBackAndNamed) {
  WriteAll(At("a.txt"), Text(20000, "old"));
  options.BeforeMove = [&](const ZipMember&) {
    WriteAll(At(".a.txt.swp"), Text(20000, "saved"));
    ASSERT_EQ(::rename(At(".a.txt.swp").c_str(), At("a.txt").c_str()), 0);
  };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedFiles, 0);
  EXPECT_EQ(r.Changed, std::vector<std::string>{"a.txt"});
  EXPECT_EQ(r.ChangedWhy, std::vector<std::string>{"replaced just before it moved"});
  EXPECT_EQ(ReadAll(At("a.txt")), Text(20000, "saved"));
  EXPECT_TRUE(Names(home + "/files").empty());
  EXPECT_TRUE(Names(home + "/info").empty());
}

TEST_F(ZipSafetyTest, AFileDeletedAfterReadingIsGoneNotStayed) {
  WriteAll(At("a.txt"), Text(20000, "a"));
  WriteAll(At("b.txt"), Text(20000, "b"));
  options.BeforeTrash = [&] { ::unlink(At("b.txt").c_str()); };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Gone, std::vector<std::string>{"b.txt"});
  EXPECT_TRUE(r.Changed.empty());
  EXPECT_EQ(r.TrashedFiles, 1);
}

// On FUSE (as on network file systems) a lease is granted while the file behind it is open
// for writing, and no process here shows who writes it: nothing could go to the trash, so
// nothing is written.
TEST_F(ZipSafetyTest, AFolderOnFuseIsRefusedBeforeAnythingIsWritten) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a FUSE file system for the test needs root";
  if (std::system("command -v bindfs >/dev/null 2>&1") != 0) GTEST_SKIP() << "bindfs is not installed";
  tree.Dir("real");
  tree.Dir("real/Work");
  WriteAll(tree.PathOf("real/Work/a.txt"), Text(20000, "a"));
  const std::string mount = tree.PathOf("fuse");
  ::mkdir(mount.c_str(), 0755);
  if (std::system(("bindfs '" + tree.PathOf("real") + "' '" + mount + "'").c_str()) != 0)
    GTEST_SKIP() << "bindfs could not mount (no /dev/fuse?)";
  folder = mount + "/Work/";
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  const std::vector<std::string> left = Names(folder);
  ::umount2(mount.c_str(), MNT_DETACH);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(r.Message.find("is on a fuse file system"), std::string::npos) << r.Message;
  EXPECT_EQ(left, std::vector<std::string>{"a.txt"});
}

TEST_F(ZipSafetyTest, AnUnwritableTrashRefusesBeforeAnythingIsWritten) {
  WriteAll(At("a.txt"), Text(20000, "a"));
  tree.Dir("home");
  WriteAll(home, "a file where the trash folder should be");
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(r.Message.find("is not a folder"), std::string::npos) << r.Message;
  EXPECT_EQ(Names(folder), std::vector<std::string>{"a.txt"});
}

TEST_F(ZipSafetyTest, AFolderThatWouldNotShrinkIsRefusedWithNothingWritten) {
  WriteAll(At("noise.bin"), Noise(300000, 1));
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(r.Message.find("would not give back enough disk space"), std::string::npos) << r.Message;
  EXPECT_NE(r.Message.find("Nothing was changed."), std::string::npos) << r.Message;
  EXPECT_EQ(ReadAll(At("noise.bin")), Noise(300000, 1));
  DIR* dir = ::opendir(folder.c_str());
  int entries = 0;
  while (dirent* e = ::readdir(dir)) entries += e->d_name[0] != '.';
  ::closedir(dir);
  EXPECT_EQ(entries, 1);
  EXPECT_TRUE(Names(home + "/files").empty());
}

TEST_F(ZipSafetyTest, HardLinkedFilesCountNothing) {
  tree.Dir("Other");
  WriteAll(At("linked.txt"), Text(40000));
  ASSERT_EQ(::link(At("linked.txt").c_str(), tree.PathOf("Other/linked.txt").c_str()), 0);
  ZipPlan plan;
  ZipResult r = PlanAndRun(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(r.Message.find("would not give back any disk space"), std::string::npos) << r.Message;
  EXPECT_NE(r.Message.find("1 with hard links outside these files free nothing"), std::string::npos) << r.Message;

  WriteAll(At("single.txt"), Text(40000, "x"));
  r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(plan.HardLinked, 1);
  struct stat single {};
  ASSERT_EQ(::stat((home + "/files/single.txt").c_str(), &single), 0);
  EXPECT_EQ(r.Freed, static_cast<std::int64_t>(single.st_blocks) * 512 - r.ArchiveAllocated);
}

TEST_F(ZipSafetyTest, FilesWithExtendedAttributesOrAclsStayAndAreNamed) {
  WriteAll(At("plain.txt"), Text(20000, "p"));
  WriteAll(At("tagged.txt"), Text(20000, "t"));
  WriteAll(At("acl.txt"), Text(20000, "a"));
  if (::setxattr(At("tagged.txt").c_str(), "user.origin", "camera", 6, 0) != 0)
    GTEST_SKIP() << "this file system takes no user extended attributes";
  // A minimal POSIX ACL entry list with one named user: what setfacl -m u:65534:r writes.
  const unsigned char acl[] = {2, 0, 0, 0,  1, 0, 6, 0, 0xff, 0xff, 0xff, 0xff,
                               2, 0, 4, 0, 0xfe, 0xff, 0, 0,  4, 0, 4, 0, 0xff, 0xff, 0xff, 0xff,
                               0x10, 0, 4, 0, 0xff, 0xff, 0xff, 0xff,  0x20, 0, 4, 0, 0xff, 0xff, 0xff, 0xff};
  const bool aclSet = ::setxattr(At("acl.txt").c_str(), "system.posix_acl_access", acl, sizeof acl, 0) == 0;
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  std::vector<std::string> expected = {"tagged.txt"};
  if (aclSet) expected.insert(expected.begin(), "acl.txt");
  EXPECT_EQ(r.WithMetadata, expected);
  EXPECT_EQ(r.TrashedFiles, aclSet ? 1 : 2);
  EXPECT_TRUE(Exists(At("tagged.txt")));
  EXPECT_FALSE(Exists(At("plain.txt")));
}

TEST_F(ZipSafetyTest, AFullDiskWhileWritingNamesItsCause) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const std::string vol = tree.PathOf("small");
  ::mkdir(vol.c_str(), 0755);
  ASSERT_EQ(::mount("tmpfs", vol.c_str(), "tmpfs", 0, "size=512k"), 0);
  ::mkdir((vol + "/Work").c_str(), 0755);
  folder = vol + "/Work/";
  WriteAll(At("noise.bin"), Noise(300000, 2));
  WriteAll(At("more.bin"), Noise(150000, 3));
  // The free-space check would refuse first; this is the disk filling up meanwhile.
  options.FreeSpace = [](int) { return std::optional<std::int64_t>(1LL << 40); };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  std::vector<std::string> left;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) left.push_back(e->d_name);
    ::closedir(dir);
  }
  ::umount2(vol.c_str(), MNT_DETACH);
  EXPECT_EQ(r.Outcome, ZipOutcome::Failed);
  EXPECT_NE(r.Message.find("No space left on device"), std::string::npos) << r.Message;
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".", "..", "more.bin", "noise.bin"}));
}

}  // namespace
}  // namespace orbelan
