#pragma once
// The model a batch of INI writes is checked against: each key written on its own, the
// whole text parsed again and rebuilt for every key, the rules stated once and plainly.

#include <optional>
#include <string>
#include <vector>

#include "platform/ini_edit.h"
#include "platform/ini_lines.h"

namespace orbelan::testing {

inline std::string WriteOneKey(const std::string& text, const IniWrite& write) {
  std::vector<ini::Line> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    lines.push_back(ini::ReadLine(text, pos));
    pos = lines.back().end;
  }
  const std::string keyLine = write.key + "=" + write.value + "\r\n";
  auto same = [](std::string_view a, std::string_view b) {
    return ini::LowerAscii(a) == ini::LowerAscii(b);
  };
  std::optional<std::size_t> header;
  for (std::size_t i = 0; i < lines.size() && !header; ++i) {
    if (lines[i].kind == ini::LineKind::Section && same(lines[i].Name(text), write.section)) {
      header = i;
    }
  }
  if (!header) {
    std::string out = text;
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    return out + "[" + write.section + "]\r\n" + keyLine;
  }
  std::size_t last = *header;
  for (std::size_t i = *header + 1; i < lines.size() && lines[i].kind != ini::LineKind::Section;
       ++i) {
    if (lines[i].kind != ini::LineKind::Key) continue;
    if (same(lines[i].Name(text), write.key)) {
      return text.substr(0, lines[i].begin) + std::string(lines[i].Name(text)) + "=" +
             write.value + "\r\n" + text.substr(lines[i].end);
    }
    last = i;
  }
  std::string out = text.substr(0, lines[last].end);
  if (out.back() != '\n') out += "\r\n";
  return out + keyLine + text.substr(lines[last].end);
}

inline std::string WriteKeyByKey(std::string text, const IniWrites& writes) {
  for (const IniWrite& write : writes) text = WriteOneKey(text, write);
  return text;
}

}  // namespace orbelan::testing
