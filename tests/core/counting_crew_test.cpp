// The workers of phase 2 on their own: they rest while paused, go on when resumed, and
// stop for good when told, each leaving at most the folder it was in part-counted.

#include "scan/counting_crew.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "scan_tree_fixture.h"
#include "scan/scan_rules.h"
#include "scan/descriptor_chain.h"
#include "scan/folder_list.h"
#include "scan/record_links.h"

namespace orbelan {
namespace {

using testing::TempTree;
using Clock = std::chrono::steady_clock;

constexpr int kFolders = 100, kFiles = 30, kThreads = 4;

// The start and its folders d0..d(n-1), each with kFiles files, recorded as phase 1 would.
struct CrewTree {
  TempTree tree{TempTree::Place::Memory};  // what the crew counts, not what a disk keeps
  ScanRules settings;
  FolderList folders;
  RecordLinks links;
  DescriptorPressure pressure;
  int startFd = -1;

  CrewTree() {
    folders.AddFolder(tree.RootSlash(), settings);
    for (int i = 0; i < kFolders; ++i) {
      std::string dir = "d";
      dir += std::to_string(i);
      tree.Dir(dir);
      for (int f = 0; f < kFiles; ++f) {
        std::string name = dir;
        name += "/f";
        name += std::to_string(f);
        tree.File(name, 1);
      }
      folders.AddFolder(tree.PathOf(dir) + "/", settings);
    }
    links.BuildFrom(folders);
    startFd = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  ~CrewTree() { close(startFd); }

  std::int64_t Total() const { return folders.Count(); }
  std::int64_t Counted() const {
    std::int64_t files = 0;
    for (const FolderRec& rec : folders) files += rec.NFiles;
    return files;
  }
};

bool Within(std::chrono::seconds limit, const std::function<bool()>& done) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(CountingCrew, PausedWorkersRestUntilResumedThenCountEverything) {
  CrewTree t;
  CountingCrew crew(t.links, t.settings, t.startFd, t.pressure, kThreads);
  // Paused before the records are published: paused after, a loaded machine could let the
  // workers count the whole small tree first.
  crew.Pause();
  crew.Publish(t.Total());
  crew.Close(t.Total());
  ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return crew.AtRest(); }));
  EXPECT_LT(crew.Finished(), t.Total()) << "the workers did not pause";
  const std::int64_t before = t.Counted();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(t.Counted(), before);

  crew.Resume();
  // Woken by the crew as records finish, not by a clock.
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (crew.Finished() < t.Total() && Clock::now() < deadline) crew.WaitForProgress(std::chrono::seconds(1));
  ASSERT_EQ(crew.Finished(), t.Total());
  crew.Join();
  EXPECT_EQ(t.Counted(), kFolders * kFiles);
  EXPECT_TRUE(crew.TakeUnscanned().empty());
}

TEST(CountingCrew, StoppedWorkersEndAtOnceLeavingOneFolderEachAtMostPartCounted) {
  CrewTree t;
  CountingCrew crew(t.links, t.settings, t.startFd, t.pressure, kThreads);
  // Held first, so the stop falls while work is left (as above).
  crew.Pause();
  crew.Publish(t.Total());
  crew.Close(t.Total());
  ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return crew.AtRest(); }));
  const std::int64_t held = crew.Finished();
  crew.Stop();
  crew.Join();
  EXPECT_EQ(crew.Finished(), held) << "stopped workers went on counting";
  EXPECT_LT(crew.Finished(), t.Total());
  int partial = 0;
  for (const FolderRec& rec : t.folders) partial += rec.NFiles != 0 && rec.NFiles != kFiles ? 1 : 0;
  EXPECT_LE(partial, kThreads);
  const std::int64_t after = t.Counted();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(t.Counted(), after);
}

// Descriptors open in this process.
int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
  }
  return n;
}

TEST(CountingCrew, IdleWorkersGiveTheirDescriptorsBackWhenAsked) {
  // A chain 40 deep: once its records are counted, the idle worker still holds a descriptor
  // for each level, which the walk still finding records may need.
  TempTree tree;
  ScanRules settings;
  FolderList folders;
  std::string path = tree.RootSlash();
  folders.AddFolder(path, settings);
  std::string relative;
  for (int i = 0; i < 40; ++i) {
    relative += "d";
    tree.Dir(relative);
    relative += "/";
    path += "d/";
    folders.AddFolder(path, settings, folders.Tail());
  }
  RecordLinks links;
  links.BuildFrom(folders);
  DescriptorPressure pressure;
  const int startFd = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int before = OpenDescriptors();
  {
    CountingCrew crew(links, settings, startFd, pressure, 1);
    crew.Publish(folders.Count());  // not closed: more records might come
    ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return crew.Finished() == folders.Count(); }));
    EXPECT_GE(OpenDescriptors(), before + 40) << "the worker holds its chain";
    pressure.Requests.fetch_add(1);
    EXPECT_TRUE(Within(std::chrono::seconds(2), [&] { return OpenDescriptors() <= before + 1; }))
        << OpenDescriptors() - before << " still open";
    crew.Close(folders.Count());
  }
  close(startFd);
}

}  // namespace
}  // namespace orbelan
