#pragma once
#include <QWidget>

namespace orbelan {

// The splash window: product name and version over a tiled picture of the results list.
// Created hidden; the main window's timer shows and hides it. A click on the picture,
// the name box, the blue name or the bottom strip, or a typed character, hides it.
class TfrmSplash : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmSplash(QWidget* parent = nullptr);
};

}  // namespace orbelan
