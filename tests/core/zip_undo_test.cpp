// Undo zip and orbelan-zip against real folders and a real trash: a zip undone gives back
// a byte-identical folder; a manifest that names other places is refused; what stands at a
// place now is never replaced; the command line's exit statuses.

#include "archive/zip_undo.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "archive/folder_lock.h"
#include "archive/zip_manifest.h"
#include "archive/zip_messages.h"
#include "cli/zip_command.h"
#include "platform/quoted_name.h"
#include "tests/core/zip_fixture.h"

namespace orbelan {
namespace {

using testing::Exists;
using testing::ReadAll;
using testing::Text;
using testing::WriteAll;

// Every entry of a folder with its bytes (files), its target (links) or "<dir>", and mode.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> out;
  DIR* dir = ::opendir(folder.c_str());
  while (dirent* e = dir ? ::readdir(dir) : nullptr) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    ::lstat((folder + name).c_str(), &st);
    std::string what = std::to_string(st.st_mode) + ":";
    if (S_ISREG(st.st_mode)) what += ReadAll(folder + name);
    out[name] = what;
  }
  if (dir) ::closedir(dir);
  return out;
}

// An archive of our own making with the manifest given: what a hostile archive could say.
void WriteArchiveWithManifest(const std::string& path, const ZipManifest& manifest) {
  archive* a = ::archive_write_new();
  ::archive_write_set_format_zip(a);
  ::archive_write_open_filename(a, path.c_str());
  const std::string text = ManifestText(manifest);
  archive_entry* e = ::archive_entry_new();
  ::archive_entry_copy_pathname(e, kManifestName);
  ::archive_entry_set_filetype(e, AE_IFREG);
  ::archive_entry_set_perm(e, 0644);
  ::archive_entry_set_size(e, static_cast<la_int64_t>(text.size()));
  ::archive_write_header(a, e);
  ::archive_write_data(a, text.data(), text.size());
  ::archive_entry_free(e);
  ::archive_write_close(a);
  ::archive_write_free(a);
}

class UndoTest : public testing::ZipFolderTest {
 protected:
  void SetUp() override {
    ZipFolderTest::SetUp();
    undo.HomeTrash = home;
  }
  ZipResult Zip() { return PlanAndRun(); }

  UndoOptions undo;
};

TEST_F(UndoTest, UndoAfterAZipGivesBackTheFolderByteForByte) {
  for (const std::string& name : {std::string("a.txt"), std::string("back\\slash"), std::string("cafe\xcc\x81"),
                                  std::string("nl\nname"), std::string(250, 'z'), std::string("\xff\xfe")})
    WriteAll(folder + name, Text(12000, name));
  ::chmod((folder + "a.txt").c_str(), 0600);
  WriteAll(folder + "kept.zip", "an archive of the user's");
  tree.Dir("Work/sub");
  const auto before = Snapshot(folder);

  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.Outcome, ZipOutcome::Done) << zipped.Message;
  ASSERT_EQ(zipped.TrashedFiles, 6);
  EXPECT_EQ(FindUndoableArchive(folder), zipped.ArchiveName);
  const auto manifest = ReadZipManifest(folder + zipped.ArchiveName, nullptr);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->Folder, folder);
  EXPECT_EQ(manifest->Members.size(), 6u);

  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Restored, 6);
  EXPECT_TRUE(r.ArchiveTrashed);
  EXPECT_EQ(Snapshot(folder), before);
  EXPECT_EQ(FindUndoableArchive(folder), std::nullopt);
}

TEST_F(UndoTest, WhatStandsThereNowIsNeverReplacedAndTheArchiveStays) {
  WriteAll(folder + "a.txt", Text(20000, "a"));
  WriteAll(folder + "b.txt", Text(20000, "b"));
  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.Outcome, ZipOutcome::Done) << zipped.Message;
  WriteAll(folder + "a.txt", "a new file of the same name");
  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Restored, 1);
  EXPECT_EQ(r.Blocked, std::vector<std::string>{"a.txt"});
  EXPECT_FALSE(r.ArchiveTrashed);
  EXPECT_EQ(ReadAll(folder + "a.txt"), "a new file of the same name");
  EXPECT_EQ(ReadAll(folder + "b.txt"), Text(20000, "b"));
  EXPECT_EQ(ReadAll(folder + zipped.ArchiveName).substr(0, 2), "PK");
}

// A file that stayed (it was in use) while an older zip's trash holds the same bytes under
// the same path: the file in place is the one zipped, not a stranger blocking the entry.
TEST_F(UndoTest, AFileStillInPlaceIsNotBlockedByAnOlderTrashEntryOfItsBytes) {
  WriteAll(folder + "a.txt", Text(20000, "a"));
  WriteAll(folder + "b.txt", Text(20000, "b"));
  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.Outcome, ZipOutcome::Done) << zipped.Message;
  WriteAll(folder + "a.txt", Text(20000, "a"));  // as it was: the trash's copy is now a stale twin
  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.InPlace, 1);
  EXPECT_EQ(r.Restored, 1);
  EXPECT_TRUE(r.Blocked.empty());
  EXPECT_TRUE(r.ArchiveTrashed) << r.ArchiveNotTrashedWhy;
  EXPECT_EQ(ReadAll(folder + "a.txt"), Text(20000, "a"));
  EXPECT_EQ(ReadAll(folder + "b.txt"), Text(20000, "b"));
}

TEST_F(UndoTest, AManifestNamingOtherPlacesIsRefused) {
  // A file of the parent's in the trash, and archives that claim it.
  WriteAll(tree.PathOf("secret"), "the parent's");
  ASSERT_TRUE(MoveToTrash(tree.PathOf("secret"), home, nullptr, nullptr));
  tree.Dir("Work/dir");
  ASSERT_EQ(::symlink("..", (folder + "up").c_str()), 0);
  for (const std::string& name : {std::string("../secret"), std::string("/etc/passwd"), std::string("up/secret"),
                                  std::string("dir/../../secret"), std::string("./x"), std::string("")}) {
    ZipManifest hostile{folder, {{name, 12, 0}}, {}};
    WriteArchiveWithManifest(folder + "hostile.zip", hostile);
    const UndoResult r = UndoZip(folder + "hostile.zip", undo);
    EXPECT_EQ(r.Outcome, ZipOutcome::Refused) << name;
    EXPECT_NE(r.Message.find("Nothing was changed."), std::string::npos) << r.Message;
    // Refused for the name itself, before any entry of the trash is looked at.
    if (!name.empty()) {
      EXPECT_NE(r.Message.find("names a place outside"), std::string::npos) << r.Message;
    }
  }
  EXPECT_FALSE(::access(tree.PathOf("secret").c_str(), F_OK) == 0);
  EXPECT_EQ(::access((folder + "hostile.zip").c_str(), F_OK), 0);

  // A manifest written for another folder: only entries recorded for this one are taken.
  WriteAll(tree.PathOf("a.txt"), Text(20000, "outside"));
  ASSERT_TRUE(MoveToTrash(tree.PathOf("a.txt"), home, nullptr, nullptr));
  ZipManifest elsewhere{tree.PathOf("") , {{"a.txt", 20000, 0}}, {}};
  WriteArchiveWithManifest(folder + "elsewhere.zip", elsewhere);
  const UndoResult r = UndoZip(folder + "elsewhere.zip", undo);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(::access((folder + "a.txt").c_str(), F_OK), 0);

  // Not an archive of ours at all.
  WriteAll(folder + "plain.zip", "PK not really");
  EXPECT_EQ(UndoZip(folder + "plain.zip", undo).Outcome, ZipOutcome::Refused);
}

TEST_F(UndoTest, FilesOfSubfoldersZipAndComeBackToTheirSubfolders) {
  tree.Dir("Work/a");
  tree.Dir("Work/a/b");
  WriteAll(folder + "top.txt", Text(15000, "top"));
  WriteAll(folder + "a/mid.txt", Text(15000, "mid"));
  WriteAll(folder + "a/b/deep\\name.txt", Text(15000, "deep"));
  const auto before = Snapshot(folder + "a/b/");
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.PlanFiles(folder, {"top.txt", "a/mid.txt", "a/b/deep\\name.txt"}, plan).Outcome,
            ZipOutcome::Done);
  const ZipResult zipped = zipper.Run(plan);
  ASSERT_EQ(zipped.Outcome, ZipOutcome::Done) << zipped.Message;
  EXPECT_EQ(zipped.TrashedFiles, 3);
  EXPECT_NE(::access((folder + "a/mid.txt").c_str(), F_OK), 0);

  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Restored, 3);
  EXPECT_TRUE(r.ArchiveTrashed);
  EXPECT_EQ(ReadAll(folder + "a/mid.txt"), Text(15000, "mid"));
  EXPECT_EQ(Snapshot(folder + "a/b/"), before);

  // Names that leave the folder, or pass a link, are refused before anything is written.
  ASSERT_EQ(::symlink("a", (folder + "link").c_str()), 0);
  for (const std::string& bad : {std::string("../x"), std::string("a/../top.txt"), std::string("link/mid.txt"),
                                 std::string("/etc/passwd"), std::string("a/")})
    EXPECT_EQ(zipper.PlanFiles(folder, {bad}, plan).Outcome, ZipOutcome::Refused) << bad;
}

// Zips top.txt and a/x.txt (a subfolder's file) of the folder.
class UndoSubfolderTest : public UndoTest {
 protected:
  ZipResult ZipWithSubfolder() {
    tree.Dir("Work/a");
    WriteAll(folder + "top.txt", Text(15000, "top"));
    WriteAll(folder + "a/x.txt", Text(15000, "x"));
    FolderZipper zipper(options);
    ZipPlan plan;
    if (zipper.PlanFiles(folder, {"a/x.txt", "top.txt"}, plan).Outcome != ZipOutcome::Done) return {};
    return zipper.Run(plan);
  }
};

// The folder on the way checked, then swapped for a link to a folder outside: the file
// stays in the trash, named with the cause, and nothing lands outside.
TEST_F(UndoSubfolderTest, ASubfolderSwappedForALinkMidUndoSteersNothingOutside) {
  const ZipResult zipped = ZipWithSubfolder();
  ASSERT_EQ(zipped.TrashedFiles, 2) << zipped.Message;
  tree.Dir("outside");
  undo.BeforePlace = [&](const std::string& name) {
    if (name != "a/x.txt") return;
    ::rename((folder + "a").c_str(), (folder + "a.old").c_str());
    ::symlink(tree.PathOf("outside").c_str(), (folder + "a").c_str());
  };
  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Restored, 1);
  ASSERT_EQ(r.NotRestored, std::vector<std::string>{"a/x.txt"});
  EXPECT_NE(r.NotRestoredWhy[0].find("link"), std::string::npos) << r.NotRestoredWhy[0];
  EXPECT_FALSE(Exists(tree.PathOf("outside/x.txt")));
  EXPECT_EQ(ReadAll(home + "/files/x.txt"), Text(15000, "x"));
  EXPECT_FALSE(r.ArchiveTrashed);
}

// The trash's file checked, then replaced there by another: what arrived is not the file
// checked, so it goes back to the trash and the member is named.
TEST_F(UndoSubfolderTest, AFileReplacedInTheTrashAfterItsCheckGoesBack) {
  const ZipResult zipped = ZipWithSubfolder();
  ASSERT_EQ(zipped.TrashedFiles, 2) << zipped.Message;
  undo.BeforePlace = [&](const std::string& name) {
    if (name != "top.txt") return;
    ::rename((home + "/files/top.txt").c_str(), tree.PathOf("checked").c_str());
    WriteAll(home + "/files/top.txt", "a stranger");
  };
  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  EXPECT_EQ(r.NotRestored, std::vector<std::string>{"top.txt"});
  EXPECT_FALSE(Exists(folder + "top.txt"));
  EXPECT_EQ(ReadAll(home + "/files/top.txt"), "a stranger");
  EXPECT_EQ(ReadAll(folder + "a/x.txt"), Text(15000, "x"));
}

// Zipped by the folder's real path and undone through a link to it, and the other way
// round: the trash records name the path the zip was given, undo finds them by either.
TEST_F(UndoTest, AFolderReachedThroughALinkZipsAndUndoesEitherWay) {
  ASSERT_EQ(::symlink(folder.c_str(), tree.PathOf("WorkLink").c_str()), 0);
  const std::string linked = tree.PathOf("WorkLink/");
  for (const auto& [zipBy, undoBy] : {std::pair{folder, linked}, std::pair{linked, folder}}) {
    WriteAll(folder + "a.txt", Text(20000, "a"));
    WriteAll(folder + "b.txt", Text(20000, "b"));
    FolderZipper zipper(options);
    ZipPlan plan;
    ASSERT_EQ(zipper.Plan(zipBy, rules, plan).Outcome, ZipOutcome::Done);
    const ZipResult zipped = zipper.Run(plan);
    ASSERT_EQ(zipped.TrashedFiles, 2) << zipped.Message;
    const UndoResult r = UndoZip(undoBy + zipped.ArchiveName, undo);
    ASSERT_EQ(r.Outcome, ZipOutcome::Done) << UndoSummaryText(r, zipped.ArchiveName);
    EXPECT_EQ(r.Folder, folder);
    EXPECT_EQ(r.Restored, 2) << zipBy;
    EXPECT_TRUE(r.ArchiveTrashed) << r.ArchiveNotTrashedWhy;
    EXPECT_EQ(ReadAll(folder + "a.txt"), Text(20000, "a"));
  }
}

// Moved to another folder: the files are in the trash, recorded for the old folder; undo
// says where the archive was made and changes nothing, rather than call them gone.
TEST_F(UndoTest, AnArchiveMovedElsewhereSaysWhereItWasMade) {
  WriteAll(folder + "a.txt", Text(20000, "a"));
  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.Outcome, ZipOutcome::Done) << zipped.Message;
  tree.Dir("Other");
  const std::string other = tree.PathOf("Other/");
  ASSERT_EQ(::rename((folder + zipped.ArchiveName).c_str(), (other + zipped.ArchiveName).c_str()), 0);
  const UndoResult r = UndoZip(other + zipped.ArchiveName, undo);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_EQ(r.MadeIn, folder);
  EXPECT_EQ(r.RecordedElsewhere, std::vector<std::string>{"a.txt"});
  EXPECT_TRUE(r.Missing.empty());
  const std::string text = UndoSummaryText(r, zipped.ArchiveName);
  EXPECT_NE(text.find("was made in " + folder + " and now lies in " + other), std::string::npos) << text;
  EXPECT_EQ(text.find("no longer in the trash"), std::string::npos) << text;
  EXPECT_FALSE(Exists(other + "a.txt"));
}

// A read-only mount: the cause the system gives is told, not "no longer in the trash".
TEST_F(UndoTest, AFailedMoveBackTellsItsTrueCause) {
  WriteAll(folder + "a.txt", Text(20000, "a"));
  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.Outcome, ZipOutcome::Done) << zipped.Message;
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount the tree read-only";
  const std::string root = tree.Root();
  if (::mount(root.c_str(), root.c_str(), nullptr, MS_BIND, nullptr) != 0)
    GTEST_SKIP() << "a bind mount cannot be made here";
  const bool readOnly = ::mount(nullptr, root.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  const UndoResult r = readOnly ? UndoZip(folder + zipped.ArchiveName, undo) : UndoResult{};
  ::umount2(root.c_str(), MNT_DETACH);
  ASSERT_TRUE(readOnly);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_EQ(r.NotRestored, std::vector<std::string>{"a.txt"});
  const std::string text = UndoSummaryText(r, zipped.ArchiveName);
  EXPECT_NE(text.find("a.txt (Read-only file system)"), std::string::npos) << text;
  EXPECT_EQ(text.find("no longer in the trash"), std::string::npos) << text;
}

TEST_F(UndoTest, AFolderLockedByAnotherRunIsLeftAlone) {
  WriteAll(folder + "a.txt", Text(20000, "a"));
  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.Outcome, ZipOutcome::Done) << zipped.Message;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::optional<FolderLock> other = FolderLock::Take(fd, nullptr);
  ASSERT_TRUE(other);
  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(r.Message.find(kFolderBusy), std::string::npos) << r.Message;
  EXPECT_FALSE(Exists(folder + "a.txt"));
  other.reset();
  ::close(fd);
  EXPECT_EQ(UndoZip(folder + zipped.ArchiveName, undo).Restored, 1);
}

// Killed between two moves back, its records not yet removed: every file is in its place
// or in the trash with the record that restores it, and undo run again finishes the work.
TEST_F(UndoTest, KilledBetweenMovesLosesNothingAndUndoFinishes) {
  std::map<std::string, std::string> originals;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "file " + std::to_string(i) + ".txt";
    originals[name] = Text(12000, name);
    WriteAll(folder + name, originals[name]);
  }
  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.TrashedFiles, 8) << zipped.Message;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    UndoOptions dying = undo;
    int placed = 0;
    dying.BeforePlace = [&placed](const std::string&) {
      if (++placed == 5) ::raise(SIGKILL);
    };
    UndoZip(folder + zipped.ArchiveName, dying);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  int back = 0;
  for (const auto& [name, bytes] : originals) {
    if (Exists(folder + name)) {
      EXPECT_EQ(ReadAll(folder + name), bytes) << name;
      ++back;
      continue;
    }
    EXPECT_EQ(ReadAll(home + "/files/" + name), bytes) << name;
    EXPECT_EQ(ReadTrashRecord(home, name, nullptr), folder + name) << name;
  }
  EXPECT_EQ(back, 4);
  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  EXPECT_EQ(r.InPlace, 4);
  EXPECT_EQ(r.Restored, 4);
  EXPECT_TRUE(r.ArchiveTrashed) << UndoSummaryText(r, zipped.ArchiveName);
  // The records the killed undo left without their files are gone too: a trash listing
  // shows only the archive.
  EXPECT_EQ(testing::Names(home + "/info"), std::vector<std::string>{zipped.ArchiveName + ".trashinfo"});
}

// The archive goes to the trash by its name only while the name still leads to the archive
// that was read: one replaced while the files were being put back stays, and so does the
// stranger at its name.
TEST_F(UndoTest, AnArchiveReplacedDuringUndoIsNotTrashedNorIsWhatTookItsName) {
  WriteAll(folder + "a.txt", Text(20000, "a"));
  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.TrashedFiles, 1) << zipped.Message;
  const std::string archive = folder + zipped.ArchiveName;
  UndoOptions swapping = undo;
  swapping.BeforePlace = [&](const std::string&) {
    ASSERT_EQ(::rename(archive.c_str(), (folder + "moved.zip").c_str()), 0);
    WriteAll(archive, "a stranger took the archive's name");
  };
  const UndoResult r = UndoZip(archive, swapping);
  EXPECT_EQ(r.Restored, 1);
  EXPECT_FALSE(r.ArchiveTrashed);
  EXPECT_NE(r.ArchiveNotTrashedWhy.find("moved or replaced"), std::string::npos) << r.ArchiveNotTrashedWhy;
  EXPECT_EQ(ReadAll(archive), "a stranger took the archive's name");
  EXPECT_TRUE(Exists(folder + "moved.zip"));
}

// A file of the member's size at its place is not the member unless its CRC is: the member
// stays in the trash, the stranger stays, and so does the archive.
TEST_F(UndoTest, AStrangerOfTheMembersSizeAtItsPlaceIsNotTheMember) {
  WriteAll(folder + "a.txt", Text(20000, "a"));
  const ZipResult zipped = Zip();
  ASSERT_EQ(zipped.TrashedFiles, 1) << zipped.Message;
  const std::string stranger = Text(20000, "z");
  ASSERT_EQ(stranger.size(), Text(20000, "a").size());
  WriteAll(folder + "a.txt", stranger);
  const UndoResult r = UndoZip(folder + zipped.ArchiveName, undo);
  EXPECT_EQ(r.InPlace, 0);
  EXPECT_EQ(r.Restored, 0);
  EXPECT_EQ(r.Blocked, std::vector<std::string>{"a.txt"});
  EXPECT_FALSE(r.ArchiveTrashed);
  EXPECT_EQ(ReadAll(folder + "a.txt"), stranger);
  EXPECT_EQ(ReadAll(home + "/files/a.txt"), Text(20000, "a"));
}

TEST(ZipManifestText, RoundTripsAndRejectsWhatItDidNotWrite) {
  ZipManifest m{"/a b/%/", {{"x\ny", 5, 0xdeadbeef}, {"\xff", 0, 0}}, {{"sub \xfe", 0750}}};
  const std::string text = ManifestText(m);
  const auto back = ParseManifest(text, nullptr);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Folder, m.Folder);
  ASSERT_EQ(back->Members.size(), 2u);
  EXPECT_EQ(back->Members[0].Name, "x\ny");
  EXPECT_EQ(back->Members[0].Crc, 0xdeadbeefu);
  ASSERT_EQ(back->Subfolders.size(), 1u);
  EXPECT_EQ(back->Subfolders[0].Name, "sub \xfe");
  EXPECT_EQ(back->Subfolders[0].Mode, 0750u);
  for (const std::string& bad : {std::string(""), std::string("Orbelan zip manifest 2\n"),
                                 text.substr(0, text.size() - 1), text + "Member=-1 00000000 a\n",
                                 text + "Member=1 zz a\n", text + "Member=1 00000000 %zz\n",
                                 text + "Subfolder=0755\n", text + "Subfolder=9 a\n", text + "Subfolder=17777 a\n",
                                 std::string("Orbelan zip manifest 1\nFolder=relative/\n")})
    EXPECT_FALSE(ParseManifest(bad, nullptr)) << bad;
}

class ZipCommandTest : public UndoTest {
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
    c.terminal = terminal;
    c.zip = options;
    c.undo = undo;
    return RunZipCommand(args, c);
  }
  std::ostringstream out, err;
  bool terminal = false;
  Settings settings = [] {
    Settings defaults;
    defaults.SetDefaults();
    return defaults;
  }();
};

TEST_F(ZipCommandTest, ExitStatusesTellWhatHappened) {
  EXPECT_EQ(Run({}), kZipUsage);
  EXPECT_EQ(Run({"--bogus", folder}), kZipUsage);
  EXPECT_EQ(Run({folder, folder}), kZipUsage);
  EXPECT_EQ(Run({"--help"}), kZipDone);
  EXPECT_NE(out.str().find("--undo ARCHIVE"), std::string::npos);
  EXPECT_EQ(Run({"--subtree", "--undo", folder}), kZipUsage);
  EXPECT_EQ(Run({"--yes", "--subtree", folder}), kZipNothingChanged);
  EXPECT_NE(err.str().find("and the folders below it have no files to zip"), std::string::npos) << err.str();

  // Nothing to zip: refused with the window's message.
  EXPECT_EQ(Run({"--yes", folder}), kZipNothingChanged);
  EXPECT_NE(err.str().find("has no files to zip"), std::string::npos) << err.str();

  WriteAll(folder + "a.txt", Text(20000, "a"));
  WriteAll(folder + "b.txt", Text(20000, "b"));
  // Not a terminal and no --yes: nothing is asked, nothing changes.
  EXPECT_EQ(Run({folder}), kZipNothingChanged);
  // Asked on a terminal and declined.
  terminal = true;
  EXPECT_EQ(Run({folder}, "n\n"), kZipNothingChanged);
  EXPECT_NE(err.str().find("Zip the files of this folder?"), std::string::npos);
  EXPECT_NE(err.str().find("comes back only when the trash is emptied"), std::string::npos);
  EXPECT_EQ(ReadAll(folder + "a.txt"), Text(20000, "a"));
  terminal = false;

  // One file held open for writing stays: done, but status 3 and the file on stderr.
  const int writer = ::open((folder + "b.txt").c_str(), O_WRONLY);
  EXPECT_EQ(Run({"--yes", folder}), kZipSomeStayed);
  ::close(writer);
  EXPECT_NE(out.str().find("Zipped 2 files"), std::string::npos) << out.str();
  EXPECT_NE(err.str().find("stayed (open for writing, or mapped shared and writable): " + folder + "b.txt"), std::string::npos) << err.str();
  const auto archive = FindUndoableArchive(folder);
  ASSERT_TRUE(archive);

  // Undo: a.txt comes back; b.txt never left and is as zipped: all is back, the archive goes.
  EXPECT_EQ(Run({"--yes", "--undo", folder + *archive}), kZipDone);
  EXPECT_EQ(ReadAll(folder + "a.txt"), Text(20000, "a"));
  EXPECT_NE(out.str().find("Put back 1 file of 2 in " + folder + " (1 had never left)"), std::string::npos) << out.str();
  EXPECT_NE(::access((folder + *archive).c_str(), F_OK), 0);

  // A file changed since, and not in the trash: the archive holds the only copy, so it stays.
  ASSERT_EQ(Run({"--yes", folder}), kZipDone);
  const auto third = FindUndoableArchive(folder);
  ASSERT_TRUE(third);
  WriteAll(home + "/files/b.txt", "emptied and replaced");
  EXPECT_EQ(Run({"--yes", "--undo", folder + *third}), kZipSomeStayed);
  EXPECT_NE(err.str().find("not in the trash: " + folder + "b.txt"), std::string::npos) << err.str();
  EXPECT_EQ(ReadAll(folder + "a.txt"), Text(20000, "a"));
  EXPECT_EQ(ReadAll(folder + *third).substr(0, 2), "PK");
  ::unlink((folder + *third).c_str());
  ::rename((home + "/files/b.txt").c_str(), (folder + "b.txt").c_str());
  WriteAll(folder + "b.txt", Text(20000, "b"));

  // A clean zip and a clean undo: 0 and 0.
  EXPECT_EQ(Run({"--yes", folder}), kZipDone);
  const auto again = FindUndoableArchive(folder);
  ASSERT_TRUE(again);
  EXPECT_EQ(Run({"--yes", "--undo", folder + *again}), kZipDone);
  EXPECT_EQ(ReadAll(folder + "b.txt"), Text(20000, "b"));
  EXPECT_EQ(Run({"--yes", "--undo", folder + *again}), kZipNothingChanged);
}

// A file left out for what a zip cannot hold is named with its cause: status 3.
TEST_F(ZipCommandTest, AFileKeptBackForItsAttributesGivesStatus3AndItsLine) {
  WriteAll(folder + "plain.txt", Text(20000, "p"));
  WriteAll(folder + "tagged.txt", Text(20000, "t"));
  if (::setxattr((folder + "tagged.txt").c_str(), "user.origin", "camera", 6, 0) != 0)
    GTEST_SKIP() << "this file system takes no user extended attributes";
  EXPECT_EQ(Run({"--yes", folder}), kZipSomeStayed);
  EXPECT_EQ(err.str(), "stayed (extended attributes or ACLs, which a zip cannot hold): " + folder + "tagged.txt\n");
}

TEST_F(ZipCommandTest, ANameCannotForgeALineOnStandardError) {
  WriteAll(folder + "plain.txt", Text(20000, "p"));
  WriteAll(folder + "in\nuse.txt", Text(20000, "u"));
  const int writer = ::open((folder + "in\nuse.txt").c_str(), O_WRONLY);
  EXPECT_EQ(Run({"--yes", folder}), kZipSomeStayed);
  ::close(writer);
  EXPECT_EQ(err.str(), "stayed (open for writing, or mapped shared and writable): " + QuotedName(folder + "in\nuse.txt") + "\n");
}

}  // namespace
}  // namespace orbelan
