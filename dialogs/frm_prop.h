#pragma once
#include <QDialog>
#include <string>

#include "dialogs/figure_labels.h"

class QFrame;
class QLabel;
class QPushButton;
class QShowEvent;
class QTabWidget;

namespace orbelan {

struct FolderRec;
class BevelPanel;
class SubtreePage;

// "Folder Info": every figure of one scanned folder. Non-modal; a snapshot of the record
// taken by FillFolderInfo (no reference is kept). Controls carry their design names as
// objectName (labPath, labNFiles, ..., butOK, butExplore).
class TfrmProp : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmProp(QWidget* parent = nullptr);
  // Sets the ten texts from rec; does not show the dialog.
  void FillFolderInfo(const FolderRec& rec);
  // The line under the priority with the folder's estimated saving; an empty text hides it
  // (the estimate is turned off). FillFolderInfo leaves it as it was.
  void SetSavingText(const QString& text);
  // The "Subtree" page: the folder with everything below it (filled by the caller).
  SubtreePage* Subtree() const { return subtreePage_; }

 public slots:
  void butOKClick();       // hides the dialog; it stays for the next use
  void butExploreClick();  // opens the shown folder; the dialog stays open

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Makes the dialog tall enough for the saving line under the page's tabs, whose height
  // depends on the style; known only once the notebook is laid out.
  void FitSavingLine();
  void SetHeight(int height);

  BevelPanel* Panel1 = nullptr;
  QPushButton* butOK = nullptr;
  QPushButton* butExplore = nullptr;
  QTabWidget* TabbedNotebook1 = nullptr;
  QFrame* Bevel1 = nullptr;
  QLabel* labPath = nullptr;
  FigureLabels figures_;  // the folder's own figures
  QLabel* labSaving = nullptr;
  SubtreePage* subtreePage_ = nullptr;
  std::string path_;  // the record's path bytes, which Explore opens unchanged
};

}  // namespace orbelan
