// Zipping a folder against real files in a temporary tree: what is chosen, what the archive
// holds when read back with libarchive, what goes to the (stand-in) trash, and every way
// the work stops with nothing changed.

#include "archive/folder_zipper.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "archive/zip_manifest.h"
#include "settings/settings.h"
#include "tests/core/zip_fixture.h"

namespace orbelan {
namespace {

constexpr const char* kDate = "2026-12-07";

using testing::Names;
using testing::Noise;
using testing::ReadAll;
using testing::Text;
using testing::WriteAll;


struct Member {
  std::string data;
  std::int64_t mtime = 0;
  unsigned perm = 0;
};

// The archive as libarchive reads it back. Names marked UTF-8 come back as UTF-8 under a
// UTF-8 locale; the others as their bytes.
std::map<std::string, Member> ReadBack(const std::string& path) {
  std::map<std::string, Member> out;
  locale_t utf8 = ::newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  locale_t saved = ::uselocale(utf8);
  archive* a = ::archive_read_new();
  ::archive_read_support_format_zip(a);
  EXPECT_EQ(::archive_read_open_filename(a, path.c_str(), 10240), ARCHIVE_OK);
  archive_entry* e;
  while (::archive_read_next_header(a, &e) == ARCHIVE_OK) {
    Member m;
    m.mtime = ::archive_entry_mtime(e);
    m.perm = ::archive_entry_perm(e);
    char buf[8192];
    la_ssize_t n;
    while ((n = ::archive_read_data(a, buf, sizeof buf)) > 0) m.data.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0);
    out[::archive_entry_pathname(e)] = m;
  }
  ::archive_read_free(a);
  ::uselocale(saved);
  ::freelocale(utf8);
  return out;
}

// General-purpose flags and compression method of each member, from the central directory.
struct CdEntry {
  unsigned flags = 0, method = 0;
  std::int64_t packed = 0, size = 0;
};
std::map<std::string, CdEntry> CentralDirectory(const std::string& path) {
  const std::string z = ReadAll(path);
  auto u16 = [&](std::size_t at) { return unsigned(std::uint8_t(z[at])) | unsigned(std::uint8_t(z[at + 1])) << 8; };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::map<std::string, CdEntry> out;
  const std::size_t end = z.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) return out;
  std::size_t at = u32(end + 16);
  for (unsigned i = 0, n = u16(end + 10); i < n; ++i) {
    EXPECT_EQ(z.compare(at, 4, std::string("PK\x01\x02", 4)), 0);
    const unsigned nameLength = u16(at + 28), extra = u16(at + 30), comment = u16(at + 32);
    out[z.substr(at + 46, nameLength)] = CdEntry{u16(at + 8), u16(at + 10), u32(at + 20), u32(at + 24)};
    at += 46 + nameLength + extra + comment;
  }
  return out;
}

// What went to the trash, and the date the names below carry.
class FolderZipperTest : public testing::ZipFolderTest {
 protected:
  void SetUp() override {
    ZipFolderTest::SetUp();
    options.Date = kDate;
    options.AfterMove = [this](const ZipMember&, const TrashEntry& entry) { trashed.push_back(entry.Original); };
  }
  std::vector<std::string> trashed;
};

TEST_F(FolderZipperTest, PlanTakesExactlyTheOwnUnzippedRegularFiles) {
  WriteAll(At("a.txt"), "alpha");
  WriteAll(At("b.dat"), "bravo!");
  WriteAll(At(".hidden"), "x");
  WriteAll(At("old.zip"), "zip");
  WriteAll(At("setup.ex_"), "underscore archive");
  WriteAll(At("cache.tmp"), "ignored");
  rules.IgnoreExts.Append(".tmp");
  tree.Dir("Work/sub");
  WriteAll(At("sub/inner.txt"), "below");
  tree.Link("a.txt", "Work/link");
  ASSERT_EQ(::mkfifo(At("pipe").c_str(), 0600), 0);

  ZipPlan plan;
  FolderZipper zipper(options);
  const ZipResult r = zipper.Plan(tree.PathOf("Work"), rules, plan);  // no trailing "/"
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  ASSERT_EQ(plan.Members.size(), 2u);
  EXPECT_EQ(plan.Members[0].Name, "a.txt");
  EXPECT_EQ(plan.Members[1].Name, "b.dat");
  EXPECT_EQ(plan.Bytes, 11);
  EXPECT_EQ(r.Files, 2);
  EXPECT_EQ(plan.Folder, folder);
  EXPECT_EQ(plan.ArchiveName, "Work-2026-12-07.zip");

  // A name that is taken gets the next number.
  WriteAll(At("Work-2026-12-07.zip"), "someone else's");
  WriteAll(At("Work-2026-12-07-2.zip"), "and another");
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  EXPECT_EQ(plan.ArchiveName, "Work-2026-12-07-3.zip");
}

TEST_F(FolderZipperTest, ArchiveHoldsTheOriginalsByteForByteAndTheyGoToTheTrash) {
  const std::string latin1 = "caf\xe9 cr\xe8me.txt";  // not UTF-8
  const std::map<std::string, std::string> files = {
      {"plain.txt", Text(100000)},
      {"with blanks and 'quotes' \"too\".txt", Text(5000)},
      {"-leading-dash.txt", Text(300)},
      {"R\xc3\xa9sum\xc3\xa9 \xe2\x82\xac.txt", Text(2000)},  // UTF-8
      {latin1, Text(4000)},
      {"noise.bin", Noise(70000, 7)},
      {"empty", ""},
  };
  for (const auto& [name, data] : files) WriteAll(At(name), data);
  ASSERT_EQ(::chmod(At("plain.txt").c_str(), 0640), 0);
  tree.SetMtime("Work/plain.txt", 1700000000);
  WriteAll(At("keep.zip"), "an archive stays");

  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.ArchiveName, "Work-2026-12-07.zip");
  EXPECT_EQ(r.Files, static_cast<std::int64_t>(files.size()));
  std::int64_t bytes = 0;
  for (const auto& [name, data] : files) bytes += static_cast<std::int64_t>(data.size());
  EXPECT_EQ(r.Bytes, bytes);
  EXPECT_EQ(r.TrashedFiles, r.Files);
  EXPECT_EQ(r.TrashedBytes, bytes);
  EXPECT_TRUE(r.Changed.empty());
  EXPECT_EQ(r.ArchiveBytes, static_cast<std::int64_t>(ReadAll(At(r.ArchiveName)).size()));
  EXPECT_LT(r.ArchiveBytes, bytes);

  // Only the archive and the file that was not zipped are left; no temporary file.
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"Work-2026-12-07.zip", "keep.zip"}));
  EXPECT_EQ(trashed.size(), files.size());

  const auto back = ReadBack(At(r.ArchiveName));
  ASSERT_EQ(back.size(), files.size() + 1);  // and the manifest, for undo
  EXPECT_EQ(back.count(kManifestName), 1u);
  for (const auto& [name, data] : files) {
    const auto it = back.find(name);
    ASSERT_NE(it, back.end()) << name;
    EXPECT_EQ(it->second.data, data) << name;
  }
  EXPECT_EQ(back.at("plain.txt").mtime, 1700000000);
  EXPECT_EQ(back.at("plain.txt").perm, 0640u);

  // Deflated where it shrinks, stored where it would not; UTF-8 marked only where true.
  const auto cd = CentralDirectory(At(r.ArchiveName));
  EXPECT_EQ(cd.at("plain.txt").method, 8u);
  EXPECT_EQ(cd.at("noise.bin").method, 0u);
  EXPECT_EQ(cd.at("empty").method, 0u);
  EXPECT_EQ(cd.at("R\xc3\xa9sum\xc3\xa9 \xe2\x82\xac.txt").flags & 0x800, 0x800u);
  EXPECT_EQ(cd.at(latin1).flags & 0x800, 0u);
  EXPECT_EQ(cd.at("plain.txt").flags & 0x800, 0u);
  for (const ZipMember& m : plan.Members) {
    EXPECT_EQ(m.Stored, m.Name == "noise.bin" || m.Name == "empty") << m.Name;
    // The size the zipper measured is the one the archive records.
    EXPECT_EQ(m.Packed, cd.at(m.Name).packed) << m.Name;
    EXPECT_EQ(m.Size, cd.at(m.Name).size) << m.Name;
    if (!m.Stored) {
      EXPECT_LT(m.Packed, m.Size) << m.Name;
    }
  }
  // Deflate really would have made the noise bigger.
  const std::string noise = files.at("noise.bin");
  z_stream z{};
  ASSERT_EQ(::deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(::deflateBound(&z, noise.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(noise.data()));
  z.avail_in = static_cast<uInt>(noise.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  ASSERT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
  EXPECT_GE(z.total_out, noise.size());
  ::deflateEnd(&z);
}

TEST_F(FolderZipperTest, AFileChangedAfterReadingStaysAndIsNamed) {
  WriteAll(At("a.txt"), Text(1000));
  WriteAll(At("b.txt"), Text(2000));
  WriteAll(At("c.txt"), Text(3000));
  options.BeforeTrash = [this] {
    std::ofstream(At("b.txt"), std::ios::app) << "more";  // grows after it was zipped
    // Replaced by another file of the same size and time: only the inode tells.
    struct stat old {};
    ASSERT_EQ(::stat(At("c.txt").c_str(), &old), 0);
    WriteAll(At(".c"), Text(3000));
    const timespec times[2] = {old.st_atim, old.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, At(".c").c_str(), times, 0), 0);
    ASSERT_EQ(::rename(At(".c").c_str(), At("c.txt").c_str()), 0);
  };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Changed, (std::vector<std::string>{"b.txt", "c.txt"}));
  EXPECT_EQ(r.TrashedFiles, 1);
  EXPECT_EQ(r.TrashedBytes, 1000);
  EXPECT_EQ(trashed, std::vector<std::string>{At("a.txt")});
  EXPECT_EQ(ReadAll(At("b.txt")), Text(2000) + "more");
  EXPECT_EQ(ReadBack(At(r.ArchiveName)).at("b.txt").data, Text(2000));
}

TEST_F(FolderZipperTest, AFileNoLongerOrdinaryIsLeftOutAndNamed) {
  WriteAll(At("a.txt"), Text(1000));
  WriteAll(At("b.txt"), Text(1000));
  WriteAll(At("c.txt"), Text(1000));
  // A pipe in its place: nothing to read, and nothing for the trash.
  options.BeforeRead = [this](const ZipMember& m) {
    if (m.Name != "b.txt") return;
    ::unlink(At("b.txt").c_str());
    ASSERT_EQ(::mkfifo(At("b.txt").c_str(), 0600), 0);
  };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Unreadable, std::vector<std::string>{"b.txt"});
  EXPECT_EQ(r.UnreadableWhy, std::vector<std::string>{"it is no longer an ordinary file"});
  EXPECT_EQ(trashed, (std::vector<std::string>{At("a.txt"), At("c.txt")}));
  EXPECT_EQ(ReadBack(At(r.ArchiveName)).count("b.txt"), 0u);
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"Work-2026-12-07.zip", "b.txt"}));
}

TEST_F(FolderZipperTest, AFileChangedBetweenTheTwoWritesStopsEverything) {
  // Noise that deflate cannot shrink makes the archive be written twice.
  WriteAll(At("a.txt"), Text(5000));
  WriteAll(At("noise.bin"), Noise(20000, 3));
  int readsOfA = 0;
  options.BeforeRead = [&](const ZipMember& m) {
    if (m.Name == "a.txt" && ++readsOfA == 2) std::ofstream(At("a.txt"), std::ios::app) << "!";
  };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  EXPECT_EQ(readsOfA, 2);
  EXPECT_EQ(r.Outcome, ZipOutcome::Failed);
  EXPECT_NE(r.Message.find("changed while it was being zipped"), std::string::npos) << r.Message;
  EXPECT_TRUE(trashed.empty());
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"a.txt", "noise.bin"}));
}

TEST_F(FolderZipperTest, CancelLeavesNoArchiveAndTrashesNothing) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteAll(At(name), Text(50000));
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  ZipOptions cancelling = options;
  FolderZipper* self = nullptr;
  cancelling.BeforeRead = [&self](const ZipMember& m) {
    if (m.Name == "c.txt") self->CancelRequested = true;
  };
  FolderZipper cancelled(cancelling);
  self = &cancelled;
  EXPECT_EQ(cancelled.Run(plan).Outcome, ZipOutcome::Cancelled);
  EXPECT_TRUE(trashed.empty());
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST_F(FolderZipperTest, ANameTakenWhileWritingIsNeverReplaced) {
  WriteAll(At("a.txt"), Text(30000));
  options.BeforeRead = [this](const ZipMember&) { WriteAll(At("Work-2026-12-07.zip"), "mine"); };
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.ArchiveName, "Work-2026-12-07-2.zip");
  EXPECT_EQ(ReadAll(At("Work-2026-12-07.zip")), "mine");
  EXPECT_EQ(ReadBack(At(r.ArchiveName)).at("a.txt").data, Text(30000));
}

TEST_F(FolderZipperTest, RefusalsChangeNothing) {
  ZipPlan plan;
  // Nothing to zip: only things that are left alone.
  WriteAll(At("old.zip"), "zip");
  WriteAll(At(".dot"), "hidden");
  ZipResult r = PlanAndRun(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(r.Message.find("no files to zip"), std::string::npos) << r.Message;

  // Too little room for the worst case, as the free-space seam tells it.
  WriteAll(At("big.txt"), Text(200000));
  options.FreeSpace = [](int) { return std::optional<std::int64_t>(100000); };
  r = PlanAndRun(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(r.Message.find("not enough free space"), std::string::npos) << r.Message;
  EXPECT_NE(r.Message.find("100,000 bytes are free"), std::string::npos) << r.Message;
  // The same check holds when the space shrinks between the question and the writing.
  options.FreeSpace = {};
  FolderZipper ok(options);
  ASSERT_EQ(ok.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  options.FreeSpace = [](int) { return std::optional<std::int64_t>(0); };
  EXPECT_EQ(FolderZipper(options).Run(plan).Outcome, ZipOutcome::Refused);
  options.FreeSpace = {};

  // The home folder itself, and a file system's root.
  options.HomeFolder = tree.PathOf("Work");
  r = PlanAndRun(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
  EXPECT_NE(r.Message.find("home folder"), std::string::npos) << r.Message;
  EXPECT_EQ(FolderZipper(options).Plan("/", rules, plan).Outcome, ZipOutcome::Refused);
  EXPECT_EQ(FolderZipper(options).Plan("/proc/", rules, plan).Outcome, ZipOutcome::Refused);

  // A folder that is gone.
  EXPECT_EQ(FolderZipper(options).Plan(tree.PathOf("gone/"), rules, plan).Outcome,
            ZipOutcome::Refused);

  // A folder that cannot be written (root writes anywhere, so only as another user).
  options.HomeFolder = tree.PathOf("elsewhere");
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    r = PlanAndRun(plan);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(r.Outcome, ZipOutcome::Refused);
    EXPECT_NE(r.Message.find("cannot be written"), std::string::npos) << r.Message;
  }
  EXPECT_TRUE(trashed.empty());
  EXPECT_EQ(Names(folder), (std::vector<std::string>{".dot", "big.txt", "old.zip"}));
}

TEST_F(FolderZipperTest, AFolderNamedInOtherBytesGetsAnArchiveNamedInThoseBytes) {
  const std::string odd = tree.PathOf("Caf\xe9 -x") + "/";
  ASSERT_EQ(::mkdir(odd.c_str(), 0755), 0);
  WriteAll(odd + "a.txt", Text(30000));
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(odd, rules, plan).Outcome, ZipOutcome::Done);
  EXPECT_EQ(plan.ArchiveName, "Caf\xe9 -x-2026-12-07.zip");
  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(Names(odd), std::vector<std::string>{"Caf\xe9 -x-2026-12-07.zip"});
  EXPECT_EQ(ReadBack(odd + r.ArchiveName).at("a.txt").data, Text(30000));
  EXPECT_EQ(trashed, std::vector<std::string>{odd + "a.txt"});
}

TEST(FolderZipperNames, ArchiveNameAndUtf8) {
  EXPECT_EQ(ArchiveNameFor("/data/Photos 2019/", kDate), "Photos 2019-2026-12-07.zip");
  EXPECT_EQ(ArchiveNameFor("/data/Photos 2019", kDate, 3), "Photos 2019-2026-12-07-3.zip");
  // A long name is cut to fit 255 bytes, never inside a UTF-8 character.
  std::string longName;
  for (int i = 0; i < 120; ++i) longName += "\xc3\xa9";  // 240 bytes
  const std::string cut = ArchiveNameFor("/x/" + longName + "/", kDate);
  EXPECT_LE(cut.size(), 255u);
  EXPECT_TRUE(IsValidUtf8(cut));
  EXPECT_TRUE(cut.ends_with("-2026-12-07.zip"));

  // A name that is not UTF-8 is cut by bytes.
  const std::string latin(250, '\xe9');
  EXPECT_EQ(ArchiveNameFor("/x/" + latin, kDate), latin.substr(0, 240) + "-2026-12-07.zip");

  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("R\xc3\xa9sum\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("caf\xe9"));
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xe2\x82"));          // cut short
}

}  // namespace
}  // namespace orbelan
