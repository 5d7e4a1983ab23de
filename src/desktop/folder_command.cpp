#include "desktop/folder_command.h"

#include "platform/failure.h"
#include "platform/file_ops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>

namespace varnholt {

namespace {
const QString kKdeFolder = QStringLiteral("kio/servicemenus");
const QString kNemoFolder = QStringLiteral("nemo/actions");
const QString kEntryName = QStringLiteral("varnholt-extract-images");
const QString kNautilusFolder = QStringLiteral("nautilus/scripts");
const QString kFileManagerFolder = QStringLiteral("file-manager/actions");
const QString kThunarFile = QStringLiteral("Thunar/uca.xml");

// Writes the file through a hidden one and a rename; through a link, the
// file it points to is replaced, so that a user's linked dotfile stays linked.
void WriteEntry(const QString &path, const QByteArray &bytes, unsigned mode) {
  const QFileInfo info(path);
  const QString target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
  QDir().mkpath(QFileInfo(target).path());
  WriteFileReplacing(target, bytes, mode);
}

QString Joined(const QString &folder, const QString &name) {
  return QDir::cleanPath(folder + u'/' + name);
}
} // namespace

XdgPlaces XdgPlaces::FromEnvironment() {
  XdgPlaces places;
  places.dataHome = XdgFolderCommand::DefaultDataHome();
  const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  places.configHome = !config.isEmpty() && QDir::isAbsolutePath(config)
                          ? QDir::cleanPath(config)
                          : QDir::homePath() + QStringLiteral("/.config");
  for (const QString &dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts))
    if (QDir::isAbsolutePath(dir)) places.configFolders << dir;
  if (places.configFolders.isEmpty()) places.configFolders << QStringLiteral("/etc/xdg");
  return places;
}

XdgFolderCommand::XdgFolderCommand(XdgPlaces places, QString executable)
    : places_(std::move(places)), executable_(std::move(executable)) {}

XdgFolderCommand::XdgFolderCommand(QString dataHome, QString executable)
    : XdgFolderCommand(XdgPlaces{std::move(dataHome), {}, {}}, std::move(executable)) {}

QString XdgFolderCommand::DefaultDataHome() {
  const QString set = qEnvironmentVariable("XDG_DATA_HOME");
  if (!set.isEmpty() && QDir::isAbsolutePath(set)) return QDir::cleanPath(set);
  return QDir::homePath() + QStringLiteral("/.local/share");
}

QString XdgFolderCommand::KdeEntryPath() const {
  return Joined(places_.dataHome, kKdeFolder + u'/' + kEntryName + QStringLiteral(".desktop"));
}

QString XdgFolderCommand::NemoEntryPath() const {
  return Joined(places_.dataHome, kNemoFolder + u'/' + kEntryName + QStringLiteral(".nemo_action"));
}

QString XdgFolderCommand::NautilusScriptPath() const {
  return Joined(places_.dataHome, kNautilusFolder + u'/' + kFolderCommandCaption);
}

QString XdgFolderCommand::FileManagerActionPath() const {
  return Joined(places_.dataHome,
                kFileManagerFolder + u'/' + kEntryName + QStringLiteral(".desktop"));
}

QString XdgFolderCommand::ThunarActionsPath() const {
  return places_.configHome.isEmpty() ? QString() : Joined(places_.configHome, kThunarFile);
}

void XdgFolderCommand::EditThunarActions(bool add) {
  const QString path = ThunarActionsPath();
  if (path.isEmpty()) return;
  QFile file(path);
  QByteArray before;
  unsigned mode = 0644;
  if (file.open(QIODevice::ReadOnly)) {
    before = file.readAll();
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) mode = st.st_mode & 07777;
  } else if (QFileInfo::exists(path)) {
    return; // there but unreadable: not ours to replace
  } else if (!add) {
    return;
  } else {
    // A user without a uca.xml sees the system's; a new file of ours alone
    // would hide those actions, so it starts as a copy of them.
    for (const QString &dir : places_.configFolders) {
      QFile shipped(Joined(dir, kThunarFile));
      if (!shipped.open(QIODevice::ReadOnly)) continue;
      const QByteArray text = shipped.readAll();
      if (WithThunarAction(text, std::nullopt)) before = text;
      break;
    }
  }
  QString problem;
  const std::optional<QByteArray> after =
      WithThunarAction(before, add ? std::optional(executable_) : std::nullopt, &problem);
  if (!after) {
    if (add)
      std::fprintf(stderr, "varnholt: %s is left as it is, so Thunar gets no \"%s\" command: %s\n",
                   qPrintable(path), qPrintable(kFolderCommandCaption), qPrintable(problem));
    return;
  }
  if (*after == before && QFileInfo::exists(path)) return;
  try {
    WriteEntry(path, *after, mode);
  } catch (const Failure &) {
  }
}

void XdgFolderCommand::Register() {
  // Qt gives no path for an executable whose folder name is not valid UTF-8:
  // an entry would start nothing.
  if (executable_.isEmpty()) return;
  // Each entry on its own: a file manager that cannot get one still gets the
  // others.
  const auto write = [](const QString &path, const QString &text, unsigned mode) {
    try {
      WriteEntry(path, text.toUtf8(), mode);
    } catch (const Failure &) {
    }
  };
  // Dolphin runs a service menu from a user's folder only when it is
  // executable.
  write(KdeEntryPath(), KdeServiceMenuText(executable_), 0755);
  // Nemo has no escape for "%": a program path with one in it would be
  // mangled, so Nemo gets no entry then.
  if (!executable_.contains(u'%')) write(NemoEntryPath(), NemoActionText(executable_), 0644);
  write(NautilusScriptPath(), NautilusScriptText(executable_), 0755);
  write(FileManagerActionPath(), FileManagerActionText(executable_), 0644);
  // XML cannot hold every character of a path: then Thunar has none.
  if (XmlCarries(executable_)) EditThunarActions(true);
}

void XdgFolderCommand::Unregister() {
  QFile::remove(KdeEntryPath());
  QFile::remove(NemoEntryPath());
  QFile::remove(NautilusScriptPath());
  QFile::remove(FileManagerActionPath());
  EditThunarActions(false);
}

bool XdgFolderCommand::IsRegistered() {
  QByteArray entry;
  try {
    entry = ReadRegularFile(KdeEntryPath(), 1 << 20);
  } catch (const Failure &) {
    return false;
  }
  const QString command =
      DesktopEntryValue(QString::fromUtf8(entry), kKdeActionGroup, QStringLiteral("Exec"));
  const QString name = QFileInfo(executable_).fileName();
  return !name.isEmpty() && command.contains(name, Qt::CaseInsensitive);
}

} // namespace varnholt
