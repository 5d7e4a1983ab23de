#include "desktop/folder_command.h"

#include "support/test_images.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

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

const QString kKde = QStringLiteral("data/kio/servicemenus/varnholt-extract-images.desktop");
const QString kNemo = QStringLiteral("data/nemo/actions/varnholt-extract-images.nemo_action");
const QString kScript = QStringLiteral("data/nautilus/scripts/Extract Images...");
const QString kActions =
    QStringLiteral("data/file-manager/actions/varnholt-extract-images.desktop");
const QString kUca = QStringLiteral("config/Thunar/uca.xml");

XdgPlaces Under(const TempFolder &root) {
  return {root.file("data"), root.file("config"), {root.file("etc")}};
}

// A uca.xml as Thunar writes it, with a few liberties a hand may take.
const QByteArray kOtherActions = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<!-- mine -->\n"
                                 "<actions>\n"
                                 "<action>\n"
                                 "\t<icon>utilities-terminal</icon>\n"
                                 "\t<name>Open Terminal Here</name>\n"
                                 "\t<unique-id>1589734567-1</unique-id>\n"
                                 "\t<command>exo-open --working-directory %f</command>\n"
                                 "\t<description>&lt;Ünïcode&gt;<![CDATA[ & ]]></description>\n"
                                 "\t<patterns>*</patterns><directories/>\n"
                                 "</action>\n"
                                 "  <action><unique-id>2</unique-id><command>x</command></action>\n"
                                 "</actions>\n";

// The command of our action in a uca.xml.
QString ThunarCommand(const QByteArray &uca) {
  QXmlStreamReader xml(uca);
  QString command;
  bool ours = false;
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("action") && ours)
      return command;
    if (token != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("action")) ours = false;
    if (xml.name() == QLatin1String("command")) command = xml.readElementText();
    if (xml.name() == QLatin1String("unique-id"))
      ours = xml.readElementText() == "varnholt-extract-images";
  }
  return QString();
}

// Field codes as FileManager-Actions and Thunar expand them: "%f" is the
// folder in single quotes (GLib's g_shell_quote), "%%" a "%".
QString Expanded(const QString &command, const QString &folder) {
  QString out;
  for (qsizetype i = 0; i < command.size(); ++i) {
    if (command[i] != u'%' || i + 1 == command.size()) {
      out += command[i];
    } else if (command[++i] == u'f') {
      out += u'\'' + QString(folder).replace("'", "'\\''") + u'\'';
    } else if (command[i] == u'%') {
      out += u'%';
    }
  }
  return out;
}

TEST(FolderCommand, RegisterAddsOnlyOurEntriesOnceAndUnregisterRemovesOnlyThem) {
  TempFolder root;
  QDir(root.path()).mkpath("data/kio/servicemenus");
  QDir(root.path()).mkpath("data/nautilus/scripts");
  QDir(root.path()).mkpath("config/Thunar");
  WriteBytes(root.file("data/kio/servicemenus/someone-else.desktop"), "[Desktop Entry]\n");
  WriteBytes(root.file("data/nautilus/scripts/Other"), "#!/bin/sh\n");
  WriteBytes(root.file(kUca), kOtherActions);
  const auto before = Tree(root.path());
  XdgFolderCommand command(Under(root), "/old/place/bin/Varnholt");
  command.Unregister();
  EXPECT_EQ(Tree(root.path()), before) << "nothing to remove";
  EXPECT_FALSE(command.IsRegistered());
  command.Register();
  const auto first = Tree(root.path());
  QStringList ours = before.keys() + QStringList({kKde, kNemo, kScript, kActions});
  ours.sort();
  EXPECT_EQ(first.keys(), ours);
  command.Register();
  EXPECT_EQ(Tree(root.path()), first);
  for (const QString &executable : {kKde, kScript})
    EXPECT_TRUE(QFileInfo(root.file(executable)).isExecutable()) << executable.toStdString();
  // Nothing that could make it a folder's default opener.
  EXPECT_FALSE(QDir(root.file("data/applications")).exists());
  EXPECT_EQ(DesktopEntryValue(Read(root.file(kKde)), "Desktop Action extractImages", "Name"),
            "Extract Images...");
  EXPECT_EQ(DesktopEntryValue(Read(root.file(kNemo)), "Nemo Action", "Name"), "Extract Images...");
  EXPECT_EQ(DesktopEntryValue(Read(root.file(kActions)), "Desktop Entry", "Name"),
            "Extract Images...");
  const QByteArray uca = first[kUca];
  EXPECT_TRUE(uca.startsWith(kOtherActions.left(kOtherActions.size() - 11)))
      << "the other actions stay as they were";
  EXPECT_TRUE(uca.contains("<name>Extract Images...</name>"));

  // Only the executable's name counts, in any case: a moved program is still ticked.
  EXPECT_TRUE(XdgFolderCommand(Under(root), "/new/place/bin/varnholt").IsRegistered());
  EXPECT_FALSE(XdgFolderCommand(Under(root), "/old/place/bin/other").IsRegistered());
  EXPECT_FALSE(XdgFolderCommand(root.file("elsewhere"), "/x/varnholt").IsRegistered());
  // Confirming after the move rewrites the commands with the new place.
  XdgFolderCommand moved(Under(root), "/new/place/bin/varnholt");
  moved.Register();
  for (const QString &entry : {kKde, kScript, kActions, kUca})
    EXPECT_TRUE(Read(root.file(entry)).contains("/new/place/bin/varnholt")) << entry.toStdString();
  EXPECT_EQ(Read(root.file(kUca)).count("varnholt-extract-images"), 1);
  moved.Unregister();
  EXPECT_EQ(Tree(root.path()), before) << "uca.xml byte for byte too";
  EXPECT_FALSE(moved.IsRegistered());
}

TEST(FolderCommand, EveryEntryStartsThisExecutableWithTheFolderAsOneArgument) {
  const QStringList folders{"My \"Shoot\" $HOME", "it's `id` 100% \\ ok", "two\nlines"};
  TempFolder root;
  const QStringList executables{"my programs/var\"nholt", "$x/`y`/a\\b/varnholt", "100%f/varnholt",
                                "new\nline/varnholt"};
  for (const QString &name : executables) {
    SCOPED_TRACE(name.toStdString());
    // A real program at that path that writes down what it was given.
    const QString executable = root.file("bin/" + name);
    QDir().mkpath(QFileInfo(executable).path());
    WriteBytes(executable, "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > \"$RECORD\"\n");
    QFile::setPermissions(executable, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
    TempFolder home;
    XdgFolderCommand(Under(home), executable).Register();
    const QString kde =
        DesktopEntryValue(Read(home.file(kKde)), "Desktop Action extractImages", "Exec");
    const QString actions =
        DesktopEntryValue(Read(home.file(kActions)), "X-Action-Profile folder", "Exec");
    const QString thunar = ThunarCommand(ReadBytes(home.file(kUca)));
    const QString nemo = DesktopEntryValue(Read(home.file(kNemo)), "Nemo Action", "Exec");
    EXPECT_EQ(QFile::exists(home.file(kNemo)), !name.contains('%')) << "Nemo cannot escape a %";
    for (const QString &folderName : folders) {
      SCOPED_TRACE(folderName.toStdString());
      const QString folder = home.file(folderName);
      QDir().mkpath(folder);
      const QStringList expected{executable, folder};
      // Dolphin: field codes, then the line split into words. FileManager-
      // Actions and Thunar: their field codes, then the shell.
      EXPECT_EQ(ShellWords(Expanded(kde, folder)), expected);
      EXPECT_EQ(ShellWords(Expanded(actions, folder)), expected);
      EXPECT_EQ(ShellWords(Expanded(thunar, folder)), expected);
      // Nemo puts the folder in double quotes with its quotes escaped. GLib's
      // splitter, unlike the shell, expands nothing, so "$" and "`" stay out.
      if (!nemo.isEmpty() && !folder.contains('$') && !folder.contains('`'))
        EXPECT_EQ(ShellWords(QString(nemo).replace(
                      "%F", '"' + QString(folder).replace("\"", "\\\"") + '"')),
                  expected);
      // GNOME Files runs the script in the folder shown, with names relative
      // to it; what is not a folder is refused.
      QProcess script;
      QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
      environment.insert("RECORD", home.file("record"));
      script.setProcessEnvironment(environment);
      script.setWorkingDirectory(home.path());
      QFile::remove(home.file("record"));
      script.start(home.file(kScript), {folderName, home.file(kScript)});
      ASSERT_TRUE(script.waitForFinished());
      QStringList recorded = QString::fromUtf8(ReadBytes(home.file("record"))).split(QChar(0));
      recorded.removeLast();
      EXPECT_EQ(recorded, QStringList({executable, home.path() + "/" + folderName}));
      EXPECT_EQ(script.readAllStandardError(),
                "Extract Images...: not a folder: " + home.file(kScript).toUtf8() + "\n");
    }
  }
}

TEST(FolderCommand, TheGnomeFilesScriptTakesTheSelectionFromItsUrisWhereGiven) {
  // GNOME Files hands the arguments over with each "%" and the character
  // after it gone; its list of URIs is whole.
  TempFolder home;
  const QString executable = home.file("bin/varnholt");
  QDir().mkpath(home.file("bin"));
  WriteBytes(executable, "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > \"$RECORD\"\n");
  QFile::setPermissions(executable, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
  XdgFolderCommand(Under(home), executable).Register();
  const auto uri = [&](const QString &name, const QByteArray &literal) {
    return "file://" + home.file(name).toUtf8().toPercentEncoding("/" + literal);
  };
  const struct {
    QString folder;
    QByteArray uris;
    QByteArray refused;
  } rows[] = {
      {"50% `id` it's $(id) %f", uri("50% `id` it's $(id) %f", "") + "\n", ""},
      {"50% `id` it's $(id) %f", uri("50% `id` it's $(id) %f", "`'$()") + "\n", ""},
      {"two\nlines\n", uri("two\nlines\n", ""), ""},
      {"\u00e9%", "file://" + home.file("").toUtf8() + "%c3%a9%25\n", ""},
      {"a", "sftp://host/x%20y\n" + uri("a", "") + "\n" + uri("bin/varnholt", "") + "\n",
       "Extract Images...: not a folder: sftp://host/x%20y\n"
       "Extract Images...: not a folder: " +
           executable.toUtf8() + "\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.uris.toStdString());
    QDir().mkpath(home.file(row.folder));
    QProcess script;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("RECORD", home.file("record"));
    environment.insert("NAUTILUS_SCRIPT_SELECTED_URIS", QString::fromUtf8(row.uris));
    script.setProcessEnvironment(environment);
    script.setWorkingDirectory(home.path());
    QFile::remove(home.file("record"));
    script.start(home.file(kScript), {"50`id` it's $(id) "});
    ASSERT_TRUE(script.waitForFinished());
    QStringList recorded = QString::fromUtf8(ReadBytes(home.file("record"))).split(QChar(0));
    recorded.removeLast();
    EXPECT_EQ(recorded, QStringList({executable, home.file(row.folder)}));
    EXPECT_EQ(script.readAllStandardError(), row.refused);
  }
}

TEST(FolderCommand, ThunarActionsKeepEverythingButOursByteForByte) {
  const QByteArray old = ThunarActionXml("/old/varnholt").toUtf8();
  const QByteArray fresh = ThunarActionXml("/new/varnholt").toUtf8();
  const QByteArray head = "<?xml version=\"1.0\"?>\n";
  struct Row {
    const char *name;
    QByteArray file, added; // added empty: the round trip gives the file back
  } rows[] = {
      {"Thunar's own", kOtherActions, {}},
      {"one line", "<actions><action><unique-id>1</unique-id></action></actions>", {}},
      {"empty element", head + "<actions/>\n", head + "<actions>\n" + fresh + "\n</actions>\n"},
      {"ours there", head + "<actions>\n" + old + "\n</actions>\n",
       head + "<actions>\n" + fresh + "\n</actions>\n"},
      {"ours twice", head + "<actions>\n" + old + "\n<action/>\n" + old + "\n</actions>\n",
       head + "<actions>\n" + fresh + "\n<action/>\n</actions>\n"},
      {"nothing", "",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n" + fresh + "\n</actions>\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::optional<QByteArray> added = WithThunarAction(row.file, QString("/new/varnholt"));
    ASSERT_TRUE(added);
    EXPECT_EQ(WithThunarAction(*added, QString("/new/varnholt")), added) << "a second time";
    if (!row.added.isEmpty()) EXPECT_EQ(*added, row.added);
    EXPECT_EQ(ThunarCommand(*added), "\"/new/varnholt\" %f");
    const std::optional<QByteArray> removed = WithThunarAction(*added, std::nullopt);
    ASSERT_TRUE(removed);
    if (row.added.isEmpty()) EXPECT_EQ(*removed, row.file);
    EXPECT_FALSE(removed->contains("varnholt-extract-images"));
  }
  for (const QByteArray &unreadable :
       {QByteArray("<actions><action></actions>"), QByteArray("<other/>"),
        QByteArray("<actions>caf\xe9</actions>"), QByteArray("not xml")}) {
    QString problem;
    EXPECT_FALSE(WithThunarAction(unreadable, QString("/x"), &problem)) << unreadable.toStdString();
    EXPECT_FALSE(problem.isEmpty());
  }
  EXPECT_FALSE(XmlCarries("a\rb") || XmlCarries(QString("a") + QChar(1)));
  EXPECT_TRUE(XmlCarries("tab\tnew\nline <&> ünï"));
}

TEST(FolderCommand, AnUnreadableUcaXmlIsLeftAloneAndAMissingOneStartsFromTheSystems) {
  TempFolder root;
  QDir(root.path()).mkpath("config/Thunar");
  QDir(root.path()).mkpath("etc/Thunar");
  WriteBytes(root.file("etc/Thunar/uca.xml"), kOtherActions);
  XdgFolderCommand command(Under(root), "/usr/bin/varnholt");
  command.Register();
  const QByteArray copied = ReadBytes(root.file(kUca));
  EXPECT_TRUE(copied.contains("Open Terminal Here") && copied.contains("/usr/bin/varnholt"));
  command.Unregister();
  EXPECT_EQ(ReadBytes(root.file(kUca)), kOtherActions);

  WriteBytes(root.file(kUca), "<actions><action>");
  command.Register();
  EXPECT_EQ(ReadBytes(root.file(kUca)), "<actions><action>");
  command.Unregister();
  EXPECT_EQ(ReadBytes(root.file(kUca)), "<actions><action>");
  EXPECT_FALSE(QFile::exists(root.file(kScript))) << "the other entries are unregistered";

  // A linked uca.xml (a dotfiles repository) stays a link to the edited file.
  WriteBytes(root.file("dotfiles-uca.xml"), kOtherActions);
  QFile::remove(root.file(kUca));
  QFile::link(root.file("dotfiles-uca.xml"), root.file(kUca));
  command.Register();
  EXPECT_TRUE(QFileInfo(root.file(kUca)).isSymLink());
  EXPECT_TRUE(ReadBytes(root.file("dotfiles-uca.xml")).contains("/usr/bin/varnholt"));
}

TEST(FolderCommand, DataHomeIsXdgDataHomeWhenAbsolute) {
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", "/srv/data/");
  EXPECT_EQ(XdgFolderCommand::DefaultDataHome(), "/srv/data");
  qputenv("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(XdgFolderCommand::DefaultDataHome(), QDir::homePath() + "/.local/share");
  qputenv("XDG_DATA_HOME", saved);
}

TEST(FolderCommand, TheEntriesPassTheValidatorsThatAreInstalled) {
  TempFolder root;
  XdgFolderCommand(Under(root), "/home/me/my \"programs\"/$x/var%nholt").Register();
  const struct {
    const char *program;
    QStringList arguments;
  } validators[] = {
      {"desktop-file-validate", {root.file(kKde)}},
      {"xmllint", {"--noout", root.file(kUca)}},
      {"shellcheck", {"--severity=warning", root.file(kScript)}},
      {"sh", {"-n", root.file(kScript)}},
  };
  int ran = 0;
  for (const auto &validator : validators) {
    const QString program = QStandardPaths::findExecutable(validator.program);
    if (program.isEmpty()) continue;
    ++ran;
    QProcess run;
    run.start(program, validator.arguments);
    ASSERT_TRUE(run.waitForFinished());
    EXPECT_EQ(run.exitCode(), 0) << validator.program << ": "
                                 << run.readAllStandardOutput().toStdString()
                                 << run.readAllStandardError().toStdString();
  }
  EXPECT_GE(ran, 1) << "sh is always there";
}

} // namespace
} // namespace varnholt::test
