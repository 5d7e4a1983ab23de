#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <optional>

namespace varnholt {

// Where a window was when it closed: its position (the frame's top-left
// corner) and its inside size, as it was before any maximising, and whether
// it was maximised.
struct WindowPlace {
  QRect rect;
  bool maximised = false;
  bool operator==(const WindowPlace &) const = default;
};

// "120,80,900,700" or "120,80,900,700,max": plain decimals, so the INI file
// stays readable and editable by hand.
QString WindowPlaceText(const WindowPlace &place);
// Nothing for an empty or unreadable text, or a size below one pixel: the
// window then opens as it does the first time.
std::optional<WindowPlace> ParseWindowPlace(const QString &text);

// A screen shows a window when its usable area holds the middle of the
// window's top edge (where it is grabbed to be moved) and at least half of
// the window: one taken off a screen that is gone is not restored out of reach.
bool ShownOnAScreen(const QRect &window, const QList<QRect> &screenAreas);

// `size`, no larger than `area`, centred in it (halves rounded down).
QRect CentredIn(const QRect &area, QSize size);

// The inside size of a window opened for the first time on a screen whose
// usable area is `available`: its frame (`frame`: outer less inner size)
// takes two thirds of each side, so the window uses the screen and the
// desktop still shows around it; never below `minimum` (on a screen too
// small for that, the minimum wins).
QSize FirstStartSize(QSize available, QSize minimum, QSize frame);

} // namespace varnholt
