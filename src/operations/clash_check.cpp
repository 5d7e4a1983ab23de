#include "operations/clash_check.h"

#include "operations/operation.h"

#include <QHash>

namespace varnholt {

QStringList ClashReportLines(const QList<OperationListItem> &items) {
  const QString dq = QStringLiteral("\"");
  QStringList lines;
  // Pairs are compared as pairs, not as "p/s" text, so a "/" that slipped
  // into a hand-edited prefix cannot make two different pairs look equal.
  // Each pair writes one file, named for its format when it chooses one, so
  // "th_" as JPG and "th_" as PNG never meet; an operation that keeps the
  // image's format may meet any of them (photo.png kept, or made PNG).
  QHash<std::pair<QString, QString>, QStringList> formats; // "" keeps the format
  for (qsizetype i = 0; i < items.size(); ++i) {
    if (!items[i].ticked) continue;
    QString ignored;
    const Operation op = ParseOperation(items[i].text, ignored);
    const auto pair = std::make_pair(op.Prefix.toCaseFolded(), op.Suffix.toCaseFolded());
    const QString format = KeepsFormat(op.OutputFormat) ? QString() : FormatName(op.OutputFormat);
    const auto seen = formats.constFind(pair);
    if (seen != formats.cend() &&
        (format.isEmpty() || seen->contains(QString()) || seen->contains(format)))
      lines << "Prefix: " + dq + op.Prefix + dq + ", Suffix: " + dq + op.Suffix + dq +
                   " at position " + QString::number(i + 1);
    else
      formats[pair] << format;
  }
  return lines;
}

QString ClashMessageText(const QStringList &lines) {
  const QString crLf = QStringLiteral("\r\n");
  QString text = QStringLiteral("The following prefix/suffix clashes were found in selected "
                                "operations (which means files would be overwritten):") +
                 crLf + crLf;
  for (const QString &line : lines)
    text += line + crLf;
  return text + crLf +
         QStringLiteral("Please Adjust prefix/suffix values, or deselect operations to rectify.");
}

} // namespace varnholt
