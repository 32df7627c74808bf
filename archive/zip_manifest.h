#pragma once
// The manifest Orbelan writes as the last member of every archive it makes: which folder
// was zipped and each member with its size and CRC. It is how an archive is recognised as
// Orbelan's and what undoing it checks the originals against. Read back, it is untrusted
// input: the parser takes only what it wrote, and leaves judging the names to undo.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orbelan {

// The manifest member's name: hidden, so a scan of an unpacked archive leaves it out.
inline constexpr const char* kManifestName = ".orbelan-zip-manifest";

struct ManifestMember {
  std::string Name;  // relative to the folder, its bytes as on disk
  std::int64_t Size = 0;
  std::uint32_t Crc = 0;
};

// A subfolder of a subtree's archive: the zip may remove it once empty, undo makes it again.
struct ManifestFolder {
  std::string Name;  // relative to the folder
  std::uint32_t Mode = 0755;  // permission bits
};

struct ZipManifest {
  std::string Folder;  // the zipped folder's path when it was zipped, ending in "/"
  std::vector<ManifestMember> Members;
  std::vector<ManifestFolder> Subfolders;  // a subtree's archive only
};

std::string ManifestText(const ZipManifest& manifest);

// nullopt, with the reason, for anything but a manifest as ManifestText writes it.
std::optional<ZipManifest> ParseManifest(const std::string& text, std::string* error);

}  // namespace orbelan
