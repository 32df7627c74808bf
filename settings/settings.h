#pragma once
// The program-wide settings: four lists that steer every scan, the minimum size,
// and where they are kept between runs (the INI file "orbelan.dat").
//
// Adding a setting that is kept in the file:
//   1. add its field to Settings (plain data, no Qt) with the value a fresh installation
//      has, and set that value in SetDefaults;
//   2. read it in LoadSettings (file.GetString(section, key, fallback); ReadNumber in
//      settings.cpp reads integers the way the other keys are read);
//   3. add one write in Writes() at its place: write(section, key, value). A key of MAIN
//      goes where it should stand in a new file; a new section is simply another section
//      name, added at the end of the file the first time it is saved. Other sections and
//      keys of the file are never touched, so programs that only read MAIN keep working.
// Nothing else: SaveSettings, the list actions and closing the window all save Writes()
// in one transaction.

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/ini_edit.h"
#include "scan/scan_rules.h"

namespace orbelan {

// The archive and compressed-stream extensions of a fresh installation: what a Linux disk
// holds already compressed (packages, tarballs, compressed man pages and logs), so that
// such files count as zipped. The classic pair comes first.
inline constexpr std::string_view kDefaultZipExts[] = {
    ".zip", ".arj", ".7z", ".ace", ".apk", ".br", ".bz2", ".cab", ".cbr", ".cbz", ".deb",
    ".ear", ".gz", ".jar", ".lha", ".lrz", ".lz", ".lz4", ".lzh", ".lzma", ".lzo", ".rar",
    ".rpm", ".rz", ".snap", ".squashfs", ".sz", ".taz", ".tb2", ".tbz", ".tbz2", ".tgz", ".tlz",
    ".tlz4", ".txz", ".tz", ".tzo", ".tzst", ".udeb", ".war", ".whl", ".xpi", ".xz", ".z",
    ".zipx", ".zpaq", ".zst",
};
static_assert(std::size(kDefaultZipExts) <= kListCapacity, "a list holds 50 entries");

// Raised when the settings file cannot be written: what() is "Unable to write to <file>".
class SettingsWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the main window stood when it was last closed, and the widths the user gave the
// list's columns: kept in a section of its own ("WINDOW") so MAIN stays as it always was.
struct WindowPlace {
  bool Known = false;  // false until a window was saved once
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Maximized = false;
  std::array<int, 7> Columns{};  // by column from the left; 0: the layout's width
};

// How the results are shown; kept in the [WINDOW] section with the window's place.
struct ViewChoices {
  bool Tree = false;              // the folder tree instead of the flat list
  bool SubtreeRows = false;       // the flat list shows each folder's subtree figures
  bool HideSmallSavings = false;  // rows saving less than HideSavingBelowKB are hidden
  int HideSavingBelowKB = 1024;
};

struct Settings {
  std::uint16_t MinSize = 0;  // kilobytes a folder must exceed to be listed
  EntryList ZipExts;          // archive extensions, ".zip"
  EntryList IgnorePaths;      // lower-case folder paths ending in "/"
  EntryList Favorites;        // favourite folders, real case
  EntryList IgnoreExts;       // extensions whose files are tallied apart
  bool EstimateSavings = true;  // estimate each listed folder's saving in the background
  bool ReadableFigures = false;  // the list's sizes in KB/MB/GB, ages in months and years
  WindowPlace Window;
  ViewChoices View;
  std::string ProgramDir;     // the program's own folder, ending in "/"
  std::string FileName;       // full path of the settings file in use

  // Derives ProgramDir from the program's full path and picks the settings file:
  // ProgramDir + "orbelan.dat" when that folder is writable, else the XDG config folder.
  void SetProgramDir(std::string_view programPath);
  // Reads FileName, or sets the defaults when it does not exist (the file is not created).
  void LoadSettings();
  // Every key a save writes, in the order written: (section, key, value).
  IniWrites Writes() const;
  // Writes all of Writes() to FileName in one transaction: under a lock against other
  // copies of the program, the file is read, every key applied in memory (as key-by-key
  // writes would), and the file replaced once. On refusal it throws SettingsWriteError and
  // the file is as it was.
  void SaveSettings() const;
  // The values used when there is no settings file.
  void SetDefaults();
  // A copy of what the engine needs from these settings (the favourites are not among it:
  // they only say where a scan may start).
  ScanRules Rules() const;
};

}  // namespace orbelan
