#pragma once
// How one line of an INI file reads. The reader (ini_profile) and the editor (ini_edit)
// both classify lines through here, so a key the reader finds is the key the editor changes.
//   - "[name]" opens a section (blanks around the name trimmed; a "[" without a closing
//     "]" is not a header);
//   - a line that is neither blank nor a ";" comment is a key: the name is the text before
//     the first "=", the value the rest, both with blanks trimmed (no "=": an empty value).

#include <cstddef>
#include <string>
#include <string_view>

namespace orbelan::ini {

enum class LineKind { Other, Section, Key };

// Positions are byte offsets into the text the line was read from.
struct Line {
  std::size_t begin = 0;  // first byte of the line
  std::size_t end = 0;    // one past its "\n", or the end of the text for a last unended line
  LineKind kind = LineKind::Other;
  std::size_t nameBegin = 0, nameLength = 0;    // section or key name, trimmed
  std::size_t valueBegin = 0, valueLength = 0;  // key value, trimmed

  std::string_view Name(std::string_view text) const { return text.substr(nameBegin, nameLength); }
  std::string_view Value(std::string_view text) const {
    return text.substr(valueBegin, valueLength);
  }
  std::string_view Bytes(std::string_view text) const { return text.substr(begin, end - begin); }
  bool Ended(std::string_view text) const { return end > begin && text[end - 1] == '\n'; }
};

// The line of text that starts at begin (begin < text.size()).
Line ReadLine(std::string_view text, std::size_t begin);

// Blanks as the classic profile functions see them; Ctrl-Z is an old end-of-file mark.
bool IsBlank(char c);
// Names match without regard to ASCII case only.
std::string LowerAscii(std::string_view text);

// A name or value that would not read back as written is refused on writing.
bool HasLineBreakOrNul(std::string_view text);
bool IsWritableSectionName(std::string_view name);
bool IsWritableKeyName(std::string_view name);

}  // namespace orbelan::ini
