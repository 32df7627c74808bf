#pragma once
// The results list as a table model over the rows the engine built: the view asks only for
// the cells it shows, so a list of a hundred thousand folders costs nothing until scrolled.

#include <QAbstractTableModel>

#include "survey/results.h"

namespace orbelan {

struct FolderRec;
class SavingTable;
class SubtreeTotals;

class ResultsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit ResultsModel(QObject* parent = nullptr);

  // Replaces every row at once (one model reset). today: the day number the age texts use.
  void SetRows(ResultRows rows, double today);
  void Clear();

  // The estimates the Saving column shows, or nullptr to leave the column without header
  // and text (the estimate is turned off). The table stays the caller's.
  void SetSavings(const SavingTable* savings);
  // The subtree totals the rows show (the "Subtree totals" view), or nullptr for each
  // folder's own figures. Set before SetRows; the totals stay the caller's.
  void SetSubtree(const SubtreeTotals* subtree) { subtree_ = subtree; }
  // New estimates are in the table: the Saving column is drawn again (once for all rows).
  void SavingsChanged();

  // Sizes in KB, MB and GB and ages in months and years instead of bytes and days; the
  // exact figures stay in the tooltips. Off: the list's classic figures.
  void SetReadableFigures(bool readable);
  bool ReadableFigures() const { return readable_; }

  const ResultRows& Rows() const { return rows_; }
  // The row at a model row number, or nullptr outside the list.
  const ResultRow* RowAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  static constexpr int kSavingColumn = 6;  // by column number from 0

  // Column widths and alignments of the list, by column number from 0.
  static int ColumnWidth(int column);
  static Qt::Alignment ColumnAlignment(int column);

 private:
  ResultRows rows_;
  double today_ = 0;
  const SavingTable* savings_ = nullptr;
  const SubtreeTotals* subtree_ = nullptr;
  bool readable_ = false;
};

}  // namespace orbelan
