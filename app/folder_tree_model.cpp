#include "app/folder_tree_model.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cstdlib>

#include "scan/folder_figures.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "survey/subtree_totals.h"

namespace orbelan {
namespace {

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;

struct ColumnLook {
  const char* header;
  Qt::Alignment alignment;
};

const std::array<ColumnLook, FolderTreeModel::kColumnCount> kColumns = {{
    {"Path", kLeft},
    {"Unzipped", kRight},
    {"Zipped", kRight},
    {"%", kRight},
    {"Most Recent", kRight},
    {"Priority", kLeft},
    {"Saving", kRight},
    {"Share", kLeft},
}};

QString Decoded(std::string_view bytes) {
  return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// A folder's name as its row shows it: below its parent its own name, at the top its path.
std::string_view NameOf(const SubtreeTotals& totals, std::uint32_t record) {
  const FolderRec& rec = totals.Record(record);
  const std::int64_t parent = totals.Parent(record);
  if (parent == SubtreeTotals::kNone || rec.Parent() != nullptr) return rec.Name();
  std::string_view name = std::string_view(rec.Name()).substr(totals.Record(parent).PathLength());
  if (!name.empty() && name.back() == '/') name.remove_suffix(1);
  return name;
}

// The saving a row orders by, or -1 while none of its subtree is estimated.
std::int64_t SavingKey(const SubtreeTotals& totals, std::uint32_t record) {
  const SavingSum* sum = totals.SavingOf(record);
  return sum != nullptr && sum->Any() ? sum->Saving : -1;
}

}  // namespace

FolderTreeModel::FolderTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void FolderTreeModel::SetTotals(const SubtreeTotals* totals, double today) {
  beginResetModel();
  totals_ = totals != nullptr && !totals->Empty() ? totals : nullptr;
  today_ = today;
  ordered_.clear();
  row_.assign(totals_ ? static_cast<std::size_t>(totals_->Size()) : 0, 0);
  sortColumn_ = kSavingColumn;
  sortOrder_ = Qt::DescendingOrder;
  ComputeShown();
  endResetModel();
}

void FolderTreeModel::Clear() { SetTotals(nullptr, today_); }

void FolderTreeModel::SetFilter(Filter filter) {
  beginResetModel();
  filter_ = std::move(filter);
  ordered_.clear();
  ComputeShown();
  endResetModel();
}

void FolderTreeModel::ComputeShown() {
  shown_.clear();
  if (!totals_ || !filter_) return;
  const auto n = static_cast<std::size_t>(totals_->Size());
  shown_.assign(n, false);
  // Deepest first, so a match lights the way up through every folder above it.
  for (std::size_t i = n; i-- > 0;) {
    if (!shown_[i] && filter_(static_cast<std::int64_t>(i))) shown_[i] = true;
    if (!shown_[i]) continue;
    const std::int64_t parent = totals_->Parent(static_cast<std::int64_t>(i));
    if (parent != SubtreeTotals::kNone) shown_[static_cast<std::size_t>(parent)] = true;
  }
}

void FolderTreeModel::SetSavingsShown(bool shown) {
  if (shown == savingsShown_) return;
  savingsShown_ = shown;
  emit headerDataChanged(Qt::Horizontal, kSavingColumn, kSavingColumn);
  SavingsChanged();
}

void FolderTreeModel::SavingsChanged() {
  if (!totals_) return;
  // Every open folder's rows, but only the two columns that change.
  for (const auto& [parent, children] : ordered_) {
    if (children.empty()) continue;
    const QModelIndex top = parent == kTop ? QModelIndex() : IndexOfRecord(parent);
    if (parent != kTop && !top.isValid()) continue;  // filtered out
    emit dataChanged(index(0, kSavingColumn, top),
                     index(static_cast<int>(children.size()) - 1, kShareColumn, top));
  }
}

void FolderTreeModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumnCount) return;
  sortColumn_ = column;
  sortOrder_ = order;
  Reorder();
}

void FolderTreeModel::Reorder() {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<std::pair<std::int64_t, int>> held;
  held.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before) held.emplace_back(RecordIndexAt(index), index.column());
  for (auto& [parent, children] : ordered_) Order(children);
  QModelIndexList after;
  after.reserve(before.size());
  for (const auto& [record, column] : held)
    after.push_back(record < 0 ? QModelIndex() : IndexOfRecord(record, column));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool FolderTreeModel::Less(std::uint32_t a, std::uint32_t b) const {
  const SubtreeFigures& fa = totals_->Figures(a);
  const SubtreeFigures& fb = totals_->Figures(b);
  auto byNumber = [](std::int64_t x, std::int64_t y) { return x < y ? -1 : (x > y ? 1 : 0); };
  int order = 0;
  switch (sortColumn_) {
    case 0: {
      // Names compare lower-cased (A-Z only), byte by byte, as the list's paths do.
      const std::string_view na = NameOf(*totals_, a), nb = NameOf(*totals_, b);
      const std::size_t n = std::min(na.size(), nb.size());
      for (std::size_t i = 0; i < n && order == 0; ++i) {
        auto lower = [](char c) {
          const auto u = static_cast<unsigned char>(c);
          return u >= 'A' && u <= 'Z' ? u + 32u : static_cast<unsigned>(u);
        };
        order = byNumber(lower(na[i]), lower(nb[i]));
      }
      if (order == 0) order = byNumber(static_cast<std::int64_t>(na.size()), static_cast<std::int64_t>(nb.size()));
      break;
    }
    case 1: order = byNumber(UnzippedBytes(fa), UnzippedBytes(fb)); break;
    case 2: order = byNumber(fa.SzZips, fb.SzZips); break;
    case 3: order = byNumber(fa.SzFiles > 0 ? ZipPercent(fa) : -1, fb.SzFiles > 0 ? ZipPercent(fb) : -1); break;
    case 4:
      order = byNumber(fa.Recent > 0 ? std::llabs(DaysAgo(fa.Recent, today_)) : 0,
                       fb.Recent > 0 ? std::llabs(DaysAgo(fb.Recent, today_)) : 0);
      break;
    case 5: order = byNumber(ZipPriority(fa), ZipPriority(fb)); break;
    default:
      // Saving and its share order alike; folders not estimated yet by their Unzipped bytes.
      order = byNumber(SavingKey(*totals_, a), SavingKey(*totals_, b));
      if (order == 0) order = byNumber(UnzippedBytes(fa), UnzippedBytes(fb));
      break;
  }
  if (sortOrder_ == Qt::DescendingOrder) order = -order;
  return order != 0 ? order < 0 : a < b;  // equal keys in scan order
}

void FolderTreeModel::Order(std::vector<std::uint32_t>& children) const {
  std::sort(children.begin(), children.end(), [this](std::uint32_t a, std::uint32_t b) { return Less(a, b); });
  for (std::size_t row = 0; row < children.size(); ++row) row_[children[row]] = static_cast<std::uint32_t>(row);
}

const std::vector<std::uint32_t>& FolderTreeModel::Ordered(std::uint32_t parent) const {
  const auto found = ordered_.find(parent);
  if (found != ordered_.end()) return found->second;
  std::vector<std::uint32_t> children;
  if (totals_) {
    if (parent == kTop) {
      children = totals_->Roots();
    } else {
      const auto below = totals_->Children(parent);
      children.assign(below.begin(), below.end());
    }
    if (!shown_.empty())
      std::erase_if(children, [this](std::uint32_t child) { return !shown_[child]; });
    Order(children);
  }
  return ordered_.emplace(parent, std::move(children)).first->second;
}

std::uint32_t FolderTreeModel::ParentOf(std::uint32_t record) const {
  const std::int64_t parent = totals_->Parent(record);
  return parent == SubtreeTotals::kNone ? kTop : static_cast<std::uint32_t>(parent);
}

int FolderTreeModel::RowOf(std::uint32_t record) const {
  Ordered(ParentOf(record));  // makes sure the row is known
  return static_cast<int>(row_[record]);
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (!totals_ || row < 0 || column < 0 || column >= kColumnCount) return {};
  if (parent.isValid() && parent.column() != 0) return {};
  const std::uint32_t above = parent.isValid() ? static_cast<std::uint32_t>(parent.internalId()) : kTop;
  const std::vector<std::uint32_t>& children = Ordered(above);
  if (static_cast<std::size_t>(row) >= children.size()) return {};
  return createIndex(row, column, static_cast<quintptr>(children[static_cast<std::size_t>(row)]));
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  if (!totals_ || !child.isValid()) return {};
  const std::uint32_t above = ParentOf(static_cast<std::uint32_t>(child.internalId()));
  if (above == kTop) return {};
  return createIndex(RowOf(above), 0, static_cast<quintptr>(above));
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (!totals_ || (parent.isValid() && parent.column() != 0)) return 0;
  const std::uint32_t above = parent.isValid() ? static_cast<std::uint32_t>(parent.internalId()) : kTop;
  return static_cast<int>(Ordered(above).size());
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!totals_) return false;
  if (!parent.isValid()) return !totals_->Roots().empty();
  if (parent.column() != 0) return false;
  // Asked for every row drawn: answered without ordering the children.
  const auto record = static_cast<std::uint32_t>(parent.internalId());
  if (shown_.empty()) return !totals_->Children(record).empty();
  for (std::uint32_t child : totals_->Children(record))
    if (shown_[child]) return true;
  return false;
}

int FolderTreeModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() && parent.column() != 0 ? 0 : kColumnCount;
}

const FolderRec* FolderTreeModel::RecordAt(const QModelIndex& index) const {
  const std::int64_t record = RecordIndexAt(index);
  return record < 0 ? nullptr : &totals_->Record(record);
}

std::int64_t FolderTreeModel::RecordIndexAt(const QModelIndex& index) const {
  if (!totals_ || !index.isValid() || index.model() != this) return -1;
  return static_cast<std::int64_t>(index.internalId());
}

QModelIndex FolderTreeModel::IndexOfRecord(std::int64_t recordIndex, int column) const {
  if (!totals_ || recordIndex < 0 || recordIndex >= totals_->Size()) return {};
  const auto record = static_cast<std::uint32_t>(recordIndex);
  if (!shown_.empty() && !shown_[record]) return {};
  return createIndex(RowOf(record), column, static_cast<quintptr>(record));
}

double FolderTreeModel::Share(std::uint32_t record) const {
  const std::uint32_t above = ParentOf(record);
  if (above == kTop) return 1.0;
  const std::int64_t mine = SavingKey(*totals_, record), whole = SavingKey(*totals_, above);
  if (whole > 0) return std::clamp(static_cast<double>(std::max<std::int64_t>(mine, 0)) / static_cast<double>(whole), 0.0, 1.0);
  if (whole == 0) return 0.0;
  // Nothing estimated yet: the share of the parent's Unzipped bytes.
  const std::int64_t bytes = UnzippedBytes(totals_->Figures(above));
  if (bytes <= 0) return 0.0;
  return std::clamp(static_cast<double>(UnzippedBytes(totals_->Figures(record))) / static_cast<double>(bytes), 0.0, 1.0);
}

QString FolderTreeModel::CellText(std::uint32_t record, int column) const {
  const SubtreeFigures& figures = totals_->Figures(record);
  switch (column) {
    case 0: return Decoded(NameOf(*totals_, record));
    case 1: return QString::fromStdString(SizeText(UnzippedBytes(figures)));
    case 2: return QString::fromStdString(SizeText(figures.SzZips));
    case 3: return QString::fromStdString(PercentText(figures));
    case 4: return QString::fromStdString(AgeText(figures.Recent, today_));
    case 5: return QString::number(ZipPriority(figures));
    case 6: {
      const std::int64_t saving = SavingKey(*totals_, record);
      return savingsShown_ && saving >= 0 ? QString::fromStdString(SizeText(saving)) : QString();
    }
    case 7: return QStringLiteral("%1%").arg(qRound(Share(record) * 100));
    default: return {};
  }
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  const std::int64_t recordIndex = RecordIndexAt(index);
  if (recordIndex < 0) return {};
  const auto record = static_cast<std::uint32_t>(recordIndex);
  switch (role) {
    case Qt::DisplayRole: return CellText(record, index.column());
    case Qt::TextAlignmentRole: return kColumns[static_cast<std::size_t>(index.column())].alignment.toInt();
    case Qt::ToolTipRole: {
      if (index.column() == 0) return Decoded(totals_->Record(record).Path());
      if (index.column() == kShareColumn)
        return SavingKey(*totals_, ParentOf(record)) >= 0 || ParentOf(record) == kTop
                   ? QStringLiteral("Share of the saving of the folder above")
                   : QStringLiteral("Share of the unzipped bytes of the folder above (nothing estimated yet)");
      return {};
    }
    case kShareRole: return Share(record);
    default: return {};
  }
}

QVariant FolderTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) {
    if (section == kSavingColumn && !savingsShown_) return QString();
    return QString::fromLatin1(kColumns[static_cast<std::size_t>(section)].header);
  }
  if (role == Qt::TextAlignmentRole) return kColumns[static_cast<std::size_t>(section)].alignment.toInt();
  return {};
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace orbelan
