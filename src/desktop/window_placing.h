#pragma once

#include <QString>

class QWidget;

namespace varnholt {

// Puts a window back where `stored` (a WindowPlace text) says it was, when a
// screen still shows it there; its size never below its minimum. False when
// it was not put anywhere: the caller places it as the first time.
bool RestoreWindowPlace(QWidget *window, const QString &stored);
// Where the window is now, as a WindowPlace text: its size and position
// before any maximising, and whether it is maximised.
QString WindowPlaceNow(const QWidget *window);
// Gives the window its first-start size on the primary screen and centres
// its frame in that screen's usable area (FirstStartSize).
void PlaceForFirstStart(QWidget *window);
// Centres the window's frame in the primary screen's usable area, its size
// as it is.
void CentreFrameOnScreen(QWidget *window);

} // namespace varnholt
