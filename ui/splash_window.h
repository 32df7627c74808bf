#pragma once
#include <QWidget>

class QLabel;

namespace orbelan {

class BevelPanel;
class ClickLabel;
class RezeRazedaziz;

// The splash window: product name and version over a tiled picture of the results list.
// Created hidden; the main window's timer shows and hides it. A click on the picture,
// the name box, the blue name or the bottom strip, or a typed character, hides it.
class TfrmSplash : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmSplash(QWidget* parent = nullptr);

  RezeRazedaziz* kelWallpaper1() const { return kelWallpaper1_; }

  // The one click handler of the picture, the bottom strip, the name box and the blue name.
  void image1_Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void form_create();
  // Handles a key for the whole window, whichever child has the focus; true if it was used.
  bool Form_KeyPress(QKeyEvent* event);

  BevelPanel* Panel1_ = nullptr;
  RezeRazedaziz* kelWallpaper1_ = nullptr;
  ClickLabel* Label1_ = nullptr;
  BevelPanel* Panel2_ = nullptr;
  ClickLabel* Label2_ = nullptr;
  ClickLabel* Label3_ = nullptr;
  ClickLabel* labVer_ = nullptr;
};

}  // namespace orbelan
