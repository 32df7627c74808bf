#include "dialogs/frm_fav.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/interaction.h"
#include "dialogs/entry_list_widget.h"
#include "settings/settings.h"
#include "ui/face_fonts.h"
#include "ui/readable_colour.h"

namespace orbelan {

namespace {

constexpr int kClientSize = 296;
constexpr int kPanelBorder = 3;
constexpr int kLabelHeight = 18;
constexpr int kButtonRowHeight = 41;

}  // namespace

TfrmFav::TfrmFav(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName("frmFav");
  setWindowTitle("Scan Favorite Folder");
  setModal(true);
  setFont(DialogSansFont(11));

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(kPanelBorder);
  outer->addWidget(panel);

  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(kPanelBorder + 3, kPanelBorder + 3, kPanelBorder + 3, kPanelBorder);
  auto* label1 = new QLabel("Choose one of these \"Favorite\" folders to scan", panel);
  label1->setObjectName("Label1");
  label1->setAlignment(Qt::AlignCenter);
  label1->setFixedHeight(kLabelHeight);
  KeepTextReadable(label1, QColor(128, 0, 0));  // maroon
  column->addWidget(label1);

  list1_ = new QListWidget(panel);
  list1_->setObjectName("list1");
  list1_->setSelectionMode(QAbstractItemView::SingleSelection);
  list1_->setEditTriggers(QAbstractItemView::NoEditTriggers);  // double-click does nothing
  column->addWidget(list1_, 1);

  auto* row = new QWidget(panel);
  row->setFixedHeight(kButtonRowHeight);
  auto* buttons = new QHBoxLayout(row);
  buttons->setContentsMargins(0, 0, 0, 0);
  auto* butScan = new QPushButton("&Scan", row);
  butScan->setObjectName("butScan");
  butScan->setDefault(true);
  auto* butCancel = new QPushButton("&Cancel", row);
  butCancel->setObjectName("butCancel");
  buttons->addWidget(butScan);
  buttons->addStretch(1);
  buttons->addWidget(butCancel);
  column->addWidget(row);
  connect(butScan, &QPushButton::clicked, this, &TfrmFav::butScanClick);
  connect(butCancel, &QPushButton::clicked, this, &QDialog::reject);

  setFixedSize(kClientSize, kClientSize);
}

std::optional<std::string> TfrmFav::Choose(const Settings& settings) {
  FillSorted(list1_, settings.Favorites);
  // The first favourite is chosen already: with one favourite, Scan (or Enter) scans it.
  if (list1_->count() > 0) list1_->setCurrentRow(0);
  list1_->setFocus(Qt::OtherFocusReason);
  setResult(QDialog::Rejected);  // as exec() does: only this showing's Scan counts
  if (interaction().ExecModal(this) != QDialog::Accepted) return std::nullopt;
  return chosen_;
}

void TfrmFav::butScanClick() {
  const int row = SelectedRow(list1_);
  if (row < 0) {
    interaction().ShowMessage(this, "You need to select an item before you can Scan it.",
                              QApplication::applicationName());
    return;
  }
  chosen_ = EntryBytes(list1_->item(row));
  accept();
}

}  // namespace orbelan
