#include "settings/paths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace varnholt {

QString AddBackslash(const QString &path) {
  const QChar sep = QDir::separator();
  return path.endsWith(sep) ? path : path + sep;
}

bool PathExists(const QString &path) {
  return !path.isEmpty() && QFileInfo::exists(path);
}

bool DirectoryExists(const QString &path) {
  return !path.isEmpty() && QFileInfo(path).isDir();
}

bool FileExists(const QString &path) {
  if (path.isEmpty()) return false;
  const QFileInfo info(path);
  return info.exists() && !info.isDir();
}

QString GetLongPath(const QString &path) {
  if (!PathExists(path)) return QString();
  return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

ProgramArguments ParseProgramArguments(const QStringList &arguments) {
  QCommandLineParser parser;
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringLiteral("version"));
  // The batch mode takes over before the window is thought of; the option is
  // known here only so that it is not called unknown.
  const QCommandLineOption batch(QStringLiteral("batch"));
  parser.addOptions({help, version, batch});
  ProgramArguments result;
  if (!parser.parse(arguments)) result.error = parser.errorText();
  result.help = parser.isSet(help);
  result.version = parser.isSet(version);
  result.commandLine = parser.positionalArguments().join(u' ');
  return result;
}

CommandLineTarget ReadCommandLine(const QString &commandLine) {
  CommandLineTarget target;
  QString s = commandLine.trimmed();
  if (s.isEmpty()) return target;
  if (s.startsWith(u'"')) s.remove(0, 1);
  if (s.endsWith(u'"')) s.chop(1);
  // In quotes the shell leaves "~" alone; people still mean their home.
  if ((s == u'~' || s.startsWith(QStringLiteral("~/"))) && !PathExists(s))
    s = QDir::homePath() + s.mid(1);
  s = GetLongPath(s);
  if (DirectoryExists(s))
    target.folder = s;
  else if (s.right(4).toLower() == QLatin1String(".vop") && FileExists(s))
    target.listFile = s;
  return target;
}

QString FileNamePart(const QString &path) {
  return path.mid(path.lastIndexOf(QDir::separator()) + 1);
}

QString DefaultImageFolder() {
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (!pictures.isEmpty() && QFileInfo(pictures).isDir()) return pictures;
  return QDir::homePath();
}

QString AppDataFolder() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QDir().mkpath(folder);
  return folder;
}

QString OperationsFolder() {
  const QString folder = AddBackslash(AppDataFolder()) + QStringLiteral("Operations");
  QDir().mkpath(folder);
  return folder;
}

QString ApplicationFolder() { return QCoreApplication::applicationDirPath(); }

QString ProgramDataFolder() {
  const QString installed =
      QDir::cleanPath(ApplicationFolder() + QStringLiteral("/../share/varnholt"));
  return QFileInfo(installed).isDir() ? installed : ApplicationFolder();
}

} // namespace varnholt
