#include "platform/error_report.h"

#include "version.h"

#include <QStringList>

namespace varnholt {

namespace {
bool NeedsEncoding(char16_t c) {
  return (c >= 32 && c <= 47 && c != 37) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) ||
         (c >= 123 && c <= 127);
}
} // namespace

QString EncodeForURL(const QString &text) {
  QString encoded;
  encoded.reserve(text.size() * 2);
  for (const QChar ch : text) {
    const char16_t c = ch.unicode();
    if (NeedsEncoding(c))
      encoded += u'%' + QString::number(c, 16).toUpper().rightJustified(2, u'0');
    else
      encoded += ch;
  }
  encoded.replace(QStringLiteral("\r\n"), QStringLiteral("%0D"));
  return encoded;
}

QString ErrorReportText(const ErrorReport &report) {
  return QStringList{
      "SOURCE: " + report.errorSource + "/" + report.source,
      "NUMBER: " + QString::number(report.errorNumber),
      "OPERATION: " + report.operation,
      QStringLiteral("FATAL: ") + (report.isFatal ? "True" : "False"),
      "DESCRIPTION: " + report.errorDescription,
      QStringLiteral("SETTINGS: "),
      report.intSettings,
  }
      .join(QStringLiteral("\r\n"));
}

QString BugReportAddress(const QString &programId, const QString &programVersion,
                         const QString &window, const QString &report) {
  return QString::fromUtf8(kBugReportUrl) + "?type=bug" + "&progid=" + programId +
         "&progver=" + programVersion + "&window=" + window + "&desc=" + report;
}

} // namespace varnholt
