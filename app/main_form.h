#pragma once
// The main window: the run state (settings, last path, sort column, busy state), the entry
// points that start a scan, the handlers of its controls and menus, and closing. What it
// shows is made by its parts: the panels and menus (main_panels, main_menus), the scan with
// its list and estimate (scan_control) and the commands on the selected row
// (folder_commands).

#include <QMainWindow>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "app/main_menus.h"
#include "app/main_panels.h"
#include "settings/settings.h"
#include "scan/folder_list.h"
#include "survey/saving_table.h"

namespace orbelan {

class FolderCommands;
class FolderZipCommand;
class GuiSavingEstimator;
class GuiScanObserver;
class ResultsModel;
class ResultsViewBehaviour;
class ScanControl;
class SplashTimer;
class SubtreeViews;
class TfrmAbout;
class TfrmFav;
class TfrmLists;
class TfrmProp;
class TfrmSplash;
struct FolderRec;
struct ResultRow;
struct SavingEstimate;

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
  bool CancelRequested() const;
  const FolderList& Folders() const;
  FolderList& FoldersForTests();  // to fill a list without a disk

  // Starts the whole scan of one folder; the path bytes are scanned and remembered
  // unchanged, and the banner shows them decoded. The scan runs in the background: the
  // window is busy until it ends.
  void ScanPath(const std::string& path);
  // Builds the rows from the folder list and sets the gauge; changes nothing when empty.
  void FillList();

  // The selected row of LView1 and its record, or nullptr without a selection.
  const ResultRow* SelectedRow() const;
  const FolderRec* SelectedRecord() const;

  // The estimated savings of the listed folders, written on this window's thread as they
  // arrive and emptied when a new scan starts. A folder without an entry is not estimated
  // (yet); with the estimate turned off the table stays empty.
  const SavingTable& Savings() const;
  const SavingEstimate* SavingOf(const FolderRec& rec) const;
  GuiSavingEstimator& SavingEstimatorForTests();

  ResultsModel* Model() const { return panels_.model; }
  ResultsViewBehaviour* ListBehaviour() const { return panels_.listBehaviour; }
  SubtreeViews* Subtrees() const { return panels_.subtree; }  // the tree, subtree rows, the filter
  GuiScanObserver& ScanObserverForTests();
  FolderZipCommand* ZipCommandForTests() const;
  TfrmLists* frmLists() const { return frmLists_; }
  TfrmProp* frmProp() const { return frmProp_; }
  TfrmSplash* frmSplash() const { return frmSplash_; }
  TfrmAbout* frmAbout() const { return frmAbout_; }
  TfrmFav* frmFav() const { return frmFav_; }

  // For the window's parts.
  // The hourglass on the window while a scan, a list fill or a zip runs.
  void SetBusy(bool busy);
  // Closed while a scan or a zip ran: the settings are saved, the window closes when it ends.
  bool ClosingAfterWork() const { return quitDuringScan_; }
  // A scan or a rescan has ended and its results are shown.
  void ScanEnded();
  void PlaceStatusText();
  void ShowSavingInProperties();
  void ForgetPropertiesRecord();
  void ShowSortColumn();  // View > Sort by checks the list's order

  // The window's outer size at 96 dpi, and the frame the client size is derived with.
  static constexpr int kOuterWidth = 597, kOuterHeight = 278, kOuterMinWidth = 330;
  static constexpr int kFrameWidth = 8, kFrameHeight = 27;  // 4-pixel borders, 19-pixel caption
  static constexpr int kFontPixels = 11;  // MS Sans Serif 8 point
  static constexpr int kListMargin = 2;   // the list sits inside panMain's one-pixel bevels

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
  void mnuZipSubtreeClick();
  void mnuUndoZipClick();
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
  void ConnectControls();
  void CreateSecondaryWindows();
  void form_resize();
  // The window's minimum width: room for every number column beside a usable Path column.
  void KeepColumnsInView();
  void FormKeyPress(int key);
  void LView1MouseDown(const QPoint& viewportPos);
  // The list's figures or filter changed, or the view switched.
  void SubtreeListChanged();
  // OK in Preferences: a new minimum size re-lists the rows; changed lists offer a rescan.
  void PreferencesAccepted();

  MainPanels panels_;
  MainMenus menus_;
  std::unique_ptr<ScanControl> scan_;
  std::unique_ptr<FolderCommands> commands_;
  bool busy_ = false;
  bool quitDuringScan_ = false;  // closed while a scan ran; settings already saved
  bool closeSaved_ = false;      // the close that follows such a scan needs no second save

  SplashTimer* Timer1 = nullptr;  // shows the splash after start, then hides it
  TfrmLists* frmLists_ = nullptr;
  TfrmProp* frmProp_ = nullptr;
  TfrmSplash* frmSplash_ = nullptr;
  TfrmAbout* frmAbout_ = nullptr;
  TfrmFav* frmFav_ = nullptr;
};

}  // namespace orbelan
