#include "platform/paths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>

#include <climits>
#include <unistd.h>

namespace varnholt {

QString AddBackslash(const QString &path) {
  const QChar sep = QDir::separator();
  return path.endsWith(sep) ? path : path + sep;
}

bool PathExists(const QString &path) { return !path.isEmpty() && QFileInfo::exists(path); }

bool DirectoryExists(const QString &path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

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

QString EscapedFileName(const QByteArray &name) {
  QString shown;
  const auto escape = [&shown](unsigned char b) {
    shown += QStringLiteral("\\x%1").arg(uint(b), 2, 16, QLatin1Char('0'));
  };
  for (qsizetype i = 0; i < name.size();) {
    const auto b = static_cast<unsigned char>(name[i]);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7f || b == '\\')
        escape(b);
      else
        shown += QLatin1Char(char(b));
      ++i;
      continue;
    }
    const qsizetype length = b >= 0xC2 && b <= 0xDF   ? 2
                             : b >= 0xE0 && b <= 0xEF ? 3
                             : b >= 0xF0 && b <= 0xF4 ? 4
                                                      : 0;
    const QByteArray sequence = name.mid(i, length);
    const QString decoded = QString::fromUtf8(sequence);
    // Decoding and encoding again gives the same bytes only for a complete,
    // well-formed sequence (no overlong forms, no surrogates).
    if (length > 0 && sequence.size() == length && decoded.toUtf8() == sequence &&
        !decoded.contains(QChar::ReplacementCharacter)) {
      shown += decoded;
      i += length;
    } else {
      escape(b);
      ++i;
    }
  }
  return shown;
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

namespace {
bool IsUtf8(const QByteArray &bytes) {
  // Stateless: a sequence cut short at the end is an error, not one to continue.
  QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
  const QString text = utf8.decode(bytes);
  return !utf8.hasError();
}
} // namespace

QStringList NonUtf8Arguments(int argc, const char *const *argv) {
  QStringList shown;
  for (int i = 1; i < argc; ++i)
    if (!IsUtf8(QByteArray(argv[i]))) shown << EscapedFileName(QByteArray(argv[i]));
  return shown;
}

QString NonUtf8ProgramPath() {
  char path[PATH_MAX + 1] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, PATH_MAX);
  if (n <= 0) return {};
  const QByteArray bytes(path, n);
  return IsUtf8(bytes) ? QString() : EscapedFileName(bytes);
}

QStringList UnreadableStartTexts(const QStringList &arguments, const QString &programPath) {
  const QString crLf = QStringLiteral("\r\n");
  QStringList texts;
  if (!arguments.isEmpty())
    texts << QStringLiteral("The folder or list named on the command line cannot be opened because "
                            "its name is not valid UTF-8. Rename it to open it:") +
                 crLf + crLf + arguments.join(crLf);
  if (!programPath.isEmpty())
    texts << QStringLiteral("Varnholt cannot find its own files (the ImageMagick licence) or offer "
                            "its folder command because the name of the folder it is installed in "
                            "is not valid UTF-8. Install it in a folder with a UTF-8 name:") +
                 crLf + crLf + programPath;
  return texts;
}

QString SelfExecutable() {
  static const QString self = QStringLiteral("/proc/self/exe");
  return QFileInfo::exists(self) ? self : QCoreApplication::applicationFilePath();
}

QString ProgramDataFolder() {
  const QString installed =
      QDir::cleanPath(ApplicationFolder() + QStringLiteral("/../share/varnholt"));
  return QFileInfo(installed).isDir() ? installed : ApplicationFolder();
}

} // namespace varnholt
