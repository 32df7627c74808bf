#pragma once
// View > Sort by: every column in both directions, each a key away, the current order
// checked. A header click still sorts as it always did; this reaches any order in one step,
// the largest Saving first included.

#include <QObject>
#include <QKeySequence>
#include <array>

#include "survey/results.h"

class QAction;
class QActionGroup;
class QMenu;

namespace orbelan {

class SortMenu : public QObject {
  Q_OBJECT
 public:
  // Fills menu with the fourteen orders.
  SortMenu(QMenu* menu, QObject* parent);

  // Checks the item of sortColumn (magnitude 1..7, negative for descending).
  void ShowSortColumn(int sortColumn);
  // Ctrl+N sorts by column N in its ascending order, Alt+N in its descending order.
  static QKeySequence Shortcut(int sortColumn);
  // The item's caption, as "Saving, largest first".
  static QString Caption(int sortColumn);
  QAction* Item(int sortColumn) const;

 signals:
  void sortRequested(int sortColumn);

 private:
  std::array<QAction*, 2 * kColumnCount> items_{};
  QActionGroup* group_ = nullptr;
};

}  // namespace orbelan
