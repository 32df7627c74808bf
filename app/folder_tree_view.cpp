#include "app/folder_tree_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <algorithm>
#include <deque>

#include "app/folder_tree_model.h"

namespace orbelan {
namespace {

// Each cell's text drawn from a prepared QStaticText: the style's own item drawing lays out
// every cell's text afresh on every paint (shaping, line breaking, eliding), which was most
// of the time a folder takes to open. Texts repeat (sizes, ages, names), so each is shaped
// once; the cache is cleared when the font changes or it grows large.
class CellTexts {
 public:
  // Draws text in rect with the alignment, elided at the right when it does not fit.
  void Draw(QPainter* painter, const QFont& font, const QRect& rect, Qt::Alignment alignment, const QString& text) {
    if (text.isEmpty() || rect.width() <= 0) return;
    if (font != font_ || cache_.size() > kMost) {
      cache_.clear();
      font_ = font;
    }
    const QStaticText* shown = &Prepared(text);
    if (shown->size().width() > rect.width()) {
      const QString elided = QFontMetrics(font).elidedText(text, Qt::ElideRight, rect.width());
      if (elided.isEmpty()) return;
      shown = &Prepared(elided);
    }
    // Whole pixels, as the style places text.
    const QSize size = shown->size().toSize();
    int x = rect.left();
    if (alignment & Qt::AlignRight) x = rect.right() + 1 - size.width();
    else if (alignment & Qt::AlignHCenter) x = rect.left() + (rect.width() - size.width()) / 2;
    const int y = rect.top() + (rect.height() - size.height()) / 2;
    painter->drawStaticText(QPoint(x, y), *shown);
  }

 private:
  static constexpr qsizetype kMost = 20000;
  const QStaticText& Prepared(const QString& text) {
    auto found = cache_.find(text);
    if (found == cache_.end()) {
      QStaticText prepared(text);
      prepared.setTextFormat(Qt::PlainText);
      prepared.prepare(QTransform(), font_);
      found = cache_.insert(text, prepared);
    }
    return found.value();
  }
  QFont font_;
  QHash<QString, QStaticText> cache_;
};

// The Share column: a bar as long as the folder's part of its parent's saving, with the
// percentage beside it.
class ShareBarDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem plain = option;
    initStyleOption(&plain, index);
    const QString text = plain.text;
    // Background and selection only: the text goes beside the bar.
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &plain, painter, widget);

    const double share = index.data(FolderTreeModel::kShareRole).toDouble();
    const QRect cell = option.rect.adjusted(2, 3, -2, -3);
    const int textWidth = option.fontMetrics.horizontalAdvance(QStringLiteral("100%")) + 4;
    const QRect track(cell.left(), cell.top(), std::max(cell.width() - textWidth, 0), cell.height());
    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->setPen(selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Mid));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(track.adjusted(0, 0, -1, -1));
    QRect bar = track.adjusted(1, 1, -1, -1);
    bar.setWidth(static_cast<int>(bar.width() * share + 0.5));
    painter->fillRect(bar, selected ? palette.color(QPalette::HighlightedText) : QColor(0, 0, 128));
    painter->setPen(selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text));
    texts_.Draw(painter, option.font, QRect(track.right() + 2, option.rect.top(), textWidth, option.rect.height()),
                Qt::AlignRight | Qt::AlignVCenter, text);
    painter->restore();
  }

 private:
  mutable CellTexts texts_;
};

// Columns but the Share: the style draws the cell's background, selection and focus, and
// the text comes from the prepared texts, placed as the style places it.
class PlainCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QString text = cell.text;
    cell.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const bool selected = cell.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (cell.state & QStyle::State_Active) ? QPalette::Normal
                                                                               : QPalette::Inactive;
    painter->save();
    painter->setPen(cell.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    texts_.Draw(painter, cell.font, cell.rect.adjusted(margin, 0, -margin, 0), cell.displayAlignment, text);
    painter->restore();
  }

 private:
  mutable CellTexts texts_;
};

constexpr int kWidths[FolderTreeModel::kColumnCount] = {260, 80, 80, 40, 85, 50, 80, 90};

}  // namespace

FolderTreeView::FolderTreeView(FolderTreeModel* model, QWidget* parent) : QTreeView(parent), model_(model) {
  setObjectName(QStringLiteral("FolderTree"));
  setModel(model_);
  setUniformRowHeights(true);  // the view never measures rows it does not show
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setExpandsOnDoubleClick(true);
  setItemDelegate(new PlainCellDelegate(this));
  setItemDelegateForColumn(FolderTreeModel::kShareColumn, new ShareBarDelegate(this));
  QHeaderView* head = header();
  head->setSectionsMovable(false);
  head->setStretchLastSection(false);
  for (int c = 0; c < FolderTreeModel::kColumnCount; ++c) head->resizeSection(c, kWidths[c]);
  head->setSortIndicator(FolderTreeModel::kSavingColumn, Qt::DescendingOrder);
  setSortingEnabled(true);  // a header click orders every folder's subfolders
  connect(this, &QWidget::customContextMenuRequested, this, &FolderTreeView::contextMenuRequested);
  // The vertical bar comes and goes as folders open and close: the Path column gives way.
  connect(verticalScrollBar(), &QAbstractSlider::rangeChanged, this, [this] { FitPathColumn(); });
  connect(head, &QHeaderView::sectionResized, this, [this](int column, int, int) {
    if (column > 0) FitPathColumn();
  });
}

void FolderTreeView::FitPathColumn() {
  // The Path column takes what the number columns leave, so that the columns fill the view
  // without a sideways scroll; it keeps at least its starting width, below which a sideways
  // scroll is the lesser evil than names cut to nothing.
  QHeaderView* head = header();
  int others = 0;
  for (int c = 1; c < FolderTreeModel::kColumnCount; ++c) others += head->sectionSize(c);
  const QScrollBar* bar = verticalScrollBar();
  const bool barShown = verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ||
                        (verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded && bar->maximum() > bar->minimum());
  const int barWidth = barShown ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, bar) : 0;
  // From the view's own width: the viewport is resized only after this view's resize event.
  const int inside = width() - 2 * frameWidth() - barWidth;
  const int fill = std::max(kWidths[0], inside - others);
  if (head->sectionSize(0) != fill) head->resizeSection(0, fill);
}

void FolderTreeView::resizeEvent(QResizeEvent* event) {
  QTreeView::resizeEvent(event);
  FitPathColumn();
}

void FolderTreeView::OpenOnStart() {
  // The model starts ordered by Saving, largest first; the header says so.
  header()->setSortIndicator(model_->SortColumn(), model_->SortOrder());
  const QModelIndex start = model_->index(0, 0);
  if (!start.isValid()) return;
  expand(start);
  // Subtree sums are the largest figures: the number columns fit the start folder's row.
  for (int c = 1; c < FolderTreeModel::kShareColumn; ++c)
    header()->resizeSection(c, std::max(kWidths[c], sizeHintForColumn(c)));
  // A saving never exceeds the bytes it comes from; it may arrive after this.
  header()->resizeSection(FolderTreeModel::kSavingColumn,
                          std::max(header()->sectionSize(FolderTreeModel::kSavingColumn), header()->sectionSize(1)));
  FitPathColumn();
  setCurrentIndex(start);
  selectionModel()->select(start, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(start);
}

void FolderTreeView::ExpandBelow(const QModelIndex& folder) {
  // One layout at the end instead of one per folder opened.
  scheduleDelayedItemsLayout();
  std::deque<QModelIndex> level{folder};
  int added = 0;
  while (!level.empty()) {
    const QModelIndex next = level.front();
    level.pop_front();
    const int children = model_->rowCount(next);
    if (children == 0) continue;
    if (!isExpanded(next)) {
      if (added + children > kMostRowsOpened) break;
      added += children;
      expand(next);
    }
    for (int row = 0; row < children; ++row) level.push_back(model_->index(row, 0, next));
  }
}

void FolderTreeView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (currentIndex().isValid()) emit propertiesRequested();
    return;
  }
  if (event->matches(QKeySequence::Copy)) {
    if (currentIndex().isValid()) emit copyRequested();
    return;
  }
  if (event->key() == Qt::Key_Asterisk) {
    if (currentIndex().isValid()) ExpandBelow(currentIndex().siblingAtColumn(0));
    return;
  }
  if ((event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) || event->key() == Qt::Key_Menu) {
    if (currentIndex().isValid()) emit contextMenuRequested(visualRect(currentIndex()).center());
    return;
  }
  QTreeView::keyPressEvent(event);
}

}  // namespace orbelan
