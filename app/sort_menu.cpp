#include "app/sort_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <cstdlib>

namespace orbelan {
namespace {

// Items in column order, ascending before descending.
int Slot(int sortColumn) { return 2 * (std::abs(sortColumn) - 1) + (sortColumn < 0 ? 1 : 0); }

struct Orders {
  const char* column;
  const char* ascending;
  const char* descending;
};

// Ascending is the list's own order for each column: Most Recent ascending starts with the
// newest folder.
constexpr Orders kOrders[kColumnCount] = {
    {"&Path", "A to Z", "Z to A"},
    {"&Unzipped", "smallest first", "largest first"},
    {"&Zipped", "smallest first", "largest first"},
    {"%", "lowest first", "highest first"},
    {"&Most Recent", "newest first", "oldest first"},
    {"P&riority", "lowest first", "highest first"},
    {"&Saving", "smallest first", "largest first"},
};

}  // namespace

SortMenu::SortMenu(QMenu* menu, QObject* parent) : QObject(parent) {
  menu->setObjectName(QStringLiteral("mnuSortBy"));
  group_ = new QActionGroup(this);
  group_->setExclusive(true);
  for (int column = 1; column <= kColumnCount; ++column) {
    for (const int sortColumn : {column, -column}) {
      QAction* item = menu->addAction(Caption(sortColumn));
      item->setObjectName(QStringLiteral("mnuSort%1%2").arg(sortColumn < 0 ? "Down" : "Up").arg(column));
      item->setShortcut(Shortcut(sortColumn));
      item->setCheckable(true);
      group_->addAction(item);
      connect(item, &QAction::triggered, this, [this, sortColumn] { emit sortRequested(sortColumn); });
      items_[static_cast<std::size_t>(Slot(sortColumn))] = item;
    }
    if (column < kColumnCount) menu->addSeparator();
  }
}

QString SortMenu::Caption(int sortColumn) {
  const Orders& orders = kOrders[std::abs(sortColumn) - 1];
  // Only the first of a column's two items carries the access letter.
  QString column = QString::fromLatin1(orders.column);
  if (sortColumn < 0) column.remove(QLatin1Char('&'));
  return column + QStringLiteral(", ") + QLatin1String(sortColumn > 0 ? orders.ascending : orders.descending);
}

QKeySequence SortMenu::Shortcut(int sortColumn) {
  const auto digit = static_cast<Qt::Key>(Qt::Key_0 + std::abs(sortColumn));
  return QKeySequence((sortColumn > 0 ? Qt::CTRL : Qt::ALT) | digit);
}

QAction* SortMenu::Item(int sortColumn) const {
  if (sortColumn == 0 || std::abs(sortColumn) > kColumnCount) return nullptr;
  return items_[static_cast<std::size_t>(Slot(sortColumn))];
}

void SortMenu::ShowSortColumn(int sortColumn) {
  if (QAction* item = Item(sortColumn)) item->setChecked(true);
}

}  // namespace orbelan
