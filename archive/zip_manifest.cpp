#include "archive/zip_manifest.h"

#include <charconv>
#include <cstdio>

#include "platform/trash.h"

namespace orbelan {
namespace {

constexpr const char* kHeader = "Orbelan zip manifest 1";
constexpr std::size_t kMostMembers = 10'000'000;

std::optional<ZipManifest> Bad(std::string* error, const std::string& why) {
  if (error) *error = "the archive's manifest is not sound (" + why + ")";
  return std::nullopt;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

std::string ManifestText(const ZipManifest& manifest) {
  std::string text = std::string(kHeader) + "\nFolder=" + PercentEncoded(manifest.Folder) + "\n";
  for (const ManifestFolder& f : manifest.Subfolders) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(f.Mode & 07777));
    text += "Subfolder=" + std::string(mode) + " " + PercentEncoded(f.Name) + "\n";
  }
  for (const ManifestMember& m : manifest.Members) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(m.Crc));
    text += "Member=" + std::to_string(m.Size) + " " + crc + " " + PercentEncoded(m.Name) + "\n";
  }
  return text;
}

std::optional<ZipManifest> ParseManifest(const std::string& text, std::string* error) {
  ZipManifest manifest;
  std::size_t start = 0;
  int line = 0;
  bool folder = false;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) return Bad(error, "its last line is cut short");
    const std::string_view row(text.data() + start, end - start);
    start = end + 1;
    if (line++ == 0) {
      if (row != kHeader) return Bad(error, "an unknown header");
      continue;
    }
    if (row.starts_with("Folder=") && !folder) {
      const std::optional<std::string> path = PercentDecoded(std::string(row.substr(7)));
      if (!path || path->empty() || path->front() != '/' || path->back() != '/')
        return Bad(error, "its folder is not an absolute path");
      manifest.Folder = *path;
      folder = true;
      continue;
    }
    if (row.starts_with("Subfolder=")) {
      const std::string_view fields = row.substr(10);
      const std::size_t space = fields.find(' ');
      ManifestFolder f;
      if (space == std::string_view::npos || !ParseNumber(fields.substr(0, space), f.Mode, 8) || f.Mode > 07777)
        return Bad(error, "a subfolder line without its mode");
      const std::optional<std::string> name = PercentDecoded(std::string(fields.substr(space + 1)));
      if (!name || name->empty()) return Bad(error, "a subfolder without a name");
      if (manifest.Subfolders.size() >= kMostMembers) return Bad(error, "too many subfolders");
      f.Name = *name;
      manifest.Subfolders.push_back(std::move(f));
      continue;
    }
    if (!row.starts_with("Member=")) return Bad(error, "an unknown line");
    const std::string_view fields = row.substr(7);
    const std::size_t space1 = fields.find(' ');
    const std::size_t space2 = space1 == std::string_view::npos ? space1 : fields.find(' ', space1 + 1);
    if (space2 == std::string_view::npos) return Bad(error, "a member line without its three fields");
    ManifestMember m;
    if (!ParseNumber(fields.substr(0, space1), m.Size) || m.Size < 0 ||
        !ParseNumber(fields.substr(space1 + 1, space2 - space1 - 1), m.Crc, 16))
      return Bad(error, "a member's size or CRC is not a number");
    const std::optional<std::string> name = PercentDecoded(std::string(fields.substr(space2 + 1)));
    if (!name || name->empty()) return Bad(error, "a member without a name");
    if (manifest.Members.size() >= kMostMembers) return Bad(error, "too many members");
    m.Name = *name;
    manifest.Members.push_back(std::move(m));
  }
  if (line == 0) return Bad(error, "it is empty");
  if (!folder) return Bad(error, "it names no folder");
  return manifest;
}

}  // namespace orbelan
