// Replacing the settings file safely: links followed and kept, anything but a regular file
// refused untouched, updates serialised by the lock, the old file's mode and owner kept.

#include "platform/file_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ini_profile.h"
#include "scan_tree_fixture.h"

namespace orbelan {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class FileUpdateTest : public ::testing::Test {
 protected:
  std::string At(const std::string& name) const { return tree_.PathOf(name); }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(At(name), std::ios::binary) << bytes;
  }
  std::string Contents(const std::string& name) const {
    std::ifstream in(At(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  Names Entries(const std::string& folder = "") const {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? tree_.Root() : At(folder))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static bool Set(const std::string& path, const std::string& key, const std::string& value) {
    return UpdateIniFile(path, {{"MAIN", key, value}});
  }

  orbelan::testing::TempTree tree_;
};

TEST_F(FileUpdateTest, LinksAreWrittenThroughAndStayLinks) {
  // orbelan.dat -> conf/second -> ../real.ini, both links relative to their own folder.
  tree_.Dir("conf");
  Put("real.ini", "[MAIN]\r\na=1\r\n");
  tree_.Link("../real.ini", "conf/second");
  tree_.Link("conf/second", "orbelan.dat");
  ASSERT_TRUE(Set(At("orbelan.dat"), "a", "2"));
  EXPECT_TRUE(fs::is_symlink(At("orbelan.dat")));
  EXPECT_TRUE(fs::is_symlink(At("conf/second")));
  EXPECT_EQ(Contents("real.ini"), "[MAIN]\r\na=2\r\n");
  EXPECT_EQ(Entries(), (Names{"conf", "orbelan.dat", "real.ini"}));
  EXPECT_EQ(Entries("conf"), Names{"second"});

  // A dangling link into a folder we may write: the file it names is made there.
  tree_.Dir("later");
  tree_.Link(At("later/made.ini"), "dangling.dat");
  ASSERT_TRUE(Set(At("dangling.dat"), "b", "3"));
  EXPECT_TRUE(fs::is_symlink(At("dangling.dat")));
  EXPECT_EQ(Contents("later/made.ini"), "[MAIN]\r\nb=3\r\n");
  EXPECT_EQ(Entries("later"), Names{"made.ini"});

  // A loop of links is no file at all.
  tree_.Link("loop2", "loop1");
  tree_.Link("loop1", "loop2");
  EXPECT_FALSE(Set(At("loop1"), "a", "1"));
  EXPECT_TRUE(fs::is_symlink(At("loop1")));
}

TEST_F(FileUpdateTest, AnythingButARegularFileIsRefusedUntouched) {
  // Nodes made here, in the test's own folder; root may make them, and even root must
  // not get them replaced.
  ASSERT_EQ(::mkfifo(At("fifo").c_str(), 0666), 0);
  const bool canMknod =
      ::mknod(At("zero").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0 &&
      ::mknod(At("block").c_str(), S_IFBLK | 0660, makedev(7, 0)) == 0;
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = At("sock");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  tree_.Dir("folder");
  Put("plain", "not a folder");

  std::vector<std::string> nodes = {"fifo", "sock", "folder"};
  if (canMknod) {
    nodes.push_back("zero");
    nodes.push_back("block");
  }
  std::vector<std::string> paths;
  for (const std::string& node : nodes) {
    paths.push_back(At(node));
    tree_.Link(node, "link-to-" + node);
    paths.push_back(At("link-to-" + node));
  }
  // Dangling links into folders that cannot take a file, whoever we are.
  tree_.Link("plain/orbelan.dat", "link-below-a-file");
  paths.push_back(At("link-below-a-file"));
  tree_.Link("/proc/orbelan-test-no-such/orbelan.dat", "link-into-proc");
  paths.push_back(At("link-into-proc"));
  paths.push_back(At("plain/orbelan.dat"));

  auto identity = [](const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return std::vector<unsigned long long>{st.st_ino, st.st_mode, st.st_rdev,
                                           static_cast<unsigned long long>(st.st_size)};
  };
  const Names before = Entries();
  for (const std::string& path : paths) {
    std::string target;
    const auto nodeBefore = identity(path);
    const auto targetBefore = ResolveWriteTarget(path, target) ? identity(target) : nodeBefore;
    errno = 0;
    EXPECT_FALSE(Set(path, "a", "1")) << path;
    EXPECT_NE(errno, 0) << path;
    EXPECT_EQ(identity(path), nodeBefore) << path;
    if (!target.empty()) {
      EXPECT_EQ(identity(target), targetBefore) << target;
    }
  }
  EXPECT_EQ(Entries(), before) << "nothing made, nothing left behind";
  EXPECT_EQ(Entries("folder"), Names{});
  EXPECT_EQ(Contents("plain"), "not a folder");
  ::close(sock);
  if (!canMknod) GTEST_SKIP() << "device nodes not tried: mknod is not permitted here";
}

TEST_F(FileUpdateTest, UpdatesWaitForEachOtherAndBuildOnTheOthersResult) {
  const std::string path = At("orbelan.dat");
  Put("orbelan.dat", "[MAIN]\r\nx=0\r\n");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Holds the lock for 300 ms while it changes the file.
    const bool ok = UpdateFile(path, [&](std::string_view current) {
      (void)!::write(ready[1], "x", 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      return std::string(current) + "a=child\r\n";
    });
    ::_exit(ok ? 0 : 1);
  }
  char signal = 0;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Set(path, "b", "parent"));
  const auto waited = std::chrono::steady_clock::now() - start;
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_GE(waited, std::chrono::milliseconds(200)) << "the second update did not wait";
  // The second update read the file after the first had replaced it.
  EXPECT_EQ(Contents("orbelan.dat"), "[MAIN]\r\nx=0\r\na=child\r\nb=parent\r\n");
  EXPECT_EQ(Entries(), Names{"orbelan.dat"});
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST_F(FileUpdateTest, ALockNotHadInTimeRefusesInsteadOfHanging) {
  const std::string path = At("orbelan.dat");
  Put("orbelan.dat", "[MAIN]\r\nx=0\r\n");
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Holds the lock until the parent has given up on it.
    UpdateFile(path, [&](std::string_view) -> std::optional<std::string> {
      (void)!::write(ready[1], "x", 1);
      char go = 0;
      (void)!::read(release[0], &go, 1);
      return std::nullopt;
    });
    ::_exit(0);
  }
  char signal = 0;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  const auto start = std::chrono::steady_clock::now();
  errno = 0;
  const bool ok = UpdateFile(
      path, [](std::string_view) { return std::string("replaced"); },
      std::chrono::milliseconds(150));
  const int error = errno;
  const auto waited = std::chrono::steady_clock::now() - start;
  (void)!::write(release[1], "x", 1);
  ::waitpid(child, nullptr, 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, EWOULDBLOCK);
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::milliseconds(450));
  EXPECT_EQ(Contents("orbelan.dat"), "[MAIN]\r\nx=0\r\n");
  EXPECT_EQ(kFileLockWait, std::chrono::milliseconds(2000));
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

TEST_F(FileUpdateTest, ReplacementKeepsModeOwnerAndGroup) {
  const std::string path = At("orbelan.dat");
  Put("orbelan.dat", "[MAIN]\r\na=1\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  }
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  ASSERT_TRUE(Set(path, "a", "2"));
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not written in place";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(Contents("orbelan.dat"), "[MAIN]\r\na=2\r\n");
  if (!root) GTEST_SKIP() << "owner kept only by root; mode checked";
}

TEST_F(FileUpdateTest, UnchangedReadOnlyFileIsNoErrorButAChangeIsRefused) {
  const std::string path = At("orbelan.dat");
  const std::string before = "[MAIN]\r\na=1\r\n";
  Put("orbelan.dat", before);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(tree_.Root().c_str(), 0777), 0);
  // Root writes any file, so the writer runs as an ordinary user.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(10);
    if (!Set(path, "a", "1")) ::_exit(11);  // nothing to write: nothing refused
    if (Set(path, "a", "2")) ::_exit(12);
    ::_exit(errno == EACCES ? 0 : 13);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Contents("orbelan.dat"), before);
  EXPECT_EQ(Entries(), Names{"orbelan.dat"});
}

TEST_F(FileUpdateTest, FileLongerThanTheReadLimitKeepsItsTailOnSave) {
  // What a save does not read for the settings it still keeps, byte for byte.
  std::string big = "[MAIN]\r\nminSize=1\r\n[Log]\r\n";
  while (big.size() < kIniReadLimit + 100000) big += "line=" + std::to_string(big.size()) + "\n";
  big += "[MAIN]\r\nlate=1\r\n";
  Put("orbelan.dat", big);
  ASSERT_TRUE(UpdateIniFile(At("orbelan.dat"), {{"MAIN", "minSize", "2"}, {"Log", "end", "x"}}));
  std::string expected = big;
  expected.replace(expected.find("minSize=1"), 9, "minSize=2");
  expected.insert(expected.find("[MAIN]\r\nlate"), "end=x\r\n");
  EXPECT_EQ(Contents("orbelan.dat"), expected);
}

}  // namespace
}  // namespace orbelan
