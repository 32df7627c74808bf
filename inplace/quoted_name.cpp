#include "inplace/quoted_name.h"

#include <cstdint>
#include <cstdio>

namespace orbelan {
namespace {

void Hex(std::string& out, unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02x", byte);
  out += text;
}

// Length of the valid UTF-8 sequence at the start of s (no overlongs, surrogates or values
// above U+10FFFF) and its code point; 0 when it is not one.
std::size_t Utf8Sequence(std::string_view s, std::uint32_t& code) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t n = 0;
  if (b0 >= 0xc2 && b0 <= 0xdf) n = 2, code = b0 & 0x1f;
  else if (b0 >= 0xe0 && b0 <= 0xef) n = 3, code = b0 & 0x0f;
  else if (b0 >= 0xf0 && b0 <= 0xf4) n = 4, code = b0 & 0x07;
  else return 0;
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xc0) != 0x80) return 0;
    code = (code << 6) | (b & 0x3f);
  }
  if ((n == 3 && code < 0x800) || (n == 4 && (code < 0x10000 || code > 0x10ffff)) ||
      (code >= 0xd800 && code <= 0xdfff))
    return 0;
  return n;
}

// C1 controls, line and paragraph separators, and the marks that reorder text around them.
bool Invisible(std::uint32_t code) {
  return (code >= 0x80 && code <= 0x9f) || code == 0x2028 || code == 0x2029 || (code >= 0x200e && code <= 0x200f) ||
         (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069) || code == 0x061c || code == 0xfeff;
}

}  // namespace

std::string QuotedName(std::string_view name) {
  std::string out = "\"";
  for (std::size_t i = 0; i < name.size();) {
    const auto b = static_cast<unsigned char>(name[i]);
    if (b < 0x80) {
      if (b == '\n') out += "\\n";
      else if (b == '\t') out += "\\t";
      else if (b == '\r') out += "\\r";
      else if (b == '"' || b == '\\') out += '\\', out += static_cast<char>(b);
      else if (b < 0x20 || b == 0x7f) Hex(out, b);
      else out += static_cast<char>(b);
      ++i;
      continue;
    }
    std::uint32_t code = 0;
    const std::size_t n = Utf8Sequence(name.substr(i), code);
    if (n == 0) {
      Hex(out, b);
      ++i;
    } else if (Invisible(code)) {
      char text[16];
      std::snprintf(text, sizeof text, "\\u{%x}", static_cast<unsigned>(code));
      out += text;
      i += n;
    } else {
      out.append(name.substr(i, n));
      i += n;
    }
  }
  out += '"';
  return out;
}

}  // namespace orbelan
