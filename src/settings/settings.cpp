#include "settings/settings.h"

#include "platform/failure.h"
#include "platform/settings_store.h"

#include <cmath>
#include <limits>

namespace varnholt {

namespace {
QString BoolText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

Failure TypeMismatch(const QString &key, const QString &text) {
  return Failure(kErrTypeMismatch,
                 "Type mismatch: setting " + key + " holds \"" + text + "\"");
}

std::int16_t ReadInteger16(const QString &text, const QString &key) {
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  if (!ok) throw TypeMismatch(key, text);
  const double rounded = std::nearbyint(value);
  if (rounded < std::numeric_limits<std::int16_t>::min() ||
      rounded > std::numeric_limits<std::int16_t>::max())
    throw Failure(kErrOverflow, "Overflow: setting " + key + " holds \"" + text + "\"");
  return static_cast<std::int16_t>(rounded);
}
} // namespace

bool ReadBoolean(const QString &text, const QString &key) {
  const QString t = text.trimmed();
  if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) return true;
  if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) return false;
  bool ok = false;
  const double value = t.toDouble(&ok);
  if (!ok) throw TypeMismatch(key, text);
  return value != 0.0;
}

Settings LoadSettings(SettingsStore &store, const QString &defaultFolder) {
  Settings s;
  const auto text = [&](const char *key, const QString &fallback) {
    return store.read(kSettingsSection, QString::fromLatin1(key)).value_or(fallback);
  };
  const auto boolean = [&](const char *key, bool fallback) {
    const auto stored = store.read(kSettingsSection, QString::fromLatin1(key));
    return stored ? ReadBoolean(*stored, QString::fromLatin1(key)) : fallback;
  };
  s.LoadedFile = text("LoadedFile", QString());
  s.SelectedDir = text("SelectedDir", defaultFolder);
  s.OutputInDiffDir = boolean("OutputInDiffDir", false);
  s.OutputDir = text("OutputDir", s.SelectedDir);
  s.XPStyle = boolean("XPStyle", true);
  s.Antialias = boolean("Antialias", false);
  s.Pattern = text("Pattern", QString());
  if (const auto stored = store.read(kSettingsSection, QStringLiteral("InversePattern")))
    s.InversePattern = ReadInteger16(*stored, QStringLiteral("InversePattern"));
  s.AllowOutOfBoundry = boolean("AllowOutOfBoundry", false);
  s.AutoOrient = boolean("AutoOrient", true);
  s.NeverEnlarge = boolean("NeverEnlarge", true);
  return s;
}

void SaveSettings(SettingsStore &store, const Settings &s) {
  const auto put = [&](const char *key, const QString &value) {
    store.write(kSettingsSection, QString::fromLatin1(key), value);
  };
  put("LoadedFile", s.LoadedFile);
  put("SelectedDir", s.SelectedDir);
  put("OutputInDiffDir", BoolText(s.OutputInDiffDir));
  put("OutputDir", s.OutputDir);
  put("XPStyle", BoolText(s.XPStyle));
  put("Antialias", BoolText(s.Antialias));
  put("Pattern", s.Pattern);
  put("InversePattern", QString::number(s.InversePattern));
  put("AllowOutOfBoundry", BoolText(s.AllowOutOfBoundry));
  put("AutoOrient", BoolText(s.AutoOrient));
  put("NeverEnlarge", BoolText(s.NeverEnlarge));
  store.flush();
}

} // namespace varnholt
