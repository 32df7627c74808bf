#pragma once
// The main window's place and column widths between runs (the WINDOW section of the
// settings file).

#include "settings/settings.h"

class QWidget;

namespace orbelan {

class ResultsViewBehaviour;

// Where the window stands now, and the widths the user gave the list's columns.
WindowPlace CaptureWindowPlace(const QWidget* window, const ResultsViewBehaviour& list);
// Puts the window where it was; when no screen shows that place any more (a monitor
// unplugged), the window goes back onto the primary screen, shrunk to fit if need be.
void RestoreWindowPlace(QWidget* window, ResultsViewBehaviour& list, const WindowPlace& place);

}  // namespace orbelan
