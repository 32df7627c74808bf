#include "app/results_view.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTreeView>
#include <algorithm>
#include <limits>
#include <vector>

#include "scan/folder_figures.h"
#include "scan/folder_list.h"

#include "app/results_model.h"

namespace orbelan {

namespace {

// Room around a cell's text: the view's focus frame and item margins on both sides.
int CellMargin(const QTreeView* view) {
  const int frame = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view);
  return 2 * (frame + 1) + 6;
}

// A text with every digit made "0": digits share one width in interface faces, so the
// widest text is found by measuring a handful of shapes instead of every row.
QString Shape(QString text) {
  for (QChar& c : text)
    if (c.isDigit()) c = QLatin1Char('0');
  return text;
}

}  // namespace

ResultsViewBehaviour::ResultsViewBehaviour(QTreeView* view, ResultsModel* model, QObject* parent)
    : QObject(parent), view_(view), model_(model) {
  view->setTextElideMode(Qt::ElideMiddle);  // the folder's own name stays in view
  view->header()->setSectionResizeMode(0, QHeaderView::Fixed);  // it takes what is left
  view->installEventFilter(this);
  // The vertical scroll bar comes and goes with the rows after the widths were set: the
  // Path column gives way to it, or Saving would slip out of view behind a sideways scroll.
  // Its range says so before it shows (a signal, where an event filter on the bar would
  // also hear it hide while the view is being destroyed).
  connect(view->verticalScrollBar(), &QAbstractSlider::rangeChanged, this, [this] { ApplyPathWidth(); });
  connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) emit propertiesRequested();
  });
  // Every fill resets the model: the rows worth measuring are found again, once per fill
  // rather than on every estimate update.
  connect(model, &QAbstractItemModel::modelReset, this, [this] { candidates_.reset(); });
  // The Saving column fills in after the list, as the estimates arrive.
  connect(model, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& from, const QModelIndex& to) {
            const int column = ResultsModel::kSavingColumn;
            if (from.isValid() && from.column() <= column && to.column() >= column) FitColumn(column);
          });
  connect(view->header(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
    if (adjusting_ || column < 0 || column >= kColumnCount) return;
    // A width the user chose by dragging; no column goes below what its caption needs, and
    // the Path column gives way so that Saving stays in view.
    if (column == 0) return;
    preferred_[static_cast<std::size_t>(column)] = size > MinimumWidth(column) ? size : 0;
    if (size < MinimumWidth(column)) SetSection(column, MinimumWidth(column));
    ApplyPathWidth();
    emit requiredWidthChanged();
  });
}

void ResultsViewBehaviour::SetSection(int column, int width) {
  adjusting_ = true;
  view_->header()->resizeSection(column, column == 0 ? width : std::max(width, MinimumWidth(column)));
  adjusting_ = false;
}

void ResultsViewBehaviour::ApplyPathWidth() {
  // The Path column takes what the other columns leave, so that every column, Saving
  // included, is in view without scrolling sideways; its text is elided in the middle.
  int others = 0;
  for (int column = 1; column < kColumnCount; ++column) others += view_->header()->sectionSize(column);
  // From the view's own width: its viewport is resized only after this view's resize event.
  const QScrollBar* bar = view_->verticalScrollBar();
  const Qt::ScrollBarPolicy policy = view_->verticalScrollBarPolicy();
  const bool barShown = policy == Qt::ScrollBarAlwaysOn ||
                        (policy == Qt::ScrollBarAsNeeded && bar->maximum() > bar->minimum());
  const int barWidth = bar->isVisible() ? bar->width() : view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, bar);
  const int inside = view_->width() - 2 * view_->frameWidth() - (barShown ? barWidth : 0);
  const int fill = std::max(MinimumWidth(0), inside - others);
  SetSection(0, fill);
}

int ResultsViewBehaviour::MinimumWidth(int column) const {
  if (column < 0 || column >= kColumnCount) return 0;
  const int caption = view_->header()->sectionSizeHint(column);
  if (column == 0) return std::max(kMinPathWidth, caption);
  return std::max(ResultsModel::ColumnWidth(column), caption);
}

int ResultsViewBehaviour::RequiredViewWidth(int pathWidth) const {
  int width = std::max(pathWidth, MinimumWidth(0));
  for (int column = 1; column < kColumnCount; ++column) width += view_->header()->sectionSize(column);
  return width + 2 * view_->frameWidth() + view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view_);
}

int ResultsViewBehaviour::PathWidth() const { return view_->header()->sectionSize(0); }

int ResultsViewBehaviour::PreferredWidth(int column) const {
  return column > 0 && column < kColumnCount ? preferred_[static_cast<std::size_t>(column)] : 0;
}

void ResultsViewBehaviour::SetPreferredWidth(int column, int width) {
  if (column <= 0 || column >= kColumnCount) return;
  // A width no wider than the column's least is no choice of the user's.
  preferred_[static_cast<std::size_t>(column)] = width > MinimumWidth(column) ? width : 0;
  SetSection(column, std::max(MinimumWidth(column), width));
  ApplyPathWidth();
  emit requiredWidthChanged();
}

std::vector<int> ResultsViewBehaviour::CandidateRows() const {
  // Every number text grows with its number's magnitude, so the widest text of a column is
  // in a row holding an extreme of some figure: one pass over the records finds those rows
  // and only their texts are measured. The priority follows the unzipped size (a hundred
  // thousand bytes a point, give or take one), so the largest size also has the longest
  // priority.
  const std::vector<ResultRow>& rows = model_->Rows().Rows;
  if (rows.empty()) return {};
  struct Extreme {
    double value;
    int row;
  };
  constexpr double kNone = -std::numeric_limits<double>::infinity();
  std::array<Extreme, 5> highest;
  highest.fill({kNone, 0});
  auto keep = [&](std::size_t which, double value, int row) {
    if (value > highest[which].value) highest[which] = {value, row};
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const FolderRec* rec = rows[i].Rec;
    if (!rec) continue;
    const int row = static_cast<int>(i);
    keep(0, static_cast<double>(UnzippedBytes(*rec)), row);
    keep(1, static_cast<double>(rec->SzZips), row);
    keep(2, static_cast<double>(rec->SzFiles), row);
    if (rec->Recent > 0) {  // oldest and newest: the longest ages, past and future
      keep(3, rec->Recent, row);
      keep(4, -rec->Recent, row);
    }
  }
  std::vector<int> out;
  for (const Extreme& e : highest)
    if (e.value != kNone && std::find(out.begin(), out.end(), e.row) == out.end()) out.push_back(e.row);
  return out;
}

const std::vector<int>& ResultsViewBehaviour::Candidates() {
  if (!candidates_) candidates_ = CandidateRows();
  return *candidates_;
}

int ResultsViewBehaviour::NeededWidth(int column) const { return NeededWidth(column, CandidateRows()); }

int ResultsViewBehaviour::NeededWidth(int column, const std::vector<int>& candidates) const {
  const QFontMetrics metrics(view_->font());
  int widest = 0;
  for (const int row : candidates)
    widest = std::max(widest, metrics.horizontalAdvance(Shape(model_->data(model_->index(row, column)).toString())));
  // Texts that are not the largest number's: a whole percent, the words of the age column.
  if (column == 3) widest = std::max(widest, metrics.horizontalAdvance(QLatin1String("100%")));
  if (column == 4)
    for (const char* word : {"yesterday", "today"})
      widest = std::max(widest, metrics.horizontalAdvance(QLatin1String(word)));
  // Rounded figures do not grow with their numbers: the widest of their forms.
  if (model_->ReadableFigures() && model_->rowCount() > 0) {
    if (column == 1 || column == 2 || column == ResultsModel::kSavingColumn)
      for (const char* shape : {"000 bytes", "0.00 MB", "00.0 MB", "000 MB", "0.00 KB", "000 KB", "0.00 GB"})
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1String(shape)));
    if (column == 4)
      for (const char* shape : {"00 days ago", "00 months ago", "00 years ago"})
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1String(shape)));
  }
  return widest > 0 ? widest + CellMargin(view_) : 0;
}

void ResultsViewBehaviour::FitColumn(int column) {
  if (model_->rowCount() == 0 || column <= 0 || column >= kColumnCount) return;
  const int width = std::max({MinimumWidth(column), NeededWidth(column, Candidates()),
                              preferred_[static_cast<std::size_t>(column)]});
  if (width == view_->header()->sectionSize(column)) return;
  SetSection(column, width);
  ApplyPathWidth();
  emit requiredWidthChanged();
}

void ResultsViewBehaviour::FitNumberColumns() {
  if (model_->rowCount() == 0) {
    // No figures yet: the captions still show whole.
    for (int column = 1; column < kColumnCount; ++column)
      if (view_->header()->sectionSize(column) < MinimumWidth(column)) SetSection(column, MinimumWidth(column));
  } else {
    const std::vector<int>& candidates = Candidates();
    for (int column = 1; column < kColumnCount; ++column) {
      const int width = std::max({MinimumWidth(column), NeededWidth(column, candidates),
                                  preferred_[static_cast<std::size_t>(column)]});
      SetSection(column, width);
    }
  }
  ApplyPathWidth();
  emit requiredWidthChanged();
}

void ResultsViewBehaviour::FocusFirstRow() {
  if (model_->rowCount() == 0) return;
  view_->setFocus(Qt::OtherFocusReason);
  view_->setCurrentIndex(model_->index(0, 0));
  view_->scrollToTop();
}

bool ResultsViewBehaviour::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_) {
    if (event->type() == QEvent::Resize) {
      ApplyPathWidth();
    } else if (event->type() == QEvent::ShortcutOverride &&
               static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
      event->accept();  // Copy is ours, not the view's copy of the shown caption
      return true;
    } else if (event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->matches(QKeySequence::Copy)) {
        emit copyRequested();
        return true;
      }
      const QModelIndex current = view_->currentIndex();
      if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
          key->modifiers() == Qt::NoModifier) {
        if (current.isValid()) emit propertiesRequested();
        return true;
      }
      if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
        // The desktop's other context-menu key, shown beside the current row.
        const QRect rect = view_->visualRect(current);
        emit contextMenuRequested(current.isValid() ? rect.center() : QPoint(0, 0));
        return true;
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

void CopyPathToClipboard(const std::string& path) {
  QApplication::clipboard()->setText(
      QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size()))));
}

}  // namespace orbelan
