#include "platform/quoted_name.h"

#include <cstdint>
#include <cstdio>

namespace orbelan {
namespace {

// Characters that need no quotes: they mean nothing to a shell and cannot be mistaken for
// the ", " between names in a list.
bool Plain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-' || c == '+' || c == ':' || c == '@' || c == '%' || c == '/' || c == '=' || c == '^';
}

// Code points that are printable in UTF-8 but break lines, reorder text or are invisible.
bool Hidden(std::uint32_t cp) {
  return (cp >= 0x80 && cp <= 0x9f) || cp == 0x061c || (cp >= 0x200b && cp <= 0x200f) ||
         (cp >= 0x2028 && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xfeff;
}

// The length of the valid UTF-8 sequence at text[at] (no overlongs, no surrogates, at
// most U+10FFFF) with its code point, or 0.
std::size_t Utf8At(std::string_view text, std::size_t at, std::uint32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  // The sequence's length, its lead's bits and the least code point it may hold.
  struct Form {
    std::size_t Length;
    unsigned char Bits;
    std::uint32_t Least;
  };
  const Form form = lead >= 0xc2 && lead <= 0xdf   ? Form{2, 0x1f, 0x80}
                    : lead >= 0xe0 && lead <= 0xef ? Form{3, 0x0f, 0x800}
                    : lead >= 0xf0 && lead <= 0xf4 ? Form{4, 0x07, 0x10000}
                                                   : Form{0, 0, 0};
  const std::size_t length = form.Length;
  const std::uint32_t least = form.Least;
  if (length == 0) return 0;
  cp = lead & form.Bits;
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
    cp = cp << 6 | (byte(at + i) & 0x3f);
  }
  if (cp < least || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  return length;
}

// Writes text with the unprintable escaped; quote: also \ and ' (inside $'...'). Returns
// whether anything was escaped.
bool Escape(std::string_view text, bool quote, std::string& out) {
  bool escaped = false;
  char hex[16];
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    std::uint32_t cp = 0;
    if (c >= 0x20 && c < 0x7f) {
      if (quote && (c == '\\' || c == '\'')) out += '\\';
      out += static_cast<char>(c);
      ++at;
      continue;
    }
    const std::size_t length = c >= 0x80 ? Utf8At(text, at, cp) : 0;
    if (length > 0 && !Hidden(cp)) {
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    escaped = true;
    if (length > 0) {
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(cp));
      out += hex;
      at += length;
      continue;
    }
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else {
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
      out += hex;
    }
    ++at;
  }
  return escaped;
}

}  // namespace

std::string QuotedName(std::string_view name) {
  bool plain = !name.empty();
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    plain = plain && (Plain(byte) || byte >= 0x80);  // non-ASCII: Escape judges it
  }
  std::string escaped;
  if (Escape(name, true, escaped)) return "$'" + escaped + "'";
  if (plain) return std::string(name);
  std::string quoted = "'";
  for (const char c : name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string VisibleText(std::string_view text) {
  std::string out;
  Escape(text, false, out);
  return out;
}

}  // namespace orbelan
