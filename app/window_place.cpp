#include "app/window_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "app/results_view.h"
#include "survey/results.h"

namespace orbelan {

WindowPlace CaptureWindowPlace(const QWidget* window, const ResultsViewBehaviour& list) {
  WindowPlace place;
  place.Known = true;
  place.Maximized = window->isMaximized();
  // A maximised window keeps the place it returns to.
  const QRect normal = place.Maximized ? window->normalGeometry() : window->geometry();
  const QPoint frame = place.Maximized ? normal.topLeft() : window->pos();
  place.Left = frame.x();
  place.Top = frame.y();
  place.Width = normal.width();
  place.Height = normal.height();
  place.Columns[0] = std::max(list.PathWidth(), list.MinimumWidth(0));  // kept for the file; Path takes what is left
  // Never 0: a width the user did not choose is stored as the column's least, which the next
  // run takes for no choice at all.
  for (int c = 1; c < kColumnCount && c < static_cast<int>(place.Columns.size()); ++c)
    place.Columns[static_cast<std::size_t>(c)] = std::max(list.PreferredWidth(c), list.MinimumWidth(c));
  return place;
}

void RestoreWindowPlace(QWidget* window, ResultsViewBehaviour& list, const WindowPlace& place) {
  if (!place.Known) return;
  QSize size(std::max(place.Width, window->minimumWidth()), std::max(place.Height, window->minimumHeight()));
  QPoint where(place.Left, place.Top);
  // Seen when a screen holds enough of the title bar to take hold of it.
  const QRect grip(where, QSize(std::min(size.width(), 100), 30));
  bool seen = false;
  for (const QScreen* screen : QGuiApplication::screens())
    if (screen->availableGeometry().intersected(grip).width() >= 40) seen = true;
  if (!seen) {
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
      const QRect room = primary->availableGeometry();
      size = size.boundedTo(room.size());
      where = room.topLeft() + QPoint((room.width() - size.width()) / 2, (room.height() - size.height()) / 2);
    }
  }
  window->resize(size);
  window->move(where);
  for (int c = 1; c < kColumnCount && c < static_cast<int>(place.Columns.size()); ++c)
    if (place.Columns[static_cast<std::size_t>(c)] > 0)
      list.SetPreferredWidth(c, place.Columns[static_cast<std::size_t>(c)]);
  if (place.Maximized) window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

void PlaceAtFirstStart(QWidget* window, const ResultsViewBehaviour& list, int listMargin, QSize frame) {
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) return;
  const QRect room = primary->availableGeometry();
  // Every column beside a Path column of the layout's width, and three fifths of the screen
  // where that is more: the list's answer is in view before anyone resizes anything.
  const int need = list.RequiredViewWidth(kFirstStartPathWidth) + listMargin;
  int width = std::max({window->width(), need, room.width() * 3 / 5});
  int height = std::max(window->height(), room.height() * 3 / 5);
  width = std::max(std::min(width, room.width() - frame.width()), window->minimumWidth());
  height = std::min(height, room.height() - frame.height());
  window->resize(width, height);
  window->move(room.left() + (room.width() - width - frame.width()) / 2,
               room.top() + (room.height() - height - frame.height()) / 2);
}

}  // namespace orbelan
