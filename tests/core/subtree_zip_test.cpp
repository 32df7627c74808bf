// Zip subtree on real trees: a folder with the recorded folders below it goes into one
// archive and comes back whole with undo (subfolders the zip removed made again); a file
// changed before the trash stays and is named; a subfolder on another file system is left
// out and said; names that are not UTF-8; a subtree of thousands of files streams in
// bounded memory, shows its progress and cancels; orbelan-zip --subtree.

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "archive/zip_messages.h"
#include "archive/zip_undo.h"
#include "cli/zip_command.h"
#include "scan/recorded_subfolders.h"
#include "tests/core/zip_fixture.h"

namespace orbelan {
namespace {

using testing::Exists;
using testing::Names;
using testing::ReadAll;
using testing::Text;
using testing::WriteAll;

// Every entry below folder by its relative path: mode, and the bytes of files.
void Snapshot(const std::string& folder, const std::string& prefix, std::map<std::string, std::string>& out) {
  for (const std::string& name : Names(folder + prefix)) {
    const std::string rel = prefix + name;
    struct stat st {};
    ::lstat((folder + rel).c_str(), &st);
    std::string what = std::to_string(st.st_mode) + ":";
    if (S_ISREG(st.st_mode)) what += ReadAll(folder + rel);
    out[rel] = what;
    if (S_ISDIR(st.st_mode)) Snapshot(folder, rel + "/", out);
  }
}
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> out;
  Snapshot(folder, "", out);
  return out;
}

// Every entry below folder with its inode, size and times: unchanged when nothing was touched.
std::map<std::string, std::string> Fingerprint(const std::string& folder) {
  std::map<std::string, std::string> out;
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    const std::string prefix = pending.back();
    pending.pop_back();
    for (const std::string& name : Names(folder + prefix)) {
      struct stat st {};
      ::lstat((folder + prefix + name).c_str(), &st);
      out[prefix + name] = std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
                           std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ctim.tv_nsec);
      if (S_ISDIR(st.st_mode)) pending.push_back(prefix + name + "/");
    }
  }
  return out;
}

std::vector<std::string> MemberNames(const ZipPlan& plan) {
  std::vector<std::string> names;
  for (const ZipMember& m : plan.Members) names.push_back(m.Name);
  return names;
}

class SubtreeZipTest : public testing::ZipFolderTest {
 protected:
  ZipResult PlanSubtree(FolderZipper& zipper, ZipPlan& plan) {
    return zipper.PlanSubtree(folder, RecordedSubfolders(folder, rules), rules, plan);
  }
  UndoOptions Undo() const {
    UndoOptions undo;
    undo.HomeTrash = home;
    return undo;
  }
  // Work/ top.txt, a/ one.txt old.zip, a/b/ two.txt (mode 0750), c/ three.txt .keep,
  // e/ (empty), .hid/ x.txt, ign/ y.txt (an ignored path in rules), link -> a, and a folder
  // and file whose names are not UTF-8.
  void MakeTree() {
    tree.Dir("Work/ign");
    WriteAll(At("ign/y.txt"), Text(20000, "y"));
    std::string ignored = At("ign/");
    for (char& c : ignored) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    rules.IgnorePaths.Append(ignored);
    WriteAll(At("top.txt"), Text(30000, "top"));
    tree.Dir("Work/a");
    WriteAll(At("a/one.txt"), Text(25000, "one"));
    WriteAll(At("a/old.zip"), "PK an archive already");
    tree.Dir("Work/a/b");
    WriteAll(At("a/b/two.txt"), Text(40000, "two"));
    ::chmod(At("a/b").c_str(), 0750);
    tree.Dir("Work/c");
    WriteAll(At("c/three.txt"), Text(20000, "three"));
    WriteAll(At("c/.keep"), "hidden");
    tree.Dir("Work/e");
    tree.Dir("Work/.hid");
    WriteAll(At(".hid/x.txt"), Text(20000, "x"));
    tree.Link("a", "Work/link");
    tree.Dir("Work/\xff\xfe dir");
    WriteAll(At("\xff\xfe dir/caf\xe9.txt"), Text(20000, "latin1"));
  }
};

TEST_F(SubtreeZipTest, ZipAndUndoGiveBackEveryByteAndFolder) {
  MakeTree();
  const auto before = Snapshot(folder);
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(PlanSubtree(zipper, plan).Outcome, ZipOutcome::Done);
  // Counted non-archive files of the recorded folders; hidden folders, links, archives and
  // hidden files stay out.
  EXPECT_EQ(MemberNames(plan), (std::vector<std::string>{"a/b/two.txt", "a/one.txt", "c/three.txt", "top.txt",
                                                         "\xff\xfe dir/caf\xe9.txt"}));
  EXPECT_TRUE(plan.Subtree);
  EXPECT_EQ(plan.Folders, 5);
  EXPECT_TRUE(plan.OtherFileSystems.empty());
  const std::string question = ZipQuestionText(plan, 12345);
  EXPECT_NE(question.find("5 files in 5 folders"), std::string::npos) << question;
  EXPECT_NE(question.find("estimated saving: 12,345 bytes"), std::string::npos) << question;
  EXPECT_NE(question.find("undo makes them again"), std::string::npos) << question;

  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedFiles, 5);
  // a/b and the non-UTF-8 folder were left empty; a keeps its archive, c its hidden file,
  // e was empty before and is no business of the zip's.
  EXPECT_EQ(r.FoldersRemoved, 2);
  EXPECT_FALSE(Exists(At("a/b")));
  EXPECT_FALSE(Exists(At("\xff\xfe dir")));
  EXPECT_TRUE(Exists(At("a/old.zip")) && Exists(At("c/.keep")) && Exists(At("e")) && Exists(At(".hid/x.txt")) &&
              Exists(At("ign/y.txt")));
  EXPECT_NE(ZipSummaryText(r, std::nullopt).find("2 subfolders left empty were removed"), std::string::npos);

  const UndoResult u = UndoZip(folder + r.ArchiveName, Undo());
  ASSERT_EQ(u.Outcome, ZipOutcome::Done) << u.Message;
  EXPECT_TRUE(u.Subtree);
  EXPECT_EQ(u.Restored, 5);
  EXPECT_EQ(u.FoldersMade, 2);
  EXPECT_TRUE(u.ArchiveTrashed);
  EXPECT_NE(UndoSummaryText(u, r.ArchiveName).find("making 2 subfolders again"), std::string::npos);
  // Bytes, modes and folders (a/b with its 0750) as they were.
  EXPECT_EQ(Snapshot(folder), before);
}

TEST_F(SubtreeZipTest, AFileChangedBeforeTheTrashStaysAndKeepsItsFolder) {
  MakeTree();
  options.BeforeTrash = [this] { WriteAll(At("a/b/two.txt"), Text(40001, "edited")); };
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(PlanSubtree(zipper, plan).Outcome, ZipOutcome::Done);
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Changed, std::vector<std::string>{"a/b/two.txt"});
  EXPECT_EQ(ReadAll(At("a/b/two.txt")), Text(40001, "edited"));
  EXPECT_EQ(r.FoldersRemoved, 1);  // only the non-UTF-8 one: a/b still holds the edited file
  EXPECT_NE(ZipSummaryText(r, std::nullopt).find("stayed in the folder: a/b/two.txt"), std::string::npos);

  // Undo puts back the others and leaves the edited file alone; the archive stays, as it
  // holds the only copy of the file as zipped.
  const UndoResult u = UndoZip(folder + r.ArchiveName, Undo());
  ASSERT_EQ(u.Outcome, ZipOutcome::Done) << u.Message;
  EXPECT_EQ(u.Restored, 4);
  EXPECT_EQ(u.Missing, std::vector<std::string>{"a/b/two.txt"});
  EXPECT_EQ(ReadAll(At("a/b/two.txt")), Text(40001, "edited"));
  EXPECT_EQ(ReadAll(At("\xff\xfe dir/caf\xe9.txt")), Text(20000, "latin1"));
}

TEST_F(SubtreeZipTest, UndoNeverMakesAFolderThroughALinkNorOverAFile) {
  MakeTree();
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(PlanSubtree(zipper, plan).Outcome, ZipOutcome::Done);
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  ASSERT_FALSE(Exists(At("a/b")));
  // A file now stands where a removed folder was: its member stays in the trash.
  WriteAll(At("a/b"), "mine");
  tree.Dir("elsewhere");
  // A link where the other removed folder was: refused before anything moves.
  ASSERT_EQ(::symlink(tree.PathOf("elsewhere").c_str(), At("\xff\xfe dir").c_str()), 0);
  EXPECT_EQ(UndoZip(folder + r.ArchiveName, Undo()).Outcome, ZipOutcome::Refused);
  EXPECT_TRUE(Names(tree.PathOf("elsewhere")).empty());
  ::unlink(At("\xff\xfe dir").c_str());
  const UndoResult u = UndoZip(folder + r.ArchiveName, Undo());
  ASSERT_EQ(u.Outcome, ZipOutcome::Done) << u.Message;
  EXPECT_EQ(u.Blocked, std::vector<std::string>{"a/b/two.txt"});
  EXPECT_EQ(ReadAll(At("a/b")), "mine");
  EXPECT_FALSE(u.ArchiveTrashed);
}

// As root, a tmpfs mounted inside the tree: its folder is left out with everything below.
TEST_F(SubtreeZipTest, ASubfolderOnAnotherFileSystemIsLeftOutAndSaid) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs inside the tree needs root";
  MakeTree();
  tree.Dir("Work/c/mnt");
  if (::mount("orbelan-test", At("c/mnt").c_str(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "no tmpfs could be mounted here: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{At("c/mnt")};
  ::mkdir(At("c/mnt/deep").c_str(), 0755);
  WriteAll(At("c/mnt/deep/far.txt"), Text(30000, "far"));
  WriteAll(At("c/mnt/near.txt"), Text(30000, "near"));

  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(PlanSubtree(zipper, plan).Outcome, ZipOutcome::Done);
  EXPECT_EQ(plan.OtherFileSystems, std::vector<std::string>{"c/mnt"});
  for (const ZipMember& m : plan.Members) EXPECT_FALSE(m.Name.starts_with("c/mnt")) << m.Name;
  const std::string question = ZipQuestionText(plan, std::nullopt);
  EXPECT_NE(question.find("1 subfolder on another file system is left out with everything below: c/mnt"),
            std::string::npos)
      << question;
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_NE(ZipSummaryText(r, std::nullopt).find("1 subfolder on another file system was left out"), std::string::npos);
  EXPECT_EQ(ReadAll(At("c/mnt/deep/far.txt")), Text(30000, "far"));
  EXPECT_EQ(ReadAll(At("c/mnt/near.txt")), Text(30000, "near"));
  EXPECT_TRUE(Exists(At("c")));  // holds the mount point
}

// Thousands of files in many folders and two large ones: the zip streams (the process's
// memory does not grow with the bytes), publishes its progress and stops on cancel with
// nothing changed. Run in a child, whose peak memory is its own.
TEST_F(SubtreeZipTest, ThousandsOfFilesStreamShowProgressAndCancel) {
  constexpr int kFolders = 30, kPerFolder = 40;  // 1,200 files
  for (int f = 0; f < kFolders; ++f) {
    const std::string sub = "d" + std::to_string(f);
    tree.Dir("Work/" + sub);
    for (int i = 0; i < kPerFolder; ++i)
      WriteAll(At(sub + "/f" + std::to_string(i) + ".txt"), Text(1500 + i, sub + std::to_string(i)));
  }
  WriteAll(At("d0/big1.log"), std::string(12 << 20, 'a'));
  WriteAll(At("d1/big2.log"), std::string(12 << 20, 'b'));
  const auto before = Fingerprint(folder);
  int movedCount = 0;
  options.AfterMove = [&](const ZipMember&, const TrashEntry&) { ++movedCount; };

  // Cancelled half-way through reading: nothing trashed, no archive, no temporary file.
  {
    FolderZipper* running = nullptr;
    int reads = 0;
    options.BeforeRead = [&](const ZipMember&) {
      if (++reads == 600) running->CancelRequested = true;
    };
    FolderZipper zipper(options);
    running = &zipper;
    ZipPlan plan;
    ASSERT_EQ(PlanSubtree(zipper, plan).Outcome, ZipOutcome::Done);
    EXPECT_EQ(plan.Members.size(), 1202u);
    EXPECT_EQ(plan.Folders, kFolders + 0);
    EXPECT_EQ(zipper.Run(plan).Outcome, ZipOutcome::Cancelled);
    EXPECT_EQ(Fingerprint(folder), before);
    EXPECT_EQ(movedCount, 0);
    options.BeforeRead = nullptr;
  }

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rusage start {};
    ::getrusage(RUSAGE_SELF, &start);
    std::atomic<std::int64_t> lastDone{-1}, reports{0};
    FolderZipper* running = nullptr;
    options.BeforeRead = [&](const ZipMember&) {
      // Progress moves forward within its total while reading.
      const std::int64_t done = running->Done.load();
      if (done > running->Total.load() || done < lastDone) ::_exit(10);
      if (done > lastDone) ++reports;
      lastDone = done;
    };
    FolderZipper zipper(options);
    running = &zipper;
    ZipPlan plan;
    if (zipper.PlanSubtree(folder, RecordedSubfolders(folder, rules), rules, plan).Outcome != ZipOutcome::Done) ::_exit(11);
    const ZipResult r = zipper.Run(plan);
    if (r.Outcome != ZipOutcome::Done || r.TrashedFiles != 1202) ::_exit(12);
    if (reports < 1200) ::_exit(13);
    rusage end {};
    ::getrusage(RUSAGE_SELF, &end);
    // 26 MiB of files, two of 12 MiB, and 1,202 members: what is held is the plan and the
    // archive's directory, not the bytes (ru_maxrss is in KiB).
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed blocks back on purpose, so peak memory says nothing there.
    ::_exit(0);
#else
    ::_exit(end.ru_maxrss - start.ru_maxrss < 6 * 1024 ? 0 : 14);
#endif
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10 progress backwards, 11 plan, 12 run, 13 progress, 14 memory";
  // Every subfolder was left empty and went.
  EXPECT_EQ(Names(folder).size(), 1u);
}

class SubtreeZipCommandTest : public SubtreeZipTest {
 protected:
  int Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::istringstream in(input);
    out.str("");
    err.str("");
    ZipCommandContext c;
    c.settings = &settings;
    c.in = &in;
    c.out = &out;
    c.err = &err;
    c.terminal = !input.empty();
    c.zip = options;
    c.undo = Undo();
    return RunZipCommand(args, c);
  }
  std::ostringstream out, err;
  Settings settings = [] {
    Settings defaults;
    defaults.SetDefaults();
    return defaults;
  }();
};

TEST_F(SubtreeZipCommandTest, ZipsTheSubtreeAsksWithTheWindowsQuestionAndUndoes) {
  MakeTree();  // ign/ is not ignored by the command's settings: 6 files in 6 folders
  const auto before = Snapshot(folder);
  EXPECT_EQ(Run({"--subtree", folder}, "n\n"), kZipNothingChanged);
  EXPECT_NE(err.str().find("Zip this folder and everything below it?"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("6 files in 6 folders"), std::string::npos) << err.str();
  EXPECT_EQ(Snapshot(folder), before);

  EXPECT_EQ(Run({"--yes", "--subtree", folder}), kZipDone) << err.str();
  EXPECT_NE(out.str().find("Zipped 6 files from 6 folders"), std::string::npos) << out.str();
  EXPECT_FALSE(Exists(At("a/b/two.txt")));
  EXPECT_EQ(Run({"--yes", "--undo", folder + "Work-2026-12-08.zip"}), kZipDone) << err.str();
  EXPECT_EQ(Snapshot(folder), before);
}

TEST_F(SubtreeZipCommandTest, AFileThatCannotBeReadIsNamedOnStderrAndTheRestIsZipped) {
  MakeTree();
  // A pipe in its place when it is read: it stays, out of the archive.
  options.BeforeRead = [this](const ZipMember& m) {
    if (m.Name != "a/b/two.txt") return;
    ::unlink(At("a/b/two.txt").c_str());
    ASSERT_EQ(::mkfifo(At("a/b/two.txt").c_str(), 0600), 0);
  };
  EXPECT_EQ(Run({"--yes", "--subtree", folder}), kZipSomeStayed) << err.str();
  EXPECT_NE(err.str().find("stayed (unreadable: it is no longer an ordinary file): " + At("a/b/two.txt") + "\n"),
            std::string::npos)
      << err.str();
  EXPECT_NE(out.str().find("Zipped 5 files"), std::string::npos) << out.str();
  EXPECT_TRUE(Exists(At("a/b/two.txt")));
}

}  // namespace
}  // namespace orbelan
