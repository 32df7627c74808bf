#pragma once
class QWidget;

namespace orbelan {

// Shows the contents of the help file "orbelan.hlp" (HTML) in our own viewer window;
// a missing file is reported by the viewer itself.
void ShowHelpContents(QWidget* parent);

}  // namespace orbelan
