#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

namespace orbelan {

class BevelPanel;

// The About box: logo, product name and version; modal, OK is the default button.
// Shown through interaction().ExecModal(&about).
class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAbout(QWidget* parent = nullptr);

  // The address shown under the maker line.
  static QString WebAddress();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void form_show();

  BevelPanel* Panel1_ = nullptr;
  QLabel* ProgramIcon_ = nullptr;
  QLabel* ProductName_ = nullptr;
  QLabel* labVer_ = nullptr;
  QLabel* labMaker_ = nullptr;
  QLabel* Label1_ = nullptr;
  QPushButton* butOK_ = nullptr;
};

}  // namespace orbelan
