// Orbelan: tells which folders of a disk are worth compressing.

#include <QApplication>
#include <clocale>

#include "app/main_form.h"
#include "ui/face_fonts.h"
#include "ui/pictures.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Size texts group their digits the way the user's locale does.
  std::setlocale(LC_NUMERIC, "");
  QApplication::setApplicationName(QStringLiteral("orbelan"));
  // Lets the desktop match the window to its menu entry (and icon) under Wayland too.
  QApplication::setDesktopFileName(QStringLiteral("orbelan"));
  QApplication::setWindowIcon(orbelan::pictures::ProgramIcon());
  // One face and size throughout: menus, message and input boxes, the folder picker and
  // the help speak in the face the windows were laid out for.
  QApplication::setFont(orbelan::DialogSansFont(orbelan::TForm1::kFontPixels));

  // The main window creates the settings dialog, the properties dialog, the splash, the
  // About box and the favourites chooser after itself, in that order, once for the run.
  orbelan::TForm1 form;
  form.show();
  return QApplication::exec();
}
