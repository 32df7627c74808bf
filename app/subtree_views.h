#pragma once
// Subtrees where the user looks: the folder tree beside the flat list, the flat list's
// "Subtree totals" choice, and the filter above both (path text, small savings hidden).
// Shows the survey session's subtree totals, which the session builds after each scan and
// sums again as savings arrive. The choices live in the settings' view choices, saved with
// the window.

#include <QObject>
#include <QRect>
#include <QTimer>

#include "survey/subtree_totals.h"

class QAction;
class QLineEdit;
class QMenu;
class QWidget;

namespace orbelan {

class FolderTreeModel;
class FolderTreeView;
class SavingTable;
struct ResultRows;
struct ViewChoices;

class SubtreeViews : public QObject {
  Q_OBJECT
 public:
  // panel: where the filter, the list and the tree are; choices: kept by the caller.
  SubtreeViews(QWidget* panel, ViewChoices& choices, QObject* parent = nullptr);

  FolderTreeView* Tree() const { return tree_; }
  FolderTreeModel* TreeModel() const { return model_; }
  QLineEdit* FilterField() const { return filter_; }
  const SubtreeTotals& Totals() const { return *totals_; }
  QAction* TreeAction() const { return treeAction_; }
  QAction* SubtreeRowsAction() const { return rowsAction_; }
  QAction* HideSmallAction() const { return hideAction_; }

  // "Folder &tree" (Ctrl+T), "&Subtree totals" (Ctrl+U) and "&Hide small savings…".
  void AddViewActions(QMenu* view);

  // After a completed scan: the totals of the records, built and summed (they must stay
  // until Clear), and the tree over them. savings may be nullptr (the estimate is off).
  void Rebuild(const SubtreeTotals& totals, const SavingTable* savings, double today);
  // Before the records are freed.
  void Clear();
  // New estimates are in the table and summed into the totals: the views show them.
  void SavingsChanged(const SavingTable* savings);
  // Every estimate is in: the tree's rows take the order of the final figures.
  void SavingsSettled();
  void SetSavingsShown(bool shown);

  // The totals the flat list's rows show, or nullptr for each folder's own figures.
  const SubtreeTotals* RowTotals() const;
  // Whether the flat list's rows are to show subtree figures, once there are totals.
  bool SubtreeRowsChosen() const;
  // Whether every folder with bytes is to be estimated, not only the listed ones: the tree
  // and subtree rows add up every folder's saving.
  bool NeedsEveryEstimate() const;
  // Removes the rows the filter hides (path text, savings below the size set).
  void FilterRows(ResultRows& rows, const SavingTable* savings) const;

  // Shows the chosen view (tree or list) or neither.
  void ShowResults(QWidget* list, bool visible);
  bool TreeShown() const;
  // Lays out the filter field over area's top and the list and tree in the rest.
  void Place(const QRect& area, QWidget* list);
  // The tree's selected folder, or nullptr.
  const FolderRec* SelectedRecord() const;

  // The choices, as the View menu sets them (tests call these directly).
  void SetTreeShown(bool shown);
  void SetSubtreeRows(bool on);
  void SetHideSmallSavings(bool on, int belowKB);
  void SetFilterText(const QString& text);

 signals:
  // The flat list must be filled again: its figures or its filter changed.
  void listChanged();
  // The view switched between the list and the tree.
  void viewSwitched();
  // The tree's selection changed.
  void selectionChanged();

 private:
  bool Passes(std::int64_t record, const SavingTable* savings, bool subtreeSaving) const;
  void ApplyFilter();
  void AskHideSmall();

  ViewChoices& choices_;
  const SubtreeTotals* totals_ = &none_;  // the session's, or none_ between Clear and Rebuild
  SubtreeTotals none_;
  FolderTreeModel* model_;
  FolderTreeView* tree_;
  QLineEdit* filter_;
  QTimer filterDelay_;
  QAction* treeAction_ = nullptr;
  QAction* rowsAction_ = nullptr;
  QAction* hideAction_ = nullptr;
  QWidget* list_ = nullptr;
  bool resultsVisible_ = false;
  std::string filterBytes_;  // the filter's text as path bytes, lower-cased
  const SavingTable* savings_ = nullptr;
};

}  // namespace orbelan
