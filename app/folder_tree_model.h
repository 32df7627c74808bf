#pragma once
// The folders of a scan as a tree to walk: rows nested as on disk, each with its subtree's
// figures and its share of its parent's saving. A model over the engine's subtree totals:
// an index carries its record's number, and only the children of folders the view opens
// are ever ordered, so a hundred thousand folders open at once and cost little until opened.

#include <QAbstractItemModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

namespace orbelan {

class SubtreeTotals;
struct FolderRec;

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  // Path, Unzipped, Zipped, %, Most Recent, Priority, Saving, Share.
  static constexpr int kColumnCount = 8;
  static constexpr int kSavingColumn = 6;
  static constexpr int kShareColumn = 7;
  // The row's share of its parent's saving (of its Unzipped bytes while nothing is
  // estimated), from 0 to 1, for the bar; a folder at the top has 1.
  static constexpr int kShareRole = Qt::UserRole + 1;

  explicit FolderTreeModel(QObject* parent = nullptr);

  // Shows totals (not owned; kept alive and unchanged until the next SetTotals or Clear).
  // today: the day number the age texts use. The order starts as Saving, largest first.
  void SetTotals(const SubtreeTotals* totals, double today);
  void Clear();
  // Which rows pass: nullptr shows every folder. A folder that does not pass is still shown
  // when something below it does, so that a match keeps its way down from the top.
  using Filter = std::function<bool(std::int64_t recordIndex)>;
  void SetFilter(Filter filter);
  // The totals' savings were summed again: the Saving and Share columns are drawn anew.
  // Rows do not move under the user while estimates arrive; OrderAgain moves them.
  void SavingsChanged();
  // Orders every open folder's rows again by the current figures (open folders stay open).
  void OrderAgain() { Reorder(); }
  // Whether the Saving column has a header and text (the estimate is on).
  void SetSavingsShown(bool shown);

  // The record of a row, its number in the list, and the row of a record's number.
  const FolderRec* RecordAt(const QModelIndex& index) const;
  std::int64_t RecordIndexAt(const QModelIndex& index) const;
  QModelIndex IndexOfRecord(std::int64_t recordIndex, int column = 0) const;
  int SortColumn() const { return sortColumn_; }
  Qt::SortOrder SortOrder() const { return sortOrder_; }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  static constexpr std::uint32_t kTop = 0xFFFFFFFFu;  // the list of folders at the top
  // The shown children of a folder (kTop: the top) in the current order, made when first
  // asked for; every child's row is then known.
  const std::vector<std::uint32_t>& Ordered(std::uint32_t parent) const;
  void Order(std::vector<std::uint32_t>& children) const;
  bool Less(std::uint32_t a, std::uint32_t b) const;
  std::uint32_t ParentOf(std::uint32_t record) const;
  int RowOf(std::uint32_t record) const;
  double Share(std::uint32_t record) const;
  QString CellText(std::uint32_t record, int column) const;
  void Reorder();
  void ComputeShown();

  const SubtreeTotals* totals_ = nullptr;
  double today_ = 0;
  bool savingsShown_ = true;
  int sortColumn_ = kSavingColumn;
  Qt::SortOrder sortOrder_ = Qt::DescendingOrder;
  Filter filter_;
  std::vector<bool> shown_;  // by record, when a filter is set
  mutable std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> ordered_;
  mutable std::vector<std::uint32_t> row_;  // each record's row under its parent, once ordered
};

}  // namespace orbelan
