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
  place.Columns[0] = list.PathBaseWidth();
  for (int c = 1; c < kColumnCount && c < static_cast<int>(place.Columns.size()); ++c)
    place.Columns[static_cast<std::size_t>(c)] = list.PreferredWidth(c);
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
  if (place.Columns[0] > 0) list.SetPathBaseWidth(place.Columns[0]);
  for (int c = 1; c < kColumnCount && c < static_cast<int>(place.Columns.size()); ++c)
    if (place.Columns[static_cast<std::size_t>(c)] > 0)
      list.SetPreferredWidth(c, place.Columns[static_cast<std::size_t>(c)]);
  if (place.Maximized) window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

}  // namespace orbelan
