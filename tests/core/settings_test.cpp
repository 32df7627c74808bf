#include "settings/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/ini_profile.h"
#include "platform/system_paths.h"
#include "scan/scan_rules.h"

#include "key_by_key_writes.h"
#include "scan_tree_fixture.h"

namespace orbelan {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xdg_.emplace("XDG_CONFIG_HOME", (dir_ / "xdg").c_str());
    settings_.SetProgramDir((dir_ / "orbelan").string());
    path_ = (dir_ / "orbelan.dat").string();
  }
  void TearDown() override {
    xdg_.reset();
  }

  void Put(const std::string& bytes) const {
    std::ofstream out(path_, std::ios::binary);
    out << bytes;
  }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  Settings Loaded(const std::string& fileBytes) const {
    Put(fileBytes);
    Settings loaded = settings_;
    loaded.LoadSettings();
    return loaded;
  }

  orbelan::testing::TempTree tree_;  // removed with everything in it when the test ends
  fs::path dir_ = tree_.Root();
  std::optional<ScopedEnv> xdg_;
  Settings settings_;
  std::string path_;
};

// The first save of a fresh installation: every default in the order of the keys.
std::string FirstSave() {
  std::string text = "[MAIN]\r\nminSize=0\r\nNumZips=" + std::to_string(std::size(kDefaultZipExts)) +
                     "\r\n";
  int n = 0;
  for (std::string_view ext : kDefaultZipExts) {
    text += "Zip" + std::to_string(++n) + "=" + std::string(ext) + "\r\n";
  }
  const std::vector<std::string> paths = DefaultIgnoredPaths();
  text += "NumPaths=" + std::to_string(paths.size()) + "\r\n";
  n = 0;
  for (const std::string& path : paths) text += "Path" + std::to_string(++n) + "=" + path + "\r\n";
  return text + "NumFav=0\r\nNumExt=0\r\nEstimateSavings=1\r\n";
}

TEST_F(SettingsTest, NoFileGivesDefaultsAndTheFirstSaveWritesThemInOrder) {
  ASSERT_EQ(settings_.FileName, path_);
  settings_.MinSize = 77;
  settings_.Favorites.Append("/home/");
  settings_.LoadSettings();
  EXPECT_EQ(settings_.MinSize, 0);
  // /usr/ and /proc/ first, then the rest of the system's trees.
  ASSERT_EQ(settings_.IgnorePaths.Count, 12);
  EXPECT_EQ(settings_.IgnorePaths[0], "/usr/");
  EXPECT_EQ(settings_.IgnorePaths[1], "/proc/");
  EXPECT_EQ(settings_.IgnorePaths[2], "/etc/");
  EXPECT_EQ(settings_.IgnorePaths[4], "/var/lib/");
  EXPECT_EQ(settings_.IgnorePaths[11], "/libx32/");
  EXPECT_EQ(settings_.Favorites.Count, 0);
  EXPECT_EQ(settings_.IgnoreExts.Count, 0);
  EXPECT_FALSE(fs::exists(path_)) << "loading must not create the file";

  // The archive types common on Linux, in the form the matching compares against.
  const std::vector<std::string> exts(settings_.ZipExts.Items.begin(),
                                      settings_.ZipExts.Items.begin() + settings_.ZipExts.Count);
  ASSERT_LE(exts.size(), static_cast<std::size_t>(kListCapacity));
  ASSERT_GE(exts.size(), 2u);
  EXPECT_EQ(exts[0], ".zip");
  EXPECT_EQ(exts[1], ".arj");
  for (const char* wanted : {".7z", ".arj", ".bz2", ".cab", ".deb", ".gz", ".jar", ".lz", ".lz4",
                             ".lzma", ".lzo", ".rar", ".rpm", ".tbz", ".tbz2", ".tgz", ".txz",
                             ".tzst", ".xz", ".z", ".zip", ".zst"}) {
    EXPECT_EQ(std::count(exts.begin(), exts.end(), wanted), 1) << wanted;
  }
  for (const std::string& ext : exts) {
    EXPECT_EQ(ext, LowerAscii(ext));
    EXPECT_EQ(ext.rfind('.'), 0u) << ext << " is not one extension with its dot";
    EXPECT_EQ(std::count(exts.begin(), exts.end(), ext), 1) << ext;
  }

  settings_.SaveSettings();
  EXPECT_EQ(Contents(), FirstSave());
}

TEST_F(SettingsTest, AFileWithItsOwnArchiveTypesKeepsThem) {
  // Files written before the Linux defaults hold the classic pair: they stay as they are,
  // and are saved as they are.
  const std::string old = "[MAIN]\r\nminSize=0\r\nNumZips=2\r\nZip1=.zip\r\nZip2=.arj\r\n";
  Settings loaded = Loaded(old);
  ASSERT_EQ(loaded.ZipExts.Count, 2);
  EXPECT_EQ(loaded.ZipExts[1], ".arj");
  loaded.SaveSettings();
  EXPECT_EQ(Contents().substr(0, old.size()), old);
  EXPECT_EQ(Contents().find("Zip3"), std::string::npos);
  // A file without the count holds no archive types at all, as it says.
  EXPECT_EQ(Loaded("[MAIN]\r\nminSize=5\r\n").ZipExts.Count, 0);
}

TEST_F(SettingsTest, SavedListsLoadBackAsWritten) {
  settings_.SetDefaults();
  settings_.MinSize = 65535;
  settings_.ZipExts.Clear();
  settings_.ZipExts.Append(".zip");
  settings_.ZipExts.Append(".arj");
  settings_.ZipExts.Append(".ZIP");  // kept as written, even though it will never match
  settings_.Favorites.Append("/home/Ann/Photos 2024/");
  settings_.Favorites.Append("");
  settings_.IgnoreExts.Append(".tmp");
  settings_.SaveSettings();

  Settings loaded = settings_;
  loaded.SetDefaults();
  loaded.LoadSettings();
  EXPECT_EQ(loaded.MinSize, 65535);
  ASSERT_EQ(loaded.ZipExts.Count, 3);
  EXPECT_EQ(loaded.ZipExts[2], ".ZIP");
  ASSERT_EQ(loaded.Favorites.Count, 2);
  EXPECT_EQ(loaded.Favorites[0], "/home/Ann/Photos 2024/");
  EXPECT_EQ(loaded.Favorites[1], "");
  ASSERT_EQ(loaded.IgnoreExts.Count, 1);
  EXPECT_EQ(loaded.IgnoreExts[0], ".tmp");
  EXPECT_EQ(loaded.IgnorePaths.Count, DefaultIgnoredPaths().size());
  EXPECT_NE(Contents().find("Fav2=\r\n"), std::string::npos);
}

TEST_F(SettingsTest, CountsDecideHowManyEntriesLoad) {
  // Missing entry keys give empty entries that still count; keys match in any case.
  Settings a = Loaded("[main]\r\nnumzips=3\r\nzip1=.zip\r\nZIP2=.arj\r\nNumPaths=1\r\n");
  ASSERT_EQ(a.ZipExts.Count, 3);
  EXPECT_EQ(a.ZipExts[0], ".zip");
  EXPECT_EQ(a.ZipExts[1], ".arj");
  EXPECT_EQ(a.ZipExts[2], "");
  ASSERT_EQ(a.IgnorePaths.Count, 1);
  EXPECT_EQ(a.IgnorePaths[0], "");
  EXPECT_EQ(a.Favorites.Count, 0);
  EXPECT_EQ(a.IgnoreExts.Count, 0);
  EXPECT_EQ(a.MinSize, 100);  // a file without the key

  // The table holds 50: larger counts (also -1, read as 65535) load the first 50.
  std::string many = "[MAIN]\nNumFav=60\nNumExt=-1\nNumZips=abc\nNumPaths=0x\n";
  for (int n = 1; n <= 60; ++n) many += "Fav" + std::to_string(n) + "=/f" + std::to_string(n) + "/\n";
  Settings b = Loaded(many);
  ASSERT_EQ(b.Favorites.Count, 50);
  EXPECT_EQ(b.Favorites[0], "/f1/");
  EXPECT_EQ(b.Favorites[49], "/f50/");
  EXPECT_EQ(b.IgnoreExts.Count, 50);
  EXPECT_EQ(b.ZipExts.Count, 0);
  EXPECT_EQ(b.IgnorePaths.Count, 0);
  EXPECT_TRUE(b.Favorites.Full());
  EXPECT_FALSE(b.Favorites.Append("/more/"));
  EXPECT_EQ(b.Favorites.Count, 50);
}

TEST_F(SettingsTest, NumbersReadAsTheirLowSixteenBits) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"0", 0},       {"250", 250},   {"+7", 7},       {"70000", 4464}, {"65536", 0},
      {"-1", 65535},  {"0x64", 100},  {"0X1f", 31},    {"$FF", 255},    {"-$10", 65520},
      {"'42'", 42},   {"\"9\"", 9},   {"007", 7},      {"abc", 100},    {"", 100},
      {"12abc", 100}, {"1 2", 100},   {"0x", 100},     {"$", 100},      {"-", 100},
      {"x10", 100},   {"1.5", 100},   {"0x1g", 100},   {"$-1", 100},
      // Beyond 64 bits a number is taken as no number at all.
      {"123456789012345678901234567890", 100},
      {"9223372036854775807", 65535}, {"9223372036854775808", 100},
      {"-9223372036854775808", 0},    {"-9223372036854775809", 100},
      {"$FFFFFFFFFFFFFFFF", 65535},   {"$10000000000000000", 100},
  };
  for (const Case& c : cases) {
    Settings s = Loaded(std::string("[MAIN]\r\nminSize=") + c.text + "\r\n");
    EXPECT_EQ(s.MinSize, c.expected) << "minSize=" << c.text;
  }
}

TEST_F(SettingsTest, ShorterListLeavesFormerEntriesInTheFile) {
  settings_.SetDefaults();
  settings_.ZipExts.Clear();
  for (const char* ext : {".zip", ".arj", ".rar", ".7z", ".gz"}) settings_.ZipExts.Append(ext);
  settings_.SaveSettings();
  settings_.ZipExts.Count = 3;
  settings_.SaveSettings();

  std::string text = Contents();
  EXPECT_NE(text.find("NumZips=3\r\n"), std::string::npos);
  EXPECT_NE(text.find("Zip4=.7z\r\n"), std::string::npos);
  EXPECT_NE(text.find("Zip5=.gz\r\n"), std::string::npos);
  Settings loaded = settings_;
  loaded.LoadSettings();
  ASSERT_EQ(loaded.ZipExts.Count, 3);
  EXPECT_EQ(loaded.ZipExts[2], ".rar");
}

TEST_F(SettingsTest, SavingEstimateIsOnUnlessTheFileTurnsItOff) {
  EXPECT_TRUE(Loaded("[MAIN]\nminSize=5\n").EstimateSavings);  // a file from before the key
  EXPECT_FALSE(Loaded("[MAIN]\nestimatesavings=0\n").EstimateSavings);
  EXPECT_TRUE(Loaded("[MAIN]\nEstimateSavings=1\n").EstimateSavings);
  EXPECT_TRUE(Loaded("[MAIN]\nEstimateSavings=off\n").EstimateSavings);  // not a number

  fs::remove(path_);
  settings_.SetDefaults();
  EXPECT_TRUE(settings_.EstimateSavings);
  settings_.EstimateSavings = false;
  settings_.SaveSettings();
  EXPECT_NE(Contents().find("NumExt=0\r\nEstimateSavings=0\r\n"), std::string::npos);
  Settings loaded = settings_;
  loaded.EstimateSavings = true;
  loaded.LoadSettings();
  EXPECT_FALSE(loaded.EstimateSavings);
}

TEST_F(SettingsTest, SaveLeavesOtherSectionsAndUnknownKeysAlone) {
  const std::string head = "[Window]\nLeft=10\n\n";
  const std::string tail = "[Zzz]\r\nminSize=1\r\n";
  Put(head + "[MAIN]\nUnknown = keep me\nminSize=5\n; a note\n" + tail);
  settings_.LoadSettings();
  EXPECT_EQ(settings_.MinSize, 5);
  settings_.SaveSettings();

  std::string text = Contents();
  ASSERT_GE(text.size(), head.size() + tail.size());
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_NE(text.find("\nUnknown = keep me\nminSize=5\r\nNumZips=0\r\n"), std::string::npos);
  EXPECT_NE(text.find("NumExt=0\r\nEstimateSavings=1\r\n; a note\n"), std::string::npos);
}

TEST_F(SettingsTest, EntriesWithLineBreaksCannotInjectKeys) {
  settings_.SetDefaults();
  settings_.Favorites.Append("/tmp/odd\n[MAIN]\nminSize=9\n/");
  settings_.SaveSettings();
  Settings loaded = settings_;
  loaded.LoadSettings();
  EXPECT_EQ(loaded.MinSize, 0);
  ASSERT_EQ(loaded.Favorites.Count, 1);
  EXPECT_EQ(loaded.Favorites[0], "/tmp/odd");
}

TEST_F(SettingsTest, GarbageFilesLoadWithoutHarm) {
  std::string garbage(std::string("\0\xff\xfe[MAIN\n=\n\0=\0\n", 14));
  garbage += std::string(100000, 'N') + "\n[MAIN]\nNumZips=2\nZip1=" + std::string(100000, 'z') +
             "\n" + std::string("Zip2=.a\0rj\n", 11);
  Settings s = Loaded(garbage);
  EXPECT_EQ(s.MinSize, 100);
  ASSERT_EQ(s.ZipExts.Count, 2);
  EXPECT_EQ(s.ZipExts[0], std::string(1023, 'z'));
  EXPECT_EQ(s.ZipExts[1], ".a");

  Settings none = Loaded("just some text\r\nwithout sections\r\n");
  EXPECT_EQ(none.MinSize, 100);
  EXPECT_EQ(none.ZipExts.Count, 0);
  EXPECT_EQ(none.IgnorePaths.Count, 0);
}

TEST_F(SettingsTest, RefusedWriteRaisesTheErrorWithThePath) {
  settings_.SetDefaults();
  settings_.FileName = (dir_ / "missing" / "orbelan.dat").string();
  try {
    settings_.SaveSettings();
    FAIL() << "save into a missing folder succeeded";
  } catch (const SettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + settings_.FileName);
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));

  settings_.FileName = path_;
  fs::create_directory(path_);
  fs::create_directory(fs::path(path_) / "inside");
  try {
    settings_.SaveSettings();
    FAIL() << "save over a folder succeeded";
  } catch (const SettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path_);
  }
  EXPECT_TRUE(fs::is_directory(fs::path(path_) / "inside"));
}

TEST_F(SettingsTest, RefusedSaveLeavesTheFileAsItWas) {
  const std::string before = "[MAIN]\r\nminSize=0\r\n";
  Put(before);
  settings_.SetDefaults();
  settings_.MinSize = 3;
  settings_.Favorites.Append(std::string(300, 'f'));

  // The new file may not grow past 200 bytes; root is bound too.
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit oldLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 200;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::optional<std::string> error;
  try {
    settings_.SaveSettings();
  } catch (const SettingsWriteError& e) {
    error = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  std::signal(SIGXFSZ, oldHandler);

  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(*error, "Unable to write to " + path_);
  // One transaction: not even the keys before the long favourite were written.
  EXPECT_EQ(Contents(), before);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string(), "orbelan.dat") << "left behind: " << entry.path();
  }
}

TEST_F(SettingsTest, SaveIsByteForByteWhatKeyByKeyWritesMake) {
  // The files the tests above load, each saved with the settings they load to and with
  // changed ones (a list grown, a list shrunk).
  const std::vector<std::string> files = {
      "",
      "[main]\r\nnumzips=3\r\nzip1=.zip\r\nZIP2=.arj\r\nNumPaths=1\r\n",
      "[Window]\nLeft=10\n\n[MAIN]\nUnknown = keep me\nminSize=5\n; a note\n[Zzz]\r\nminSize=1\r\n",
      "just some text\r\nwithout sections\r\n",
      FirstSave(),
      "[MAIN]\nNumFav=60\nNumExt=-1\nNumZips=abc\nNumPaths=0x\nFav1=/f1/\nFav2=/f2/",
      "[Other]\nminSize=1\n[MAIN]\nminSize=2\n[Other]\nNumFav=3\n[MAIN]\nNumFav=1\n",
  };
  for (const std::string& file : files) {
    for (int variant = 0; variant < 3; ++variant) {
      Put(file);
      settings_.LoadSettings();
      if (variant == 1) {
        settings_.ZipExts.Append(".7z");
        settings_.Favorites.Append("/home/Ann/");
      } else if (variant == 2) {
        settings_.ZipExts.Count = settings_.ZipExts.Count > 0 ? 1 : 0;
        settings_.IgnorePaths.Clear();
      }
      const std::string expected = orbelan::testing::WriteKeyByKey(file, settings_.Writes());
      settings_.SaveSettings();
      EXPECT_EQ(Contents(), expected) << "file: " << ::testing::PrintToString(file)
                                      << " variant " << variant;
    }
  }
}

TEST_F(SettingsTest, TwoCopiesSavingAtOnceNeverMixTheirLists) {
  // Two running copies add 40 favourites each, saving after every one, as the list action
  // does. The file ends with one copy's whole list, never a mix, never an empty entry.
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> children;
  for (const char* copy : {"a", "b"}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(go[1]);
      char start = 0;
      if (::read(go[0], &start, 1) != 0) ::_exit(3);  // both start when the pipe closes
      Settings mine = settings_;
      mine.SetDefaults();
      try {
        for (int n = 1; n <= 40; ++n) {
          mine.Favorites.Append("/" + std::string(copy) + "/" + std::to_string(n) + "/");
          mine.SaveSettings();
        }
      } catch (const SettingsWriteError&) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  ::close(go[0]);
  ::close(go[1]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  Settings loaded = settings_;
  loaded.LoadSettings();
  ASSERT_EQ(loaded.Favorites.Count, 40);
  const std::string winner = loaded.Favorites[0].substr(0, 3);
  ASSERT_TRUE(winner == "/a/" || winner == "/b/") << loaded.Favorites[0];
  for (int n = 1; n <= 40; ++n) {
    EXPECT_EQ(loaded.Favorites[n - 1], winner + std::to_string(n) + "/");
  }
  const std::string text = Contents();
  EXPECT_EQ(text.find("=\r\n"), std::string::npos) << "an empty key in:\n" << text;
  EXPECT_EQ(text.find("NumFav"), text.rfind("NumFav"));
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string(), "orbelan.dat") << "left behind: " << entry.path();
  }
}

TEST_F(SettingsTest, HugeFileLoadsOnlyItsHeadAndKeysBeyondReadAsMissing) {
  // 50 MB: MAIN at the head, more MAIN keys far past the read limit, and a key line that
  // straddles the limit, which must read as missing rather than cut.
  std::string head = "[MAIN]\r\nminSize=7\r\nNumZips=1\r\nZip1=.gz\r\n";
  head += std::string(kIniReadLimit - 5 - head.size() - 2, ';') + "\r\n";
  head += "NumExt=2\r\n";  // begins 5 bytes before the limit, ends after it
  Put(head);
  {
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    const std::string filler = "; " + std::string(1021, '-') + "\n";
    for (int i = 0; i < 50 * 1024; ++i) out << filler;
    out << "NumFav=1\r\nFav1=/far/away/\r\n";
  }
  ASSERT_GE(fs::file_size(path_), 50u * 1024 * 1024);

  const auto start = std::chrono::steady_clock::now();
  settings_.LoadSettings();
  const auto took = std::chrono::steady_clock::now() - start;
  ::testing::Test::RecordProperty(
      "load_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_EQ(settings_.MinSize, 7);
  ASSERT_EQ(settings_.ZipExts.Count, 1);
  EXPECT_EQ(settings_.ZipExts[0], ".gz");
  EXPECT_EQ(settings_.IgnoreExts.Count, 0) << "the line across the limit was read";
  EXPECT_EQ(settings_.Favorites.Count, 0) << "keys past the limit were read";
  EXPECT_EQ(settings_.IgnorePaths.Count, 0);
}

TEST_F(SettingsTest, ProgramDirKeepsCaseAndPicksAWritableFolder) {
  Settings s;
  s.SetProgramDir((dir_ / "Tools" / "RUN").string());  // folder does not exist
  EXPECT_EQ(s.ProgramDir, (dir_ / "Tools").string() + "/");
  EXPECT_EQ(s.FileName, (dir_ / "xdg" / "orbelan" / "orbelan.dat").string());

  fs::create_directory(dir_ / "Tools");
  s.SetProgramDir((dir_ / "Tools" / "RUN").string());
  EXPECT_EQ(s.FileName, (dir_ / "Tools" / "orbelan.dat").string());

  s.SetProgramDir("/Orbelan");
  EXPECT_EQ(s.ProgramDir, "/");

  s.SetProgramDir("orbelan");  // a bare name: the folder we run in
  EXPECT_EQ(s.ProgramDir, fs::current_path().string() + "/");

  // A file where the program's folder should be cannot hold the settings.
  { std::ofstream(dir_ / "plain"); }
  s.SetProgramDir((dir_ / "plain" / "orbelan").string());
  EXPECT_EQ(s.ProgramDir, (dir_ / "plain").string() + "/");
  EXPECT_EQ(s.FileName, (dir_ / "xdg" / "orbelan" / "orbelan.dat").string());
}

TEST_F(SettingsTest, UserFolderIsMadeOnlyWhenFirstWritten) {
  Settings s;
  s.SetProgramDir((dir_ / "nowhere" / "orbelan").string());
  s.LoadSettings();
  EXPECT_EQ(s.ZipExts.Count, std::size(kDefaultZipExts));
  EXPECT_FALSE(fs::exists(dir_ / "xdg")) << "loading must not create the folder";
  s.SaveSettings();
  std::ifstream in(s.FileName, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), FirstSave());
}

TEST_F(SettingsTest, UserFolderFallsBackToHomeConfig) {
  ScopedEnv home("HOME", dir_.c_str());
  {
    ScopedEnv unset("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(UserSettingsFolder(), dir_.string() + "/.config/orbelan/");
  }
  {
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(UserSettingsFolder(), dir_.string() + "/.config/orbelan/");
  }
  {
    ScopedEnv empty("XDG_CONFIG_HOME", "");
    EXPECT_EQ(UserSettingsFolder(), dir_.string() + "/.config/orbelan/");
  }
}

TEST(SystemPathsTest, ProgramPathNamesThisProgram) {
  std::string path = ProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
}

}  // namespace
}  // namespace orbelan
