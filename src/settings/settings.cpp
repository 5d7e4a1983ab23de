#include "settings/settings.h"

#include "platform/failure.h"
#include "platform/settings_store.h"

#include <cmath>
#include <limits>
#include <optional>
#include <variant>

namespace varnholt {

namespace {
QString BoolText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

Failure TypeMismatch(const QString &key, const QString &text) {
  return Failure(kErrTypeMismatch, "Type mismatch: setting " + key + " holds \"" + text + "\"");
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

namespace {
using Field = std::variant<QString Settings::*, bool Settings::*, std::int16_t Settings::*>;
struct Key {
  const char *name;
  Field field;
};
// Every key, in the order it is written. A key missing from the store keeps
// the default of Settings; SelectedDir's is the caller's folder.
const Key kKeys[] = {
    {"LoadedFile", &Settings::LoadedFile},
    {"SelectedDir", &Settings::SelectedDir},
    {"OutputInDiffDir", &Settings::OutputInDiffDir},
    {"OutputDir", &Settings::OutputDir},
    {"XPStyle", &Settings::XPStyle},
    {"Antialias", &Settings::Antialias},
    {"Pattern", &Settings::Pattern},
    {"InversePattern", &Settings::InversePattern},
    {"AllowOutOfBoundry", &Settings::AllowOutOfBoundry},
    {"AutoOrient", &Settings::AutoOrient},
    {"NeverEnlarge", &Settings::NeverEnlarge},
    {"ExactDecode", &Settings::ExactDecode},
    {"SharpenAfterShrinking", &Settings::SharpenAfterShrinking},
    {"IncludeSubfolders", &Settings::IncludeSubfolders},
    {"ExistingResults", &Settings::ExistingResults},
    {"Metadata", &Settings::Metadata},
    {"MainWindowPlace", &Settings::MainWindowPlace},
    {"CropToolPlace", &Settings::CropToolPlace},
};

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;
} // namespace

EarlierResult EarlierResultRule(const Settings &settings) {
  const QString word = settings.ExistingResults.trimmed();
  if (word.compare(QStringLiteral("Skip"), Qt::CaseInsensitive) == 0) return EarlierResult::Skip;
  if (word.compare(QStringLiteral("KeepBoth"), Qt::CaseInsensitive) == 0)
    return EarlierResult::KeepBoth;
  return EarlierResult::Replace;
}

QString EarlierResultWord(EarlierResult rule) {
  switch (rule) {
  case EarlierResult::Skip: return QStringLiteral("Skip");
  case EarlierResult::KeepBoth: return QStringLiteral("KeepBoth");
  default: return QStringLiteral("Replace");
  }
}

KeptMetadata MetadataRule(const Settings &settings) {
  const QString word = settings.Metadata.trimmed();
  if (word.compare(QStringLiteral("RemoveLocation"), Qt::CaseInsensitive) == 0)
    return KeptMetadata::AllButLocation;
  if (word.compare(QStringLiteral("RemoveAll"), Qt::CaseInsensitive) == 0)
    return KeptMetadata::ColourProfile;
  return KeptMetadata::All;
}

QString MetadataWord(KeptMetadata kept) {
  switch (kept) {
  case KeptMetadata::AllButLocation: return QStringLiteral("RemoveLocation");
  case KeptMetadata::ColourProfile: return QStringLiteral("RemoveAll");
  default: return QStringLiteral("KeepAll");
  }
}

Settings LoadSettings(SettingsStore &store, const QString &defaultFolder, QList<Failure> *bad) {
  Settings s;
  s.SelectedDir = defaultFolder;
  bool outputFolderStored = false;
  for (const Key &key : kKeys) {
    const QString name = QString::fromLatin1(key.name);
    const std::optional<QString> stored = store.read(kSettingsSection, name);
    if (!stored) continue;
    // Each key on its own: a value that does not read costs that key alone.
    try {
      std::visit(
          Overloaded{[&](QString Settings::*f) { s.*f = *stored; },
                     [&](bool Settings::*f) { s.*f = ReadBoolean(*stored, name); },
                     [&](std::int16_t Settings::*f) { s.*f = ReadInteger16(*stored, name); }},
          key.field);
    } catch (const Failure &failure) {
      if (bad)
        bad->push_back(Failure(failure.number(), failure.description() + ", read as its default"));
      continue;
    }
    outputFolderStored |= key.field == Field(&Settings::OutputDir);
  }
  // Until it is stored itself, the output folder follows the input folder.
  if (!outputFolderStored) s.OutputDir = s.SelectedDir;
  return s;
}

void SaveSettings(SettingsStore &store, const Settings &s) {
  for (const Key &key : kKeys)
    store.write(
        kSettingsSection, QString::fromLatin1(key.name),
        std::visit(Overloaded{[&](QString Settings::*f) { return s.*f; },
                              [&](bool Settings::*f) { return BoolText(s.*f); },
                              [&](std::int16_t Settings::*f) { return QString::number(s.*f); }},
                   key.field));
  store.flush();
}

} // namespace varnholt
