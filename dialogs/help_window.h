#pragma once
#include <QString>
#include <QStringList>

class QWidget;

namespace orbelan {

// Shows the contents of the help file "orbelan.hlp" (HTML) in our own viewer window;
// a missing file is reported by the viewer itself.
void ShowHelpContents(QWidget* parent);

// Where the help file is looked for, in order: next to the program, then the installed
// layout's ../share/orbelan/ beside the program's folder.
QStringList HelpFileCandidates();
// The first candidate that is a readable file, or "" when none is.
QString FindHelpFile(const QStringList& candidates);
// Shows file in the viewer, which is made once and reused (raised when shown again);
// an empty or unreadable file shows the missing-file notice. Returns the viewer window.
QWidget* ShowHelpFile(QWidget* parent, const QString& file);

}  // namespace orbelan
