#include "settings/paths.h"

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
  ProgramArguments result;
  QStringList rest;
  bool optionsEnded = false;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString &argument = arguments[i];
    if (optionsEnded || argument == u'-' || !argument.startsWith(u'-')) {
      rest << argument;
    } else if (argument == QLatin1String("--")) {
      optionsEnded = true;
    } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
      result.help = true;
    } else if (argument == QLatin1String("--version")) {
      result.version = true;
    } else if (argument != QLatin1String("--batch")) {
      // Not one of ours: it is part of the command line like any other word,
      // which then names no folder or list unless one is really called so.
      result.unknown << argument;
      rest << argument;
    }
  }
  result.commandLine = rest.join(u' ');
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
