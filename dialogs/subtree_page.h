#pragma once
// The properties dialog's "Subtree" page: the figures of the folder with everything below
// it, laid out as the "Properties" page lays out the folder's own, with the number of
// folders and the subtree's saving.

#include <QWidget>
#include <string>

#include "dialogs/figure_labels.h"

class QLabel;

namespace orbelan {

struct SavingSum;
struct SubtreeFigures;

// "Zipping it all would free about 1,234 bytes (1,000 to 1,500)", with how many folders are
// not estimated yet when some are not; "Not estimated yet" while none is.
std::string SubtreeSavingSentence(const SavingSum* sum);

class SubtreePage : public QWidget {
  Q_OBJECT
 public:
  explicit SubtreePage(QWidget* parent = nullptr);
  // today: the local day number for the age. The saving line is hidden when savingShown is
  // false (the estimate is turned off).
  void Fill(const SubtreeFigures& figures, double today);
  void SetSaving(const SavingSum* sum, bool savingShown);

 private:
  QLabel* labFolders = nullptr;
  FigureLabels figures_;  // the subtree's figures
  QLabel* labSaving = nullptr;
};

}  // namespace orbelan
