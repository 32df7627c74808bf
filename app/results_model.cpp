#include "app/results_model.h"

#include <QFile>
#include <array>

#include "scan/folder_figures.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "survey/readable_figures.h"
#include "survey/saving_table.h"

namespace orbelan {
namespace {

struct ColumnLook {
  const char* header;
  int width;
  Qt::Alignment alignment;
};

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;

const std::array<ColumnLook, kColumnCount> kColumns = {{
    {"Path", 230, kLeft},
    {"Unzipped", 80, kRight},
    {"Zipped", 80, kRight},
    {"%", 40, kRight},
    {"Most Recent", 85, kRight},
    {"Priority", 50, kLeft},
    {"Saving", 80, kRight},  // as wide as Unzipped: the same figures
}};

QString ExactBytes(std::int64_t bytes) {
  return QString::fromStdString(GroupedNumber(bytes)) + (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
}

}  // namespace

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

void ResultsModel::SetRows(ResultRows rows, double today) {
  beginResetModel();
  rows_ = std::move(rows);
  today_ = today;
  endResetModel();
}

void ResultsModel::Clear() {
  beginResetModel();
  rows_ = {};
  endResetModel();
}

void ResultsModel::SetReadableFigures(bool readable) {
  if (readable == readable_) return;
  beginResetModel();  // every figure's text changes, and with it the columns' widths
  readable_ = readable;
  endResetModel();
}

void ResultsModel::SetSavings(const SavingTable* savings) {
  if (savings == savings_) return;
  savings_ = savings;
  emit headerDataChanged(Qt::Horizontal, kSavingColumn, kSavingColumn);
  SavingsChanged();
}

void ResultsModel::SavingsChanged() {
  if (rows_.Rows.empty()) return;
  emit dataChanged(index(0, kSavingColumn), index(rowCount() - 1, kSavingColumn), {Qt::DisplayRole});
}

const ResultRow* ResultsModel::RowAt(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.Rows.size()) return nullptr;
  return &rows_.Rows[static_cast<std::size_t>(row)];
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.Rows.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  const ResultRow* row = index.isValid() ? RowAt(index.row()) : nullptr;
  if (!row) return {};
  switch (role) {
    case Qt::DisplayRole:
      // Paths are bytes on disk; names that are not UTF-8 still show, with replacements.
      return QString::fromStdString(readable_ ? ReadableCellText(*row, index.column() + 1, today_, savings_, subtree_)
                                              : CellText(*row, index.column() + 1, today_, savings_, subtree_));
    case Qt::TextAlignmentRole:
      return ColumnAlignment(index.column()).toInt();
    case Qt::ToolTipRole:
      // The whole path, which an elided caption does not show.
      if (!row->Rec) return {};
      if (index.column() == 0) return QFile::decodeName(QByteArray::fromStdString(row->Rec->Path()));
      {
        // The exact figure behind a rounded one: bytes and days.
        const FolderCounts& shown = ShownFigures(*row->Rec, subtree_);
        std::int64_t saving = 0;
        if (index.column() == 1) return ExactBytes(UnzippedBytes(shown));
        if (index.column() == 2) return ExactBytes(shown.SzZips);
        if (index.column() == 4 && shown.Recent > 0)
          return QString::fromStdString(AgeText(shown.Recent, today_));
        if (index.column() == kSavingColumn && ShownSaving(*row->Rec, savings_, subtree_, saving))
          return ExactBytes(saving);
      }
      return {};
    default:
      return {};
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) {
    // Without the estimate the last column is the blank one it always was.
    if (section == kSavingColumn && !savings_) return QString();
    return QString::fromLatin1(kColumns[section].header);
  }
  if (role == Qt::TextAlignmentRole) return ColumnAlignment(section).toInt();
  return {};
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int ResultsModel::ColumnWidth(int column) {
  return column >= 0 && column < kColumnCount ? kColumns[column].width : 0;
}

Qt::Alignment ResultsModel::ColumnAlignment(int column) {
  return column >= 0 && column < kColumnCount ? kColumns[column].alignment : kLeft;
}

}  // namespace orbelan
