#include "platform/ini_profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "scan_tree_fixture.h"

namespace orbelan {
namespace {

namespace fs = std::filesystem;

class IniProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "orbelan.dat").string();
  }

  void Put(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary);
    out << bytes;
  }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Names of everything in the folder, to see that no temporary file was left behind.
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  orbelan::testing::TempTree tree_;  // removed with everything in it when the test ends
  fs::path dir_ = tree_.Root();
  std::string path_;
};

TEST_F(IniProfileTest, NamesMatchWithoutCaseAndFirstMatchWins) {
  Put("top=before any section\r\n"
      "[Other]\r\nNumZips=7\r\n"
      "[main]\r\nnumzips=3\r\nNUMZIPS=4\r\nZip1 = .zip \r\n"
      "[MAIN]\r\nZip2=.arj\r\n");
  IniFile file(path_);
  EXPECT_TRUE(file.Exists());
  EXPECT_EQ(file.GetString("MAIN", "NumZips"), "3");
  EXPECT_EQ(file.GetString("Main", "zip1"), ".zip");
  EXPECT_EQ(file.GetString("other", "numZIPS"), "7");
  // Only the first section of a name is searched, as the classic reader does.
  EXPECT_EQ(file.GetString("MAIN", "Zip2", "none"), "none");
  // Lines before the first header belong to no section.
  EXPECT_EQ(file.GetString("", "top", "none"), "none");
  EXPECT_EQ(file.GetString("MAIN", "missing", "fallback"), "fallback");
  EXPECT_EQ(file.GetString("NoSuch", "NumZips"), "");
}

TEST_F(IniProfileTest, ValuesAreTrimmedUnquotedAndCut) {
  std::string longValue(1500, 'v');
  Put("[MAIN]\n"
      "plain=  a b  \t\n"
      "dq=\"quoted value\"\n"
      "sq=' spaced '\n"
      "mixed=\"half'\n"
      "lone=\"\n"
      "nested=\"\"x\"\"\n"
      "equals=a=b=c\n"
      "nokey\n"
      "empty=\n"
      "; comment=5\n"
      "long=" + longValue + "\n" +
      std::string("nul=ab\0cd\n", 10));
  IniFile file(path_);
  EXPECT_EQ(file.GetString("MAIN", "plain"), "a b");
  EXPECT_EQ(file.GetString("MAIN", "dq"), "quoted value");
  EXPECT_EQ(file.GetString("MAIN", "sq"), " spaced ");
  EXPECT_EQ(file.GetString("MAIN", "mixed"), "\"half'");
  EXPECT_EQ(file.GetString("MAIN", "lone"), "\"");
  EXPECT_EQ(file.GetString("MAIN", "nested"), "\"x\"");
  EXPECT_EQ(file.GetString("MAIN", "equals"), "a=b=c");
  EXPECT_EQ(file.GetString("MAIN", "nokey", "fallback"), "");
  EXPECT_EQ(file.GetString("MAIN", "empty", "fallback"), "");
  EXPECT_EQ(file.GetString("MAIN", "; comment", "fallback"), "fallback");
  EXPECT_EQ(file.GetString("MAIN", "long"), std::string(1023, 'v'));
  EXPECT_EQ(file.GetString("MAIN", "long", {}, 10), std::string(9, 'v'));
  EXPECT_EQ(file.GetString("MAIN", "nul"), "ab");
  // The raw view keeps the quotes.
  EXPECT_EQ(file.Find("MAIN", "dq"), "\"quoted value\"");
}

TEST_F(IniProfileTest, MissingOrUnusableFilesReadAsEmpty) {
  IniFile missing(path_);
  EXPECT_FALSE(missing.Exists());
  EXPECT_EQ(missing.GetString("MAIN", "minSize", "100"), "100");
  EXPECT_FALSE(fs::exists(path_)) << "reading must not create the file";

  fs::create_directory(path_);
  IniFile folder(path_);
  EXPECT_FALSE(folder.Exists());
  EXPECT_EQ(folder.GetString("MAIN", "minSize", "100"), "100");
}

TEST_F(IniProfileTest, GarbageIsReadAndKeptByteForByte) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 37 + 11) % 256));
  garbage += std::string(100000, 'x') + "=" + std::string(100000, 'y');  // no line end at all
  Put(garbage);

  IniFile file(path_);
  EXPECT_TRUE(file.Exists());
  EXPECT_EQ(file.GetString("MAIN", "minSize", "none"), "none");
  ASSERT_TRUE(file.WriteString("MAIN", "minSize", "5"));
  std::string after = Contents();
  EXPECT_EQ(after, garbage + "\r\n[MAIN]\r\nminSize=5\r\n");
  EXPECT_EQ(IniFile(path_).GetString("MAIN", "minSize"), "5");
}

TEST_F(IniProfileTest, WriteCreatesFileSectionAndKeys) {
  ASSERT_TRUE(WriteProfileString(path_, "MAIN", "minSize", "0"));
  EXPECT_EQ(Contents(), "[MAIN]\r\nminSize=0\r\n");
  ASSERT_TRUE(WriteProfileString(path_, "MAIN", "NumZips", "2"));
  ASSERT_TRUE(WriteProfileString(path_, "Extra", "a", ""));
  EXPECT_EQ(Contents(), "[MAIN]\r\nminSize=0\r\nNumZips=2\r\n[Extra]\r\na=\r\n");
  EXPECT_EQ(ReadProfileString(path_, "main", "NUMZIPS"), "2");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"orbelan.dat"});
}

TEST_F(IniProfileTest, WriteReplacesInPlaceAndLeavesEverythingElse) {
  const std::string head = "; settings\n[Other]\nminSize=1\n\n";
  const std::string tail = "[Tail]\r\n  key = kept  \r\n";
  Put(head + "[Main]\n  MINSIZE = 7 ; note\nzip1=.zip\n\n; trailing comment\n" + tail);

  IniFile file(path_);
  ASSERT_TRUE(file.WriteString("MAIN", "minSize", "0"));
  ASSERT_TRUE(file.WriteString("MAIN", "NumZips", "1"));
  // The key keeps the spelling the file gave it; the new key follows the last key line.
  EXPECT_EQ(Contents(), head +
                            "[Main]\nMINSIZE=0\r\nzip1=.zip\nNumZips=1\r\n\n; trailing comment\n" +
                            tail);
  EXPECT_EQ(file.Text(), Contents());
  EXPECT_EQ(file.GetString("Other", "minSize"), "1");
  EXPECT_EQ(file.GetString("Tail", "key"), "kept");
}

TEST_F(IniProfileTest, UnchangedValueLeavesTheFileAlone) {
  Put("[MAIN]\r\na=1\r\nb=2\n");
  auto inode = [&] {
    struct stat st {};
    ::stat(path_.c_str(), &st);
    return st.st_ino;
  };
  const auto original = inode();
  IniFile file(path_);
  ASSERT_TRUE(file.WriteString("MAIN", "a", "1"));
  EXPECT_EQ(inode(), original);
  // Same value but an LF line end: the line is rewritten in our form.
  ASSERT_TRUE(file.WriteString("MAIN", "b", "2"));
  EXPECT_NE(inode(), original);
  EXPECT_EQ(Contents(), "[MAIN]\r\na=1\r\nb=2\r\n");
}

TEST_F(IniProfileTest, WriteHandlesUnendedLastLines) {
  Put("[MAIN]");
  ASSERT_TRUE(WriteProfileString(path_, "MAIN", "a", "1"));
  EXPECT_EQ(Contents(), "[MAIN]\r\na=1\r\n");

  Put("[MAIN]\nb=2");
  ASSERT_TRUE(WriteProfileString(path_, "MAIN", "c", "3"));
  EXPECT_EQ(Contents(), "[MAIN]\nb=2\r\nc=3\r\n");

  Put("[Other]\nx=y");
  ASSERT_TRUE(WriteProfileString(path_, "MAIN", "d", "4"));
  EXPECT_EQ(Contents(), "[Other]\nx=y\r\n[MAIN]\r\nd=4\r\n");
}

TEST_F(IniProfileTest, RefusedWritesFailAndChangeNothing) {
  std::string inMissingFolder = (dir_ / "gone" / "orbelan.dat").string();
  EXPECT_FALSE(WriteProfileString(inMissingFolder, "MAIN", "a", "1"));
  EXPECT_FALSE(fs::exists(dir_ / "gone"));

  fs::create_directory(path_);
  EXPECT_FALSE(WriteProfileString(path_, "MAIN", "a", "1"));
  EXPECT_TRUE(fs::is_directory(path_));
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"orbelan.dat"});
  fs::remove(path_);

  // Text that would break the line structure is refused rather than written.
  Put("[MAIN]\r\na=1\r\n");
  IniFile file(path_);
  EXPECT_FALSE(file.WriteString("MAIN", "a", "2\r\n[Evil]"));
  EXPECT_FALSE(file.WriteString("MAIN", std::string("b\0", 2), "2"));
  EXPECT_FALSE(file.WriteString("MAIN", "k=v", "2"));
  EXPECT_FALSE(file.WriteString("MA]IN", "a", "2"));
  EXPECT_FALSE(file.WriteString("MAIN", "", "2"));
  EXPECT_EQ(Contents(), "[MAIN]\r\na=1\r\n");
  EXPECT_EQ(file.GetString("MAIN", "a"), "1");
}

TEST_F(IniProfileTest, FailedReplacementLeavesTheOldFileWhole) {
  const std::string before = "[MAIN]\r\nminSize=1\r\n";
  Put(before);
  IniFile file(path_);
  // Even root cannot write past the file-size limit: the new file stops short.
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit oldLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = file.WriteString("MAIN", "Fav1", std::string(200, 'f'));
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(file.Text(), before);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"orbelan.dat"});
}

TEST_F(IniProfileTest, ReadOnlyFileRefusesTheWriteThoughItsFolderIsWritable) {
  const std::string before = "[MAIN]\r\na=1\r\n";
  Put(before);
  const std::string writable = (dir_ / "writable.dat").string();
  { std::ofstream(writable, std::ios::binary) << before; }
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(writable.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);

  // Root writes any file, so the writer runs as an ordinary user.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(10);
    if (!WriteProfileString(writable, "MAIN", "a", "2")) ::_exit(11);  // the folder takes writes
    if (WriteProfileString(path_, "MAIN", "a", "2")) ::_exit(12);
    ::_exit(errno == EACCES ? 0 : 13);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"orbelan.dat", "writable.dat"}));
}

TEST_F(IniProfileTest, LinkedFileStaysALink) {
  std::string real = (dir_ / "real.ini").string();
  {
    std::ofstream out(real, std::ios::binary);
    out << "[MAIN]\r\na=1\r\n";
  }
  fs::create_symlink("real.ini", path_);
  ASSERT_TRUE(WriteProfileString(path_, "MAIN", "a", "2"));
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(ReadProfileString(real, "MAIN", "a"), "2");
}

}  // namespace
}  // namespace orbelan
