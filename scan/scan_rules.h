#pragma once
// What a scan, a count, an estimate or a zip needs to know about the user's choices: which
// extensions are archives, which folders and file types to leave out, and how large a folder
// must be to be listed. A value: whoever runs the engine hands it a copy, so nothing the
// engine holds can outlive the settings it came from.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orbelan {

// Each list is a fixed table of 50 entries with its own count.
constexpr int kListCapacity = 50;

struct EntryList {
  std::array<std::string, kListCapacity> Items;  // entry n lives at Items[n - 1]
  std::uint16_t Count = 0;                       // never above kListCapacity

  // Appends one entry; false (and nothing stored) when the list already holds 50.
  bool Append(std::string entry);
  bool Full() const { return Count >= kListCapacity; }
  void Clear() { Count = 0; }
  const std::string& operator[](int index) const { return Items[index]; }  // 0-based
};

struct ScanRules {
  EntryList ZipExts;          // archive extensions, ".zip"
  EntryList IgnorePaths;      // lower-case folder paths ending in "/"
  EntryList IgnoreExts;       // extensions whose files are tallied apart
  std::uint16_t MinSize = 0;  // kilobytes a folder must exceed to be listed
};

// Lower-cases the letters A to Z only.
std::string LowerAscii(std::string_view text);

bool IsIgnoredPath(std::string_view folderPath, const ScanRules& rules);
bool IsIgnoredFile(std::string_view fileName, const ScanRules& rules);
bool IsZipExt(std::string_view lowerExt, const ScanRules& rules);

// How the rules sort a file by its name: its extension ignored, an archive's (the
// underscore rule or ZipExts, in any case), or neither: a file whose bytes are Unzipped.
enum class FileKind { Ignored, Archive, Unzipped };
FileKind KindOfFile(std::string_view fileName, const ScanRules& rules);
// Whether a file by this name enters the folder's Unzipped bytes: counted (not ignored)
// and not an archive, exactly as TallyFile sorts it.
inline bool IsUnzippedFile(std::string_view fileName, const ScanRules& rules) {
  return KindOfFile(fileName, rules) == FileKind::Unzipped;
}

}  // namespace orbelan
