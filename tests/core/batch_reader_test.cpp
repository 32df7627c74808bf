#include "estimate/batch_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "scan_tree_fixture.h"
#include "scan/counting_crew.h"
#include "scan/file_draws.h"
#include "numbers/random_bits.h"
#include "estimate/saving_estimate.h"
#include "scan/scan_rules.h"

namespace orbelan {
namespace {

using saving::AllowBatchReading;
using saving::BatchReader;
using saving::BatchReadingWorks;
using testing::TempTree;

std::string Bytes(std::size_t size, std::uint64_t seed, bool text) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint64_t r = SplitMix64(seed);
    out[i] = text ? "abcdefgh ij\n"[r % 12] : static_cast<char>(r >> 56);
  }
  return out;
}

void Write(const std::string& path, const std::string& data, mode_t mode = 0644) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fd);
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

// Restores batching for the tests that follow, however a test ends.
struct BatchingAllowed {
  ~BatchingAllowed() { AllowBatchReading(true); }
};

// Forbids io_uring_setup to this process, as a container's seccomp profile does.
bool ForbidRings() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

enum class Child { kNobody, kNoRings };

// What a child process finds that became "nobody" (when run as root: root reads any file
// and may ask for O_NOATIME on any, so refusals are only seen as another user), or that may
// not set up a ring; the parent gets its bytes through a pipe.
std::string InChild(Child kind, const std::function<std::string()>& work) {
  if (kind == Child::kNobody && geteuid() != 0) return work();
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::string out = "could not become what was asked";
    if (kind == Child::kNobody ? setgid(65534) == 0 && setuid(65534) == 0 : ForbidRings()) out = work();
    const ssize_t n = write(fds[1], out.data(), out.size());
    _exit(n == static_cast<ssize_t>(out.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return out;
}

std::string AsNobody(const std::function<std::string()>& work) { return InChild(Child::kNobody, work); }

// Reads names of the folder dir through the thread's reader; each file as a line
// "name got hash-of-its-bytes".
std::string ReadAll(const std::string& dir, const std::vector<std::string>& names, std::int64_t want,
                    bool* noAtimeRefused) {
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return "no folder";
  BatchReader& reader = saving::ThreadBatchReader();
  BatchReader::File* files = reader.Files();
  std::string out;
  for (std::size_t at = 0; at < names.size(); at += BatchReader::kMaxFiles) {
    std::size_t count = 0;
    for (std::size_t i = at; i < names.size() && count < BatchReader::kMaxFiles; ++i, ++count) {
      files[count].name = names[i].c_str();
      files[count].want = want;
    }
    reader.Read(dirFd, files, count, noAtimeRefused);
    for (std::size_t i = 0; i < count; ++i) {
      std::uint64_t hash = FnvStart(1);
      for (std::int64_t j = 0; j < files[i].got; ++j) hash = FnvAdd(hash, files[i].bytes[static_cast<std::size_t>(j)]);
      out += names[at + i] + " " + std::to_string(files[i].got) + " " + std::to_string(hash) + "\n";
    }
  }
  close(dirFd);
  return out;
}

// Through the ring and through plain calls, every kind of entry reads alike: files shorter
// and longer than the read, empty ones, more of them than one batch holds, and what cannot
// be read as a file (a link, a folder, a name that is gone). As another user, a file
// they may not read is refused both ways, and files they do not own are read all the same
// (O_NOATIME refused, then not asked for again in the folder).
TEST(BatchReader, ReadsWhatPlainCallsRead) {
  if (!BatchReadingWorks()) GTEST_SKIP() << "io_uring cannot be set up here (kernel, sysctl or seccomp): plain calls only";
  BatchingAllowed restore;
  TempTree tree;
  ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
  std::vector<std::string> names;
  for (int i = 0; i < 21; ++i) {
    names.push_back("file" + std::to_string(i));
    Write(tree.PathOf(names.back()), Bytes(static_cast<std::size_t>(i * i * 250), 10 + static_cast<std::uint64_t>(i), i % 3 != 0));
  }
  tree.Dir("folder");
  tree.Link("file3", "link");
  Write(tree.PathOf("closed"), Bytes(5000, 7, true), 0600);
  for (const char* name : {"folder", "link", "gone", "closed"}) names.push_back(name);
  constexpr std::int64_t kWant = 40000;

  bool refused = false;
  const std::string batched = ReadAll(tree.Root(), names, kWant, &refused);
  AllowBatchReading(false);
  const std::string plain = ReadAll(tree.Root(), names, kWant, &refused);
  AllowBatchReading(true);
  EXPECT_EQ(batched, plain);
  EXPECT_NE(batched.find("file20 40000 "), std::string::npos);  // cut at the read's length
  EXPECT_NE(batched.find("file0 0 "), std::string::npos);
  for (const char* name : {"folder", "link", "gone"}) EXPECT_NE(batched.find(std::string(name) + " -1 "), std::string::npos) << name;

  auto asNobody = [&](bool batching) {
    return AsNobody([&] {
      AllowBatchReading(batching);
      bool refusedHere = false;
      std::string out = ReadAll(tree.Root(), names, kWant, &refusedHere);
      return out + (refusedHere ? "refused" : "asked");
    });
  };
  const std::string nobodyBatched = asNobody(true), nobodyPlain = asNobody(false);
  EXPECT_EQ(nobodyBatched, nobodyPlain);
  EXPECT_NE(nobodyBatched.find("file20 40000 "), std::string::npos);
  if (geteuid() == 0) {
    EXPECT_NE(nobodyBatched.find("closed -1 "), std::string::npos);
    EXPECT_EQ(nobodyBatched.substr(nobodyBatched.size() - 7), "refused");
  }
}

// The folder's record as a scan drawing files for the estimate leaves it.
FolderRec ScannedRec(const std::string& path, const ScanRules& rules, bool drawn = true) {
  FolderRec rec;
  rec.SetPath(path + "/");
  DirReader opener;
  EXPECT_TRUE(opener.OpenPath(path));
  DirReader counter;
  LocalDayClock clock;
  FileDrawer drawer(ScanDrawLimits({}));
  CountFolderFiles(counter, opener.Fd(), rec, rules, clock, [] { return false; }, drawn ? &drawer : nullptr);
  return rec;
}

std::string Figures(const SavingEstimate& e) {
  std::string out;
  for (std::int64_t v : {e.Saving, e.Low, e.High, e.Sampled, e.Unreadable, e.Bytes, e.Disk, e.DiskLow, e.DiskHigh})
    out += std::to_string(v) + " ";
  return out + (e.Known ? "known" : "unknown");
}

// Small and tiny folders give the same figures, to the byte, read in batches or one file at
// a time, or where rings are forbidden: folders of more files than a batch, files past the
// first read, short files the sample leaves unread, noise, a link, a file grown since the
// scan past the folder's class, and, as another user, files that may not be read.
TEST(BatchReader, EstimatesAreTheSameEitherWay) {
  if (!BatchReadingWorks()) GTEST_SKIP() << "io_uring cannot be set up here (kernel, sysctl or seccomp): plain calls only";
  BatchingAllowed restore;
  TempTree tree;
  ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
  ScanRules rules;
  rules.ZipExts.Append(".zip");
  struct Case {
    std::string folder;
    std::vector<std::pair<std::size_t, bool>> files;  // size, text
  };
  const std::vector<Case> cases = {
      {"tiny", {{3000, true}, {9000, true}, {100, false}, {0, true}}},
      {"notes", {}},
      {"mixed", {{200000, true}, {70000, true}, {65536, true}, {65537, false}, {30000, false}, {1200, true}, {900, true}}},
      {"many", {}},
      {"noise", {}},
  };
  std::uint64_t seed = 100;
  for (const Case& c : cases) {
    tree.Dir(c.folder);
    ASSERT_EQ(chmod(tree.PathOf(c.folder).c_str(), 0755), 0);
    std::vector<std::pair<std::size_t, bool>> files = c.files;
    if (c.folder == "notes")
      for (int i = 0; i < 60; ++i) files.push_back({static_cast<std::size_t>(300 + 61 * i), i % 7 != 0});
    // Noise past its head, with text among it: heads alone once a run of noise is read, more
    // files than a batch.
    if (c.folder == "noise")
      for (int i = 0; i < 30; ++i) files.push_back({static_cast<std::size_t>(17000 + (i * 7919) % 20000), i % 10 == 7});
    if (c.folder == "many")
      for (int i = 0; i < 40; ++i) files.push_back({static_cast<std::size_t>(5000 + 500 * i), i % 5 != 0});
    for (std::size_t i = 0; i < files.size(); ++i)
      Write(tree.PathOf(c.folder + "/f" + std::to_string(i) + ".txt"), Bytes(files[i].first, ++seed, files[i].second));
  }
  tree.Link("f1.txt", "mixed/link.txt");
  Write(tree.PathOf("many/closed.txt"), Bytes(20000, 5, true), 0600);

  std::vector<FolderRec> recs;
  for (const Case& c : cases) recs.push_back(ScannedRec(tree.PathOf(c.folder), rules));
  recs.push_back(ScannedRec(tree.PathOf("noise"), rules, false));  // every file read, none drawn
  // Grown since the scan past twice the small class: listed afresh and sampled.
  Write(tree.PathOf("notes/grown.txt"), Bytes(5 << 19, 3, true));

  auto estimates = [&](bool batching) {
    AllowBatchReading(batching);
    std::string out;
    for (const FolderRec& rec : recs) out += rec.Path() + " " + Figures(EstimateFolderSaving(rec, rules, {})) + "\n";
    return out;
  };
  const std::string batched = estimates(true);
  EXPECT_EQ(batched, estimates(false));
  EXPECT_EQ(batched.find("unknown"), std::string::npos) << batched;
  const std::string nobodyBatched = AsNobody([&] { return estimates(true); });
  EXPECT_EQ(nobodyBatched, AsNobody([&] { return estimates(false); }));
  // Where no ring may be set up, plain calls are chosen, and the figures stay.
  EXPECT_EQ(InChild(Child::kNoRings, [&] { return estimates(true) + (BatchReadingWorks() ? "ring" : "plain"); }),
            batched + "plain");
  if (geteuid() == 0) {
    EXPECT_NE(nobodyBatched, batched);  // the closed file could not be read
  }
}

// A descriptor handed over (a folder's, given up by its reader) is closed with the next
// batch and not before; at once where the reader does not batch or enough already wait;
// those still waiting when the reader goes, then; and a run's opener leaves no folder open
// once it goes (a mount the user wants to unmount).
TEST(BatchReader, ClosesHandedDescriptorsAlongTheNextBatch) {
  if (!BatchReadingWorks()) GTEST_SKIP() << "io_uring cannot be set up here (kernel, sysctl or seccomp): plain calls only";
  BatchingAllowed restore;
  TempTree tree;
  Write(tree.PathOf("a"), Bytes(3000, 1, true));
  auto isOpen = [](int fd) { return fcntl(fd, F_GETFD) != -1; };
  auto given = [&] {
    DirReader folder;
    EXPECT_TRUE(folder.OpenPath(tree.Root()));
    const int fd = folder.Release();
    EXPECT_FALSE(folder.IsOpen());
    return fd;
  };
  DirReader dir;
  ASSERT_TRUE(dir.OpenPath(tree.Root()));
  int last = -1;
  {
    BatchReader reader;
    std::vector<int> waiting;
    for (std::size_t i = 0; i < BatchReader::kMaxLater; ++i) {
      waiting.push_back(given());
      reader.CloseLater(waiting.back());
    }
    for (int fd : waiting) EXPECT_TRUE(isOpen(fd));  // the reader that gave it up did not close it
    const int extra = given();
    reader.CloseLater(extra);
    EXPECT_FALSE(isOpen(extra));
    BatchReader::File file;
    file.name = "a";
    file.want = 5000;
    reader.Read(dir.Fd(), &file, 1, nullptr);
    EXPECT_EQ(file.got, 3000);
    for (int fd : waiting) EXPECT_FALSE(isOpen(fd));
    last = given();
    reader.CloseLater(last);
    EXPECT_TRUE(isOpen(last));
  }
  EXPECT_FALSE(isOpen(last));

  auto openCount = [] {
    DirReader fds;
    EXPECT_TRUE(fds.OpenPath("/proc/self/fd"));
    int n = 0;
    DirEntry entry;
    while (fds.Next(entry)) ++n;
    return n;
  };
  tree.Dir("sub");
  Write(tree.PathOf("sub/b"), Bytes(20000, 2, true));
  const FolderRec rec = ScannedRec(tree.PathOf("sub"), ScanRules{});
  EstimateFolderSaving(rec, ScanRules{}, {});  // what the process keeps open once (the mount table)
  const int before = openCount();
  {
    EstimateOptions options;
    FolderOpener opener(options);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(EstimateFolderSaving(rec, ScanRules{}, options, nullptr, &opener).Known);
  }
  EXPECT_EQ(openCount(), before);

  AllowBatchReading(false);
  BatchReader plain;
  last = given();
  plain.CloseLater(last);
  EXPECT_FALSE(isOpen(last));
}


// count text files "t0", "t1"... in the tree, of first, first + step... bytes; their names.
std::vector<std::string> TextFiles(TempTree& tree, int count, std::size_t first, std::size_t step, std::uint64_t seed) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back("t" + std::to_string(i));
    const auto k = static_cast<std::size_t>(i);
    Write(tree.PathOf(names.back()), Bytes(first + step * k, seed + k, true));
  }
  return names;
}

// A thread's ring is closed when the thread ends, and the next thread's ring may be given
// the same addresses. Two threads that follow one another without any order between them
// (the first not yet joined, the second started once it is gone) each read through a ring
// of their own and get the files' bytes; under the thread sanitizer the two rings' memory
// must not pass for one memory shared without a lock.
TEST(SavingEstimateThreads, RingsOfThreadsThatFollowOneAnotherAreKeptApart) {
  if (!BatchReadingWorks()) GTEST_SKIP() << "io_uring cannot be set up here (kernel, sysctl or seccomp): plain calls only";
  TempTree tree;
  const std::vector<std::string> names = TextFiles(tree, 5, 1000, 700, 40);
  bool refused = false;
  const std::string expected = ReadAll(tree.Root(), names, 8000, &refused);
  std::string first, second;
  std::atomic<long> firstTask{0};
  std::thread a([&] {
    first = ReadAll(tree.Root(), names, 8000, nullptr);
    firstTask.store(syscall(SYS_gettid), std::memory_order_relaxed);  // orders nothing
  });
  // Gone from the kernel (its ring closed by then), seen without any lock or join.
  long task = 0;
  while ((task = firstTask.load(std::memory_order_relaxed)) == 0) std::this_thread::yield();
  const std::string entry = "/proc/self/task/" + std::to_string(task);
  struct stat st {};
  for (int i = 0; i < 5000 && stat(entry.c_str(), &st) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread b([&] { second = ReadAll(tree.Root(), names, 8000, nullptr); });
  b.join();
  a.join();
  EXPECT_EQ(first, expected);
  EXPECT_EQ(second, expected);
}


// Rings are set up and closed under one lock; a fork while another thread holds it must not
// leave the child with a lock nobody will release: the child still sets up a ring of its
// own (and closes its copy of the parent's) and reads. Threads set up and close rings
// without pause while the test forks.
TEST(BatchReader, AChildForkedWhileRingsComeAndGoStillReads) {
  if (!BatchReadingWorks()) GTEST_SKIP() << "io_uring cannot be set up here (kernel, sysctl or seccomp): plain calls only";
  TempTree tree;
  const std::vector<std::string> names = TextFiles(tree, 3, 500, 300, 60);
  const std::string expected = ReadAll(tree.Root(), names, 4000, nullptr);  // this thread's ring
  std::atomic<bool> done{false};
  std::thread churn([&] {
    while (!done.load()) std::thread([&] { ReadAll(tree.Root(), names, 4000, nullptr); }).join();
  });
  int stuck = 0, wrong = 0;
  for (int i = 0; i < 40; ++i) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      const std::string out = ReadAll(tree.Root(), names, 4000, nullptr);
      const ssize_t n = write(fds[1], out.data(), out.size());
      _exit(n == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string out;
    pollfd wait{fds[0], POLLIN, 0};
    char buffer[4096];
    while (poll(&wait, 1, 10000) > 0) {
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (out.empty()) {
      ++stuck;
      kill(child, SIGKILL);
    } else if (out != expected) {
      ++wrong;
    }
    waitpid(child, nullptr, 0);
  }
  done = true;
  churn.join();
  EXPECT_EQ(stuck, 0);
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace orbelan
