#include "settings/dark_preference.h"

#include <QStringList>

#include <algorithm>

namespace varnholt {

namespace {

bool NamesDark(const QString &name) {
  return name.contains(QLatin1String("dark"), Qt::CaseInsensitive);
}

// gsettings prints strings quoted: 'prefer-dark'.
QString Unquoted(const QString &text) {
  QString value = text.trimmed();
  if (value.size() >= 2 && value.front() == u'\'' && value.back() == u'\'')
    value = value.mid(1, value.size() - 2);
  return value;
}

// "Adwaita:dark" (theme and variant) or a theme named for its darkness.
std::optional<bool> FromGtkTheme(const QString &variable) {
  if (variable.trimmed().isEmpty()) return std::nullopt;
  return NamesDark(variable);
}

std::optional<bool> FromGnome(const QString &colourScheme, const QString &gtkTheme) {
  const QString scheme = Unquoted(colourScheme);
  if (scheme == QLatin1String("prefer-dark")) return true;
  if (scheme == QLatin1String("prefer-light")) return false;
  if (NamesDark(Unquoted(gtkTheme))) return true;
  return std::nullopt;
}

// The window colour tells a scheme of any name; the name is the fallback.
std::optional<bool> FromKde(const QString &windowBackground, const QString &colourScheme) {
  const QStringList parts = windowBackground.split(u',');
  if (parts.size() >= 3) {
    int channels[3];
    bool read = true;
    for (int i = 0; i < 3; ++i) {
      bool ok = false;
      channels[i] = parts[i].trimmed().toInt(&ok);
      read = read && ok && channels[i] >= 0 && channels[i] <= 255;
    }
    if (read) {
      // HSL lightness, as QColor::lightness() has it.
      const auto [low, high] = std::minmax({channels[0], channels[1], channels[2]});
      return (low + high) / 2 < 128;
    }
  }
  if (colourScheme.trimmed().isEmpty()) return std::nullopt;
  return NamesDark(colourScheme);
}

} // namespace

std::optional<bool> DesktopPrefersDark(const DesktopLookHints &hints) {
  if (hints.portalColourScheme == 1u) return true;
  if (hints.portalColourScheme == 2u) return false;
  if (const auto gtk = FromGtkTheme(hints.gtkThemeVariable)) return gtk;
  if (const auto gnome = FromGnome(hints.gnomeColourScheme, hints.gnomeGtkTheme)) return gnome;
  if (const auto kde = FromKde(hints.kdeWindowBackground, hints.kdeColourScheme)) return kde;
  if (hints.platformPaletteDark) return true;
  return std::nullopt;
}

bool WantsOwnDarkPalette(const DesktopLookHints &hints) {
  return !hints.platformPaletteDark && DesktopPrefersDark(hints).value_or(false);
}

} // namespace varnholt
