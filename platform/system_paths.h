#pragma once
// Where the program and its settings live on this system.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace orbelan {

constexpr std::string_view kSettingsFileName = "orbelan.dat";

// Full path of the running program (/proc/self/exe); empty when it cannot be read.
std::string ProgramPath();

// The folder the process runs in, ending in "/"; "./" when it cannot be read.
std::string CurrentFolder();

// The folders every fresh installation leaves out of a scan, lower case, ending in "/":
// /usr/ and /proc/ first, then the rest of the system's trees (see SystemTrees()).
std::vector<std::string> DefaultIgnoredPaths();

// Whether folder is a directory this process may create files in.
bool IsWritableFolder(const std::string& folder);

// The per-user settings folder: $XDG_CONFIG_HOME/orbelan/, or ~/.config/orbelan/ when the
// variable is unset, empty or not absolute. Ends in "/". Not created here.
std::string UserSettingsFolder();

// Where the settings file goes: programDir when it is writable, otherwise UserSettingsFolder().
std::string SettingsFolderFor(const std::string& programDir);

// Creates the folder of fileName, parents included, when it is the per-user settings folder
// (which is only made when first written to). Any other folder is left as it is, so a write
// to a folder that has gone missing still fails. False when the folder could not be made.
bool PrepareSettingsFolder(const std::string& fileName);

}  // namespace orbelan
