#include "app/subtree_views.h"

#include <QAction>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <algorithm>

#include "app/folder_tree_model.h"
#include "app/folder_tree_view.h"
#include "settings/settings.h"
#include "scan/scan_rules.h"
#include "survey/results.h"
#include "survey/saving_table.h"
#include "ui/interaction.h"

namespace orbelan {
namespace {

constexpr int kFilterHeight = 22;

}  // namespace

SubtreeViews::SubtreeViews(QWidget* panel, ViewChoices& choices, QObject* parent)
    : QObject(parent), choices_(choices) {
  model_ = new FolderTreeModel(this);
  tree_ = new FolderTreeView(model_, panel);
  tree_->hide();
  connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &SubtreeViews::selectionChanged);
  connect(model_, &QAbstractItemModel::modelReset, this, &SubtreeViews::selectionChanged);

  filter_ = new QLineEdit(panel);
  filter_->setObjectName(QStringLiteral("edFilter"));
  filter_->setPlaceholderText(QStringLiteral("Filter: show folders whose path contains…"));
  filter_->setClearButtonEnabled(true);
  filter_->setToolTip(QStringLiteral("Show only the folders whose path contains this text"));
  filter_->hide();
  // Typing is not held up by refilling a long list after every key.
  filterDelay_.setSingleShot(true);
  filterDelay_.setInterval(150);
  connect(filter_, &QLineEdit::textChanged, this, [this] { filterDelay_.start(); });
  connect(&filterDelay_, &QTimer::timeout, this, [this] { SetFilterText(filter_->text()); });
}

void SubtreeViews::AddViewActions(QMenu* view) {
  treeAction_ = view->addAction(QStringLiteral("Folder &tree"));
  treeAction_->setObjectName(QStringLiteral("mnuTree"));
  treeAction_->setCheckable(true);
  treeAction_->setChecked(choices_.Tree);
  treeAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  connect(treeAction_, &QAction::toggled, this, &SubtreeViews::SetTreeShown);

  rowsAction_ = view->addAction(QStringLiteral("&Subtree totals"));
  rowsAction_->setObjectName(QStringLiteral("mnuSubtreeTotals"));
  rowsAction_->setCheckable(true);
  rowsAction_->setChecked(choices_.SubtreeRows);
  rowsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
  rowsAction_->setToolTip(QStringLiteral("Each row shows its folder with everything below it"));
  connect(rowsAction_, &QAction::toggled, this, &SubtreeViews::SetSubtreeRows);

  hideAction_ = view->addAction(QStringLiteral("&Hide small savings…"));
  hideAction_->setObjectName(QStringLiteral("mnuHideSmall"));
  hideAction_->setCheckable(true);
  hideAction_->setChecked(choices_.HideSmallSavings);
  connect(hideAction_, &QAction::triggered, this, &SubtreeViews::AskHideSmall);
}

void SubtreeViews::AskHideSmall() {
  if (!hideAction_->isChecked()) {
    SetHideSmallSavings(false, choices_.HideSavingBelowKB);
    return;
  }
  const std::optional<QString> answer =
      interaction().InputBox(tree_->window(), QStringLiteral("Hide small savings"),
                             QStringLiteral("Hide folders whose saving is below (KB):"),
                             QString::number(choices_.HideSavingBelowKB));
  bool ok = false;
  const int below = answer ? answer->trimmed().toInt(&ok) : 0;
  if (!answer || !ok || below < 0) {
    hideAction_->setChecked(choices_.HideSmallSavings);  // cancelled: as it was
    return;
  }
  SetHideSmallSavings(true, below);
}

void SubtreeViews::SetTreeShown(bool shown) {
  if (treeAction_ && treeAction_->isChecked() != shown) treeAction_->setChecked(shown);  // comes back here
  if (choices_.Tree == shown) return;
  choices_.Tree = shown;
  ShowResults(list_, resultsVisible_);
  emit viewSwitched();
}

void SubtreeViews::SetSubtreeRows(bool on) {
  if (rowsAction_ && rowsAction_->isChecked() != on) rowsAction_->setChecked(on);
  if (choices_.SubtreeRows == on) return;
  choices_.SubtreeRows = on;
  emit listChanged();
}

void SubtreeViews::SetHideSmallSavings(bool on, int belowKB) {
  if (hideAction_ && hideAction_->isChecked() != on) hideAction_->setChecked(on);
  choices_.HideSmallSavings = on;
  choices_.HideSavingBelowKB = std::max(belowKB, 0);
  if (hideAction_)
    hideAction_->setText(on ? QStringLiteral("&Hide savings below %1 KB…").arg(choices_.HideSavingBelowKB)
                            : QStringLiteral("&Hide small savings…"));
  ApplyFilter();
}

void SubtreeViews::SetFilterText(const QString& text) {
  if (filter_->text() != text) filter_->setText(text);
  filterDelay_.stop();
  filterBytes_ = LowerAscii(QFile::encodeName(text).toStdString());
  ApplyFilter();
}

void SubtreeViews::ApplyFilter() {
  if (filterBytes_.empty() && !choices_.HideSmallSavings) {
    model_->SetFilter(nullptr);
  } else {
    model_->SetFilter([this](std::int64_t record) { return Passes(record, savings_, true); });
  }
  if (resultsVisible_ && choices_.Tree) tree_->OpenOnStart();
  emit listChanged();
}

void SubtreeViews::Rebuild(const SubtreeTotals& totals, const SavingTable* savings, double today) {
  totals_ = &totals;
  SavingsChanged(savings);
  model_->SetTotals(totals_, today);
  ApplyFilter();
  tree_->OpenOnStart();
}

void SubtreeViews::Clear() {
  model_->Clear();
  totals_ = &none_;
  savings_ = nullptr;
}

void SubtreeViews::SavingsChanged(const SavingTable* savings) {
  savings_ = savings;
  if (totals_->Empty()) return;
  model_->SavingsChanged();
}

void SubtreeViews::SavingsSettled() {
  const int column = model_->SortColumn();
  if (column == FolderTreeModel::kSavingColumn || column == FolderTreeModel::kShareColumn) model_->OrderAgain();
}

void SubtreeViews::SetSavingsShown(bool shown) { model_->SetSavingsShown(shown); }

const SubtreeTotals* SubtreeViews::RowTotals() const {
  return choices_.SubtreeRows && !totals_->Empty() ? totals_ : nullptr;
}

bool SubtreeViews::SubtreeRowsChosen() const { return choices_.SubtreeRows; }

bool SubtreeViews::NeedsEveryEstimate() const { return choices_.Tree || choices_.SubtreeRows; }

bool SubtreeViews::Passes(std::int64_t record, const SavingTable* savings, bool subtreeSaving) const {
  const FolderRec& rec = totals_->Record(record);
  if (!filterBytes_.empty() && LowerAscii(rec.Path()).find(filterBytes_) == std::string::npos) return false;
  if (choices_.HideSmallSavings) {
    // A folder whose saving is not known yet is not known to be small: it stays.
    const std::int64_t below = static_cast<std::int64_t>(choices_.HideSavingBelowKB) * 1024;
    if (subtreeSaving) {
      const SavingSum* sum = totals_->SavingOf(record);
      if (sum != nullptr && sum->Any() && sum->Complete() && sum->Saving < below) return false;
    } else if (savings != nullptr) {
      const SavingEstimate* estimate = savings->Find(rec);
      // The disk space given back, as the Saving column shows it.
      if (estimate != nullptr && estimate->Known && estimate->Disk < below) return false;
    }
  }
  return true;
}

void SubtreeViews::FilterRows(ResultRows& rows, const SavingTable* savings) const {
  if ((filterBytes_.empty() && !choices_.HideSmallSavings) || totals_->Empty()) return;
  const bool subtree = RowTotals() != nullptr;
  std::erase_if(rows.Rows, [&](const ResultRow& row) {
    const std::int64_t record = totals_->IndexOf(*row.Rec);
    return record != SubtreeTotals::kNone && !Passes(record, savings, subtree);
  });
}

void SubtreeViews::ShowResults(QWidget* list, bool visible) {
  list_ = list;
  resultsVisible_ = visible;
  filter_->setVisible(visible);
  tree_->setVisible(visible && choices_.Tree);
  if (list_) list_->setVisible(visible && !choices_.Tree);
  if (visible) (choices_.Tree ? static_cast<QWidget*>(tree_) : list_)->setFocus();
  if (rowsAction_) rowsAction_->setEnabled(!choices_.Tree);  // the tree always shows subtrees
}

bool SubtreeViews::TreeShown() const { return choices_.Tree; }

void SubtreeViews::Place(const QRect& area, QWidget* list) {
  list_ = list;
  filter_->setGeometry(area.left(), area.top(), area.width(), kFilterHeight);
  const QRect below = area.adjusted(0, kFilterHeight, 0, 0);
  tree_->setGeometry(below);
  if (list_) list_->setGeometry(below);
}

const FolderRec* SubtreeViews::SelectedRecord() const {
  const QModelIndexList rows = tree_->selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : model_->RecordAt(rows.first());
}

}  // namespace orbelan
