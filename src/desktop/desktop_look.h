#pragma once

#include "settings/dark_preference.h"

#include <QPalette>

namespace varnholt {

// Asks the desktop, in the order DesktopPrefersDark weighs the answers, and
// stops asking once an answer decides. Needs the application object (it reads
// the palette the platform theme gave). A desktop that does not answer within
// a fraction of a second counts as saying nothing.
DesktopLookHints GatherDesktopLookHints();

// Fusion's colours for a dark desktop: every role of every group, so nothing
// falls back to a light colour.
QPalette DarkFusionPalette();

// Fusion with DarkFusionPalette, its check boxes edged so that they show;
// before the first widget.
void UseDarkLook();

// With the themed look, the windows follow the desktop's light or dark; call
// after the style is set and before the first widget.
void FollowDesktopLook();

// Light text on a dark window, whoever gave the palette: what colours of our
// own (the pattern box's frame, the crop tool's legend) must read on.
bool IsDarkPalette(const QPalette &palette);

} // namespace varnholt
