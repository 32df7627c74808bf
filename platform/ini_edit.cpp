#include "platform/ini_edit.h"

#include <map>
#include <unordered_map>

#include "platform/ini_lines.h"

namespace orbelan {

namespace {

using ini::Line;
using ini::LineKind;

// A key line we wrote: its name as first written, its value now.
struct NewKey {
  std::string name;
  std::string value;
};

// What happens at one line of the original text: its replacement, and the new key lines
// that follow it.
struct LineEdit {
  Line line;
  std::optional<std::string> replacement;  // the whole new line, CR LF included
  std::vector<NewKey> after;
};

// A section the writes touch. One that exists in the text takes new keys after its last
// key line (anchor); one that does not is added at the end of the text.
struct Section {
  std::string name;                 // as first written, for a new section
  std::optional<Line> anchor;       // set for a section found in the text
  std::vector<NewKey> added;        // the keys of a new section
  bool isNew = false;
  std::size_t order = 0;            // place among the new sections
};

// Where a key lives now: an original line, a key added after an anchor, or a key of a
// new section.
struct KeyPlace {
  enum class Kind { Original, After, Added } kind;
  std::size_t lineBegin = 0;  // Original and After: the original line it is at or follows
  std::size_t index = 0;      // After and Added: position in that list
  Line line;                  // Original: the line
};

std::string IndexName(std::string_view section, std::string_view key) {
  std::string name = ini::LowerAscii(section);
  name.push_back('\0');  // cannot occur in a name we write, so no clashes
  name += ini::LowerAscii(key);
  return name;
}

std::string KeyLine(std::string_view name, std::string_view value) {
  std::string line;
  line.reserve(name.size() + value.size() + 3);
  line += name;
  line += '=';
  line += value;
  line += "\r\n";
  return line;
}

}  // namespace

bool AreWritable(const IniWrites& writes) {
  for (const IniWrite& write : writes) {
    if (!ini::IsWritableSectionName(write.section) || !ini::IsWritableKeyName(write.key) ||
        ini::HasLineBreakOrNul(write.value)) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> ApplyIniWrites(std::string_view text, const IniWrites& writes) {
  if (writes.empty()) return std::nullopt;

  // One pass over the text: the first section of each name the writes touch, its keys
  // (the first line of each name counts) and its last key line. Other sections are only
  // skipped, so a huge file costs no memory beyond its text.
  std::unordered_map<std::string, Section> sections;  // lower-case name -> section
  for (const IniWrite& write : writes) sections.try_emplace(ini::LowerAscii(write.section));
  std::unordered_map<std::string, KeyPlace> keys;
  {
    std::unordered_map<std::string, bool> seen;  // touched section names met so far
    Section* current = nullptr;                  // the touched section being read, if any
    std::string currentLower;
    for (std::size_t pos = 0; pos < text.size();) {
      const Line line = ini::ReadLine(text, pos);
      pos = line.end;
      if (line.kind == LineKind::Section) {
        current = nullptr;
        std::string lower = ini::LowerAscii(line.Name(text));
        auto found = sections.find(lower);
        if (found != sections.end() && !seen[lower]) {
          seen[lower] = true;
          current = &found->second;
          current->anchor = line;
          currentLower = std::move(lower);
        }
      } else if (line.kind == LineKind::Key && current) {
        current->anchor = line;
        KeyPlace place{KeyPlace::Kind::Original, line.begin, 0, line};
        keys.try_emplace(IndexName(currentLower, line.Name(text)), place);
      }
    }
  }

  std::map<std::size_t, LineEdit> edits;  // by the original line's first byte
  auto editAt = [&](const Line& line) -> LineEdit& {
    auto [it, inserted] = edits.try_emplace(line.begin);
    if (inserted) it->second.line = line;
    return it->second;
  };
  std::size_t newSections = 0;
  bool changed = false;

  for (const IniWrite& write : writes) {
    const std::string sectionLower = ini::LowerAscii(write.section);
    Section& section = sections[sectionLower];
    const std::string indexName = IndexName(sectionLower, write.key);
    auto found = keys.find(indexName);
    if (found != keys.end()) {
      KeyPlace& place = found->second;
      if (place.kind == KeyPlace::Kind::Original) {
        LineEdit& edit = editAt(place.line);
        std::string newLine = KeyLine(place.line.Name(text), write.value);
        const std::string_view now =
            edit.replacement ? std::string_view(*edit.replacement) : place.line.Bytes(text);
        if (now != newLine) {
          edit.replacement = std::move(newLine);
          changed = true;
        }
      } else {
        NewKey& key = place.kind == KeyPlace::Kind::After
                          ? edits[place.lineBegin].after[place.index]
                          : section.added[place.index];
        key.value = write.value;
      }
      continue;
    }
    changed = true;
    if (section.anchor) {
      LineEdit& edit = editAt(*section.anchor);
      edit.after.push_back({write.key, write.value});
      keys.emplace(indexName, KeyPlace{KeyPlace::Kind::After, section.anchor->begin,
                                       edit.after.size() - 1, {}});
    } else {
      if (!section.isNew) {
        section.isNew = true;
        section.name = write.section;
        section.order = newSections++;
      }
      section.added.push_back({write.key, write.value});
      keys.emplace(indexName, KeyPlace{KeyPlace::Kind::Added, 0, section.added.size() - 1, {}});
    }
  }
  if (!changed) return std::nullopt;

  std::string out;
  out.reserve(text.size() + 64 * writes.size());
  // Whatever follows a line that has no line end starts on a line of its own.
  auto endLine = [&out] {
    if (!out.empty() && out.back() != '\n') out += "\r\n";
  };
  std::size_t copied = 0;
  for (const auto& [begin, edit] : edits) {
    out.append(text, copied, begin - copied);
    if (edit.replacement) {
      out += *edit.replacement;
    } else {
      out.append(edit.line.Bytes(text));
    }
    copied = edit.line.end;
    if (!edit.after.empty()) {
      endLine();
      for (const NewKey& key : edit.after) out += KeyLine(key.name, key.value);
    }
  }
  out.append(text, copied, std::string_view::npos);

  std::vector<const Section*> added(newSections);
  for (const auto& [lower, section] : sections) {
    if (section.isNew) added[section.order] = &section;
  }
  for (const Section* section : added) {
    endLine();
    out += '[';
    out += section->name;
    out += "]\r\n";
    for (const NewKey& key : section->added) out += KeyLine(key.name, key.value);
  }
  return out;
}

}  // namespace orbelan
