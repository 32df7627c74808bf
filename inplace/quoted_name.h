#pragma once
// A file name as a line of text may show it: in double quotes, its bytes as they are where
// they are printable UTF-8, else escaped visibly (\n, \t, \xHH, \u{...} for characters that
// reorder or break lines), so that no name can forge a line or hide what it is.

#include <string>
#include <string_view>

namespace orbelan {

std::string QuotedName(std::string_view name);

}  // namespace orbelan
