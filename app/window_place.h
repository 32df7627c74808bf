#pragma once
// The main window's place and column widths between runs (the WINDOW section of the
// settings file).

#include <QSize>

#include "settings/settings.h"

class QWidget;

namespace orbelan {

class ResultsViewBehaviour;

// Where the window stands now, and the widths the user gave the list's columns.
WindowPlace CaptureWindowPlace(const QWidget* window, const ResultsViewBehaviour& list);
// Puts the window where it was; when no screen shows that place any more (a monitor
// unplugged), the window goes back onto the primary screen, shrunk to fit if need be.
void RestoreWindowPlace(QWidget* window, ResultsViewBehaviour& list, const WindowPlace& place);
// Without a stored place (the first start): the window centred on the primary screen, wide
// enough for every column beside a Path column of kFirstStartPathWidth and larger where the
// screen has room, never smaller than it is. listMargin: the window's width less the list's;
// frame: the window frame's size, which the screen must hold as well.
void PlaceAtFirstStart(QWidget* window, const ResultsViewBehaviour& list, int listMargin, QSize frame);
constexpr int kFirstStartPathWidth = 230;

}  // namespace orbelan
