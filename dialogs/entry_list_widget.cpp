#include "dialogs/entry_list_widget.h"

#include <QByteArray>
#include <QListWidget>
#include <QString>
#include <algorithm>
#include <vector>

#include "settings/settings.h"

namespace orbelan {

namespace {

constexpr int kBytesRole = Qt::UserRole;

unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EntryLessNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ca = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char cb = FoldAscii(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::string EntryBytes(const QListWidgetItem* item) {
  return item->data(kBytesRole).toByteArray().toStdString();
}

void SetEntryBytes(QListWidgetItem* item, const std::string& bytes) {
  item->setData(kBytesRole, QByteArray::fromStdString(bytes));
  item->setText(QString::fromStdString(bytes));
}

std::string AnswerBytes(const QListWidgetItem* item, const QString& answer) {
  if (answer == item->text()) return EntryBytes(item);
  return answer.toStdString();
}

int InsertSorted(QListWidget* list, const std::string& bytes) {
  int row = 0;
  while (row < list->count() && !EntryLessNoCase(bytes, EntryBytes(list->item(row)))) ++row;
  auto* item = new QListWidgetItem;
  SetEntryBytes(item, bytes);
  list->insertItem(row, item);
  return row;
}

void FillSorted(QListWidget* list, const EntryList& entries) {
  list->clear();
  std::vector<std::string> sorted(entries.Items.begin(), entries.Items.begin() + entries.Count);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const std::string& a, const std::string& b) { return EntryLessNoCase(a, b); });
  for (const std::string& bytes : sorted) {
    auto* item = new QListWidgetItem(list);
    SetEntryBytes(item, bytes);
  }
}

int SelectedRow(const QListWidget* list) {
  const auto selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}

bool FitsOneLine(std::string_view bytes) {
  return bytes.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace orbelan
