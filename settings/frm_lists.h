#pragma once
#include <QDialog>

namespace orbelan {

struct Settings;

// "Orbelan Settings": edits a copy of the four lists and the minimum size in its controls;
// OK writes the copy back into the settings in memory (never the file), Cancel drops it.
// Modeless. Controls carry their design names as objectName (tab1, lstZips, butAddZip, ...).
class TfrmLists : public QDialog {
  Q_OBJECT
 public:
  TfrmLists(Settings& settings, QWidget* parent = nullptr);
  // butListsClick / mnuPrefs: shows the dialog without making it modal; when it is
  // already open only brings it to the front (no refill).
  void ShowSettings();
};

}  // namespace orbelan
