#pragma once

#include <QString>

#include <optional>

namespace varnholt {

// What the desktop says about light and dark windows, as found at start. Qt
// itself cannot tell us yet, so each desktop's own word is gathered.
struct DesktopLookHints {
  // The desktop portal's org.freedesktop.appearance color-scheme: 0 no
  // preference, 1 dark, 2 light; nothing when no portal answered.
  std::optional<unsigned> portalColourScheme;
  QString gtkThemeVariable;         // GTK_THEME, "Adwaita:dark"
  QString gnomeColourScheme;        // org.gnome.desktop.interface color-scheme, "'prefer-dark'"
  QString gnomeGtkTheme;            // org.gnome.desktop.interface gtk-theme, "'Adwaita-dark'"
  QString kdeWindowBackground;      // kdeglobals [Colors:Window] BackgroundNormal, "49,54,59"
  QString kdeColourScheme;          // kdeglobals [General] ColorScheme, "BreezeDark"
  bool platformPaletteDark = false; // the platform theme's palette: light text on dark
};

// Whether the desktop prefers dark windows: the first of the hints above that
// says either decides, in their order; nothing when none says anything.
// GNOME's gtk-theme only ever says dark: its stored default is reported on
// desktops that never set it.
std::optional<bool> DesktopPrefersDark(const DesktopLookHints &hints);

// The program puts in its own dark palette when the desktop prefers dark and
// the platform theme has not already given a dark one (which is kept as it is).
bool WantsOwnDarkPalette(const DesktopLookHints &hints);

} // namespace varnholt
