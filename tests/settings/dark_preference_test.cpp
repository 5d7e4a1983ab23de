#include "settings/dark_preference.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(DesktopLook, TheFirstHintThatSaysEitherDecides) {
  constexpr int kNothing = -1, kLight = 0, kDark = 1;
  const struct {
    const char *why;
    DesktopLookHints hints;
    int prefers;
    bool ownDarkPalette;
  } rows[] = {
      {"nothing said", {}, kNothing, false},
      {"portal dark", {.portalColourScheme = 1u}, kDark, true},
      {"portal light over GTK_THEME",
       {.portalColourScheme = 2u, .gtkThemeVariable = "Adwaita:dark"},
       kLight,
       false},
      {"portal without preference, GTK_THEME variant",
       {.portalColourScheme = 0u, .gtkThemeVariable = "Adwaita:dark"},
       kDark,
       true},
      {"an unknown portal value says nothing", {.portalColourScheme = 7u}, kNothing, false},
      {"GTK_THEME light over GNOME",
       {.gtkThemeVariable = "Adwaita", .gnomeColourScheme = "'prefer-dark'"},
       kLight,
       false},
      {"GTK_THEME named dark", {.gtkThemeVariable = "Yaru-Dark"}, kDark, true},
      {"GNOME prefers dark", {.gnomeColourScheme = "'prefer-dark'"}, kDark, true},
      {"GNOME prefers light over KDE",
       {.gnomeColourScheme = "'prefer-light'", .kdeWindowBackground = "49,54,59"},
       kLight,
       false},
      {"GNOME default, dark GTK theme",
       {.gnomeColourScheme = "'default'", .gnomeGtkTheme = "'Adwaita-dark'"},
       kDark,
       true},
      {"GNOME's stored light theme leaves it to KDE",
       {.gnomeColourScheme = "'default'",
        .gnomeGtkTheme = "'Adwaita'",
        .kdeColourScheme = "BreezeDark"},
       kDark,
       true},
      {"KDE window colour over the scheme's name",
       {.kdeWindowBackground = "49,54,59", .kdeColourScheme = "BreezeLight"},
       kDark,
       true},
      {"KDE light window", {.kdeWindowBackground = "239,240,241"}, kLight, false},
      {"KDE lightness 127 is dark", {.kdeWindowBackground = "0,254,20"}, kDark, true},
      {"KDE lightness 128 is light", {.kdeWindowBackground = "1,255,40"}, kLight, false},
      {"KDE colour unreadable: the name",
       {.kdeWindowBackground = "49,54", .kdeColourScheme = "BreezeDark"},
       kDark,
       true},
      {"KDE colour out of range: the name",
       {.kdeWindowBackground = "300,0,0", .kdeColourScheme = "Breeze"},
       kLight,
       false},
      {"a dark platform palette is kept", {.platformPaletteDark = true}, kDark, false},
      {"kept even when the portal says dark",
       {.portalColourScheme = 1u, .platformPaletteDark = true},
       kDark,
       false},
      {"kept when the portal says light",
       {.portalColourScheme = 2u, .platformPaletteDark = true},
       kLight,
       false},
  };
  for (const auto &row : rows) {
    const std::optional<bool> prefers = DesktopPrefersDark(row.hints);
    EXPECT_EQ(prefers ? int(*prefers) : kNothing, row.prefers) << row.why;
    EXPECT_EQ(WantsOwnDarkPalette(row.hints), row.ownDarkPalette) << row.why;
  }
}

} // namespace
} // namespace varnholt
