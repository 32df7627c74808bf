#include "platform/start_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace orbelan {
namespace {

bool HasDotComponent(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "." || part == "..") return true;
    start = end + 1;
  }
  return false;
}

bool SameFolder(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::string WorkingFolder() {
  // The shell's $PWD keeps the links the user went through; the kernel's folder has them
  // resolved. Trust $PWD only when it is a plain absolute path to this very folder.
  const char* pwd = std::getenv("PWD");
  if (pwd != nullptr && pwd[0] == '/' && !HasDotComponent(pwd) && SameFolder(pwd, "."))
    return pwd;
  std::string buffer(4096, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(std::char_traits<char>::length(buffer.c_str()));
      // A working folder outside this process's root comes back as "(unreachable)/...".
      return buffer.empty() || buffer.front() != '/' ? std::string() : buffer;
    }
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string AbsoluteFolderPath(std::string_view path) {
  if (path.empty()) return {};
  std::string joined;
  if (path.front() != '/') {
    joined = WorkingFolder();
    if (joined.empty()) return std::string(path);
    joined.push_back('/');
  }
  joined.append(path);

  std::string out = "/";
  std::vector<std::size_t> starts;  // where each kept component begins in out
  bool literal = false;  // a ".." was kept: every later ".." is kept too
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string_view part = std::string_view(joined).substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (starts.empty() && !literal) continue;  // "/.." is "/"
      if (!literal) {
        // Fold only into a real folder: a link's ".." is its target's parent.
        const std::string folder = out.size() > 1 ? out.substr(0, out.size() - 1) : out;
        struct stat st;
        if (lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
          out.resize(starts.back());
          starts.pop_back();
          continue;
        }
        literal = true;
      }
    }
    starts.push_back(out.size());
    out.append(part);
    out.push_back('/');
  }
  if (out.size() > 1) out.pop_back();
  return out;
}

}  // namespace orbelan
