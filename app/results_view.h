#pragma once
// How the results list behaves as a desktop list: number columns as wide as their widest
// text, the Path column elided in the middle taking what they leave (so Saving is always
// in view without sideways scrolling), its real path as
// tooltip and on the clipboard, and the keyboard (Enter opens properties, Shift+F10 the
// context menu, the first row current after a scan).

#include <QObject>
#include <QPoint>
#include <array>
#include <optional>
#include <vector>

#include "survey/results.h"

class QTreeView;

namespace orbelan {

class ResultsModel;

class ResultsViewBehaviour : public QObject {
  Q_OBJECT
 public:
  ResultsViewBehaviour(QTreeView* view, ResultsModel* model, QObject* parent);

  // After every fill: each number column at least as wide as its widest text, never
  // narrower than its layout width nor than the width the user last gave it.
  void FitNumberColumns();
  void FitColumn(int column);
  // After a scan: the list takes the keyboard focus with its first row current and selected.
  void FocusFirstRow();
  // The Path column's width now, and the widths the user gave the other columns (0: none):
  // what the window keeps between runs. The Path column itself always takes what the others
  // leave, so it is not the user's to size.
  int PathWidth() const;
  int PreferredWidth(int column) const;
  void SetPreferredWidth(int column, int width);

  // The widest text of a column in the view's font, in pixels, margins included.
  int NeededWidth(int column) const;
  // The least width a column is ever given: its layout width, and never less than its
  // header caption with the sort arrow needs (a stored or dragged width of 0 hides nothing).
  int MinimumWidth(int column) const;
  // The view's width that shows every number column as it is now beside a Path column of
  // pathWidth, frame and vertical scroll bar included.
  int RequiredViewWidth(int pathWidth) const;
  // The Path column's least width: the others come first, the path is elided.
  static constexpr int kMinPathWidth = 120;

 signals:
  // The number columns' widths changed: RequiredViewWidth() may have changed with them.
  void requiredWidthChanged();
  void propertiesRequested();
  void copyRequested();
  void contextMenuRequested(const QPoint& viewportPos);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Rows that hold the extremes of the figures the number columns show.
  std::vector<int> CandidateRows() const;
  // CandidateRows() of the current fill, found once after each model reset.
  const std::vector<int>& Candidates();
  int NeededWidth(int column, const std::vector<int>& candidates) const;
  void SetSection(int column, int width);
  void ApplyPathWidth();

  QTreeView* view_;
  ResultsModel* model_;
  std::array<int, kColumnCount> preferred_{};
  std::optional<std::vector<int>> candidates_;  // CandidateRows() of the current fill
  bool adjusting_ = false;  // our own resizes are not the user's
};

// Puts the folder's real path on the clipboard as text.
void CopyPathToClipboard(const std::string& path);

}  // namespace orbelan
