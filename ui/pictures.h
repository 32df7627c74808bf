#pragma once
// Every picture the program shows, made from the source kept in ui/pictures/.

#include <QIcon>
#include <QImage>

namespace orbelan::pictures {

// 16 x 16 tool-button pictures, each with its greyed twin as the Disabled mode;
// the bottom-left pixel's colour is transparent.
QIcon ExitIcon();     // red door with a small cyan window
QIcon ListsIcon();    // white sheet with black text lines
QIcon HelpIcon();     // red question mark on a yellow disc
QIcon ExploreIcon();  // magnifying glass with a red cross in the lens
QImage SplashPicture();  // 206 x 135, 16 colours: a faded part of the results list
QImage LogoPicture();    // 133 x 74, 16 colours
QIcon ProgramIcon();     // window and desktop-menu icon
QIcon OkGlyph();         // green check mark of the About box's OK button

}  // namespace orbelan::pictures
