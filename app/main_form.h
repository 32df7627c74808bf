#pragma once
// The main window: path banner, results list, status panel with its tool buttons, the
// menus, and the whole scan as the user lives it (choose, scan with progress and cancel,
// fill and sort the list).

#include <QMainWindow>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "settings/settings.h"
#include "survey/folder_list.h"
#include "survey/saving_table.h"
#include "survey/scanner.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QToolButton;
class QTreeView;

namespace orbelan {

class BevelPanel;
class ClickLabel;
class FolderZipCommand;
class GuiSavingEstimator;
class GuiScanObserver;
class PercentGauge;
class ResultsModel;
class ResultsViewBehaviour;
class SubtreeViews;
class SortMenu;
class SplashTimer;
class TfrmAbout;
class TfrmFav;
class TfrmLists;
class TfrmProp;
class TfrmSplash;
struct FolderRec;
struct ResultRow;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  struct Options {
    // When set, the settings are read from and written to this file instead of the one
    // next to the program (tests keep away from the user's settings this way).
    std::optional<std::string> settingsFile;
    // The splash is shown half a second after start; tests leave it off.
    bool startSplashTimer = true;
    // Threads that count files during a scan; 0 for one per core.
    int scanThreads = 0;
  };

  TForm1();
  explicit TForm1(const Options& options);
  ~TForm1() override;

  // Run state.
  Settings settings;
  std::string CurrentPath;  // the path bytes of the last scan, which need not be UTF-8
  int SortColumn = 1;
  bool IsBusy() const { return busy_; }
  bool CancelRequested() const { return scanner_->CancelRequested; }
  const FolderList& Folders() const { return folders_; }
  FolderList& FoldersForTests() { return folders_; }  // to fill a list without a disk

  // The whole scan of one folder; the path bytes are scanned and remembered unchanged, and
  // the banner shows them decoded.
  void ScanPath(const std::string& path);
  // Builds the rows from the folder list and sets the gauge; changes nothing when empty.
  void FillList();

  // The selected row of LView1 and its record, or nullptr without a selection.
  const ResultRow* SelectedRow() const;
  const FolderRec* SelectedRecord() const;

  // The estimated savings of the listed folders, written on this window's thread as they
  // arrive and emptied when a new scan starts. A folder without an entry is not estimated
  // (yet); with the estimate turned off the table stays empty.
  const SavingTable& Savings() const { return savings_; }
  const SavingEstimate* SavingOf(const FolderRec& rec) const { return savings_.Find(rec); }
  GuiSavingEstimator& SavingEstimatorForTests() { return *estimator_; }

  ResultsModel* Model() const { return model_; }
  ResultsViewBehaviour* ListBehaviour() const { return listBehaviour_; }
  SubtreeViews* Subtrees() const { return subtree_; }  // the tree, subtree rows, the filter
  GuiScanObserver& ScanObserverForTests() { return *observer_; }
  FolderZipCommand* ZipCommandForTests() const { return zip_; }
  TfrmLists* frmLists() const { return frmLists_; }
  TfrmProp* frmProp() const { return frmProp_; }
  TfrmSplash* frmSplash() const { return frmSplash_; }
  TfrmAbout* frmAbout() const { return frmAbout_; }
  TfrmFav* frmFav() const { return frmFav_; }

  // The window's outer size at 96 dpi, and the frame the client size is derived with.
  static constexpr int kOuterWidth = 597, kOuterHeight = 278, kOuterMinWidth = 330;
  static constexpr int kFrameWidth = 8, kFrameHeight = 27;  // 4-pixel borders, 19-pixel caption
  static constexpr int kFontPixels = 11;  // MS Sans Serif 8 point

 public slots:
  void labPath_Click();
  void mnuRefreshClick();
  void mnuScanFavClick();
  void butListsClick();
  void butHelpClick();
  void mnuWebOrbelanClick();
  void mnuWebKELClick();
  void mnuAboutClick();
  void mnuExploreClick();
  void mnuPropertiesClick();
  void mnuCopyPathClick();
  void mnuIgnorePathClick();
  void mnuAddFavorClick();
  void mnuRecycleClick();
  void mnuRecycleDirClick();
  void mnuZipClick();
  void mnuRescanFolderClick();
  void mFolderClick();
  void Lview1_colclick(int section);
  // View > Sort by: the list in the given order (SortColumn's form), as a header click would.
  void SortBy(int sortColumn);
  // View > Readable sizes and ages.
  void SetReadableFigures(bool readable);
  void panMainClick();

 protected:
  void closeEvent(QCloseEvent* event) override;  // form_close
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void form_create(const Options& options);
  void BuildPanels();
  void BuildMenus();
  void CreateSecondaryWindows();
  void form_resize();
  void panTop_resize();
  void panBot_resize();
  void panMain_resize();
  void FormKeyPress(int key);
  void LView1MouseDown(const QPoint& viewportPos);
  void SetBusy(bool busy);
  void ZipFinished(const QByteArray& folderPath, bool changed);
  // The background estimate of the listed folders' savings (when the setting is on).
  void EstimateListedSavings();
  void StopSavingEstimate();
  void SavingEstimateProgress();
  // Where the status text goes: above the progress bar for a scan or a zip; for the
  // estimate's longer line, after the buttons and ending before "% Zipped:".
  void PlaceStatusText();
  void SavingEstimateSettingChanged();
  // OK in Preferences: a new minimum size re-lists the rows; changed lists offer a rescan.
  void PreferencesAccepted();
  void ShowSavingInProperties();
  void SubtreeListChanged();

  FolderList folders_;
  // The lists a scan runs with, copied from the settings at its start: the settings dialog
  // stays usable during a scan, and what it confirms then applies from the next scan on.
  ScanRules scanRules_;  // the rules of the last scan, which its estimate keeps to
  std::unique_ptr<GuiScanObserver> observer_;
  std::unique_ptr<Scanner> scanner_;
  Scanner* rescanner_ = nullptr;  // the scan of one folder's subtree while it runs
  int scanThreads_ = 1;
  FolderZipCommand* zip_ = nullptr;  // zips the selected folder on a worker thread
  bool busy_ = false;
  QString estimateStatus_;  // "Estimating savings: N of M folders", before any eliding
  bool quitDuringScan_ = false;  // closed while a scan ran; settings already saved
  bool closeSaved_ = false;      // the close that follows such a scan needs no second save

  SavingTable savings_;
  std::unique_ptr<GuiSavingEstimator> estimator_;
  bool estimating_ = false;           // the setting as the window last applied it
  bool estimateCancelled_ = false;    // Esc stopped it: no restart until the next scan
  const FolderRec* propRec_ = nullptr;  // the folder the properties dialog was filled with

  // panTop
  BevelPanel* panTop = nullptr;
  ClickLabel* labPath = nullptr;
  // panMain
  BevelPanel* panMain = nullptr;
  QTreeView* LView1 = nullptr;
  ResultsModel* model_ = nullptr;
  ResultsViewBehaviour* listBehaviour_ = nullptr;
  SubtreeViews* subtree_ = nullptr;
  // panBot
  BevelPanel* panBot = nullptr;
  QLabel* labMsg = nullptr;
  QLabel* labPct = nullptr;
  PercentGauge* Gauge1 = nullptr;
  QToolButton* butExit = nullptr;
  QToolButton* butLists = nullptr;
  QToolButton* butHelp = nullptr;
  QProgressBar* ProgressBar1 = nullptr;

  SplashTimer* Timer1 = nullptr;  // shows the splash after start, then hides it
  QMenu* PopupMenu1 = nullptr;
  QMenu* mFolder = nullptr;
  SortMenu* sortMenu_ = nullptr;
  QAction* mnuReadable = nullptr;
  QAction* mnuFExplore = nullptr;
  QAction* mnuFZipAll = nullptr;
  QAction* mnuFIgnore = nullptr;
  QAction* mnuFAddFavor = nullptr;
  QAction* mnuFProp = nullptr;
  QAction* mnuFRefresh = nullptr;
  QAction* mnuFRescan = nullptr;

  TfrmLists* frmLists_ = nullptr;
  TfrmProp* frmProp_ = nullptr;
  TfrmSplash* frmSplash_ = nullptr;
  TfrmAbout* frmAbout_ = nullptr;
  TfrmFav* frmFav_ = nullptr;
};

}  // namespace orbelan
