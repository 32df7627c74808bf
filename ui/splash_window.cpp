#include "ui/splash_window.h"

#include <QKeyEvent>
#include <QScreen>

#include "ui/bevel_panel.h"
#include "ui/click_label.h"
#include "ui/face_fonts.h"
#include "ui/pictures.h"
#include "ui/product_info.h"
#include "ui/readable_colour.h"
#include "ui/tiled_wallpaper.h"

namespace orbelan {
namespace {

constexpr int kClientWidth = 304;
constexpr int kClientHeight = 162;
constexpr int kStripHeight = 16;

ClickLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const QFont& font,
                      const QColor& colour, Qt::Alignment alignment) {
  auto* label = new ClickLabel(parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setFont(font);
  label->setAlignment(alignment);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, colour);
  label->setPalette(pal);
  return label;
}

}  // namespace

TfrmSplash::TfrmSplash(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("frmSplash");
  setFixedSize(kClientWidth, kClientHeight);

  Panel1_ = new BevelPanel(this);
  Panel1_->setObjectName("Panel1");
  Panel1_->setGeometry(rect());
  Panel1_->SetSunkenBorder(true);
  Panel1_->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::Lowered, 3);
  const QRect content = Panel1_->ContentRect();  // 288 x 146

  kelWallpaper1_ = new RezeRazedaziz(Panel1_);
  kelWallpaper1_->setObjectName("kelWallpaper1");
  kelWallpaper1_->setGeometry(content.left(), content.top(), content.width(),
                              content.height() - kStripHeight);
  kelWallpaper1_->SetPicture(WallpaperPicture::FromBitmap(pictures::SplashPicture()));
  kelWallpaper1_->SetTileStyle(tileTopLeft);

  Label1_ = MakeLabel(Panel1_, "Label1",
                      QRect(content.left(), content.bottom() + 1 - kStripHeight, content.width(),
                            kStripHeight),
                      ArialFont(11), Qt::white, Qt::AlignCenter);
  Label1_->setText(product::kMakerLine);
  Label1_->setAutoFillBackground(true);
  QPalette strip = Label1_->palette();
  strip.setColor(QPalette::Window, Qt::black);
  Label1_->setPalette(strip);

  // Child positions count from the inside of the panel's border, as in the layout drawing.
  const QPoint origin = Panel1_->ClientOrigin();
  Panel2_ = new BevelPanel(Panel1_);
  Panel2_->setObjectName("Panel2");
  Panel2_->setGeometry(QRect(origin + QPoint(16, 16), QSize(217, 45)));
  Panel2_->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::Lowered, 1);
  Panel2_->SetFaceColor(palette().color(QPalette::Window));

  const QFont nameFont = TimesFont(32, true);
  const Qt::Alignment topLeft = Qt::AlignLeft | Qt::AlignTop;
  Label2_ = MakeLabel(Panel2_, "Label2", QRect(5, 3, 156, 36), nameFont, Qt::black, topLeft);
  Label2_->setText(product::kName);
  Label3_ = MakeLabel(Panel2_, "Label3", QRect(4, 2, 156, 36), nameFont, Qt::blue, topLeft);
  Label3_->setText(product::kName);
  labVer_ = MakeLabel(Panel2_, "labVer", QRect(166, 21, 45, 19), ArialFont(12), Qt::black,
                      Qt::AlignRight | Qt::AlignTop);
  // The name box has the dialog face of the desktop's palette: on a dark one, blue and
  // black would vanish. The name and the version keep their hue and become light enough;
  // the shadow stays black, which still sets off a light name.
  KeepTextReadable(Label3_, Qt::blue);
  KeepTextReadable(labVer_, Qt::black);

  connect(kelWallpaper1_, &RezeRazedaziz::clicked, this, &TfrmSplash::image1_Click);
  connect(Label1_, &ClickLabel::clicked, this, &TfrmSplash::image1_Click);
  connect(Panel2_, &BevelPanel::clicked, this, &TfrmSplash::image1_Click);
  connect(Label3_, &ClickLabel::clicked, this, &TfrmSplash::image1_Click);

  // Key preview: a key typed on any child reaches the window's handler first.
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

  form_create();
}

void TfrmSplash::form_create() { labVer_->setText(product::kVersion); }

void TfrmSplash::image1_Click() { hide(); }

void TfrmSplash::showEvent(QShowEvent* event) {
  if (QScreen* where = screen()) {
    move(where->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  activateWindow();  // so the keys typed while it shows reach it
  QWidget::showEvent(event);
}

bool TfrmSplash::Form_KeyPress(QKeyEvent* event) {
  // Only keys that type a character count. Tab and Backtab move the focus, Delete types
  // nothing in the classic sense; arrows, function keys and lone modifiers have no text.
  if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab ||
      event->key() == Qt::Key_Delete || (event->modifiers() & Qt::AltModifier)) {
    return false;
  }
  if (event->text().isEmpty()) return false;
  hide();
  return true;
}

void TfrmSplash::keyPressEvent(QKeyEvent* event) {
  if (!Form_KeyPress(event)) QWidget::keyPressEvent(event);
}

bool TfrmSplash::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && Form_KeyPress(static_cast<QKeyEvent*>(event))) {
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace orbelan
