#pragma once
// Names and paths shown to the user, written so that no name can pass for something it is
// not: a newline cannot start a forged line, a control byte cannot move the cursor, a
// right-to-left mark cannot reorder what follows. The form is the shell's, as GNU ls shows
// names: a name of plain characters as it is, others in '...', and a name with anything
// unprintable as $'...' with C escapes (\n, \t, \xHH for a byte that is no UTF-8, \uXXXX
// for an invisible or line-breaking character). Pasted into a shell, a quoted name is the
// name's exact bytes again. No Qt.

#include <string>
#include <string_view>

namespace orbelan {

std::string QuotedName(std::string_view name);

// Free text (a cause from elsewhere that may hold a name) with the same characters escaped
// as in $'...', nothing quoted: it stays one line that says what it said.
std::string VisibleText(std::string_view text);

}  // namespace orbelan
