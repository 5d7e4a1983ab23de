#include "platform/error_report.h"

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

// The reporter's settings come after the last item, under its heading.
TEST(ErrorReport, SettingsFollowTheirHeading) {
  auto report = ErrorReport::from(Failure(6, "Overflow"), "t", "frmGo", "Form_Activate", "op");
  report.intSettings = QStringLiteral("x=1");
  EXPECT_TRUE(ErrorReportText(report).endsWith("\r\nDESCRIPTION: Overflow\r\nSETTINGS: \r\nx=1"));
}

} // namespace
} // namespace varnholt
