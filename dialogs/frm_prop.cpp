#include "dialogs/frm_prop.h"

#include <algorithm>

#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTabWidget>

#include "dialogs/subtree_page.h"
#include "ui/interaction.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "ui/bevel_panel.h"
#include "ui/face_fonts.h"
#include "ui/pictures.h"
#include "ui/readable_colour.h"

namespace orbelan {

namespace {

constexpr int kClientWidth = 303;
constexpr int kClientHeight = 218;
constexpr int kSavingHeight = 16;  // the saving line, when shown, makes the dialog this much taller
constexpr int kSavingLine = 13;    // the saving line's own height, one line of text
constexpr int kPanelHeight = 41;
constexpr int kFontHeight = 11;  // MS Sans Serif 8 pt

QLabel* MakeLabel(QWidget* page, const char* name, const QRect& geometry, Qt::Alignment align,
                  const QString& text) {
  auto* label = new QLabel(text, page);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  // Fixed size: a longer text is clipped, never wrapped or widened.
  label->setFixedSize(geometry.size());
  label->setAlignment(align | Qt::AlignVCenter);
  label->setWordWrap(false);
  label->setTextFormat(Qt::PlainText);
  label->setFont(DialogSansFont(kFontHeight));
  return label;
}

// The size texts are right-aligned in a twelve-character field of blanks; only a
// fixed-pitch face makes those blanks as wide as the digits, so the three sizes line up.
QFont SizeFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(kFontHeight);
  return font;
}

QString FromBytes(const std::string& bytes) {
  return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

}  // namespace

TfrmProp::TfrmProp(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("frmProp"));
  setWindowTitle(QStringLiteral("Folder Info"));
  setFont(DialogSansFont(kFontHeight));
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);
  move(170, 127);

  Panel1 = new BevelPanel(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::None, 1);
  Panel1->setGeometry(0, kClientHeight - kPanelHeight, kClientWidth, kPanelHeight);

  butOK = new QPushButton(QStringLiteral("&OK"), Panel1);
  butOK->setObjectName(QStringLiteral("butOK"));
  butOK->setGeometry(8, 8, 75, 25);
  butOK->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  butOK->setAutoDefault(false);

  butExplore = new QPushButton(QStringLiteral("&Explore"), Panel1);
  butExplore->setObjectName(QStringLiteral("butExplore"));
  butExplore->setGeometry(220, 8, 75, 25);
  butExplore->setIcon(pictures::ExploreIcon());
  butExplore->setDefault(true);

  TabbedNotebook1 = new QTabWidget(this);
  TabbedNotebook1->setObjectName(QStringLiteral("TabbedNotebook1"));
  TabbedNotebook1->setGeometry(0, 0, kClientWidth, kClientHeight - kPanelHeight);
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("Properties"));
  TabbedNotebook1->addTab(page, QStringLiteral("Properties"));

  const auto center = Qt::AlignHCenter;
  const auto right = Qt::AlignRight;
  const auto left = Qt::AlignLeft;
  labPath = MakeLabel(page, "labPath", {1, 6, 293, 13}, center, QStringLiteral("---"));
  labPath->setFont(DialogSansFont(kFontHeight, true));
  KeepTextReadable(labPath, QColor(128, 0, 0));  // maroon

  Bevel1 = new QFrame(page);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(8, 24, 279, 54);

  figures_.labNFiles = MakeLabel(page, "labNFiles", {12, 28, 133, 13}, right, QStringLiteral("0 files found"));
  figures_.labSzFiles = MakeLabel(page, "labSzFiles", {148, 28, 136, 13}, left, QStringLiteral("size = 0"));
  figures_.labNZips = MakeLabel(page, "labNZips", {12, 44, 133, 13}, right, QStringLiteral("0 ZIP files found"));
  figures_.labSzZips = MakeLabel(page, "labSzZips", {148, 44, 136, 13}, left, QStringLiteral("size = 0"));
  figures_.labNIgno = MakeLabel(page, "labNIgno", {12, 60, 133, 13}, right, QStringLiteral("0 files ignored"));
  figures_.labSzIgno = MakeLabel(page, "labSzIgno", {148, 60, 136, 13}, left, QStringLiteral("size = 0"));
  for (QLabel* size : {figures_.labSzFiles, figures_.labSzZips, figures_.labSzIgno}) size->setFont(SizeFont());

  figures_.labPercent = MakeLabel(page, "labPercent", {17, 86, 264, 13}, center,
                         QStringLiteral("0% of files are zipped"));
  figures_.labPercent->setFont(DialogSansFont(kFontHeight, true));
  figures_.labRecent = MakeLabel(page, "labRecent", {17, 102, 264, 13}, center,
                        QStringLiteral("Most recent file = 0"));
  figures_.labPriority = MakeLabel(page, "labPriority", {17, 126, 264, 13}, center,
                          QStringLiteral("Zip priority = 0"));
  figures_.labPriority->setFont(DialogSansFont(kFontHeight, true));
  KeepTextReadable(figures_.labPriority, QColor(0, 0, 128));  // navy
  labSaving = MakeLabel(page, "labSaving", {1, 142, 293, kSavingLine}, center, QString());
  labSaving->hide();
  subtreePage_ = new SubtreePage;
  TabbedNotebook1->addTab(subtreePage_, QStringLiteral("Subtree"));

  setTabOrder(butOK, butExplore);
  setTabOrder(butExplore, TabbedNotebook1);
  butOK->setFocus();

  connect(butOK, &QPushButton::clicked, this, &TfrmProp::butOKClick);
  connect(butExplore, &QPushButton::clicked, this, &TfrmProp::butExploreClick);
}

void TfrmProp::FillFolderInfo(const FolderRec& rec) {
  path_ = rec.Path();
  labPath->setText(FromBytes(path_));
  figures_.Show(rec, AgeText(rec.Recent));
}

void TfrmProp::SetSavingText(const QString& text) {
  labSaving->setText(text);
  const bool shown = !text.isEmpty();
  labSaving->setVisible(shown);
  // A sentence wider than the dialog (a wide interval told by its ends) wraps onto a second
  // line, and the dialog grows by it, rather than losing both ends of the sentence.
  const bool wraps = shown && labSaving->fontMetrics().horizontalAdvance(text) > labSaving->width();
  labSaving->setWordWrap(wraps);
  const int lineHeight = wraps ? std::max(kSavingLine, labSaving->heightForWidth(labSaving->width())) : kSavingLine;
  labSaving->setFixedSize(labSaving->width(), lineHeight);
  const int height = kClientHeight + (shown ? kSavingHeight + lineHeight - kSavingLine : 0);
  if (this->height() != height) SetHeight(height);
  FitSavingLine();
}

// The dialog this tall: the page above grows, the button panel stays at the bottom.
void TfrmProp::SetHeight(int height) {
  setFixedSize(kClientWidth, height);
  Panel1->move(0, height - kPanelHeight);
  TabbedNotebook1->resize(kClientWidth, height - kPanelHeight);
}

void TfrmProp::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FitSavingLine();
}

void TfrmProp::FitSavingLine() {
  if (!isVisible() || !labSaving->isVisibleTo(this)) return;
  const int missing = labSaving->geometry().bottom() + 3 - labSaving->parentWidget()->height();
  if (missing <= 0) return;
  SetHeight(height() + missing);
}

void TfrmProp::butOKClick() { hide(); }

void TfrmProp::butExploreClick() { interaction().OpenFolder(path_); }

}  // namespace orbelan
