// The freedesktop.org trash against real folders: hostile names keep their exact bytes
// through the record, long names fit, volume trashes are chosen by the rules, and every
// refusal (unwritable records, a full disk) returns at once with the file where it was.

#include "platform/trash.h"
#include "platform/trash_at.h"
#include "platform/trash_orphans.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "tests/core/file_helpers.h"
#include "tests/core/scan_tree_fixture.h"

namespace orbelan {
namespace {

using testing::Exists;
using testing::Names;
using testing::ReadAll;
using testing::WriteAll;

// The record's Path decoded as the freedesktop.org Trash rules say, independently of the code under
// test: the value after "Path=" with every %XX turned into its byte.
std::string PathInRecord(const std::string& record) {
  const std::size_t at = record.find("\nPath=");
  if (at == std::string::npos) return {};
  const std::size_t end = record.find('\n', at + 1);
  const std::string value = record.substr(at + 6, end - at - 6);
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

// A tmpfs of the given size mounted for one test (root only), unmounted at the end.
class Tmpfs {
 public:
  Tmpfs(const std::string& where, const char* options) : where_(where) {
    ::mkdir(where.c_str(), 0755);
    mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options) == 0;
  }
  ~Tmpfs() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string where_;
  bool mounted_ = false;
};

class TrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = tree_.PathOf("home/.local/share/Trash");
    tree_.Dir("work");
    work_ = tree_.PathOf("work") + "/";
  }
  testing::TempTree tree_;
  std::string home_;
  std::string work_;
  const std::string uid_ = std::to_string(::getuid());
};

TEST_F(TrashTest, HostileNamesKeepTheirExactBytesAndComeBack) {
  const std::vector<std::string> names = {
      std::string(246, 'a'),                     // its record's name would pass 255 bytes
      std::string(250, 'a'),                     // the same first bytes: a number keeps it apart
      std::string(244, 'b') + "\xc3\xa9" + std::string(5, 'c'),  // cut inside UTF-8 text
      "line\nbreak",
      "100% sure",
      "%2e%2e%2fx",
      "back\\slash",
      "cafe\xcc\x81",                            // NFD, as macOS writes names
      "latin1 \xe9t\xe9",                        // not UTF-8
      "tab\tand spaces  ",
  };
  std::vector<TrashEntry> entries;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = work_ + names[i];
    WriteAll(path, "content " + std::to_string(i));
    TrashEntry entry;
    std::string error;
    ASSERT_TRUE(MoveToTrash(path, home_, &entry, &error)) << error;
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(entry.Trash, home_);
    EXPECT_EQ(entry.Original, path);
    EXPECT_LE(entry.Name.size() + std::string(".trashinfo").size(), 255u);
    EXPECT_EQ(ReadAll(home_ + "/files/" + entry.Name), "content " + std::to_string(i));
    const std::string record = ReadAll(home_ + "/info/" + entry.Name + ".trashinfo");
    EXPECT_TRUE(record.starts_with("[Trash Info]\nPath=/")) << record;
    EXPECT_NE(record.find("\nDeletionDate="), std::string::npos);
    // Four lines (the last our mark): nothing in the name breaks out of the Path line.
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 4) << record;
    EXPECT_TRUE(record.ends_with("\nX-Orbelan=1\n")) << record;
    EXPECT_EQ(PathInRecord(record), path);
    EXPECT_EQ(ReadTrashRecord(home_, entry.Name, nullptr), path);
    entries.push_back(entry);
  }
  EXPECT_NE(entries[0].Name, entries[1].Name);
  // The UTF-8 name is cut at a character boundary.
  EXPECT_EQ(entries[2].Name.find("\xc3\xa9"), std::string::npos);
  EXPECT_EQ(entries[2].Name.back(), 'b');

  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string error;
    ASSERT_TRUE(RestoreFromTrash(entries[i], &error)) << error;
    EXPECT_EQ(ReadAll(work_ + names[i]), "content " + std::to_string(i));
  }
  EXPECT_TRUE(Names(home_ + "/files").empty());
  EXPECT_TRUE(Names(home_ + "/info").empty());
}

TEST_F(TrashTest, TrashCliRestoresToTheExactPath) {
  if (std::system("command -v trash-restore >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "trash-cli is not installed (apt-get install trash-cli)";
  const std::vector<std::string> names = {std::string(248, 'L'), "100% sure", "%2e%2e%2fx", "back\\slash"};
  for (const std::string& name : names) {
    WriteAll(work_ + name, name);
    ASSERT_TRUE(MoveToTrash(work_ + name, home_, nullptr, nullptr));
  }
  // trash-restore offers the trashed files under the current folder; the first each time.
  const std::string command = "cd '" + work_ + "' && printf '0\\n' | XDG_DATA_HOME='" +
                              tree_.PathOf("home/.local/share") + "' trash-restore >/dev/null 2>&1";
  for (std::size_t i = 0; i < names.size(); ++i) ASSERT_EQ(std::system(command.c_str()), 0);
  for (const std::string& name : names) EXPECT_EQ(ReadAll(work_ + name), name) << name;
  EXPECT_FALSE(Exists(tree_.PathOf("x")));
}

TEST_F(TrashTest, FoldersAndDanglingLinksGoWhole) {
  tree_.Dir("work/sub");
  WriteAll(work_ + "sub/inner", "x");
  ASSERT_EQ(::symlink("/nowhere/at/all", (work_ + "gone").c_str()), 0);
  TrashEntry sub, link;
  ASSERT_TRUE(MoveToTrash(work_ + "sub/", home_, &sub, nullptr));
  ASSERT_TRUE(MoveToTrash(work_ + "gone", home_, &link, nullptr));
  EXPECT_EQ(sub.Original, work_ + "sub");
  EXPECT_EQ(ReadAll(home_ + "/files/sub/inner"), "x");
  EXPECT_TRUE(IsSymbolicLink(home_ + "/files/gone"));
}

TEST_F(TrashTest, RestoreNeverReplacesWhatStandsThereNow) {
  WriteAll(work_ + "a", "old");
  TrashEntry entry;
  ASSERT_TRUE(MoveToTrash(work_ + "a", home_, &entry, nullptr));
  WriteAll(work_ + "a", "new");
  std::string error;
  EXPECT_FALSE(RestoreFromTrash(entry, &error));
  EXPECT_NE(error.find(work_ + "a"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(work_ + "a"), "new");
  EXPECT_EQ(ReadAll(home_ + "/files/a"), "old");
  // A record that names another place is not followed.
  TrashEntry elsewhere = entry;
  elsewhere.Original = work_ + "b";
  EXPECT_FALSE(RestoreFromTrash(elsewhere, &error));
  EXPECT_FALSE(Exists(work_ + "b"));
  elsewhere.Name = "../info/a.trashinfo";
  EXPECT_FALSE(RestoreFromTrash(elsewhere, &error));
}

TEST_F(TrashTest, AVolumeTrashIsChosenByTheRulesAndRecordsARelativePath) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a second file system needs root";
  const std::string vol = tree_.PathOf("vol");
  Tmpfs fs(vol, "size=4m");
  ASSERT_TRUE(fs.Mounted());
  ::mkdir((vol + "/dir").c_str(), 0755);
  WriteAll(vol + "/dir/one", "1");
  TrashEntry entry;
  std::string error;
  ASSERT_TRUE(MoveToTrash(vol + "/dir/one", home_, &entry, &error)) << error;
  EXPECT_EQ(entry.Trash, vol + "/.Trash-" + uid_);
  EXPECT_EQ(PathInRecord(ReadAll(entry.Trash + "/info/one.trashinfo")), "dir/one");
  EXPECT_EQ(ReadTrashRecord(entry.Trash, "one", nullptr), vol + "/dir/one");
  EXPECT_FALSE(Exists(home_));  // never copied to the home trash

  // An administrator's sticky .Trash is used; a .Trash that is a link is not.
  ASSERT_EQ(::mkdir((vol + "/.Trash").c_str(), 01777), 0);
  ::chmod((vol + "/.Trash").c_str(), 01777);
  WriteAll(vol + "/dir/two", "2");
  ASSERT_TRUE(MoveToTrash(vol + "/dir/two", home_, &entry, &error)) << error;
  EXPECT_EQ(entry.Trash, vol + "/.Trash/" + uid_);
  EXPECT_EQ(ReadTrashRecord(entry.Trash, "two", nullptr), vol + "/dir/two");
  ASSERT_TRUE(RestoreFromTrash(entry, &error)) << error;
  EXPECT_EQ(ReadAll(vol + "/dir/two"), "2");
  ::rename((vol + "/.Trash").c_str(), (vol + "/shared").c_str());
  ASSERT_EQ(::symlink("shared", (vol + "/.Trash").c_str()), 0);
  ASSERT_TRUE(MoveToTrash(vol + "/dir/two", home_, &entry, &error)) << error;
  EXPECT_EQ(entry.Trash, vol + "/.Trash-" + uid_);
}

// A folder reached through a link: its trash and records follow the folder's real path,
// read from its descriptor, not the text it was given by.
TEST_F(TrashTest, AFoldersTrashFollowsItsRealPathNotTheTextGiven) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a second file system needs root";
  const std::string vol = tree_.PathOf("vol");
  Tmpfs fs(vol, "size=4m");
  ASSERT_TRUE(fs.Mounted());
  ASSERT_EQ(::mkdir((vol + "/dir").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((vol + "/dir/sub").c_str(), 0755), 0);
  WriteAll(vol + "/dir/sub/a", "a");
  ASSERT_EQ(::symlink((vol + "/dir").c_str(), tree_.PathOf("link").c_str()), 0);
  const int folder = ::open(tree_.PathOf("link/sub").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  FolderTrash trash;
  std::string error;
  ASSERT_TRUE(trash.Prepare(folder, home_, &error)) << error;
  EXPECT_EQ(trash.FolderPath(), vol + "/dir/sub/");
  EXPECT_EQ(trash.Path(), vol + "/.Trash-" + uid_);
  TrashClaim claim;
  ASSERT_TRUE(trash.Claim("a", claim, &error)) << error;
  ASSERT_TRUE(trash.MakeDurable({claim}, &error)) << error;
  ASSERT_EQ(trash.MoveIn(folder, "a", claim), 0);
  const TrashEntry entry = trash.Keep(claim);
  ::close(folder);
  EXPECT_EQ(PathInRecord(ReadAll(entry.Trash + "/info/a.trashinfo")), "dir/sub/a");
  EXPECT_EQ(ReadTrashRecord(entry.Trash, "a", nullptr), vol + "/dir/sub/a");
  EXPECT_EQ(ReadAll(entry.Trash + "/files/a"), "a");
  EXPECT_FALSE(Exists(home_));
}

TEST_F(TrashTest, UnwritableRecordsReturnAtOnceWithTheFileInPlace) {
  WriteAll(work_ + "keep", "keep");
  ASSERT_TRUE(MoveToTrash(work_ + "keep", home_, nullptr, nullptr));  // makes the trash
  WriteAll(work_ + std::string(250, 'k'), "long");
  WriteAll(work_ + "keep", "keep");
  const std::string info = home_ + "/info";
  // Root passes any mode, so as root the record folder is made read-only by a bind mount.
  bool bound = false;
  if (::geteuid() == 0) {
    ASSERT_EQ(::mount(info.c_str(), info.c_str(), nullptr, MS_BIND, nullptr), 0);
    bound = true;
    ASSERT_EQ(::mount(nullptr, info.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
  } else {
    ASSERT_EQ(::chmod(info.c_str(), 0500), 0);
  }
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& name : {std::string("keep"), std::string(250, 'k')}) {
    std::string error;
    EXPECT_FALSE(MoveToTrash(work_ + name, home_, nullptr, &error));
    EXPECT_NE(error.find(::geteuid() == 0 ? "Read-only file system" : "Permission denied"), std::string::npos)
        << error;
    EXPECT_TRUE(Exists(work_ + name));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  if (bound) ::umount2(info.c_str(), MNT_DETACH);
  ::chmod(info.c_str(), 0700);
  EXPECT_EQ(Names(home_ + "/files").size(), 1u);
  EXPECT_EQ(Names(info).size(), 1u);
}

TEST_F(TrashTest, AFullDiskLeavesTheFileInPlaceWithoutAnEmptyRecord) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const std::string vol = tree_.PathOf("full");
  Tmpfs fs(vol, "size=256k");
  ASSERT_TRUE(fs.Mounted());
  ::mkdir((vol + "/dir").c_str(), 0755);
  WriteAll(vol + "/dir/first", "1");
  ASSERT_TRUE(MoveToTrash(vol + "/dir/first", home_, nullptr, nullptr));  // the trash exists
  WriteAll(vol + "/dir/victim", "v");
  {  // fill the disk to its last block
    const int fd = ::open((vol + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MoveToTrash(vol + "/dir/victim", home_, nullptr, &error));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(vol + "/dir/victim"), "v");
  EXPECT_EQ(Names(vol + "/.Trash-" + uid_ + "/info").size(), 1u);
  EXPECT_EQ(Names(vol + "/.Trash-" + uid_ + "/files").size(), 1u);
}

// Only our own records whose file is gone and that are a minute old are taken away.
TEST_F(TrashTest, OrphanRecordsOfOursGoAndEverythingElseStays) {
  for (const char* name : {"moved", "orphan", "fresh", "linked"}) {
    WriteAll(work_ + name, name);
    ASSERT_TRUE(MoveToTrash(work_ + name, home_, nullptr, nullptr));
  }
  // The file of "orphan" never arrived; "fresh" is a move that may still be finishing;
  // "linked" is a link where a record should be.
  for (const char* name : {"orphan", "fresh", "linked"})
    ASSERT_EQ(::unlink((home_ + "/files/" + name).c_str()), 0);
  ASSERT_EQ(::rename((home_ + "/info/linked.trashinfo").c_str(), (home_ + "/linked.trashinfo").c_str()), 0);
  ASSERT_EQ(::symlink((home_ + "/linked.trashinfo").c_str(), (home_ + "/info/linked.trashinfo").c_str()), 0);
  WriteAll(home_ + "/info/theirs.trashinfo", "[Trash Info]\nPath=/x/theirs\nDeletionDate=2026-12-01T10:00:00\n");
  WriteAll(home_ + "/info/mark-inside.trashinfo", "[Trash Info]\nPath=/x/a\nComment=X-Orbelan=1\n");
  // A move under way holds its record locked; a kill between a record's creation and its
  // first write leaves it empty.
  WriteAll(work_ + "held", "held");
  ASSERT_TRUE(MoveToTrash(work_ + "held", home_, nullptr, nullptr));
  ASSERT_EQ(::unlink((home_ + "/files/held").c_str()), 0);
  const int held = ::open((home_ + "/info/held.trashinfo").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  WriteAll(home_ + "/info/empty.trashinfo", "");
  // Every record written at one pinned second: the writes above may straddle a second's
  // turn, and a record of the second before would already be a minute old at now + 59.
  const std::time_t now = std::time(nullptr);
  const timespec written[2] = {{now, 0}, {now, 0}};
  for (const std::string& record : Names(home_ + "/info"))
    ASSERT_EQ(::utimensat(AT_FDCWD, (home_ + "/info/" + record).c_str(), written, AT_SYMLINK_NOFOLLOW), 0);
  EXPECT_EQ(RemoveOrphanRecords(home_, 60, now + 59), 0);
  EXPECT_EQ(RemoveOrphanRecords(home_, 0, now + 30), 2);  // orphan and fresh: nobody holds them
  EXPECT_EQ(RemoveOrphanRecords(home_, 0, now + 3600), 1);  // the empty one, now a minute old
  EXPECT_EQ(Names(home_ + "/info"), (std::vector<std::string>{"held.trashinfo", "linked.trashinfo", "mark-inside.trashinfo",
                                                              "moved.trashinfo", "theirs.trashinfo"}));
  ::close(held);
  EXPECT_EQ(RemoveOrphanRecords(home_, 0, now + 3600), 1);  // released: the move was killed
  EXPECT_EQ(RemoveOrphanRecords(tree_.PathOf("nowhere"), 60, now + 3600), 0);
}

TEST(TrashRecordText, PercentEncodingRoundTripsEveryByte) {
  std::string every;
  for (int b = 1; b < 256; ++b) every += static_cast<char>(b);
  const std::string encoded = PercentEncoded(every);
  EXPECT_EQ(encoded.find_first_of(" \n\\"), std::string::npos);
  EXPECT_EQ(PercentDecoded(encoded), every);
  EXPECT_EQ(PercentEncoded("/a b/%2e"), "/a%20b/%252e");
  EXPECT_EQ(PercentDecoded("%2"), std::nullopt);
  EXPECT_EQ(PercentDecoded("%zz"), std::nullopt);
}

}  // namespace
}  // namespace orbelan
