#include "dialogs/error_report.h"

#include "version.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(EncodeForURL, EncodesPunctuationAndLineBreaksOnly) {
  const struct {
    const char16_t *text;
    const char16_t *encoded;
  } rows[] = {
      {u"fileName = \"C:\\a b.vop\"", u"fileName%20%3D%20%22C%3A%5Ca%20b%2Evop%22"},
      {u"100% sure", u"100%%20sure"},       // "%" itself is never touched
      {u"%41", u"%41"},                     // nor is an encoding already there
      {u"one\r\ntwo\r\n", u"one%0Dtwo%0D"}, // CR LF becomes a single %0D
      {u"lone\nfeed\rreturn\ttab", u"lone\nfeed\rreturn\ttab"},
      {u" !#$&'()*+,-./", u"%20%21%23%24%26%27%28%29%2A%2B%2C%2D%2E%2F"},
      {u":;<=>?@", u"%3A%3B%3C%3D%3E%3F%40"},
      {u"[\\]^_`", u"%5B%5C%5D%5E%5F%60"},
      {u"{|}~\x7f", u"%7B%7C%7D%7E%7F"},
      {u"AZaz09", u"AZaz09"},
      {u"Bär €", u"Bär%20€"},
      {u"", u""},
  };
  for (const auto &row : rows)
    EXPECT_EQ(EncodeForURL(QString::fromUtf16(row.text)).toStdString(),
              QString::fromUtf16(row.encoded).toStdString())
        << QString::fromUtf16(row.text).toStdString();
}

ErrorReport KnownReport() {
  ErrorReport report = ErrorReport::from(Failure(53, QStringLiteral("File not found")),
                                         QStringLiteral("Varnholt 1.00"), QStringLiteral("frmMain"),
                                         QStringLiteral("OperationsFileToList"),
                                         QStringLiteral("fileName = \"C:\\a b.vop\""));
  return report;
}

TEST(ErrorReport, TextHasOneItemALine) {
  EXPECT_EQ(ErrorReportText(KnownReport()).toStdString(),
            "SOURCE: Varnholt/OperationsFileToList\r\n"
            "NUMBER: 53\r\n"
            "OPERATION: fileName = \"C:\\a b.vop\"\r\n"
            "FATAL: False\r\n"
            "DESCRIPTION: File not found\r\n"
            "SETTINGS: \r\n");
  ErrorReport fatal = KnownReport();
  fatal.isFatal = true;
  fatal.intSettings = QStringLiteral("x=1");
  EXPECT_TRUE(ErrorReportText(fatal).contains("\r\nFATAL: True\r\n"));
  EXPECT_TRUE(ErrorReportText(fatal).endsWith("\r\nSETTINGS: \r\nx=1"));
}

TEST(ErrorReport, AddressCarriesTheFiveKeysInOrder) {
  const ErrorReport report = KnownReport();
  const QString address =
      BugReportAddress(EncodeForURL(report.programId), QString(), EncodeForURL(report.form),
                       EncodeForURL(ErrorReportText(report)));
  EXPECT_EQ(address.toStdString(), std::string(kBugReportUrl) +
                                       "?type=bug&progid=73&progver=&window=frmMain&desc="
                                       "SOURCE%3A%20Varnholt%2FOperationsFileToList%0D"
                                       "NUMBER%3A%2053%0D"
                                       "OPERATION%3A%20fileName%20%3D%20%22C%3A%5Ca%20b%2Evop%22%0D"
                                       "FATAL%3A%20False%0D"
                                       "DESCRIPTION%3A%20File%20not%20found%0D"
                                       "SETTINGS%3A%20%0D");
  EXPECT_TRUE(QString::fromUtf8(kBugReportUrl).endsWith("feedback.php"));
}

} // namespace
} // namespace varnholt
