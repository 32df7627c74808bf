#pragma once
// The results list as a table model over the rows the engine built: the view asks only for
// the cells it shows, so a list of a hundred thousand folders costs nothing until scrolled.

#include <QAbstractTableModel>

#include "survey/results.h"

namespace orbelan {

struct FolderRec;

class ResultsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit ResultsModel(QObject* parent = nullptr);

  // Replaces every row at once (one model reset). today: the day number the age texts use.
  void SetRows(ResultRows rows, double today);
  void Clear();

  const ResultRows& Rows() const { return rows_; }
  // The row at a model row number, or nullptr outside the list.
  const ResultRow* RowAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Column widths and alignments of the list, by column number from 0.
  static int ColumnWidth(int column);
  static Qt::Alignment ColumnAlignment(int column);

 private:
  ResultRows rows_;
  double today_ = 0;
};

}  // namespace orbelan
