#include "settings/manifest.h"

#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "version.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <unistd.h>

#include <cstdio>
#include <unistd.h>
#include <vector>

namespace varnholt {

namespace {
struct Line {
  int leading;
  const char *text;
  int trailing;
};

// Blanks before and after each line are part of the text: they are kept as
// they always were.
const Line kLines[] = {
    {0, R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)", 1},
    {0, "<assembly", 1},
    {3, R"(xmlns="urn:schemas-microsoft-com:asm.v1")", 1},
    {3, R"(manifestVersion="1.0">)", 0},
    {0, "<assemblyIdentity", 1},
    {4, R"(processorArchitecture="x86")", 1},
    {4, R"(version="EXEVERSION")", 0},
    {4, R"(type="win32")", 0},
    {4, R"(name="EXENAME"/>)", 0},
    {4, "<description>EXEDESCRIBTION</description>", 0},
    {4, "<dependency>", 0},
    {4, "<dependentAssembly>", 0},
    {4, "<assemblyIdentity", 0},
    {9, R"(type="win32")", 0},
    {9, R"(name="Microsoft.Windows.Common-Controls")", 0},
    {9, R"(version="6.0.0.0")", 0},
    {9, R"(publicKeyToken="6595b64144ccf1df")", 0},
    {9, R"(language="*")", 0},
    {9, R"(processorArchitecture="x86"/>)", 0},
    {4, "</dependentAssembly>", 0},
    {4, "</dependency>", 0},
    {0, "</assembly>", 0},
};
const char *const kRestartedMark = "VARNHOLT_RESTARTED";
} // namespace

ProcessRestarter::ProcessRestarter(QByteArrayList argv, ExecFunction exec)
    : argv_(std::move(argv)), exec_(std::move(exec)) {}

QByteArray ProcessRestarter::ThisExecutable() { return QByteArrayLiteral("/proc/self/exe"); }

bool ProcessRestarter::restart() {
  if (argv_.isEmpty()) return false;
  qputenv(kRestartedMark, "1");
  // Whatever this process has written but not yet flushed would be lost.
  std::fflush(nullptr);
  if (exec_ && exec_(ThisExecutable(), argv_)) return true;
  if (!exec_) {
    std::vector<char *> argv;
    for (QByteArray &argument : argv_)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv(ThisExecutable().constData(), argv.data());
  }
  // Still here: the program goes on as it is, without the themed look.
  qunsetenv(kRestartedMark);
  return false;
}

bool ProcessRestarter::TakeRestartedMark() {
  const bool marked = qEnvironmentVariableIsSet(kRestartedMark);
  qunsetenv(kRestartedMark);
  return marked;
}

QString ManifestPlace::path() const {
  return AddBackslash(folder) + executableName + QStringLiteral(".manifest");
}

ManifestPlace ManifestPlace::ForThisProgram() {
  ManifestPlace place;
  place.folder = AppDataFolder();
  // Read before the application object exists, which knows it only then.
  place.executableName =
      QFileInfo(
          QFileInfo(QString::fromLatin1(ProcessRestarter::ThisExecutable())).canonicalFilePath())
          .fileName();
  if (place.executableName.isEmpty()) place.executableName = QStringLiteral("varnholt");
  place.version = QString::number(kVersionMajor) + u'.' + QString::number(kVersionMinor) + u'.' +
                  QString::number(kVersionRevision) + QStringLiteral(".0");
  place.description = QString::fromUtf8(kFileDescription);
  return place;
}

QByteArray ManifestText(const ManifestPlace &place) {
  QString text;
  for (const Line &line : kLines)
    text += QString(line.leading, u' ') + QString::fromLatin1(line.text) +
            QString(line.trailing, u' ') + QStringLiteral("\r\n");
  // In this order, every occurrence, as the file always had them: a name
  // that holds a later placeholder's word has that filled in too.
  text.replace(QStringLiteral("EXENAME"), place.executableName);
  text.replace(QStringLiteral("EXEVERSION"), place.version);
  text.replace(QStringLiteral("EXEDESCRIBTION"), place.description);
  return text.toLatin1();
}

ManifestWrite WriteManifest(const ManifestPlace &place, bool restart, bool overwrite,
                            Restarter *restarter) {
  ManifestWrite result;
  if (restart) overwrite = false;
  const QString path = place.path();
  const QFileInfo info(path);
  result.existed = info.exists() || info.isSymLink();
  if (result.existed && !overwrite) return result;

  // Written beside and renamed over: whatever is at the name (a link
  // included) is replaced, never written through.
  try {
    WriteFileReplacing(path, ManifestText(place), 0666);
  } catch (const Failure &) {
    return result;
  }
  result.written = true;

  if (restart && !result.existed && restarter) result.restarted = restarter->restart();
  return result;
}

bool DeleteManifest(const ManifestPlace &place) {
  // Removing a name needs no rights on the file itself, and a mode change
  // would go through a link to whatever it points at.
  return ::unlink(QFile::encodeName(place.path()).constData()) == 0;
}

} // namespace varnholt
