#include "platform/system_paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/system_folders.h"

namespace orbelan {

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

// mkdir -p; the folders hold private settings, so they are made for the user alone.
bool MakeFolders(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (folder.back() != '/' && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string ProgramPath() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    ssize_t got = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (got < 0) return {};
    if (static_cast<std::size_t>(got) < buffer.size()) return std::string(buffer.data(), got);
    buffer.resize(buffer.size() * 2);  // the name filled the buffer: it may have been cut
  }
}

std::string CurrentFolder() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) return WithSlash(buffer.data());
    if (errno != ERANGE) return "./";
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> DefaultIgnoredPaths() {
  // Nothing there is the user's to zip, and the zipper refuses it anyway.
  std::vector<std::string> paths{"/usr/", "/proc/"};
  for (std::string& tree : SystemTrees())
    if (tree != "/usr/") paths.push_back(std::move(tree));
  return paths;
}

bool IsWritableFolder(const std::string& folder) {
  struct stat st {};
  if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // access() also answers EROFS for a read-only mount, which even root cannot write.
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserSettingsFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = (config && config[0] == '/') ? std::string(config)
                                                   : WithSlash(HomeFolder()) + ".config";
  return WithSlash(base) + "orbelan/";
}

std::string SettingsFolderFor(const std::string& programDir) {
  return IsWritableFolder(programDir) ? WithSlash(programDir) : UserSettingsFolder();
}

bool PrepareSettingsFolder(const std::string& fileName) {
  std::size_t slash = fileName.rfind('/');
  if (slash == std::string::npos) return true;
  std::string folder = fileName.substr(0, slash + 1);
  if (folder != UserSettingsFolder()) return true;
  return MakeFolders(folder);
}

}  // namespace orbelan
