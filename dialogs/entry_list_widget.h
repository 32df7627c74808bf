#pragma once
// List controls that show settings entries. An entry is a byte string that need not be
// valid UTF-8 (a folder name may hold any bytes), so every item keeps its exact bytes in
// its data and shows a readable copy as its text.

#include <string>
#include <string_view>

class QListWidget;
class QListWidgetItem;
class QString;

namespace orbelan {

struct EntryList;

// Alphabetical order without regard to case: A-Z fold to a-z, other bytes compare by
// value, and entries equal but for case fall back to their raw bytes so the order is
// the same on every run.
bool EntryLessNoCase(std::string_view a, std::string_view b);

// The exact bytes an item stands for.
std::string EntryBytes(const QListWidgetItem* item);
// Sets an item's bytes and its shown text.
void SetEntryBytes(QListWidgetItem* item, const std::string& bytes);
// The bytes of an answer typed into an item's edit box: when the answer is the item's
// shown text unchanged, the item's own bytes (so bytes that are not UTF-8 survive an edit
// that changes nothing); otherwise the answer in UTF-8.
std::string AnswerBytes(const QListWidgetItem* item, const QString& answer);

// Inserts a new entry before the first item that sorts after it; returns its row.
int InsertSorted(QListWidget* list, const std::string& bytes);
// Empties the list, then shows the list's entries in sorted order.
void FillSorted(QListWidget* list, const EntryList& entries);
// The row of the selected item, or -1 when nothing is selected.
int SelectedRow(const QListWidget* list);

// Whether bytes can stand on one line of the settings file (no CR, LF or NUL).
bool FitsOneLine(std::string_view bytes);

}  // namespace orbelan
