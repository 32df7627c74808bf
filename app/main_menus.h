#pragma once
// The main window's menu bar (File, Folder, Help) and the list's context menu, each item
// connected to the window's handler for it.

class QAction;
class QMenu;

namespace orbelan {

class SortMenu;
class TForm1;

struct MainMenus {
  void Build(TForm1& form);
  // The Folder menu's commands act on the selected row: enabled only with one.
  void EnableFolderCommands(bool selected);

  QMenu* PopupMenu1 = nullptr;
  QMenu* mFolder = nullptr;
  SortMenu* sortMenu = nullptr;
  QAction* mnuReadable = nullptr;
  QAction* mnuFExplore = nullptr;
  QAction* mnuFZipAll = nullptr;
  QAction* mnuFZipSubtree = nullptr;
  QAction* mnuFUndoZip = nullptr;
  QAction* mnuFIgnore = nullptr;
  QAction* mnuFAddFavor = nullptr;
  QAction* mnuFProp = nullptr;
  QAction* mnuFRefresh = nullptr;
  QAction* mnuFRescan = nullptr;
};

}  // namespace orbelan
