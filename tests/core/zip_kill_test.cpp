// Zipping killed with SIGKILL at every stage, in a child process: every original's bytes
// are in the folder or in the trash under a record that leads back to their exact path,
// and the next plan leaves no temporary archive behind.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>
#include <gtest/gtest.h>

#include "archive/zip_undo.h"
#include "platform/trash_at.h"
#include "platform/trash_orphans.h"
#include "scan/recorded_subfolders.h"
#include "tests/core/zip_fixture.h"

namespace orbelan {
namespace {

using testing::Names;
using testing::ReadAll;
using testing::WriteAll;

// A temporary archive of ours: hidden, with our mark and ending in ".part".
bool IsTemporaryArchive(const std::string& name) {
  return name.front() == '.' && name.find(".orbelan-") != std::string::npos && name.ends_with(".part");
}

class ZipKillTest : public testing::ZipFolderTest {
 protected:
  void SetUp() override {
    ZipFolderTest::SetUp();
    std::mt19937 gen(5);
    for (int i = 0; i < 12; ++i) {
      std::string bytes;
      for (int k = 0; k < 3000 + 700 * i; ++k) bytes += "word" + std::to_string(gen() % 97) + ' ';
      const std::string name = (i % 3 == 0 ? "odd\\name " : "file ") + std::to_string(i) + (i == 5 ? "\n" : ".txt");
      WriteAll(folder + name, bytes);
      originals[name] = bytes;
    }
  }

  // Runs the zip in a child that kills itself when killAt says so; waits for it.
  void ZipAndDie(const std::function<void(ZipOptions&)>& killAt) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ZipOptions dying = options;
      killAt(dying);
      FolderZipper zipper(dying);
      ZipPlan plan;
      if (PlanIt(zipper, plan).Outcome == ZipOutcome::Done) zipper.Run(plan);
      ::_exit(0);  // not killed: the stage was not reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
  }

  // Every original is in the folder or in the trash, byte for byte, its record exact.
  void ExpectEveryByteSafe() {
    std::map<std::string, std::string> inTrash;
    for (const std::string& info : Names(home + "/info")) {
      const std::string name = info.substr(0, info.size() - std::string(".trashinfo").size());
      struct stat st {};
      if (::lstat((home + "/files/" + name).c_str(), &st) != 0) {
        // Without its file: left by a kill before the move, readable, or empty when the kill
        // came between its creation and its first write.
        if (ReadAll(home + "/info/" + info).empty()) continue;
      }
      const auto original = ReadTrashRecord(home, name, nullptr);
      ASSERT_TRUE(original) << "an unreadable record: " << info;
      if (::lstat((home + "/files/" + name).c_str(), &st) == 0) inTrash[*original] = ReadAll(home + "/files/" + name);
    }
    for (const auto& [name, bytes] : originals) {
      struct stat st {};
      if (::lstat((folder + name).c_str(), &st) == 0) {
        EXPECT_EQ(ReadAll(folder + name), bytes) << name;
      } else {
        ASSERT_TRUE(inTrash.count(folder + name)) << name << " is neither in place nor in the trash";
        EXPECT_EQ(inTrash[folder + name], bytes) << name;
      }
    }
    // Whatever is in files/ has its record.
    for (const std::string& name : Names(home + "/files"))
      EXPECT_EQ(::access((home + "/info/" + name + ".trashinfo").c_str(), F_OK), 0) << name;
  }

  // What a run does first, once the user said yes; the leftovers it trashes are taken out
  // of the trash again, which these tests count originals in.
  void ExpectNoTemporaryArchiveAfterThePlan() {
    FolderZipper zipper(options);
    ZipPlan plan;
    PlanIt(zipper, plan);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FolderTrash trash;
    ASSERT_TRUE(trash.Prepare(fd, home, nullptr));
    zipper.TrashAbandonedTemporaries(plan, fd, trash);
    ::close(fd);
    for (const std::string& name : Names(folder)) EXPECT_FALSE(IsTemporaryArchive(name)) << name;
    for (const std::string& name : Names(home + "/files"))
      if (IsTemporaryArchive(name)) {
        ::unlink((home + "/files/" + name).c_str());
        ::unlink((home + "/info/" + name + ".trashinfo").c_str());
      }
  }

  // The folder's own files, or with subtree its whole subtree (Zip subtree).
  ZipResult PlanIt(FolderZipper& zipper, ZipPlan& plan) {
    return subtree ? zipper.PlanSubtree(folder, RecordedSubfolders(folder, rules), rules, plan)
                   : zipper.Plan(folder, rules, plan);
  }

  // Moves the originals into subfolders a/ and a/b/ (the rest stay on top): for the subtree.
  void SpreadIntoSubfolders() {
    subtree = true;
    tree.Dir("Work/a");
    tree.Dir("Work/a/b");
    std::map<std::string, std::string> spread;
    int i = 0;
    for (const auto& [name, bytes] : originals) {
      const std::string place = (i % 3 == 0 ? "" : i % 3 == 1 ? "a/" : "a/b/") + name;
      ::rename((folder + name).c_str(), (folder + place).c_str());
      spread[place] = bytes;
      ++i;
    }
    originals = std::move(spread);
  }

  std::map<std::string, std::string> originals;
  bool subtree = false;
};

TEST_F(ZipKillTest, KilledInEachStageLosesNothing) {
  // While writing (the temporary archive half written), while reading back, and while
  // trashing (after some files went).
  ZipAndDie([](ZipOptions& o) {
    int reads = 0;
    o.BeforeRead = [reads](const ZipMember&) mutable {
      if (++reads == 6) ::raise(SIGKILL);
    };
  });
  const std::vector<std::string> left = Names(folder);
  EXPECT_EQ(std::count_if(left.begin(), left.end(), IsTemporaryArchive), 1);  // until the next plan
  ExpectEveryByteSafe();
  ExpectNoTemporaryArchiveAfterThePlan();

  ZipAndDie([](ZipOptions& o) { o.AtStage = [](ZipStage s) { if (s == ZipStage::Verifying) ::raise(SIGKILL); }; });
  ExpectEveryByteSafe();
  ExpectNoTemporaryArchiveAfterThePlan();

  ZipAndDie([](ZipOptions& o) {
    int trashed = 0;
    o.AfterMove = [trashed](const ZipMember&, const TrashEntry&) mutable {
      if (++trashed == 4) ::raise(SIGKILL);
    };
  });
  ExpectEveryByteSafe();
  EXPECT_EQ(Names(home + "/files").size(), 4u);
  ExpectNoTemporaryArchiveAfterThePlan();
}

TEST_F(ZipKillTest, ASubtreeKilledInEachStageLosesNothingAndUndoes) {
  SpreadIntoSubfolders();
  ZipAndDie([](ZipOptions& o) {
    int reads = 0;
    o.BeforeRead = [reads](const ZipMember&) mutable {
      if (++reads == 7) ::raise(SIGKILL);
    };
  });
  ExpectEveryByteSafe();
  ExpectNoTemporaryArchiveAfterThePlan();
  ZipAndDie([](ZipOptions& o) { o.AtStage = [](ZipStage s) { if (s == ZipStage::Verifying) ::raise(SIGKILL); }; });
  ExpectEveryByteSafe();
  ExpectNoTemporaryArchiveAfterThePlan();  // else the next run trashes it beside the originals
  // Killed after the last file went to the trash, before the emptied folders go.
  ZipAndDie([this](ZipOptions& o) {
    int trashed = 0;
    const int all = static_cast<int>(originals.size());
    o.AfterMove = [trashed, all](const ZipMember&, const TrashEntry&) mutable {
      if (++trashed == all) ::raise(SIGKILL);
    };
  });
  ExpectEveryByteSafe();
  EXPECT_EQ(Names(home + "/files").size(), originals.size());
  EXPECT_TRUE(testing::Exists(folder + "a/b"));
  // The killed run's archive is whole: undo brings every file back to its subfolder.
  std::string archive;
  for (const std::string& name : Names(folder))
    if (name.ends_with(".zip")) archive = name;
  ASSERT_FALSE(archive.empty());
  UndoOptions undo;
  undo.HomeTrash = home;
  const UndoResult back = UndoZip(folder + archive, undo);
  ASSERT_EQ(back.Outcome, ZipOutcome::Done) << back.Message;
  EXPECT_EQ(back.Restored, static_cast<std::int64_t>(originals.size()));
  for (const auto& [name, bytes] : originals) EXPECT_EQ(ReadAll(folder + name), bytes) << name;
}

TEST_F(ZipKillTest, KilledAtRandomMomentsLosesNothing) {
  std::mt19937 gen(11);
  for (int round = 0; round < 12; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FolderZipper zipper(options);
      ZipPlan plan;
      if (zipper.Plan(folder, rules, plan).Outcome == ZipOutcome::Done) zipper.Run(plan);
      ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(gen() % 40000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ExpectEveryByteSafe();
    ExpectNoTemporaryArchiveAfterThePlan();
    // Put back what went, and take away a finished archive, for the next round.
    for (const std::string& info : Names(home + "/info")) {
      const std::string name = info.substr(0, info.size() - 10);
      // Killed between the record and the move: the record may even be empty still.
      if (::access((home + "/files/" + name).c_str(), F_OK) != 0) {
        ::unlink((home + "/info/" + info).c_str());
        continue;
      }
      const auto original = ReadTrashRecord(home, name, nullptr);
      ASSERT_TRUE(original);
      ASSERT_TRUE(RestoreFromTrash(TrashEntry{home, name, *original}, nullptr));
    }
    for (const std::string& name : Names(folder))
      if (name.ends_with(".zip")) ::unlink((folder + name).c_str());
  }
}

TEST_F(ZipKillTest, ATemporaryArchiveStillBeingWrittenIsLeftAlone) {
  // A run that is alive holds its lock: the next plan must not take its file away.
  const std::string busy = folder + ".Work-2026-12-08.zip.orbelan-0badcafe.part";
  const int fd = ::open(busy.c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    FolderZipper zipper(options);
    ZipPlan plan;
    zipper.Plan(folder, rules, plan);
    ::_exit(::access(busy.c_str(), F_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(fd);
  ExpectNoTemporaryArchiveAfterThePlan();
  // A user's own hidden file that merely looks alike stays.
  WriteAll(folder + ".notes.part", "mine");
  ExpectNoTemporaryArchiveAfterThePlan();
  EXPECT_EQ(ReadAll(folder + ".notes.part"), "mine");
}

// The records in the trash that trash-list shows, as its lines' paths; nullopt without it.
std::optional<std::string> TrashListed(const std::string& dataHome) {
  if (std::system("command -v trash-list >/dev/null 2>&1") != 0) return std::nullopt;
  const std::string command = "XDG_DATA_HOME='" + dataHome + "' trash-list 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

TEST_F(ZipKillTest, RecordsAKillLeftWithoutTheirFilesGoAtTheNextPlan) {
  // Killed as the third file is about to move: the batch's records are all on the disk.
  ZipAndDie([](ZipOptions& o) {
    int moves = 0;
    o.BeforeMove = [moves](const ZipMember&) mutable {
      if (++moves == 3) ::raise(SIGKILL);
    };
  });
  ExpectEveryByteSafe();
  ASSERT_EQ(Names(home + "/files").size(), 2u);
  ASSERT_EQ(Names(home + "/info").size(), originals.size());
  std::string orphanPath;
  for (const std::string& info : Names(home + "/info")) {
    const std::string name = info.substr(0, info.size() - std::string(".trashinfo").size());
    if (::access((home + "/files/" + name).c_str(), F_OK) != 0) orphanPath = *ReadTrashRecord(home, name, nullptr);
  }
  EXPECT_TRUE(::access(orphanPath.c_str(), F_OK) == 0) << "the file itself never left";
  const std::string dataHome = tree.PathOf("home");
  if (const auto listed = TrashListed(dataHome)) {
    EXPECT_NE(listed->find(orphanPath), std::string::npos) << *listed;
  }
  // Another program's record without its file: not ours to judge.
  WriteAll(home + "/info/theirs.trashinfo", "[Trash Info]\nPath=/somewhere/theirs\nDeletionDate=2026-12-01T10:00:00\n");

  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  EXPECT_EQ(plan.StaleRecords, static_cast<std::int64_t>(originals.size()) - 2);
  EXPECT_EQ(Names(home + "/info").size(), 3u);  // the two moved files' records, and theirs
  EXPECT_EQ(ReadAll(home + "/info/theirs.trashinfo").substr(0, 12), "[Trash Info]");
  if (const auto listed = TrashListed(dataHome)) {
    EXPECT_EQ(listed->find(orphanPath), std::string::npos) << *listed;
  }
  // The zip then goes through, and its records are each file's.
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  ExpectEveryByteSafe();
  for (const TrashEntry& entry : r.Trashed) EXPECT_EQ(ReadTrashRecord(entry.Trash, entry.Name, nullptr), entry.Original);
}

// Many small files, killed at random moments of the trash stage (batches of records made
// durable, then moves): every original is in place or in the trash with its record, and
// the next run leaves no record without its file.
TEST_F(ZipKillTest, KilledAtRandomMomentsOfTheBatchedTrashLosesNothing) {
  for (int i = 0; i < 600; ++i) {
    const std::string name = "small " + std::to_string(i) + ".txt";
    originals[name] = testing::Text(300 + i, name);
    WriteAll(folder + name, originals[name]);
  }
  std::mt19937 gen(17);
  for (int round = 0; round < 8; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      ZipOptions o = options;
      o.AtStage = [&](ZipStage s) {
        if (s == ZipStage::Trashing) (void)!::write(ready[1], "t", 1);
      };
      FolderZipper zipper(o);
      ZipPlan plan;
      if (zipper.Plan(folder, rules, plan).Outcome == ZipOutcome::Done) zipper.Run(plan);
      ::_exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    const bool trashing = ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    if (trashing) std::this_thread::sleep_for(std::chrono::microseconds(gen() % 60000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ExpectEveryByteSafe();
    // Records of ours without their file are gone after the next plan.
    FolderZipper zipper(options);
    ZipPlan plan;
    zipper.Plan(folder, rules, plan);
    for (const std::string& info : Names(home + "/info")) {
      if (!ReadAll(home + "/info/" + info).empty()) {
        EXPECT_EQ(::access((home + "/files/" + info.substr(0, info.size() - 10)).c_str(), F_OK), 0) << info;
      }
    }
    // Put back what went, and take away the archive, for the next round.
    for (const std::string& info : Names(home + "/info")) {
      const std::string name = info.substr(0, info.size() - 10);
      if (ReadAll(home + "/info/" + info).empty()) {
        ::unlink((home + "/info/" + info).c_str());
        continue;
      }
      const auto original = ReadTrashRecord(home, name, nullptr);
      ASSERT_TRUE(original);
      ASSERT_TRUE(RestoreFromTrash(TrashEntry{home, name, *original}, nullptr));
    }
    for (const std::string& name : Names(folder))
      if (name.ends_with(".zip")) ::unlink((folder + name).c_str());
  }
}

// Esc or Ctrl+C during the trash stage: what went stays in the trash with its record, the
// rest stays in place, and the result says how many went and that it was stopped.
TEST_F(ZipKillTest, ACancelDuringTheTrashStageKeepsBothSidesWhole) {
  FolderZipper* running = nullptr;
  int moved = 0;
  options.AfterMove = [&](const ZipMember&, const TrashEntry&) {
    if (++moved == 5) running->CancelRequested = true;
  };
  FolderZipper zipper(options);
  running = &zipper;
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_TRUE(r.TrashStopped);
  EXPECT_EQ(r.TrashedFiles, 5);
  EXPECT_EQ(r.NotReached, static_cast<std::int64_t>(originals.size()) - 5);
  EXPECT_EQ(Names(home + "/files").size(), 5u);
  EXPECT_EQ(Names(home + "/info").size(), 5u);
  ExpectEveryByteSafe();
}

}  // namespace
}  // namespace orbelan
