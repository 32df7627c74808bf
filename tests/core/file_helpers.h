#pragma once
// Small file chores the tests that write, zip and trash real files share: whole-file reads
// and writes, a folder's names, and contents that compress well or not at all.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace orbelan::testing {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Whether anything (a link included, not followed) stands at path.
inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The folder's entries but "." and "..", sorted by their bytes; empty when it cannot be read.
inline std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  while (dirent* e = dir ? ::readdir(dir) : nullptr) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (dir) ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// n bytes of English text that deflate shrinks well; seed makes files differ.
inline std::string Text(std::size_t n, const std::string& seed = "") {
  std::string s;
  while (s.size() < n) s += seed + "Sphinx of black quartz, judge my vow. ";
  s.resize(n);
  return s;
}

// n bytes of words drawn from an eight-word vocabulary: text deflate shrinks well, and
// different for each seed.
inline std::string WordText(std::size_t n, std::uint32_t seed, const std::array<const char*, 8>& words) {
  std::mt19937 gen(seed);
  std::string s;
  while (s.size() < n) s += words[gen() % 8];
  s.resize(n);
  return s;
}

// The disk space a file's blocks take (st_blocks * 512), not following a link; -1 when
// nothing stands there.
inline std::int64_t AllocatedOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_blocks) * 512 : -1;
}

// n random bytes that no compressor shrinks, the same for the same seed.
inline std::string Noise(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

}  // namespace orbelan::testing
