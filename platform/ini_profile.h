#pragma once
// Reading and writing single keys of an INI file the way the classic profile
// functions (GetPrivateProfileString / WritePrivateProfileString) do it:
//   - "[name]" lines open sections; "name=value" lines are keys;
//   - section and key names match without regard to ASCII case, first match wins;
//   - a value is the rest of the line after the first "=", blanks trimmed, and on
//     reading one pair of enclosing '...' or "..." quotes is removed;
//   - a write replaces the key's line in place, or adds a line after the last key
//     of the section, or adds the section at the end of the file; every other byte
//     of the file stays as it was. Lines we write end in CR LF; LF-only files read fine.
// Every write replaces the whole file atomically (temporary file + rename), so a
// crash never leaves half a file behind.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orbelan {

// The classic functions return a value in a caller's buffer; 1024 bytes is the
// buffer our settings use, so at most 1023 characters come back.
constexpr std::size_t kProfileBufferSize = 1024;

// One INI file held in memory: load once, answer many reads, write key by key.
class IniFile {
 public:
  // Reads the file at path. A missing, unreadable or non-regular file reads as empty.
  explicit IniFile(std::string path);

  const std::string& Path() const { return path_; }
  // Whether a regular file stood at the path when it was loaded (or has been written since).
  bool Exists() const { return exists_; }
  // The file's bytes as they stand now.
  const std::string& Text() const { return text_; }

  // The raw value of key in section (trimmed, quotes still on), or nothing when either is missing.
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

  // GetPrivateProfileString: the value with one pair of enclosing quotes removed, cut at
  // the first NUL and to bufferSize - 1 characters; fallback when the key is missing.
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view fallback = {},
                        std::size_t bufferSize = kProfileBufferSize) const;

  // WritePrivateProfileString: sets key in section and replaces the file on disk (unless the
  // file already holds exactly that line, when there is nothing to write).
  // False (errno set, file and memory unchanged) when the file cannot be written, or when
  // the section, key or value would break the line structure (CR, LF, NUL; "=" or "]"
  // in a key or section name).
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);

 private:
  enum class LineKind { Other, Section, Key };
  // Positions are byte offsets into text_, so the object can be copied and moved freely.
  struct Line {
    std::size_t begin = 0;  // first byte of the line
    std::size_t end = 0;    // one past its "\n", or the end of the text for a last unended line
    LineKind kind = LineKind::Other;
    std::size_t nameBegin = 0, nameLength = 0;    // section or key name, trimmed
    std::size_t valueBegin = 0, valueLength = 0;  // key value, trimmed
  };

  void Parse();
  std::string_view NameOf(const Line& line) const;
  std::string_view ValueOf(const Line& line) const;
  // Index of the line that opens the first section named section, if any.
  std::optional<std::size_t> FindSection(std::string_view section) const;
  // Index of the first line of key in that first section, if any.
  std::optional<std::size_t> FindKey(std::string_view section, std::string_view key) const;
  bool Replace(std::string newText);

  std::string path_;
  std::string text_;
  bool exists_ = false;
  bool readable_ = true;  // false when a file exists that could not be read: never overwrite it
  std::vector<Line> lines_;
  std::unordered_map<std::string, std::size_t> sectionIndex_;  // lower-case name -> line
  std::unordered_map<std::string, std::size_t> keyIndex_;      // lower-case "section\0key" -> line
};

// One-shot reads and writes, for callers that touch a single key.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback = {},
                              std::size_t bufferSize = kProfileBufferSize);
bool WriteProfileString(const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value);

// Replaces the file at path with contents through a temporary file in the same folder.
// A symbolic link at path is followed, so the file it names is the one replaced. A file
// this process may not write is refused, as an in-place write would be.
// False (errno set, old file intact) when anything fails.
bool ReplaceFileAtomically(const std::string& path, std::string_view contents);

}  // namespace orbelan
