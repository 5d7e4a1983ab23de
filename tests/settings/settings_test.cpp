#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/test_images.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace varnholt {
namespace {

using test::MemorySettingsStore;
using test::TempFolder;
using test::WriteBytes;

TEST(Settings, FirstUseGivesTheDefaultsAndTheOutputFolderFollowsTheInputFolder) {
  MemorySettingsStore store;
  EXPECT_EQ(LoadSettings(store, "/home/u/Pictures"),
            (Settings{.SelectedDir = "/home/u/Pictures", .OutputDir = "/home/u/Pictures"}));
  // The output folder follows a stored input folder until it is stored itself.
  store.values["Settings/SelectedDir"] = "/photos";
  EXPECT_EQ(LoadSettings(store, "/default").OutputDir, "/photos");
  store.values["Settings/OutputDir"] = "/out";
  EXPECT_EQ(LoadSettings(store, "/default").OutputDir, "/out");
}

TEST(Settings, BooleansReadAsWordsOrNumbersAndNothingElse) {
  MemorySettingsStore store;
  for (const auto &[text, value] : std::vector<std::pair<QString, bool>>{
           {"True", true}, {"false", false}, {"0", false}, {"-1", true}, {"2", true}}) {
    store.values["Settings/Antialias"] = text;
    EXPECT_EQ(LoadSettings(store, "/d").Antialias, value) << text.toStdString();
  }
}

TEST(Settings, ABadValueCostsOnlyItsOwnKeyAndTheRestIsWrittenBackAsRead) {
  MemorySettingsStore store;
  const std::map<QString, QString> stored{{"Settings/LoadedFile", "/l.vop"},
                                          {"Settings/SelectedDir", "/in"},
                                          {"Settings/OutputInDiffDir", "True"},
                                          {"Settings/OutputDir", "/out"},
                                          {"Settings/XPStyle", "False"},
                                          {"Settings/Antialias", "True"},
                                          {"Settings/Pattern", "*.png"},
                                          {"Settings/InversePattern", "1"},
                                          {"Settings/AllowOutOfBoundry", "True"},
                                          {"Settings/AutoOrient", "False"},
                                          {"Settings/NeverEnlarge", "False"},
                                          {"Settings/ExactDecode", "True"},
                                          {"Settings/SharpenAfterShrinking", "True"},
                                          {"Settings/IncludeSubfolders", "True"},
                                          {"Settings/ExistingResults", "KeepBoth"},
                                          {"Settings/Metadata", "RemoveLocation"},
                                          {"Settings/MainWindowPlace", "10,20,600,500"},
                                          {"Settings/CropToolPlace", ""}};
  struct Row {
    const char *key, *bad, *readAs;
    int number;
  } rows[] = {{"XPStyle", "yes", "True", kErrTypeMismatch},
              {"OutputInDiffDir", "", "False", kErrTypeMismatch},
              {"InversePattern", "70000", "0", kErrOverflow},
              {"AutoOrient", "sideways", "True", kErrTypeMismatch}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.key);
    store.values = QMap<QString, QString>(stored);
    store.values["Settings/" + QString(row.key)] = row.bad;
    QList<Failure> bad;
    const Settings s = LoadSettings(store, "/default", &bad);
    ASSERT_EQ(bad.size(), 1);
    EXPECT_EQ(bad[0].number(), row.number);
    EXPECT_EQ(bad[0].description().section(u':', 1),
              QString(" setting %1 holds \"%2\", read as its default").arg(row.key, row.bad));
    MemorySettingsStore written;
    SaveSettings(written, s);
    auto expected = stored;
    expected["Settings/" + QString(row.key)] = row.readAs;
    EXPECT_EQ(written.values, (QMap<QString, QString>(expected)));
  }
}

// What a pair does with an earlier result: the stored word, any case; any
// other word is what a run always did.
TEST(Settings, AnEarlierResultIsReplacedUnlessTheSettingSaysOtherwise) {
  const std::pair<const char *, EarlierResult> rows[] = {{"Replace", EarlierResult::Replace},
                                                         {"Skip", EarlierResult::Skip},
                                                         {"skip", EarlierResult::Skip},
                                                         {"KeepBoth", EarlierResult::KeepBoth},
                                                         {" keepboth ", EarlierResult::KeepBoth},
                                                         {"Keep Both", EarlierResult::Replace},
                                                         {"", EarlierResult::Replace}};
  for (const auto &[word, rule] : rows) {
    EXPECT_EQ(EarlierResultRule({.ExistingResults = word}), rule) << word;
    EXPECT_EQ(EarlierResultRule({.ExistingResults = EarlierResultWord(rule)}), rule);
  }
  // Likewise what of the metadata travels: all of it unless the word says less.
  const std::pair<const char *, KeptMetadata> kept[] = {
      {"KeepAll", KeptMetadata::All},
      {"removelocation", KeptMetadata::AllButLocation},
      {" RemoveAll ", KeptMetadata::ColourProfile},
      {"Remove All", KeptMetadata::All},
      {"", KeptMetadata::All}};
  for (const auto &[word, rule] : kept) {
    EXPECT_EQ(MetadataRule({.Metadata = word}), rule) << word;
    EXPECT_EQ(MetadataRule({.Metadata = MetadataWord(rule)}), rule);
  }
}

TEST(Settings, SaveThenLoadThroughARealIniFileAndFailWhereItCannotBeWritten) {
  test::TempFolder dir;
  const QString ini = dir.file("Varnholt.ini");
  const Settings s{.LoadedFile = "/lists/web ü.vop",
                   .SelectedDir = "/photos, 2024",
                   .OutputInDiffDir = true,
                   .OutputDir = "/out",
                   .XPStyle = false,
                   .Antialias = true,
                   .Pattern = "img[!a]*",
                   .InversePattern = 1,
                   .AllowOutOfBoundry = true,
                   .AutoOrient = false,
                   .ExactDecode = true,
                   .SharpenAfterShrinking = true,
                   .IncludeSubfolders = true,
                   .ExistingResults = "Skip",
                   .Metadata = "RemoveAll",
                   .MainWindowPlace = "120,80,900,700,max",
                   .CropToolPlace = "-1400,30,700,500"};
  QSettingsStore writer(ini);
  SaveSettings(writer, s);
  const QString text = QString::fromUtf8(test::ReadBytes(ini));
  for (const char *line :
       {"[Settings]", "OutputInDiffDir=True", "XPStyle=False", "Antialias=True", "InversePattern=1",
        "AllowOutOfBoundry=True", "OutputDir=/out", "AutoOrient=False", "NeverEnlarge=True",
        "ExactDecode=True", "SharpenAfterShrinking=True", "IncludeSubfolders=True",
        "ExistingResults=Skip", "Metadata=RemoveAll", "MainWindowPlace=\"120,80,900,700,max\""})
    EXPECT_TRUE(text.contains(line)) << line << "\n" << text.toStdString();
  QSettingsStore store(ini);
  EXPECT_EQ(LoadSettings(store, "/d"), s);

  MemorySettingsStore memory;
  SaveSettings(memory, s);
  EXPECT_EQ(
      memory.writeOrder,
      (QStringList{"LoadedFile", "SelectedDir", "OutputInDiffDir", "OutputDir", "XPStyle",
                   "Antialias", "Pattern", "InversePattern", "AllowOutOfBoundry", "AutoOrient",
                   "NeverEnlarge", "ExactDecode", "SharpenAfterShrinking", "IncludeSubfolders",
                   "ExistingResults", "Metadata", "MainWindowPlace", "CropToolPlace"}));
  EXPECT_EQ(memory.flushes, 1);

  // A store that cannot be written fails: a file where the folder should be
  // stops even root.
  test::WriteBytes(dir.file("plain"), "x");
  QSettingsStore unwritable(dir.file("plain/sub/Varnholt.ini"));
  EXPECT_THROW(SaveSettings(unwritable, Settings{}), Failure);
}

// Only the edges: the callers' own tests cover the plain cases.
TEST(Paths, TellFilesFromFoldersAndAddNoSecondSeparator) {
  test::TempFolder dir;
  test::WriteBytes(dir.file("f.png"), "x");
  const QString sep = QDir::separator();
  EXPECT_EQ(AddBackslash("/images" + sep), "/images" + sep);
  EXPECT_FALSE(DirectoryExists(dir.file("f.png")) || FileExists(dir.path()) || PathExists(""));
  EXPECT_EQ(GetLongPath(dir.path() + "/./f.png"), dir.file("f.png"));
  EXPECT_EQ(GetLongPath(dir.path() + "/missing/f.png"), "");
}

TEST(ProgramArguments, OptionsAndTheRestJoinedBySingleBlanks) {
  struct Row {
    QStringList arguments;
    bool help, version;
    QString commandLine;
    QStringList unknown;
  } rows[] = {
      {{"varnholt"}, false, false, "", {}},
      {{"varnholt", "/home/u/My", "Shoot"}, false, false, "/home/u/My Shoot", {}},
      {{"varnholt", "/home/u/My Shoot"}, false, false, "/home/u/My Shoot", {}},
      {{"varnholt", "\"/home/u/x\""}, false, false, "\"/home/u/x\"", {}},
      {{"varnholt", "--help"}, true, false, "", {}},
      {{"varnholt", "-h"}, true, false, "", {}},
      {{"varnholt", "--version", "--batch"}, false, true, "", {}},
      {{"varnholt", "--", "--version", "-x"}, false, false, "--version -x", {}},
      // Unknown options stay words of the command line, so it names nothing.
      {{"varnholt", "--frobnicate", "web.vop"},
       false,
       false,
       "--frobnicate web.vop",
       {"--frobnicate"}},
      {{"varnholt", "-x", "-", "--help=no"}, false, false, "-x - --help=no", {"-x", "--help=no"}},
  };
  for (const Row &row : rows) {
    const ProgramArguments parsed = ParseProgramArguments(row.arguments);
    SCOPED_TRACE(row.arguments.join(u'|').toStdString());
    EXPECT_EQ(std::tuple(parsed.help, parsed.version, parsed.commandLine, parsed.unknown),
              std::tuple(row.help, row.version, row.commandLine, row.unknown));
  }
}

TEST(CommandLine, AFolderOrAnExistingListFileAnythingElseIsIgnored) {
  TempFolder root;
  QDir(root.path()).mkpath("My Shoot");
  const QString folder = root.file("My Shoot");
  WriteBytes(root.file("WEB.VOP"), "");
  WriteBytes(root.file("notes.txt"), "");
  WriteBytes(root.file("tricky.vop.txt"), "");
  struct Row {
    QString commandLine, folder, listFile;
  } rows[] = {
      {"", "", ""},
      {"   ", "", ""},
      {folder, folder, ""},
      {"  \"" + folder + "\"  ", folder, ""},
      {"\"" + folder, folder, ""},
      {root.file("My Shoot/../My Shoot/"), folder, ""},
      {root.file("WEB.VOP"), "", root.file("WEB.VOP")},
      {"\"" + root.file("WEB.VOP") + "\"", "", root.file("WEB.VOP")},
      {root.file("missing.vop"), "", ""},
      {root.file("notes.txt"), "", ""},
      {root.file("tricky.vop.txt"), "", ""},
      {root.file("My"), "", ""},
      {"\"~/" + QDir::home().relativeFilePath(folder) + "\"", folder, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.commandLine.toStdString());
    const CommandLineTarget target = ReadCommandLine(row.commandLine);
    EXPECT_EQ(target.folder, row.folder);
    EXPECT_EQ(target.listFile, row.listFile);
  }
}

} // namespace
} // namespace varnholt
