#pragma once
// A batch of key writes applied to an INI text in one pass. The result is exactly what
// writing the keys one at a time, in order, would leave (WritePrivateProfileString):
//   - a key already in the first section of its name gets its line replaced in place as
//     "Name=value" + CR LF, Name spelt as the file spells it;
//   - a new key goes after the last key line of that section (or right after its header);
//   - a missing section is added at the end of the text, with the key;
//   - every other byte stays where it was. A last line without a line end gets CR LF
//     before anything is put after it.
// One pass instead of one rewrite per key keeps a save of a large file linear in its size.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbelan {

struct IniWrite {
  std::string section;
  std::string key;
  std::string value;
};
using IniWrites = std::vector<IniWrite>;

// Whether every write reads back as written: no CR, LF or NUL anywhere, no "]" in a
// section name, no "=" in a key name, names not starting or ending in blanks.
bool AreWritable(const IniWrites& writes);

// text with writes applied in order; nothing when the text would stay byte for byte the
// same (every key already holds its value in our line form). writes must be AreWritable.
std::optional<std::string> ApplyIniWrites(std::string_view text, const IniWrites& writes);

}  // namespace orbelan
