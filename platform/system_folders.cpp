#include "platform/system_folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace orbelan {
namespace {

// The package a .list file is named for ("libc6:amd64.list" gives "libc6:amd64").
std::string PackageOf(std::string_view listName) {
  return std::string(listName.substr(0, listName.size() - 5));
}

// Whether one line of a package list is folder (without its trailing "/") or lies
// directly in it (with deep, anywhere below it).
bool NamesFolderOrChild(std::string_view line, std::string_view folder, bool deep) {
  if (!line.starts_with(folder)) return false;
  if (line.size() == folder.size()) return true;
  if (line[folder.size()] != '/') return false;
  const std::string_view rest = line.substr(folder.size() + 1);
  return !rest.empty() && rest != "." && (deep || rest.find('/') == std::string_view::npos);
}

// Whether the list's text names the folder or something in it.
bool ListNames(std::string_view text, std::string_view folder, bool deep) {
  // Every match starts a line with the folder's bytes: look for those first, cheaply.
  std::string needle(1, '\n');
  needle.append(folder);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at == 0 && text.starts_with(folder) ? 0 : text.find(needle, at);
    if (start == std::string_view::npos) return false;
    const std::size_t from = text[start] == '\n' ? start + 1 : start;
    std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    if (NamesFolderOrChild(text.substr(from, end - from), folder, deep)) return true;
    at = end;
  }
  return false;
}

std::string ReadWhole(int dirFd, const char* name) {
  std::string text;
  const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return text;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    text.resize(got);
  }
  ::close(fd);
  return text;
}

}  // namespace

std::vector<std::string> SystemTrees() {
  return {"/usr/", "/etc/", "/boot/", "/var/lib/", "/opt/", "/bin/", "/sbin/",
          "/lib/", "/lib32/", "/lib64/", "/libx32/"};
}

std::optional<std::string> SystemFolderReason(const std::string& folder, const std::string& dpkgInfo,
                                              bool subtree) {
  for (const std::string& tree : SystemTrees())
    if (folder.starts_with(tree))
      return "it is in " + tree + ", which belongs to the operating system";
  // Any other top folder named lib... (libexec, lib64 by another name) holds libraries too.
  if (folder.starts_with("/lib") && folder.find('/', 1) != std::string::npos)
    return "it is in " + folder.substr(0, folder.find('/', 1) + 1) + ", which belongs to the operating system";

  std::string_view bare(folder);
  while (bare.size() > 1 && bare.back() == '/') bare.remove_suffix(1);
  DIR* dir = ::opendir(dpkgInfo.c_str());
  if (!dir) return std::nullopt;
  std::unique_ptr<DIR, int (*)(DIR*)> closing(dir, ::closedir);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() <= 5 || !name.ends_with(".list")) continue;
    if (ListNames(ReadWhole(::dirfd(dir), entry->d_name), bare, subtree))
      return "the installed package " + PackageOf(name) + " owns it or files in it";
  }
  return std::nullopt;
}

}  // namespace orbelan
