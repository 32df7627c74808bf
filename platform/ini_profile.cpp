#include "platform/ini_profile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_update.h"
#include "platform/ini_lines.h"

namespace orbelan {

namespace {

// Up to kIniReadLimit bytes of the regular file at path; a longer file is cut after its
// last whole line within the limit, so no key reads with half its value.
bool ReadPrefix(const std::string& path, std::string& text) {
  text.clear();
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // O_NONBLOCK: should the file be swapped for a FIFO after the stat, opening must not hang.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return true;  // there, but unreadable: no keys
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  // One byte past the limit tells a file that ends there from one that goes on.
  const std::size_t wanted = kIniReadLimit + 1;
  const auto fileSize = static_cast<std::size_t>(st.st_size);
  text.resize(fileSize < wanted ? fileSize + 1 : wanted);
  std::size_t size = 0;
  for (;;) {
    if (size == text.size()) {
      if (size >= wanted) break;
      text.resize(std::min(wanted, size * 2));  // the file grew since the stat
    }
    const ssize_t got = ::read(fd, text.data() + size, text.size() - size);
    if (got > 0) {
      size += static_cast<std::size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      size = 0;
      break;
    }
  }
  ::close(fd);
  if (size > kIniReadLimit) {
    const std::size_t lastEnd = text.rfind('\n', kIniReadLimit - 1);
    size = lastEnd == std::string::npos ? 0 : lastEnd + 1;
  }
  text.resize(size);
  return true;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) { Read(); }

void IniFile::Read() {
  exists_ = ReadPrefix(path_, text_);
  sections_.clear();
}

const IniFile::Values& IniFile::SectionValues(const std::string& section) const {
  auto [it, inserted] = sections_.try_emplace(section);
  if (!inserted) return it->second;
  Values& values = it->second;
  // Only the first section of a name is searched, as the classic reader does; lines
  // before the first header belong to no section. The first line of a key name counts.
  const std::string_view text = text_;
  bool inside = false;
  for (std::size_t pos = 0; pos < text.size();) {
    const ini::Line line = ini::ReadLine(text, pos);
    pos = line.end;
    if (line.kind == ini::LineKind::Section) {
      if (inside) break;
      inside = ini::LowerAscii(line.Name(text)) == section;
    } else if (line.kind == ini::LineKind::Key && inside) {
      values.try_emplace(ini::LowerAscii(line.Name(text)), line.valueBegin, line.valueLength);
    }
  }
  return values;
}

std::optional<std::string_view> IniFile::Find(std::string_view section,
                                              std::string_view key) const {
  const Values& values = SectionValues(ini::LowerAscii(section));
  auto it = values.find(ini::LowerAscii(key));
  if (it == values.end()) return std::nullopt;
  return std::string_view(text_).substr(it->second.first, it->second.second);
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback, std::size_t bufferSize) const {
  std::string_view value = fallback;
  if (auto found = Find(section, key)) {
    value = *found;
    // The classic reader hands back a C string: a NUL ends it.
    value = value.substr(0, value.find('\0'));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
  }
  if (bufferSize == 0) return {};
  return std::string(value.substr(0, bufferSize - 1));
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (!UpdateIniFile(path_, {{std::string(section), std::string(key), std::string(value)}})) {
    return false;
  }
  Read();
  return true;
}

bool UpdateIniFile(const std::string& path, const IniWrites& writes) {
  if (!AreWritable(writes)) {
    errno = EINVAL;
    return false;
  }
  return UpdateFile(path, [&writes](std::string_view current) {
    return ApplyIniWrites(current, writes);
  });
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback,
                              std::size_t bufferSize) {
  return IniFile(path).GetString(section, key, fallback, bufferSize);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  return UpdateIniFile(path, {{std::string(section), std::string(key), std::string(value)}});
}

}  // namespace orbelan
