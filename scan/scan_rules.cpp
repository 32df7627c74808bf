#include "scan/scan_rules.h"

#include <utility>

namespace orbelan {
namespace {

constexpr char LowerByte(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether raw, lower-cased, equals entry byte for byte. Compares on the fly so that the
// per-file tests never allocate; a length mismatch rejects at once.
bool EqualsLowered(std::string_view raw, const std::string& entry) {
  if (raw.size() != entry.size()) return false;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (LowerByte(raw[i]) != entry[i]) return false;
  }
  return true;
}

bool AnyEqualsLowered(std::string_view raw, const EntryList& list) {
  const int count = list.Count < kListCapacity ? list.Count : kListCapacity;
  for (int i = 0; i < count; ++i) {
    if (EqualsLowered(raw, list.Items[i])) return true;
  }
  return false;
}

// From the last "." to the end, dot included; empty when there is no dot.
std::string_view ExtensionOf(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : fileName.substr(dot);
}

// The underscore rule or a ZipExts entry; ext is taken in any case.
bool ZipExtAnyCase(std::string_view ext, const ScanRules& rules) {
  if (!ext.empty() && ext.back() == '_') return true;
  return AnyEqualsLowered(ext, rules.ZipExts);
}

}  // namespace

bool EntryList::Append(std::string entry) {
  if (Full()) return false;
  Items[Count] = std::move(entry);
  ++Count;
  return true;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerByte(c);
  return out;
}

bool IsIgnoredPath(std::string_view folderPath, const ScanRules& rules) {
  return AnyEqualsLowered(folderPath, rules.IgnorePaths);
}

bool IsIgnoredFile(std::string_view fileName, const ScanRules& rules) {
  return AnyEqualsLowered(ExtensionOf(fileName), rules.IgnoreExts);
}

bool IsZipExt(std::string_view lowerExt, const ScanRules& rules) {
  if (!lowerExt.empty() && lowerExt.back() == '_') return true;
  const int count = rules.ZipExts.Count < kListCapacity ? rules.ZipExts.Count : kListCapacity;
  for (int i = 0; i < count; ++i) {
    if (lowerExt == rules.ZipExts.Items[i]) return true;
  }
  return false;
}

FileKind KindOfFile(std::string_view fileName, const ScanRules& rules) {
  const std::string_view ext = ExtensionOf(fileName);
  if (AnyEqualsLowered(ext, rules.IgnoreExts)) return FileKind::Ignored;
  return ZipExtAnyCase(ext, rules) ? FileKind::Archive : FileKind::Unzipped;
}

}  // namespace orbelan
