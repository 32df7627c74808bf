#pragma once
#include <QDialog>
#include <optional>
#include <string>

class QListWidget;

namespace orbelan {

struct Settings;

// "Scan Favorite Folder": the favourites chooser. Modal, run through interaction().ExecModal.
class TfrmFav : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmFav(QWidget* parent = nullptr);
  // Refills the list from Favorites, runs the chooser and returns the chosen folder exactly
  // as stored when it closed with OK (butScanClick); nullopt on Cancel or the close box.
  std::optional<std::string> Choose(const Settings& settings);

 private slots:
  void butScanClick();

 private:
  QListWidget* list1_ = nullptr;
  std::string chosen_;  // the folder last confirmed with Scan, kept for the whole run
};

}  // namespace orbelan
