#pragma once
// How the results list behaves as a desktop list: number columns as wide as their widest
// text, the Path column elided in the middle and widened with the window, its real path as
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
  // startViewWidth: the list's width when the window has its starting size; whatever the
  // window is wider than that goes to the Path column.
  ResultsViewBehaviour(QTreeView* view, ResultsModel* model, int startViewWidth, QObject* parent);

  // After every fill: each number column at least as wide as its widest text, never
  // narrower than its layout width nor than the width the user last gave it.
  void FitNumberColumns();
  void FitColumn(int column);
  // After a scan: the list takes the keyboard focus with its first row current and selected.
  void FocusFirstRow();
  // The Path column's width without the window's extra width, and the widths the user gave
  // the other columns (0: none): what the window keeps between runs.
  int PathBaseWidth() const { return pathBase_; }
  void SetPathBaseWidth(int width);
  int PreferredWidth(int column) const;
  void SetPreferredWidth(int column, int width);

  // The widest text of a column in the view's font, in pixels, margins included.
  int NeededWidth(int column) const;

 signals:
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
  int Extra() const;

  QTreeView* view_;
  ResultsModel* model_;
  int startViewWidth_;
  int pathBase_;
  std::array<int, kColumnCount> preferred_{};
  std::optional<std::vector<int>> candidates_;  // CandidateRows() of the current fill
  bool adjusting_ = false;  // our own resizes are not the user's
  bool pathChosen_ = false;  // the user gave the Path column a width of their own
};

// Puts the folder's real path on the clipboard as text.
void CopyPathToClipboard(const std::string& path);

}  // namespace orbelan
