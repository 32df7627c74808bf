#include "platform/ini_profile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orbelan {

namespace {

// Blanks as the profile functions see them; Ctrl-Z is an old end-of-file mark.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

std::string KeyIndexName(std::string_view section, std::string_view key) {
  std::string name = LowerAscii(section);
  name.push_back('\0');  // cannot occur in a name we accept for writing, so no clashes
  name += LowerAscii(key);
  return name;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A name that would not read back as the same section or key is refused on writing.
bool IsWritableSectionName(std::string_view name) {
  return !HasLineBreakOrNul(name) && name.find(']') == std::string_view::npos &&
         (name.empty() || (!IsBlank(name.front()) && !IsBlank(name.back())));
}

bool IsWritableKeyName(std::string_view name) {
  return !name.empty() && !HasLineBreakOrNul(name) && name.find('=') == std::string_view::npos &&
         name.front() != '[' && name.front() != ';' && !IsBlank(name.front()) &&
         !IsBlank(name.back());
}

bool ReadWholeFile(const std::string& path, std::string& text, bool& exists, bool& readable) {
  exists = false;
  readable = true;
  text.clear();
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  exists = true;
  // O_NONBLOCK: should the file be swapped for a FIFO after the stat, opening must not hang.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    readable = false;
    return false;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    exists = false;
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      readable = false;
      text.clear();
      break;
    }
  }
  ::close(fd);
  return readable;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  ReadWholeFile(path_, text_, exists_, readable_);
  Parse();
}

std::string_view IniFile::NameOf(const Line& line) const {
  return std::string_view(text_).substr(line.nameBegin, line.nameLength);
}

std::string_view IniFile::ValueOf(const Line& line) const {
  return std::string_view(text_).substr(line.valueBegin, line.valueLength);
}

void IniFile::Parse() {
  lines_.clear();
  sectionIndex_.clear();
  keyIndex_.clear();

  // Lines before the first section header belong to no section and are never found.
  bool inFirstOfItsName = false;
  std::string sectionLower;
  std::size_t pos = 0;
  const std::size_t size = text_.size();
  while (pos < size) {
    Line line;
    line.begin = pos;
    std::size_t newline = text_.find('\n', pos);
    std::size_t contentEnd = newline == std::string::npos ? size : newline;
    line.end = newline == std::string::npos ? size : newline + 1;
    pos = line.end;

    std::size_t first = line.begin;
    std::size_t last = contentEnd;
    while (first < last && IsBlank(text_[first])) ++first;
    while (last > first && IsBlank(text_[last - 1])) --last;

    if (first < last && text_[first] == '[') {
      std::size_t close = last - 1;
      while (close > first && text_[close] != ']') --close;
      if (close > first) {
        std::size_t nameBegin = first + 1;
        std::size_t nameEnd = close;
        while (nameBegin < nameEnd && IsBlank(text_[nameBegin])) ++nameBegin;
        while (nameEnd > nameBegin && IsBlank(text_[nameEnd - 1])) --nameEnd;
        line.kind = LineKind::Section;
        line.nameBegin = nameBegin;
        line.nameLength = nameEnd - nameBegin;
        sectionLower = LowerAscii(NameOf(line));
        inFirstOfItsName = sectionIndex_.emplace(sectionLower, lines_.size()).second;
        lines_.push_back(line);
        continue;
      }
      // "[" without a closing "]" is not a header; like the classic reader, take it as a key.
    }

    if (first < last && text_[first] != ';') {
      line.kind = LineKind::Key;
      std::size_t equals = text_.find('=', first);
      if (equals == std::string::npos || equals >= last) {
        line.nameBegin = first;
        line.nameLength = last - first;
        line.valueBegin = last;
      } else {
        std::size_t nameEnd = equals;
        while (nameEnd > first && IsBlank(text_[nameEnd - 1])) --nameEnd;
        std::size_t valueBegin = equals + 1;
        while (valueBegin < last && IsBlank(text_[valueBegin])) ++valueBegin;
        line.nameBegin = first;
        line.nameLength = nameEnd - first;
        line.valueBegin = valueBegin;
        line.valueLength = last - valueBegin;
      }
      if (inFirstOfItsName) {
        keyIndex_.emplace(KeyIndexName(sectionLower, NameOf(line)), lines_.size());
      }
    }
    lines_.push_back(line);
  }
}

std::optional<std::size_t> IniFile::FindSection(std::string_view section) const {
  auto it = sectionIndex_.find(LowerAscii(section));
  if (it == sectionIndex_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::size_t> IniFile::FindKey(std::string_view section, std::string_view key) const {
  auto it = keyIndex_.find(KeyIndexName(section, key));
  if (it == keyIndex_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string_view> IniFile::Find(std::string_view section,
                                              std::string_view key) const {
  auto index = FindKey(section, key);
  if (!index) return std::nullopt;
  return ValueOf(lines_[*index]);
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
  if (!IsWritableSectionName(section) || !IsWritableKeyName(key) || HasLineBreakOrNul(value)) {
    errno = EINVAL;
    return false;
  }
  if (exists_ && !readable_) {
    // Writing now would replace a file we could not read with only our key.
    errno = EACCES;
    return false;
  }

  std::string newText;
  if (auto keyLine = FindKey(section, key)) {
    // Replace the value in place; the key keeps the spelling it has in the file.
    const Line& line = lines_[*keyLine];
    std::string newLine = std::string(NameOf(line)) + "=" + std::string(value) + "\r\n";
    if (std::string_view(text_).substr(line.begin, line.end - line.begin) == newLine) {
      return true;  // the file already says exactly this: nothing to replace
    }
    newText.reserve(text_.size() + value.size() + 4);
    newText.append(text_, 0, line.begin);
    newText += newLine;
    newText.append(text_, line.end, std::string::npos);
  } else if (auto sectionLine = FindSection(section)) {
    // Add the key after the last key line of the section (or right after its header).
    std::size_t after = *sectionLine;
    for (std::size_t i = after + 1; i < lines_.size() && lines_[i].kind != LineKind::Section; ++i) {
      if (lines_[i].kind == LineKind::Key) after = i;
    }
    const Line& anchor = lines_[after];
    newText.reserve(text_.size() + key.size() + value.size() + 5);
    newText.append(text_, 0, anchor.end);
    if (anchor.end == anchor.begin || text_[anchor.end - 1] != '\n') newText += "\r\n";
    newText += key;
    newText += '=';
    newText += value;
    newText += "\r\n";
    newText.append(text_, anchor.end, std::string::npos);
  } else {
    newText = text_;
    if (!newText.empty() && newText.back() != '\n') newText += "\r\n";
    newText += '[';
    newText += section;
    newText += "]\r\n";
    newText += key;
    newText += '=';
    newText += value;
    newText += "\r\n";
  }
  return Replace(std::move(newText));
}

bool IniFile::Replace(std::string newText) {
  if (!ReplaceFileAtomically(path_, newText)) return false;
  text_ = std::move(newText);
  exists_ = true;
  readable_ = true;
  Parse();
  return true;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback,
                              std::size_t bufferSize) {
  return IniFile(path).GetString(section, key, fallback, bufferSize);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  return IniFile(path).WriteString(section, key, value);
}

bool ReplaceFileAtomically(const std::string& path, std::string_view contents) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  std::string target = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Keep a linked settings file a link: write through to the file it names.
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  bool targetExists = ::stat(target.c_str(), &st) == 0;
  if (targetExists && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  // A file its owner made read-only refuses the write, though the folder would let a
  // rename replace it.
  if (targetExists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;

  std::size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
    // 0666 less the umask, as for any new file; an existing file's mode is copied below.
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = WriteAll(fd, contents);
  if (ok && targetExists && S_ISREG(st.st_mode) && ::fchmod(fd, st.st_mode & 07777) != 0) {
    // The new file then keeps the default mode; that is no reason to lose the write.
  }
  int savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = savedErrno;
  }
  return ok;
}

}  // namespace orbelan
