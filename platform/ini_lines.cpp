#include "platform/ini_lines.h"

namespace orbelan::ini {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsWritableSectionName(std::string_view name) {
  return !HasLineBreakOrNul(name) && name.find(']') == std::string_view::npos &&
         (name.empty() || (!IsBlank(name.front()) && !IsBlank(name.back())));
}

bool IsWritableKeyName(std::string_view name) {
  return !name.empty() && !HasLineBreakOrNul(name) && name.find('=') == std::string_view::npos &&
         name.front() != '[' && name.front() != ';' && !IsBlank(name.front()) &&
         !IsBlank(name.back());
}

Line ReadLine(std::string_view text, std::size_t begin) {
  Line line;
  line.begin = begin;
  const std::size_t newline = text.find('\n', begin);
  const std::size_t contentEnd = newline == std::string_view::npos ? text.size() : newline;
  line.end = newline == std::string_view::npos ? text.size() : newline + 1;

  std::size_t first = begin;
  std::size_t last = contentEnd;
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  if (first == last || text[first] == ';') return line;

  if (text[first] == '[') {
    std::size_t close = last - 1;
    while (close > first && text[close] != ']') --close;
    if (close > first) {
      std::size_t nameBegin = first + 1;
      std::size_t nameEnd = close;
      while (nameBegin < nameEnd && IsBlank(text[nameBegin])) ++nameBegin;
      while (nameEnd > nameBegin && IsBlank(text[nameEnd - 1])) --nameEnd;
      line.kind = LineKind::Section;
      line.nameBegin = nameBegin;
      line.nameLength = nameEnd - nameBegin;
      return line;
    }
    // "[" without a closing "]" is not a header; like the classic reader, take it as a key.
  }

  line.kind = LineKind::Key;
  // Searched within the line only: a file of many lines without "=" stays linear.
  const std::size_t found = text.substr(first, last - first).find('=');
  const std::size_t equals = found == std::string_view::npos ? last : first + found;
  line.nameBegin = first;
  if (equals == last) {
    line.nameLength = last - first;
    line.valueBegin = last;
  } else {
    std::size_t nameEnd = equals;
    while (nameEnd > first && IsBlank(text[nameEnd - 1])) --nameEnd;
    std::size_t valueBegin = equals + 1;
    while (valueBegin < last && IsBlank(text[valueBegin])) ++valueBegin;
    line.nameLength = nameEnd - first;
    line.valueBegin = valueBegin;
    line.valueLength = last - valueBegin;
  }
  return line;
}

}  // namespace orbelan::ini
