#pragma once
#include <QDialog>

namespace orbelan {

struct FolderRec;

// "Folder Info": every figure of one scanned folder. Non-modal; a snapshot of the record
// taken by FillFolderInfo (no reference is kept). Controls carry their design names as
// objectName (labPath, labNFiles, ..., butOK, butExplore).
class TfrmProp : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmProp(QWidget* parent = nullptr);
  void FillFolderInfo(const FolderRec& rec);
};

}  // namespace orbelan
