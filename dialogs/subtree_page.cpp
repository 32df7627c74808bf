#include "dialogs/subtree_page.h"

#include <QFontDatabase>
#include <QFrame>
#include <QLabel>

#include "survey/figure_text.h"
#include "survey/saving_sum.h"
#include "survey/subtree_totals.h"
#include "ui/face_fonts.h"
#include "ui/readable_colour.h"

namespace orbelan {
namespace {

constexpr int kFontHeight = 11;

QLabel* MakeLabel(QWidget* page, const char* name, const QRect& geometry, Qt::Alignment align) {
  auto* label = new QLabel(page);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  label->setFixedSize(geometry.size());
  label->setAlignment(align | Qt::AlignVCenter);
  label->setTextFormat(Qt::PlainText);
  label->setFont(DialogSansFont(kFontHeight));
  return label;
}

}  // namespace

std::string SubtreeSavingSentence(const SavingSum* sum) {
  if (sum == nullptr || !sum->Any()) return "Not estimated yet";
  std::string text = "Zipping it all would free ";
  if (sum->Low == sum->High) {
    text += GroupedNumber(sum->Saving) + " bytes";
  } else {
    text += "about " + GroupedNumber(sum->Saving) + " bytes (" + GroupedNumber(sum->Low) + " to " +
            GroupedNumber(sum->High) + ")";
  }
  if (sum->Missing > 0)
    text += "; " + GroupedNumber(sum->Missing) + (sum->Missing == 1 ? " folder" : " folders") + " not estimated yet";
  return text;
}

SubtreePage::SubtreePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Subtree"));
  const auto center = Qt::AlignHCenter;
  const auto right = Qt::AlignRight;
  const auto left = Qt::AlignLeft;
  labFolders = MakeLabel(this, "labSubFolders", {1, 6, 293, 13}, center);
  labFolders->setFont(DialogSansFont(kFontHeight, true));
  KeepTextReadable(labFolders, QColor(128, 0, 0));  // maroon, as the path on the first page

  // Subtree sizes run past the twelve characters of a folder's own: the size column is
  // wider than on the first page.
  auto* bevel = new QFrame(this);
  bevel->setFrameShape(QFrame::Box);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setGeometry(8, 22, 279, 54);
  figures_.labNFiles = MakeLabel(this, "labSubNFiles", {12, 26, 110, 13}, right);
  figures_.labSzFiles = MakeLabel(this, "labSubSzFiles", {124, 26, 160, 13}, left);
  figures_.labNZips = MakeLabel(this, "labSubNZips", {12, 42, 110, 13}, right);
  figures_.labSzZips = MakeLabel(this, "labSubSzZips", {124, 42, 160, 13}, left);
  figures_.labNIgno = MakeLabel(this, "labSubNIgno", {12, 58, 110, 13}, right);
  figures_.labSzIgno = MakeLabel(this, "labSubSzIgno", {124, 58, 160, 13}, left);
  // Twelve-character size fields line up only in a fixed-pitch face.
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPixelSize(kFontHeight);
  for (QLabel* size : {figures_.labSzFiles, figures_.labSzZips, figures_.labSzIgno}) size->setFont(fixed);

  figures_.labPercent = MakeLabel(this, "labSubPercent", {17, 78, 264, 13}, center);
  figures_.labPercent->setFont(DialogSansFont(kFontHeight, true));
  figures_.labRecent = MakeLabel(this, "labSubRecent", {17, 91, 264, 13}, center);
  figures_.labPriority = MakeLabel(this, "labSubPriority", {17, 104, 264, 13}, center);
  figures_.labPriority->setFont(DialogSansFont(kFontHeight, true));
  KeepTextReadable(figures_.labPriority, QColor(0, 0, 128));  // navy
  // Up to three lines: the sum, its range, and the folders still to estimate.
  labSaving = MakeLabel(this, "labSubSaving", {1, 117, 293, 39}, center);
  labSaving->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  labSaving->setWordWrap(true);
  labSaving->hide();
}

void SubtreePage::Fill(const SubtreeFigures& figures, double today) {
  const std::int64_t below = figures.NFolders - 1;
  labFolders->setText(below == 0 ? QStringLiteral("No folders below this one")
                                 : QStringLiteral("This folder and %1 below it")
                                       .arg(QString::fromStdString(GroupedNumber(below))));
  figures_.Show(figures, AgeText(figures.Recent, today));
}

void SubtreePage::SetSaving(const SavingSum* sum, bool savingShown) {
  labSaving->setVisible(savingShown);
  labSaving->setText(savingShown ? QString::fromStdString(SubtreeSavingSentence(sum)) : QString());
}

}  // namespace orbelan
