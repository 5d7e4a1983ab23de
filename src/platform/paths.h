#pragma once

#include <QString>
#include <QStringList>

namespace varnholt {

// The path separator is the platform's; the name stays for its callers.
QString AddBackslash(const QString &path);
bool PathExists(const QString &path);      // any file-system entry
bool DirectoryExists(const QString &path); // an existing directory
bool FileExists(const QString &path);      // an existing file that is not a directory
// The absolute, cleaned path when the entry exists; empty text otherwise.
QString GetLongPath(const QString &path);

// The program's arguments, the program's own name first. Everything but our
// options is one command line, the pieces joined by single blanks: a folder
// with blanks typed without quotes arrives in pieces. An option we do not
// know stays in it, so it is passed over like any word that names nothing.
struct ProgramArguments {
  bool help = false;
  bool version = false;
  QString commandLine;
  QStringList unknown; // option-looking words that are none of ours
};
ProgramArguments ParseProgramArguments(const QStringList &arguments);

// What the program was started with: a folder, or an operation list file
// (a name ending in ".vop", any case), either of them optionally in double
// quotes. Anything else, or a path that does not exist, gives both empty.
struct CommandLineTarget {
  QString folder;
  QString listFile;
};
CommandLineTarget ReadCommandLine(const QString &commandLine);

// The part after the last separator.
QString FileNamePart(const QString &path);

// Where images are looked for before the user picks a folder: Pictures when
// it exists, else the home folder.
// A file name's bytes for a message: valid UTF-8 as it stands, every other
// byte, and control characters, as \xNN.
QString EscapedFileName(const QByteArray &name);

QString DefaultImageFolder();
// The per-user data folder (created on demand) and its "Operations" folder.
QString AppDataFolder();
QString OperationsFolder();
// The folder of the executable.
QString ApplicationFolder();

// Names Qt cannot hold: a path that is not valid UTF-8 comes through
// QString mangled, so it can only be named, shown as EscapedFileName shows it.
// The arguments from argv[1] on that are not valid UTF-8:
QStringList NonUtf8Arguments(int argc, const char *const *argv);
// This program's own path when it is not valid UTF-8, else empty.
QString NonUtf8ProgramPath();
// The texts of the "Unreadable File Names" boxes the window shows at start
// for them, one per kind.
QStringList UnreadableStartTexts(const QStringList &arguments, const QString &programPath);
// What worker processes are started from: this very executable, whatever
// bytes its path holds.
QString SelfExecutable();
// Where read-only companions (the ImageMagick licence text) live: <prefix>/share/varnholt
// beside an installed bin/, else the executable's own folder (the build tree).
QString ProgramDataFolder();

} // namespace varnholt
