#include "operations/clash_check.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

OperationListItem Op(const char *prefix, const char *suffix, bool ticked = true,
                     const char *format = "JPG") {
  QString text = QStringLiteral("Extract Whole Image");
  if (*prefix) text += QStringLiteral(" Prefix: \"%1\"").arg(QString::fromUtf8(prefix));
  if (*suffix) text += QStringLiteral(" Suffix: \"%1\"").arg(QString::fromUtf8(suffix));
  return {text + QStringLiteral(" Format: \"%1\" Quality: \"75\"").arg(format), ticked};
}

TEST(ClashCheck, ReportsEveryLaterTickedOperationWithTheSamePairInItsMessage) {
  EXPECT_EQ(ClashReportLines({Op("th_", ""), Op("x", "y"), Op("th_", "")}),
            QStringList{"Prefix: \"th_\", Suffix: \"\" at position 3"});
  EXPECT_EQ(ClashMessageText(ClashReportLines({Op("a", "b"), Op("a", "b"), Op("a", "b")})),
            "The following prefix/suffix clashes were found in selected operations (which means "
            "files would be overwritten):\r\n\r\n"
            "Prefix: \"a\", Suffix: \"b\" at position 2\r\n"
            "Prefix: \"a\", Suffix: \"b\" at position 3\r\n\r\n"
            "Please Adjust prefix/suffix values, or deselect operations to rectify.");
  EXPECT_EQ(ClashReportLines({}), QStringList());
  EXPECT_EQ(ClashReportLines({Op("a", ""), Op("", "a"), Op("a/", ""), Op("", "/a")}), QStringList())
      << "a prefix is not a suffix";
  // Letter case is ignored. Each pair writes one file named for its format,
  // so the same pair in two formats meets only where one keeps the image's
  // format (a .png kept, or made PNG) or both name one format (JPG, jpeg).
  EXPECT_EQ(ClashReportLines({Op("TH_", "_S"), Op("th_", "_s", true, "PNG"), Op("th_", "_s")}),
            QStringList{"Prefix: \"th_\", Suffix: \"_s\" at position 3"});
  EXPECT_EQ(ClashReportLines({Op("a", "", true, "JPG"), Op("a", "", true, "jpeg"),
                              Op("b", "", true, "PNG"), Op("b", "", true, "Don't Change"),
                              Op("c", "", true, "Don't Change"), Op("c", "", true, "TIFF")}),
            (QStringList{"Prefix: \"a\", Suffix: \"\" at position 2",
                         "Prefix: \"b\", Suffix: \"\" at position 4",
                         "Prefix: \"c\", Suffix: \"\" at position 6"}));
  EXPECT_EQ(ClashReportLines({Op("", ""), Op("", "")}),
            QStringList{"Prefix: \"\", Suffix: \"\" at position 2"});
  // Unticked entries never clash but count in the positions.
  EXPECT_EQ(ClashReportLines({Op("p", "", false), Op("p", ""), Op("q", "", false), Op("p", "")}),
            QStringList{"Prefix: \"p\", Suffix: \"\" at position 4"});
  EXPECT_EQ(ClashReportLines({Op("p", ""), Op("p", "", false)}), QStringList());
}

} // namespace
} // namespace varnholt
