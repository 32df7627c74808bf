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

// Whatever follows a line that has no line end starts on a line of its own.
void EndLine(std::string& out) {
  if (!out.empty() && out.back() != '\n') out += "\r\n";
}

// The writes' effect on one text, found in one pass over it and then applied write by write:
// which original lines are replaced, which new key lines follow which line, and which
// sections are new.
class EditPlan {
 public:
  EditPlan(std::string_view text, const IniWrites& writes) : text_(text) {
    for (const IniWrite& write : writes) sections_.try_emplace(ini::LowerAscii(write.section));
    ReadTouchedSections();
  }

  // One write, after the ones before it.
  void Apply(const IniWrite& write) {
    const std::string sectionLower = ini::LowerAscii(write.section);
    Section& section = sections_[sectionLower];
    std::string indexName = IndexName(sectionLower, write.key);
    auto found = keys_.find(indexName);
    if (found == keys_.end()) {
      AddKey(section, write, std::move(indexName));
    } else if (found->second.kind == KeyPlace::Kind::Original) {
      ReplaceKeyLine(found->second, write.value);
    } else {
      WrittenKey(found->second, section).value = write.value;
    }
  }

  // Whether the text would change at all.
  bool Changed() const { return changed_; }

  std::string Result(std::size_t writeCount) const {
    std::string out;
    out.reserve(text_.size() + 64 * writeCount);
    AppendEditedText(out);
    AppendNewSections(out);
    return out;
  }

 private:
  // The first section of each name the writes touch, its keys (the first line of each name
  // counts) and its last key line. Other sections are only skipped, so a huge file costs no
  // memory beyond its text.
  void ReadTouchedSections() {
    std::unordered_map<std::string, bool> seen;  // touched section names met so far
    Section* current = nullptr;                  // the touched section being read, if any
    std::string currentLower;
    for (std::size_t pos = 0; pos < text_.size();) {
      const Line line = ini::ReadLine(text_, pos);
      pos = line.end;
      if (line.kind == LineKind::Section) {
        current = nullptr;
        std::string lower = ini::LowerAscii(line.Name(text_));
        auto found = sections_.find(lower);
        if (found != sections_.end() && !seen[lower]) {
          seen[lower] = true;
          current = &found->second;
          current->anchor = line;
          currentLower = std::move(lower);
        }
      } else if (line.kind == LineKind::Key && current) {
        current->anchor = line;
        KeyPlace place{KeyPlace::Kind::Original, line.begin, 0, line};
        keys_.try_emplace(IndexName(currentLower, line.Name(text_)), place);
      }
    }
  }

  LineEdit& EditAt(const Line& line) {
    auto [it, inserted] = edits_.try_emplace(line.begin);
    if (inserted) it->second.line = line;
    return it->second;
  }

  // A key of the text: its line in our form, the name spelt as the file spells it.
  void ReplaceKeyLine(const KeyPlace& place, const std::string& value) {
    LineEdit& edit = EditAt(place.line);
    std::string newLine = KeyLine(place.line.Name(text_), value);
    const std::string_view now = edit.replacement ? std::string_view(*edit.replacement) : place.line.Bytes(text_);
    if (now != newLine) {
      edit.replacement = std::move(newLine);
      changed_ = true;
    }
  }

  // A key an earlier write added.
  NewKey& WrittenKey(const KeyPlace& place, Section& section) {
    return place.kind == KeyPlace::Kind::After ? edits_[place.lineBegin].after[place.index]
                                               : section.added[place.index];
  }

  // A key new to the text: after its section's last key line, or in a new section.
  void AddKey(Section& section, const IniWrite& write, std::string indexName) {
    changed_ = true;
    if (section.anchor) {
      LineEdit& edit = EditAt(*section.anchor);
      edit.after.push_back({write.key, write.value});
      keys_.emplace(std::move(indexName),
                    KeyPlace{KeyPlace::Kind::After, section.anchor->begin, edit.after.size() - 1, {}});
      return;
    }
    if (!section.isNew) {
      section.isNew = true;
      section.name = write.section;
      section.order = newSections_++;
    }
    section.added.push_back({write.key, write.value});
    keys_.emplace(std::move(indexName), KeyPlace{KeyPlace::Kind::Added, 0, section.added.size() - 1, {}});
  }

  // The text with its lines replaced and new key lines put in; every other byte as it was.
  void AppendEditedText(std::string& out) const {
    std::size_t copied = 0;
    for (const auto& [begin, edit] : edits_) {
      out.append(text_, copied, begin - copied);
      if (edit.replacement) {
        out += *edit.replacement;
      } else {
        out.append(edit.line.Bytes(text_));
      }
      copied = edit.line.end;
      if (!edit.after.empty()) {
        EndLine(out);
        for (const NewKey& key : edit.after) out += KeyLine(key.name, key.value);
      }
    }
    out.append(text_, copied, std::string_view::npos);
  }

  // The new sections at the end, in the order they were first written.
  void AppendNewSections(std::string& out) const {
    std::vector<const Section*> added(newSections_);
    for (const auto& [lower, section] : sections_) {
      if (section.isNew) added[section.order] = &section;
    }
    for (const Section* section : added) {
      EndLine(out);
      out += '[';
      out += section->name;
      out += "]\r\n";
      for (const NewKey& key : section->added) out += KeyLine(key.name, key.value);
    }
  }

  std::string_view text_;
  std::unordered_map<std::string, Section> sections_;  // lower-case name -> section
  std::unordered_map<std::string, KeyPlace> keys_;     // IndexName -> where the key is now
  std::map<std::size_t, LineEdit> edits_;              // by the original line's first byte
  std::size_t newSections_ = 0;
  bool changed_ = false;
};

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
  EditPlan plan(text, writes);
  for (const IniWrite& write : writes) plan.Apply(write);
  if (!plan.Changed()) return std::nullopt;
  return plan.Result(writes.size());
}

}  // namespace orbelan
