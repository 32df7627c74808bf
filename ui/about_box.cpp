#include "ui/about_box.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/bevel_panel.h"
#include "ui/face_fonts.h"
#include "ui/pictures.h"
#include "ui/product_info.h"
#include "ui/readable_colour.h"

namespace orbelan {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QPoint& at, const QFont& font,
                  const QColor& colour) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->move(at);
  label->setFont(font);
  KeepTextReadable(label, colour);  // a dark theme turns black and maroon light enough
  return label;
}

}  // namespace

QString TfrmAbout::WebAddress() { return QString::fromLatin1(product::kWebHost); }

TfrmAbout::TfrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("frmAbout");
  setWindowTitle(QStringLiteral("About %1").arg(product::kName));
  setFixedSize(298, 183);
  setModal(true);

  Panel1_ = new BevelPanel(this);
  Panel1_->setObjectName("Panel1");
  Panel1_->setGeometry(8, 8, 281, 137);
  Panel1_->SetBevels(BevelPanel::Bevel::Lowered, BevelPanel::Bevel::Raised, 1);

  ProgramIcon_ = new QLabel(Panel1_);
  ProgramIcon_->setObjectName("ProgramIcon");
  const QPixmap logo = QPixmap::fromImage(pictures::LogoPicture());
  ProgramIcon_->setPixmap(logo);
  ProgramIcon_->setGeometry(8, 8, logo.width(), logo.height());

  ProductName_ = MakeLabel(Panel1_, "ProductName", {152, 17}, DialogSansFont(16, true), Qt::black);
  ProductName_->setText(product::kName);
  ProductName_->adjustSize();

  labVer_ = MakeLabel(Panel1_, "labVer", {152, 48}, DialogSansFont(11, true), Qt::black);
  labMaker_ = MakeLabel(Panel1_, "labMaker", {38, 88}, DialogSansFont(11, true), Qt::black);
  labMaker_->setText(product::kMakerLine);
  labMaker_->adjustSize();

  Label1_ = MakeLabel(Panel1_, "Label1", {35, 109}, DialogSansFont(16, true), QColor(128, 0, 0));
  Label1_->resize(206, 21);
  Label1_->setAlignment(Qt::AlignCenter);
  Label1_->setText(WebAddress());

  butOK_ = new QPushButton(this);
  butOK_->setObjectName("butOK");
  butOK_->setGeometry(103, 150, 77, 27);
  butOK_->setText(QStringLiteral("OK"));
  butOK_->setIcon(pictures::OkGlyph());
  butOK_->setFont(DialogSansFont(11, true));
  butOK_->setDefault(true);
  connect(butOK_, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::form_show() {
  labVer_->setText(QStringLiteral("Version %1").arg(product::kVersion));
  labVer_->adjustSize();
}

void TfrmAbout::showEvent(QShowEvent* event) {
  form_show();
  if (QScreen* where = screen()) {
    move(where->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  butOK_->setFocus();
  QDialog::showEvent(event);
}

}  // namespace orbelan
