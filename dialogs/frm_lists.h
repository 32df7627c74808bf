#pragma once
#include <QDialog>
#include <QString>
#include <optional>
#include <string>

class QCheckBox;
class QListWidget;
class QPushButton;
class QTabWidget;
class QShowEvent;

namespace orbelan {

struct EntryList;
struct Settings;
class SizeSpinBox;

// "Preferences": edits a copy of the four lists, the minimum size and whether savings
// are estimated in its controls;
// OK writes the copy back into the settings in memory (never the file), Cancel drops it.
// Modeless. Controls carry their design names as objectName (tab1, lstZips, butAddZip, ...).
class TfrmLists : public QDialog {
  Q_OBJECT
 public:
  // What the last OK changed, so that the window can apply it: a new minimum size re-lists
  // the rows from the records; new archive or ignore lists count differently and need a scan.
  struct Changes {
    bool minSize = false;
    bool scanLists = false;
  };
  Changes LastChanges() const { return changes_; }

  TfrmLists(Settings& settings, QWidget* parent = nullptr);
  // butListsClick / mnuPrefs: shows the dialog without making it modal; when it is
  // already open only brings it to the front (no refill).
  void ShowSettings();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private slots:
  void butAddZipClick();
  void butAddPathsClick();
  void butAddFilesClick();
  void butAddClick();
  void butBrowsePathsClick();
  void butEditZipsClick();
  void butEditPathsClick();
  void butEditFilesClick();
  void butEditClick();
  void butDelZipClick();
  void butDelPathsClick();
  void butDelFilesClick();
  void butDelClick();
  void butOKClick();
  void butCancelClick();

 private:
  // Widens the dialog when the style's tabs need more than its classic width.
  void FitTabs();
  // Fills every control from the settings; runs on every showing.
  void frmLists_show();

  enum class Normalise { DotInFront, LowerCase };
  void AddTyped(QListWidget* list, const QString& caption, const QString& prompt,
                Normalise rule);
  // lowerCase: the extension pages, whose entries are compared in lower case.
  void EditSelected(QListWidget* list, const QString& caption, const QString& prompt,
                    bool lowerCase = false);
  // Removes the selected entry; false when nothing is selected.
  bool DeleteSelected(QListWidget* list);
  // Shows why an entry cannot be kept; false when it can.
  bool RefuseEntry(const std::string& bytes);
  // A folder path as typed, ending in "/"; when it names no folder, only if the user says
  // so. Nothing for an empty entry (it would match no folder) or one holding a line break.
  std::optional<std::string> FolderEntry(std::string entry, const QString& caption);
  // The minimum size typed, or a message and nullopt when it is not a whole number in range.
  std::optional<int> TypedMinSize();
  // Whether every list fits into the settings; otherwise tells the user which does not.
  bool ListsFit();
  static void CopyBack(const QListWidget* list, EntryList& entries);

  Settings& settings_;
  Changes changes_;
  QString lastPicked_;  // folder of the last Favorites pick; the next pick starts there
  QString lastIgnored_;  // likewise for the paths to ignore
  QTabWidget* tab1_ = nullptr;
  QListWidget* lstZips_ = nullptr;
  QListWidget* lstPaths_ = nullptr;
  QListWidget* lstFiles_ = nullptr;
  QListWidget* lstFav_ = nullptr;
  SizeSpinBox* spinSize_ = nullptr;
  QCheckBox* chkEstimate_ = nullptr;
  QPushButton* butOK_ = nullptr;
  QPushButton* butCancel_ = nullptr;
};

}  // namespace orbelan
