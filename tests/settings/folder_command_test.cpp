#include "settings/folder_command.h"

#include "support/test_images.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace varnholt::test {
namespace {

// Every file under a folder, hidden ones included, with its contents.
QMap<QString, QByteArray> Tree(const QString &root) {
  QMap<QString, QByteArray> files;
  QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    files.insert(QDir(root).relativeFilePath(path), ReadBytes(path));
  }
  return files;
}

// The words a POSIX shell makes of a command line.
QStringList ShellWords(const QString &commandLine) {
  QProcess sh;
  sh.start(QStringLiteral("/bin/sh"), {"-c", "printf '%s\\0' " + commandLine});
  sh.waitForFinished();
  QStringList words;
  for (const QByteArray &word : sh.readAllStandardOutput().split('\0'))
    words << QString::fromUtf8(word);
  words.removeLast(); // after the last NUL
  return words;
}

QString Read(const QString &path) { return QString::fromUtf8(ReadBytes(path)); }

const QString kKde = QStringLiteral("kio/servicemenus/varnholt-extract-images.desktop");
const QString kNemo = QStringLiteral("nemo/actions/varnholt-extract-images.nemo_action");

TEST(FolderCommand, RegisterAddsOnlyOurTwoFilesOnceAndUnregisterRemovesOnlyThem) {
  TempFolder home;
  QDir(home.path()).mkpath("kio/servicemenus");
  QDir(home.path()).mkpath("nemo/actions");
  WriteBytes(home.file("kio/servicemenus/someone-else.desktop"), "[Desktop Entry]\n");
  WriteBytes(home.file("nemo/actions/other.nemo_action"), "[Nemo Action]\n");
  const auto before = Tree(home.path());
  XdgFolderCommand command(home.path(), "/old/place/bin/Varnholt");
  command.Unregister();
  EXPECT_EQ(Tree(home.path()), before) << "nothing to remove";
  EXPECT_FALSE(command.IsRegistered());
  command.Register();
  const auto first = Tree(home.path());
  QStringList ours = before.keys() + QStringList({kKde, kNemo});
  ours.sort();
  EXPECT_EQ(first.keys(), ours);
  command.Register();
  EXPECT_EQ(Tree(home.path()), first);
  EXPECT_TRUE(QFileInfo(home.file(kKde)).isExecutable()) << "Dolphin skips a user's menu otherwise";
  // Nothing that could make it a folder's default opener.
  EXPECT_FALSE(QDir(home.file("applications")).exists());
  const QString kde = Read(home.file(kKde));
  EXPECT_EQ(DesktopEntryValue(kde, "Desktop Action extractImages", "Name"), "Extract Images...");
  EXPECT_EQ(DesktopEntryValue(Read(home.file(kNemo)), "Nemo Action", "Name"), "Extract Images...");

  // Only the executable's name counts, in any case: a moved program is still ticked.
  EXPECT_TRUE(XdgFolderCommand(home.path(), "/old/place/bin/Varnholt").IsRegistered());
  EXPECT_TRUE(XdgFolderCommand(home.path(), "/new/place/bin/varnholt").IsRegistered());
  EXPECT_FALSE(XdgFolderCommand(home.path(), "/old/place/bin/other").IsRegistered());
  EXPECT_FALSE(XdgFolderCommand(home.path() + "/elsewhere", "/x/varnholt").IsRegistered());
  // Confirming after the move rewrites the command with the new place.
  XdgFolderCommand moved(home.path(), "/new/place/bin/varnholt");
  moved.Register();
  EXPECT_TRUE(Read(home.file(kKde)).contains("/new/place/bin/varnholt"));
  moved.Unregister();
  EXPECT_EQ(Tree(home.path()), before);
  EXPECT_FALSE(moved.IsRegistered());
}

TEST(FolderCommand, TheCommandStartsThisExecutableWithTheFolderAsOneArgument) {
  const QString folder = QStringLiteral("/tmp/My 'odd' \"folder\" $HOME `id` 100%");
  for (const QString executable : {"/opt/varnholt/bin/varnholt", "/home/me/my programs/var\"nholt",
                                   "/tmp/$x/`y`/a\\b/varnholt", "/srv/100%f/varnholt"}) {
    SCOPED_TRACE(executable.toStdString());
    TempFolder home;
    XdgFolderCommand command(home.path(), executable);
    command.Register();
    // Dolphin: field codes expanded (the folder quoted by the file manager's
    // own rules), then the line split into words.
    const QString entry = Read(home.file(kKde));
    QString kde = DesktopEntryValue(entry, "Desktop Action extractImages", "Exec");
    EXPECT_EQ(DesktopEntryValue(entry, "Desktop Entry", "Exec"), kde);
    ASSERT_TRUE(kde.endsWith(" %f"));
    kde.chop(2);
    kde = kde.replace("%%", "%") + "'" + QString(folder).replace("'", "'\\''") + "'";
    EXPECT_EQ(ShellWords(kde), QStringList({executable, folder}));
    // Nemo puts the folder in double quotes with its quotes escaped. GLib's
    // splitter, unlike the shell, expands nothing, so "$" and "`" stay out of
    // this folder's name.
    if (executable.contains('%')) {
      EXPECT_FALSE(QFile::exists(home.file(kNemo))) << "Nemo cannot escape a %";
      continue;
    }
    const QString plainer = QStringLiteral("/tmp/My 'odd' \"folder\" 100%");
    QString nemo = DesktopEntryValue(Read(home.file(kNemo)), "Nemo Action", "Exec");
    nemo.replace("%F", u'"' + QString(plainer).replace("\"", "\\\"") + u'"');
    EXPECT_EQ(ShellWords(nemo), QStringList({executable, plainer}));
  }
}

TEST(FolderCommand, DataHomeIsXdgDataHomeWhenAbsolute) {
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", "/srv/data/");
  EXPECT_EQ(XdgFolderCommand::DefaultDataHome(), "/srv/data");
  qputenv("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(XdgFolderCommand::DefaultDataHome(), QDir::homePath() + "/.local/share");
  qputenv("XDG_DATA_HOME", saved);
}

TEST(FolderCommand, TheKdeEntryPassesDesktopFileValidate) {
  const QString validate = QStandardPaths::findExecutable("desktop-file-validate");
  if (validate.isEmpty()) GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is absent";
  TempFolder home;
  XdgFolderCommand(home.path(), "/home/me/my \"programs\"/$x/var%nholt").Register();
  QProcess run;
  run.start(validate, {home.file(kKde)});
  run.waitForFinished();
  EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardOutput().toStdString();
}

} // namespace
} // namespace varnholt::test
