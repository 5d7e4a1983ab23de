#include "settings/folder_command.h"

#include "platform/failure.h"
#include "platform/file_ops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace varnholt {

namespace {
const QString kKdeFolder = QStringLiteral("kio/servicemenus");
const QString kNemoFolder = QStringLiteral("nemo/actions");
const QString kEntryName = QStringLiteral("varnholt-extract-images");
const QString kKdeActionGroup = QStringLiteral("Desktop Action extractImages");

QString Joined(const QString &folder, const QString &name) {
  return QDir::cleanPath(folder + u'/' + name);
}

// "%" starts a field code in a desktop entry's Exec; a literal one is doubled.
QString KdeCommand(const QString &executable) {
  return QuotedExecArgument(executable).replace(u'%', QStringLiteral("%%")) + QStringLiteral(" %f");
}

QString Unescaped(const QString &value) {
  QString out;
  out.reserve(value.size());
  for (qsizetype i = 0; i < value.size(); ++i) {
    const QChar c = value[i];
    if (c != u'\\' || i + 1 == value.size()) {
      out += c;
      continue;
    }
    const QChar next = value[++i];
    switch (next.unicode()) {
    case 's': out += u' '; break;
    case 'n': out += u'\n'; break;
    case 't': out += u'\t'; break;
    case 'r': out += u'\r'; break;
    default: out += next; break;
    }
  }
  return out;
}
} // namespace

QString QuotedExecArgument(const QString &argument) {
  QString quoted = QStringLiteral("\"");
  for (const QChar c : argument) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
    quoted += c;
  }
  return quoted + u'"';
}

QString EscapedDesktopString(const QString &value) {
  QString out;
  out.reserve(value.size());
  for (const QChar c : value) {
    switch (c.unicode()) {
    case '\\': out += QStringLiteral("\\\\"); break;
    case '\n': out += QStringLiteral("\\n"); break;
    case '\t': out += QStringLiteral("\\t"); break;
    case '\r': out += QStringLiteral("\\r"); break;
    default: out += c; break;
    }
  }
  return out;
}

QString DesktopEntryValue(const QString &text, const QString &group, const QString &key) {
  QString current;
  for (const QString &raw : text.split(u'\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith(u'[') && line.endsWith(u']')) {
      current = line.mid(1, line.size() - 2);
      continue;
    }
    if (current != group || line.startsWith(u'#')) continue;
    const qsizetype equals = line.indexOf(u'=');
    if (equals > 0 && line.left(equals).trimmed() == key)
      return Unescaped(line.mid(equals + 1).trimmed());
  }
  return QString();
}

QString KdeServiceMenuText(const QString &executable) {
  const QString exec = EscapedDesktopString(KdeCommand(executable));
  // A service menu is read only by the file manager's context menu; what
  // makes a program a folder's handler is an entry under applications/,
  // which this is not, so MimeType here only says which items the menu is
  // offered for. Type=Application rather than KDE's own "Service" keeps the
  // entry valid for desktop-file-validate, and Dolphin does not look at it.
  return QStringLiteral("[Desktop Entry]\n"
                        "Type=Application\n"
                        "Name=Varnholt\n"
                        "NoDisplay=true\n"
                        "Exec=") +
         exec +
         QStringLiteral("\n"
                        "MimeType=inode/directory;\n"
                        "Actions=extractImages;\n"
                        "X-KDE-Priority=TopLevel\n"
                        "\n"
                        "[") +
         kKdeActionGroup +
         QStringLiteral("]\n"
                        "Name=") +
         kFolderCommandCaption +
         QStringLiteral("\n"
                        "Icon=image-x-generic\n"
                        "Exec=") +
         exec + u'\n';
}

QString NemoActionText(const QString &executable) {
  // Nemo puts the folder in double quotes itself (Quote=double) and hands the
  // line to GLib's argument splitter, which reads the quoting above.
  return QStringLiteral("[Nemo Action]\n"
                        "Active=true\n"
                        "Name=") +
         kFolderCommandCaption +
         QStringLiteral("\n"
                        "Comment=Process the images of this folder with Varnholt\n"
                        "Exec=") +
         EscapedDesktopString(QuotedExecArgument(executable) + QStringLiteral(" %F")) +
         QStringLiteral("\n"
                        "Icon-Name=image-x-generic\n"
                        "Selection=S\n"
                        "Extensions=dir;\n"
                        "Quote=double\n");
}

XdgFolderCommand::XdgFolderCommand(QString dataHome, QString executable)
    : dataHome_(std::move(dataHome)), executable_(std::move(executable)) {}

QString XdgFolderCommand::DefaultDataHome() {
  const QString set = qEnvironmentVariable("XDG_DATA_HOME");
  if (!set.isEmpty() && QDir::isAbsolutePath(set)) return QDir::cleanPath(set);
  return QDir::homePath() + QStringLiteral("/.local/share");
}

QString XdgFolderCommand::KdeEntryPath() const {
  return Joined(dataHome_, kKdeFolder + u'/' + kEntryName + QStringLiteral(".desktop"));
}

QString XdgFolderCommand::NemoEntryPath() const {
  return Joined(dataHome_, kNemoFolder + u'/' + kEntryName + QStringLiteral(".nemo_action"));
}

void XdgFolderCommand::Register() {
  // Qt gives no path for an executable whose folder name is not valid UTF-8:
  // an entry would start nothing.
  if (executable_.isEmpty()) return;
  // Each entry on its own: a file manager that cannot get one still gets the
  // other.
  try {
    QDir().mkpath(QFileInfo(KdeEntryPath()).path());
    // Dolphin runs a service menu from a user's folder only when it is
    // executable.
    WriteFileReplacing(KdeEntryPath(), KdeServiceMenuText(executable_).toUtf8(), 0755);
  } catch (const Failure &) {
  }
  // Nemo has no escape for "%": a program path with one in it would be
  // mangled, so Nemo gets no entry then.
  if (executable_.contains(u'%')) return;
  try {
    QDir().mkpath(QFileInfo(NemoEntryPath()).path());
    WriteFileReplacing(NemoEntryPath(), NemoActionText(executable_).toUtf8(), 0644);
  } catch (const Failure &) {
  }
}

void XdgFolderCommand::Unregister() {
  QFile::remove(KdeEntryPath());
  QFile::remove(NemoEntryPath());
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
