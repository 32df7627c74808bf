#pragma once
// The commands on the selected row of the main window's list (Folder menu and context
// menu): explore, properties, copy path, ignore, add to favourites, the hidden recycle
// commands, and Zip folder with what follows it.

#include <QByteArray>
#include <QObject>

namespace orbelan {

class FolderZipCommand;
class ScanControl;
class TForm1;
struct FolderRec;
struct MainPanels;

class FolderCommands : public QObject {
  Q_OBJECT
 public:
  FolderCommands(TForm1& form, MainPanels& panels, ScanControl& scan);

  const FolderRec* SelectedRecord() const;

  void Explore();
  void Properties();
  void CopyPath();
  void IgnorePath();
  void AddFavor();
  void Recycle();
  void RecycleDir();
  void Zip();
  // Zip subtree: the selected folder with the recorded folders below it, into one archive.
  void ZipSubtree();
  void UndoZip();
  // Esc, or the window closing (quiet: no question) while a zip runs.
  void CancelZip(bool quiet = false);

  // The properties dialog's saving line for the folder it shows, as the estimate stands.
  void ShowSavingInProperties();
  // A new scan frees the records: the dialog keeps its text but follows no record.
  void ForgetPropertiesRecord() { propRec_ = nullptr; }

  FolderZipCommand* Zipper() const { return zip_; }

 private:
  void ZipFinished(const QByteArray& folderPath, bool changed);
  void SelectRow(const FolderRec* rec);

  TForm1& form_;
  MainPanels& panels_;
  ScanControl& scan_;
  FolderZipCommand* zip_ = nullptr;     // zips the selected folder on a worker thread
  const FolderRec* propRec_ = nullptr;  // the folder the properties dialog was filled with
};

}  // namespace orbelan
