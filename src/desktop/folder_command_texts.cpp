// What the folder command writes: each file manager's entry for an
// executable, and our action put into or taken out of Thunar's uca.xml.
#include "desktop/folder_command.h"

#include <QXmlStreamReader>

namespace varnholt {

namespace {
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
         QStringLiteral(
             "\n"
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
  const auto tagBegin = [&] {
    return text.lastIndexOf(u'<', qsizetype(xml.characterOffset()) - 1);
  };
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
    const qsizetype end =
        span.end < text.size() && text[span.end] == u'\n' ? span.end + 1 : span.end;
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

} // namespace varnholt
