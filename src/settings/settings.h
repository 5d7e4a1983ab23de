#pragma once

#include "platform/kept_metadata.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace varnholt {

class Failure;
class SettingsStore;

// The program's persistent options. One value owned by the application and
// handed to whoever needs it.
struct Settings {
  QString LoadedFile;
  QString SelectedDir;
  bool OutputInDiffDir = false;
  QString OutputDir;
  bool XPStyle = true;
  bool Antialias = false;
  QString Pattern;
  std::int16_t InversePattern = 0;
  bool AllowOutOfBoundry = false;
  // Pictures taken the way their EXIF orientation says they are seen.
  bool AutoOrient = true;
  // The Limit resize methods only ever shrink.
  bool NeverEnlarge = true;
  // JPEGs are decoded whole even where a reduced decode would give the same
  // size: results identical to a full decode, at the cost of time and memory.
  bool ExactDecode = false;
  // A picture made smaller is given a light unsharp mask, as strong as it
  // shrank: what a large photo loses to the fine detail of a small one.
  bool SharpenAfterShrinking = false;
  // The images of every subfolder are listed too ("2024/IMG_001.jpg"), and
  // their results go into the same subfolders of the output folder.
  bool IncludeSubfolders = false;
  // What a pair does where an earlier run's result has its name: "Replace"
  // it, "Skip" the pair, or "KeepBoth" (the new one under the first free
  // "-2", "-3", ... name). Anything else reads as Replace.
  QString ExistingResults = QStringLiteral("Replace");
  // What of a photo's metadata its results carry: "KeepAll", "RemoveLocation"
  // or "RemoveAll" (all but the colour profile). Anything else reads as KeepAll.
  QString Metadata = QStringLiteral("KeepAll");
  // Where the main window and the crop tool were when they last closed
  // (WindowPlaceText); empty: centred at their first size.
  QString MainWindowPlace;
  QString CropToolPlace;

  bool operator==(const Settings &) const = default;
};

enum class EarlierResult { Replace, Skip, KeepBoth };
EarlierResult EarlierResultRule(const Settings &settings);
// The stored word of each rule.
QString EarlierResultWord(EarlierResult rule);
KeptMetadata MetadataRule(const Settings &settings);
QString MetadataWord(KeptMetadata kept);

inline const QString kSettingsSection = QStringLiteral("Settings");

// Results go into the images' own folder (OutputFolderFor names it).
inline bool WritesBesideImages(const Settings &settings) { return !settings.OutputInDiffDir; }

// Missing keys take their defaults; defaultFolder stands in for SelectedDir
// (and, through it, OutputDir). A stored boolean or number that does not read
// as one keeps its default and is added to `bad`; every other key is read as
// stored. Only a store that cannot be read at all throws Failure.
Settings LoadSettings(SettingsStore &store, const QString &defaultFolder,
                      QList<Failure> *bad = nullptr);
void SaveSettings(SettingsStore &store, const Settings &settings);

// "True"/"False", or a number (0 false, anything else true); nothing else.
bool ReadBoolean(const QString &text, const QString &key);

} // namespace varnholt
