#pragma once

#include <QSize>
#include <QStringList>

class QWidget;

namespace varnholt {

// The design client area of the main window, twips.
inline constexpr int kMainClientWidth = 7605;
inline constexpr int kMainClientHeight = 6435;

// Makes every control of the main window inside `client`, named, captioned,
// with its tooltip and icon, placed where the layout puts it.
void BuildMainControls(QWidget *client, double twipsPerPixelX, double twipsPerPixelY);
// The order the Tab key visits the main window's controls in.
void SetMainFocusOrder(QWidget *window);
// A check box's box alone, as the style draws it.
QSize CheckBoxIconSize(const QWidget *w);

// The controls of a window whose caption is wider than the control itself
// (or, for a label, taller).
QStringList ClippedCaptions(const QWidget *window);

} // namespace varnholt
