#include "app/main_menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "app/main_form.h"
#include "app/sort_menu.h"
#include "app/subtree_views.h"

namespace orbelan {
namespace {

QAction* MakeAction(QMenu* menu, const char* name, const char* caption,
                    const QKeySequence& shortcut = {}) {
  auto* action = menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(QLatin1String(name));
  action->setShortcut(shortcut);
  return action;
}

void AddSeparator(QMenu* menu, const char* name) {
  menu->addSeparator()->setObjectName(QLatin1String(name));
}

}  // namespace

void MainMenus::Build(TForm1& form) {
  TForm1* f = &form;
  QMenuBar* bar = form.menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  QMenu* mFile = bar->addMenu(QStringLiteral("&File"));
  mFile->setObjectName(QStringLiteral("mFile"));
  QObject::connect(MakeAction(mFile, "mnuScan", "&Scan files", QKeySequence(Qt::CTRL | Qt::Key_S)),
                   &QAction::triggered, f, &TForm1::labPath_Click);
  QObject::connect(
      MakeAction(mFile, "mnuScanFav", "Scan &favorite folder", QKeySequence(Qt::CTRL | Qt::Key_F)),
      &QAction::triggered, f, &TForm1::mnuScanFavClick);
  AddSeparator(mFile, "N4");
  QObject::connect(MakeAction(mFile, "mnuPrefs", "&Preferences", QKeySequence(Qt::CTRL | Qt::Key_P)),
                   &QAction::triggered, f, &TForm1::butListsClick);
  AddSeparator(mFile, "N3");
  QObject::connect(MakeAction(mFile, "mnuQuit", "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q)),
                   &QAction::triggered, f, &QWidget::close);

  mFolder = bar->addMenu(QStringLiteral("F&older"));
  mFolder->setObjectName(QStringLiteral("mFolder"));
  QObject::connect(mFolder, &QMenu::aboutToShow, f, &TForm1::mFolderClick);
  mnuFExplore = MakeAction(mFolder, "mnuFExplore", "e&xplore", QKeySequence(Qt::CTRL | Qt::Key_E));
  QObject::connect(mnuFExplore, &QAction::triggered, f, &TForm1::mnuExploreClick);
  // No shortcut: Ctrl+Z is everyone's undo, and this command puts files in the trash.
  mnuFZipAll = MakeAction(mFolder, "mnuFZipAll", "&Zip folder…", QKeySequence());
  QObject::connect(mnuFZipAll, &QAction::triggered, f, &TForm1::mnuZipClick);
  mnuFZipSubtree = MakeAction(mFolder, "mnuFZipSubtree", "Zip &subtree…", QKeySequence());
  QObject::connect(mnuFZipSubtree, &QAction::triggered, f, &TForm1::mnuZipSubtreeClick);
  mnuFUndoZip = MakeAction(mFolder, "mnuFUndoZip", "&Undo zip…", QKeySequence());
  QObject::connect(mnuFUndoZip, &QAction::triggered, f, &TForm1::mnuUndoZipClick);
  mnuFIgnore = MakeAction(mFolder, "mnuFIgnore", "&ignore this path", QKeySequence(Qt::CTRL | Qt::Key_I));
  QObject::connect(mnuFIgnore, &QAction::triggered, f, &TForm1::mnuIgnorePathClick);
  mnuFAddFavor =
      MakeAction(mFolder, "mnuFAddFavor", "add to &favorites", QKeySequence(Qt::CTRL | Qt::Key_A));
  QObject::connect(mnuFAddFavor, &QAction::triggered, f, &TForm1::mnuAddFavorClick);
  AddSeparator(mFolder, "N2");
  mnuFProp = MakeAction(mFolder, "mnuFProp", "&properties", QKeySequence(Qt::Key_F4));
  QObject::connect(mnuFProp, &QAction::triggered, f, &TForm1::mnuPropertiesClick);
  mnuFRefresh = MakeAction(mFolder, "mnuFRefresh", "re&fresh list", QKeySequence(Qt::Key_F5));
  QObject::connect(mnuFRefresh, &QAction::triggered, f, &TForm1::mnuRefreshClick);
  mnuFRescan = MakeAction(mFolder, "mnuFRescan", "&Rescan this folder", QKeySequence(Qt::SHIFT | Qt::Key_F5));
  QObject::connect(mnuFRescan, &QAction::triggered, f, &TForm1::mnuRescanFolderClick);

  QMenu* mView = bar->addMenu(QStringLiteral("&View"));
  mView->setObjectName(QStringLiteral("mView"));
  sortMenu = new SortMenu(mView->addMenu(QStringLiteral("&Sort by")), f);
  QObject::connect(sortMenu, &SortMenu::sortRequested, f, &TForm1::SortBy);
  sortMenu->ShowSortColumn(form.SortColumn);
  mView->addSeparator();
  mnuReadable = MakeAction(mView, "mnuReadable", "&Readable sizes and ages");
  mnuReadable->setCheckable(true);
  mnuReadable->setChecked(form.settings.ReadableFigures);
  QObject::connect(mnuReadable, &QAction::toggled, f, &TForm1::SetReadableFigures);
  form.Subtrees()->AddViewActions(mView);

  QMenu* mHelp = bar->addMenu(QStringLiteral("&Help"));
  mHelp->setObjectName(QStringLiteral("mHelp"));
  QObject::connect(MakeAction(mHelp, "mnuHelp", "&Help contents", QKeySequence(Qt::Key_F1)),
                   &QAction::triggered, f, &TForm1::butHelpClick);
  QObject::connect(MakeAction(mHelp, "mnuWebOrbelan", "&Orbelan on the web"), &QAction::triggered, f,
                   &TForm1::mnuWebOrbelanClick);
  QObject::connect(MakeAction(mHelp, "mnuWebKEL", "Kel Systems on the web"), &QAction::triggered, f,
                   &TForm1::mnuWebKELClick);
  QObject::connect(MakeAction(mHelp, "mnuAbout", "&About"), &QAction::triggered, f,
                   &TForm1::mnuAboutClick);

  PopupMenu1 = new QMenu(f);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  QObject::connect(MakeAction(PopupMenu1, "mnuExplore", "e&xplore"), &QAction::triggered, f,
                   &TForm1::mnuExploreClick);
  // Ctrl+C in the list is the list's own key (see ResultsViewBehaviour); the menu shows it.
  QAction* mnuCopyPath =
      MakeAction(PopupMenu1, "mnuCopyPath", "&Copy path", QKeySequence(QKeySequence::Copy));
  mnuCopyPath->setShortcutContext(Qt::WidgetShortcut);
  QObject::connect(mnuCopyPath, &QAction::triggered, f, &TForm1::mnuCopyPathClick);
  QAction* mnuRecycle = MakeAction(PopupMenu1, "mnuRecycle", "&recycle files");
  QObject::connect(mnuRecycle, &QAction::triggered, f, &TForm1::mnuRecycleClick);
  mnuRecycle->setVisible(false);
  QAction* mnuRecycleDir = MakeAction(PopupMenu1, "mnuRecycleDir", "recycle &directory");
  QObject::connect(mnuRecycleDir, &QAction::triggered, f, &TForm1::mnuRecycleDirClick);
  mnuRecycleDir->setVisible(false);
  QObject::connect(MakeAction(PopupMenu1, "mnuZip", "&Zip folder…"), &QAction::triggered, f,
                   &TForm1::mnuZipClick);
  QObject::connect(MakeAction(PopupMenu1, "mnuZipSubtree", "Zip &subtree…"), &QAction::triggered, f,
                   &TForm1::mnuZipSubtreeClick);
  QObject::connect(MakeAction(PopupMenu1, "mnuUndoZip", "&Undo zip…"), &QAction::triggered, f,
                   &TForm1::mnuUndoZipClick);
  QObject::connect(MakeAction(PopupMenu1, "mnuIgnorePath", "&ignore this path"), &QAction::triggered, f,
                   &TForm1::mnuIgnorePathClick);
  QObject::connect(MakeAction(PopupMenu1, "mnuAddFavor", "add to &favorites"), &QAction::triggered, f,
                   &TForm1::mnuAddFavorClick);
  AddSeparator(PopupMenu1, "N1");
  QObject::connect(MakeAction(PopupMenu1, "mnuProperties", "&properties"), &QAction::triggered, f,
                   &TForm1::mnuPropertiesClick);
  QObject::connect(MakeAction(PopupMenu1, "mnuRefresh", "re&fresh list "), &QAction::triggered, f,
                   &TForm1::mnuRefreshClick);
  QObject::connect(MakeAction(PopupMenu1, "mnuRescan", "&Rescan this folder"), &QAction::triggered, f,
                   &TForm1::mnuRescanFolderClick);
}

void MainMenus::EnableFolderCommands(bool selected) {
  for (QAction* item : {mnuFExplore, mnuFZipAll, mnuFZipSubtree, mnuFUndoZip, mnuFIgnore, mnuFAddFavor, mnuFProp, mnuFRefresh, mnuFRescan})
    item->setEnabled(selected);
}

}  // namespace orbelan
