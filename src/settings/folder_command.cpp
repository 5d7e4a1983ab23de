#include "settings/folder_command.h"

#include "platform/failure.h"
#include "platform/file_ops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <cstdio>
#include <sys/stat.h>

namespace varnholt {

namespace {
const QString kKdeFolder = QStringLiteral("kio/servicemenus");
const QString kNemoFolder = QStringLiteral("nemo/actions");
const QString kEntryName = QStringLiteral("varnholt-extract-images");
const QString kKdeActionGroup = QStringLiteral("Desktop Action extractImages");
const QString kNautilusFolder = QStringLiteral("nautilus/scripts");
const QString kFileManagerFolder = QStringLiteral("file-manager/actions");
const QString kThunarFile = QStringLiteral("Thunar/uca.xml");
const QString kThunarId = QStringLiteral("varnholt-extract-images");
const QString kComment = QStringLiteral("Process the images of this folder with Varnholt");

// The field codes of FileManager-Actions and Thunar: "%%" is a literal "%".
QString PercentEscaped(const QString &text) {
  return QString(text).replace(u'%', QStringLiteral("%%"));
}

// One word for a POSIX shell, whatever it holds: in single quotes, each
// single quote closed, escaped and reopened.
QString ShellSingleQuoted(const QString &word) {
  return u'\'' + QString(word).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

QString XmlEscaped(const QString &text) {
  return QString(text)
      .replace(u'&', QStringLiteral("&amp;"))
      .replace(u'<', QStringLiteral("&lt;"))
      .replace(u'>', QStringLiteral("&gt;"));
}

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

QString NautilusScriptText(const QString &executable) {
  // GNOME Files runs a script from its scripts folder with the selection as
  // its arguments: names relative to the folder shown (the working folder),
  // absolute paths, or URIs for remote places. Each folder gets a window;
  // the last one is this process, so one folder costs one program start.
  // The arguments have been through GLib's field codes on the way, which
  // drop each "%" with the character after it ("50% off" arrives as
  // "50off"); the selection's URIs in NAUTILUS_SCRIPT_SELECTED_URIS arrive
  // whole, one a line with anything else percent-encoded, so where they are
  // given they are the selection.
  return QStringLiteral("#!/bin/sh\n"
                        "# Extract Images...: opens each selected folder in Varnholt.\n"
                        "# Written by Varnholt's settings; unticking its box there removes it.\n"
                        "program=") +
         ShellSingleQuoted(executable) +
         QStringLiteral("\n"
                        "# The text with each %XX made its byte, and an x after it (so that\n"
                        "# a line break at its end survives the command substitution).\n"
                        "decoded() {\n"
                        "  rest=$1 out=\n"
                        "  while [ -n \"$rest\" ]; do\n"
                        "    case $rest in\n"
                        "    %[0-9A-Fa-f][0-9A-Fa-f]*)\n"
                        "      hex=${rest#%}\n"
                        "      hex=${hex%\"${hex#??}\"}\n"
                        "      out=$out$(printf \"\\\\$(printf %o \"$((0x$hex))\")\"; printf x)\n"
                        "      out=${out%x}\n"
                        "      rest=${rest#???} ;;\n"
                        "    *)\n"
                        "      out=$out${rest%\"${rest#?}\"}\n"
                        "      rest=${rest#?} ;;\n"
                        "    esac\n"
                        "  done\n"
                        "  printf '%sx' \"$out\"\n"
                        "}\n"
                        "if [ -n \"${NAUTILUS_SCRIPT_SELECTED_URIS:-}\" ]; then\n"
                        "  set -f\n"
                        "  IFS='\n"
                        "'\n"
                        "  # shellcheck disable=SC2086\n"
                        "  set -- $NAUTILUS_SCRIPT_SELECTED_URIS\n"
                        "  unset IFS\n"
                        "  set +f\n"
                        "  for uri do\n"
                        "    shift\n"
                        "    case $uri in\n"
                        "    file:///*) path=$(decoded \"${uri#file://}\") && set -- \"$@\" \"${path%x}\" ;;\n"
                        "    *) set -- \"$@\" \"$uri\" ;;\n"
                        "    esac\n"
                        "  done\n"
                        "fi\n"
                        "last=\n"
                        "for item do\n"
                        "  case $item in\n"
                        "  /*) path=$item ;;\n"
                        "  *) path=$PWD/$item ;;\n"
                        "  esac\n"
                        "  if [ -d \"$path\" ]; then\n"
                        "    if [ -n \"$last\" ]; then \"$program\" \"$last\" & fi\n"
                        "    last=$path\n"
                        "  else\n"
                        "    printf 'Extract Images...: not a folder: %s\\n' \"$item\" >&2\n"
                        "  fi\n"
                        "done\n"
                        "if [ -n \"$last\" ]; then exec \"$program\" \"$last\"; fi\n");
}

QString FileManagerActionText(const QString &executable) {
  // Read by Caja's actions extension and by PCManFM: the value is a key-file
  // string, "%f" is the folder quoted for the shell, and the line is split
  // by GLib's shell rules, which the quoting above satisfies.
  return QStringLiteral("[Desktop Entry]\n"
                        "Type=Action\n"
                        "Name=") +
         kFolderCommandCaption +
         QStringLiteral("\n"
                        "Tooltip=") +
         kComment +
         QStringLiteral("\n"
                        "Icon=image-x-generic\n"
                        "Profiles=folder;\n"
                        "\n"
                        "[X-Action-Profile folder]\n"
                        "Name=") +
         kFolderCommandCaption +
         QStringLiteral("\n"
                        "MimeTypes=inode/directory;\n"
                        "SelectionCount==1\n"
                        "Exec=") +
         EscapedDesktopString(PercentEscaped(QuotedExecArgument(executable)) +
                              QStringLiteral(" %f")) +
         u'\n';
}

QString ThunarActionXml(const QString &executable) {
  // Thunar puts the folder in single quotes for "%f" and runs the line with
  // /bin/sh -c, which the double quoting above is made for.
  return QStringLiteral("<action>\n"
                        "\t<icon>image-x-generic</icon>\n"
                        "\t<name>") +
         XmlEscaped(kFolderCommandCaption) +
         QStringLiteral("</name>\n"
                        "\t<submenu></submenu>\n"
                        "\t<unique-id>") +
         kThunarId +
         QStringLiteral("</unique-id>\n"
                        "\t<command>") +
         XmlEscaped(PercentEscaped(QuotedExecArgument(executable)) + QStringLiteral(" %f")) +
         QStringLiteral("</command>\n"
                        "\t<description>") +
         kComment +
         QStringLiteral("</description>\n"
                        "\t<range>1</range>\n"
                        "\t<patterns>*</patterns>\n"
                        "\t<directories/>\n"
                        "</action>");
}

bool XmlCarries(const QString &text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      ++i;
      continue;
    }
    if ((c < 0x20 && c != u'\t' && c != u'\n') || QChar::isSurrogate(c) || c == 0xFFFE ||
        c == 0xFFFF)
      return false;
  }
  return true;
}

std::optional<QByteArray> WithThunarAction(const QByteArray &file,
                                           const std::optional<QString> &executable,
                                           QString *problem) {
  const auto refuse = [&](const QString &why) -> std::optional<QByteArray> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  // Offsets are taken in the decoded text; only a file that decodes and
  // encodes back to the same bytes can be kept byte for byte that way.
  QString text = QString::fromUtf8(file);
  if (text.toUtf8() != file) return refuse(QStringLiteral("it is not UTF-8 text"));
  if (text.trimmed().isEmpty())
    text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n");

  struct Span {
    qsizetype begin, end;
  };
  QList<Span> ours;
  Span root{-1, -1};
  qsizetype rootOpenEnd = -1, actionBegin = -1;
  bool ourAction = false;
  QXmlStreamReader xml(text);
  // The reader's offset is exact just after a tag; after text it may have
  // looked at the next "<" already. A tag's start is the last "<" before its
  // end, as a tag holds no other.
  const auto tagBegin = [&] { return text.lastIndexOf(u'<', qsizetype(xml.characterOffset()) - 1); };
  int depth = 0;
  while (!xml.atEnd()) {
    const QXmlStreamReader::TokenType token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      ++depth;
      if (depth == 1 && xml.name() != QLatin1String("actions"))
        return refuse(QStringLiteral("its root element is not <actions>"));
      if (depth == 1) {
        root.begin = tagBegin();
        rootOpenEnd = xml.characterOffset();
      }
      if (depth == 2 && xml.name() == QLatin1String("action")) {
        actionBegin = tagBegin();
        ourAction = false;
      }
      if (depth == 3 && actionBegin >= 0 && xml.name() == QLatin1String("unique-id")) {
        ourAction = xml.readElementText().trimmed() == kThunarId;
        --depth;
      }
    } else if (token == QXmlStreamReader::EndElement) {
      if (depth == 2 && actionBegin >= 0) {
        if (ourAction) ours.append({actionBegin, qsizetype(xml.characterOffset())});
        actionBegin = -1;
      }
      if (depth == 1) root.end = xml.characterOffset();
      --depth;
    }
  }
  if (xml.hasError())
    return refuse(QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString()));
  if (root.begin < 0) return refuse(QStringLiteral("it has no <actions> element"));
  const bool rootClosedAtOnce = root.end == rootOpenEnd;
  const qsizetype rootCloseBegin =
      rootClosedAtOnce ? root.end : text.lastIndexOf(u'<', root.end - 1);
  // Whatever is cut or put must sit exactly on tags; never guess.
  for (const Span &span : ours)
    if (!text.mid(span.begin).startsWith(QLatin1String("<action")) ||
        !(text.mid(0, span.end).endsWith(QLatin1String("</action>")) ||
          text.mid(0, span.end).endsWith(QLatin1String("/>"))))
      return refuse(QStringLiteral("our action cannot be told from its neighbours"));
  if (!rootClosedAtOnce && !text.mid(rootCloseBegin).startsWith(QLatin1String("</actions")))
    return refuse(QStringLiteral("the end of <actions> cannot be found"));

  // From the end, so that the offsets before stay true.
  const auto removeWithItsLineBreak = [&text](const Span &span) {
    const qsizetype end = span.end < text.size() && text[span.end] == u'\n' ? span.end + 1 : span.end;
    text.remove(span.begin, end - span.begin);
  };
  for (qsizetype i = ours.size() - 1; i >= (executable ? 1 : 0); --i)
    removeWithItsLineBreak(ours[i]);
  if (executable) {
    const QString action = ThunarActionXml(*executable);
    if (!ours.isEmpty()) {
      text.replace(ours[0].begin, ours[0].end - ours[0].begin, action);
    } else if (rootClosedAtOnce) {
      // <actions/>: opened and closed around ours.
      text.replace(root.begin, root.end - root.begin,
                   QStringLiteral("<actions>\n") + action + QStringLiteral("\n</actions>"));
    } else {
      text.insert(rootCloseBegin, action + u'\n');
    }
  }
  return text.toUtf8();
}

XdgPlaces XdgPlaces::FromEnvironment() {
  XdgPlaces places;
  places.dataHome = XdgFolderCommand::DefaultDataHome();
  const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  places.configHome = !config.isEmpty() && QDir::isAbsolutePath(config)
                          ? QDir::cleanPath(config)
                          : QDir::homePath() + QStringLiteral("/.config");
  for (const QString &dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts))
    if (QDir::isAbsolutePath(dir)) places.configDirs << dir;
  if (places.configDirs.isEmpty()) places.configDirs << QStringLiteral("/etc/xdg");
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
  return Joined(places_.dataHome, kFileManagerFolder + u'/' + kEntryName + QStringLiteral(".desktop"));
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
    for (const QString &dir : places_.configDirs) {
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
      std::fprintf(stderr,
                   "varnholt: %s is left as it is, so Thunar gets no \"%s\" command: %s\n",
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
