#pragma once
// Reading and writing keys of an INI file the way the classic profile functions
// (GetPrivateProfileString / WritePrivateProfileString) do it:
//   - "[name]" lines open sections; "name=value" lines are keys (ini_lines.h);
//   - section and key names match without regard to ASCII case, first match wins;
//   - a value is the rest of the line after the first "=", blanks trimmed, and on
//     reading one pair of enclosing '...' or "..." quotes is removed;
//   - a write replaces the key's line in place, or adds a line after the last key
//     of the section, or adds the section at the end of the file; every other byte
//     of the file stays as it was (ini_edit.h). Lines we write end in CR LF; LF-only
//     files read fine.
// Writes go through UpdateFile (file_update.h): under a lock, atomically, only ever to a
// regular file. A batch of keys is one update, so it replaces the file once.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/ini_edit.h"

namespace orbelan {

// The classic functions return a value in a caller's buffer; 1024 bytes is the
// buffer our settings use, so at most 1023 characters come back.
constexpr std::size_t kProfileBufferSize = 1024;

// A settings file is a few kilobytes. Reading stops after this many bytes (at the last
// whole line before it), so a huge file, or a device that never ends, costs a bounded
// time and memory; keys beyond it read as missing.
constexpr std::size_t kIniReadLimit = std::size_t{1} << 20;

// One INI file read into memory once, to answer many reads.
class IniFile {
 public:
  // Reads up to kIniReadLimit bytes of the file at path. A missing, unreadable or
  // non-regular file reads as empty.
  explicit IniFile(std::string path);

  const std::string& Path() const { return path_; }
  // Whether a regular file stood at the path when it was loaded (or has been written since).
  bool Exists() const { return exists_; }
  // The bytes read (the whole file unless it is longer than kIniReadLimit).
  const std::string& Text() const { return text_; }

  // The raw value of key in section (trimmed, quotes still on), or nothing when either is missing.
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

  // GetPrivateProfileString: the value with one pair of enclosing quotes removed, cut at
  // the first NUL and to bufferSize - 1 characters; fallback when the key is missing.
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view fallback = {},
                        std::size_t bufferSize = kProfileBufferSize) const;

  // WritePrivateProfileString: sets key in section in the file as it stands now on disk,
  // then reads the file again. False (errno set, file and memory unchanged) as
  // UpdateIniFile.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);

 private:
  void Read();

  using Values = std::unordered_map<std::string, std::pair<std::size_t, std::size_t>>;
  // The keys of the first section named section (lower case): name -> value (offset, length).
  const Values& SectionValues(const std::string& section) const;

  std::string path_;
  std::string text_;
  bool exists_ = false;
  // Sections are indexed when first asked for: a file full of other sections costs one
  // pass over its lines, not a table of all their keys. Not for use from two threads.
  mutable std::unordered_map<std::string, Values> sections_;
};

// Applies writes, in order, to the file at path in one update: the file is read under the
// lock, changed in memory as key-by-key writes would change it, and replaced once (not at
// all when it already holds every value). False (errno set, the file unchanged) when a
// write would break the line structure (EINVAL: CR, LF, NUL; "=" or "]" in a name), or
// when UpdateFile refuses.
bool UpdateIniFile(const std::string& path, const IniWrites& writes);

// One-shot reads and writes, for callers that touch a single key.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback = {},
                              std::size_t bufferSize = kProfileBufferSize);
bool WriteProfileString(const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value);

}  // namespace orbelan
