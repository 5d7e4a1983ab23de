#include "operations/clash_check.h"

#include "operations/operation.h"

#include <QSet>

namespace varnholt {

QStringList ClashReportLines(const QList<OperationListItem> &items) {
  const QString dq = QStringLiteral("\"");
  QStringList lines;
  // Pairs are compared as pairs, not as "p/s" text, so a "/" that slipped
  // into a hand-edited prefix cannot make two different pairs look equal.
  QSet<std::pair<QString, QString>> seen;
  for (qsizetype i = 0; i < items.size(); ++i) {
    if (!items[i].ticked) continue;
    QString ignored;
    const Operation op = ParseOperation(items[i].text, ignored);
    const auto pair = std::make_pair(op.Prefix.toCaseFolded(), op.Suffix.toCaseFolded());
    if (seen.contains(pair))
      lines << "Prefix: " + dq + op.Prefix + dq + ", Suffix: " + dq + op.Suffix + dq +
                   " at position " + QString::number(i + 1);
    else
      seen.insert(pair);
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
