#pragma once
// The tree of folders as the user walks it: opened on the start folder with its subfolders
// showing, largest saving first; arrows, +, - and * open and close folders as in any tree,
// a header click orders every folder's subfolders by that column, the Share column draws a
// bar of each folder's part of its parent's saving, Enter opens properties and Ctrl+C copies
// the real path. The Path column takes the width the other columns leave, as the list's does.

#include <QPoint>
#include <QTreeView>

namespace orbelan {

class FolderTreeModel;

class FolderTreeView : public QTreeView {
  Q_OBJECT
 public:
  FolderTreeView(FolderTreeModel* model, QWidget* parent = nullptr);

  FolderTreeModel* TreeModel() const { return model_; }
  // After new totals: the start folder current, selected and open one level.
  void OpenOnStart();
  // Opens the folders below folder level by level, nearest first, as long as the view then
  // holds at most kMostRowsOpened rows more ("*" does this). A view of every folder of a
  // large tree would make the view's own lookups (End, a sort) take seconds: it finds a
  // row's place by a search along all its rows.
  void ExpandBelow(const QModelIndex& folder);
  static constexpr int kMostRowsOpened = 8000;

 signals:
  void propertiesRequested();
  void copyRequested();
  void contextMenuRequested(const QPoint& viewportPos);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitPathColumn();

  FolderTreeModel* model_;
};

}  // namespace orbelan
