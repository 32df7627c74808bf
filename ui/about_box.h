#pragma once
#include <QDialog>

namespace orbelan {

// The About box: logo, product name and version; modal, OK is the default button.
// Shown through interaction().ExecModal(&about).
class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAbout(QWidget* parent = nullptr);
};

}  // namespace orbelan
