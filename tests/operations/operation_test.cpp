#include "operations/operation.h"
#include "operations/vb_text.h"
#include "platform/failure.h"
#include "support/test_images.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace varnholt {
namespace {

std::string Describe(const Operation &op) {
  QString error;
  const QString text = OperationDescription(op, error);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  return text.toStdString();
}

// The record a text reads back as: what the text does not carry (the corners
// of a whole image, the size of no resize, the unused side of a one-sided
// limit, an empty format) comes back as the defaults.
Operation ReadBack(Operation op) {
  const Operation none;
  if (!op.Extract) op.TopLeftX = op.TopLeftY = op.BottomRightX = op.BottomRightY = 0;
  if (!op.Resize) {
    op.ResizeMethod = none.ResizeMethod;
    op.ResizeWidth = none.ResizeWidth;
    op.ResizeHeight = none.ResizeHeight;
  }
  if (op.Resize && op.ResizeMethod == kLimitWidth) op.ResizeHeight = 1;
  if (op.Resize && op.ResizeMethod == kLimitHeight) op.ResizeWidth = 1;
  if (op.OutputFormat.isEmpty()) op.OutputFormat = kDontChange;
  return op;
}

TEST(OperationText, WritesTheseTexts) {
  const struct {
    Operation op;
    const char *text;
  } rows[] = {
      {OperationDefaults(), R"(Extract Whole Image Format: "Don't Change" Quality: "75")"},
      {{.Extract = true,
        .TopLeftX = 10,
        .TopLeftY = 20,
        .BottomRightX = 110,
        .BottomRightY = 220,
        .Resize = true,
        .ResizeHeight = 80,
        .OutputFormat = "JPG",
        .JpgQuality = 90,
        .Prefix = "th_"},
       R"(Extract (10,20)-(110,220) LimitWidthHeight (100*80) Prefix: "th_" Format: "JPG" Quality: "90")"},
      {{.Resize = true,
        .ResizeMethod = kLimitWidth,
        .ResizeWidth = 640,
        .OutputFormat = "",
        .Suffix = "_640"},
       R"(Extract Whole Image LimitWidth (640) Suffix: "_640" Quality: "75")"},
      // Unknown codes are written and applied as fix to size.
      {{.Resize = true,
        .ResizeMethod = 7,
        .ResizeWidth = 640,
        .ResizeHeight = 480,
        .OutputFormat = ""},
       R"(Extract Whole Image FixToSize (640*480) Quality: "75")"},
  };
  for (const auto &row : rows)
    EXPECT_EQ(Describe(row.op), row.text);
}

TEST(OperationText, EveryFieldTheTextCarriesSurvivesTheRoundTrip) {
  const QStringList formats = {"",     "Don't Change", "BMP", "GIF",  "JPG",  "PNG", "TIFF",
                               "MIFF", "TGA",          "jpg", "WEBP", "AVIF", "webp"};
  const QStringList names = {"",
                             "th_",
                             "a b",
                             " lead",
                             "trail ",
                             "Ærø-ünï",
                             "日本",
                             "x%d",
                             "[1]",
                             "50%",
                             "e,f",
                             "(g)",
                             "-(",
                             "LimitWidth (50) ",
                             "LimitHeight (x",
                             "FixToSize (1,2)",
                             "Extract (",
                             "Quality"};
  const std::int32_t numbers[] = {0,
                                  1,
                                  7,
                                  255,
                                  20000,
                                  123456,
                                  -5,
                                  std::numeric_limits<std::int32_t>::max(),
                                  std::numeric_limits<std::int32_t>::min()};
  for (int method = 0; method <= 4; ++method)
    for (int i = 0; i < formats.size(); ++i) {
      Operation op;
      op.Extract = (i % 2) == 0;
      op.TopLeftX = std::max(0, numbers[i % 9]); // a corner below 0 is invalid
      op.TopLeftY = std::max(0, numbers[(i + 3) % 9]);
      op.BottomRightX = std::max(op.TopLeftX, numbers[(i + 5) % 9]);
      op.BottomRightY = std::max(op.TopLeftY, numbers[(i + 7) % 9]);
      op.Resize = method < 4;
      op.ResizeMethod = method % 4;
      op.ResizeWidth = std::max(1, numbers[(i + method) % 9]);
      op.ResizeHeight = std::max(1, numbers[(i + method + 2) % 9]);
      op.OutputFormat = formats[i];
      op.JpgQuality = static_cast<std::uint8_t>(1 + (i * 11 + method) % 100);
      op.Prefix = names[(i + method) % names.size()];
      op.Suffix = names[(i * 3 + method + 1) % names.size()];
      ASSERT_TRUE(IsOperationValid(op));
      const std::string text = Describe(op);
      QString error;
      EXPECT_EQ(ParseOperation(QString::fromStdString(text), error), ReadBack(op)) << text;
      EXPECT_EQ(error, "") << text;
    }
}

// What each odd, unreadable or hostile text reads as: the error (a caller's
// error text is left alone on success), whether the record is valid, and the
// record itself, as far as it was read before a failure.
TEST(OperationText, TextsReadAsTheseRecords) {
  const char *kCall = "5 - Invalid procedure call or argument";
  const char *kOverflow = "6 - Overflow";
  const struct {
    const char *text;
    const char *error;
    bool valid;
    Operation op;
  } rows[] = {
      // Lower-case start, quality anywhere.
      {R"(extract whole image quality: "50")", "", true, {.JpgQuality = 50}},
      // An empty text field runs to the next quote in the text.
      {R"(Extract Whole Image Prefix: "" Suffix: "_s" Quality: "75")",
       "",
       false,
       {.Prefix = R"(" Suffix: )", .Suffix = "_s"}},
      // Without "Extract (" the corners are read from position 9 on.
      {"Extract  5,6)-(7,8) Quality: \"75\"",
       "",
       true,
       {.Extract = true, .TopLeftX = 5, .TopLeftY = 6, .BottomRightX = 7, .BottomRightY = 8}},
      // Values are leading numbers, halves to even, blanks passed over.
      {R"(Extract ( 1 2,2.5)-(3.5,4e1) LimitWidth (7.5xyz) Quality: "0.5")",
       "",
       false,
       {.Extract = true,
        .TopLeftX = 12,
        .TopLeftY = 2,
        .BottomRightX = 4,
        .BottomRightY = 40,
        .Resize = true,
        .ResizeMethod = kLimitWidth,
        .ResizeWidth = 8,
        .ResizeHeight = 1,
        .JpgQuality = 0}},
      // Unreadable: what was read before the failure is kept.
      {"hello", kCall, true, {.Extract = true}},
      {R"(Extract (1,2 Quality: "75")", kCall, true, {.Extract = true}},
      {R"(Extract (1)-(2,3) Quality: "75")",
       "9 - Subscript out of range",
       false,
       {.Extract = true, .TopLeftX = 1}},
      {R"(Extract Whole Image Prefix: "abc)", kCall, true, {}},
      {R"(Extract Whole Image Quality: "256")", kOverflow, true, {}},
      {R"(Extract Whole Image Quality: "-1")", kOverflow, true, {}},
      {R"(Extract (99999999999,0)-(1,1))", kOverflow, true, {.Extract = true}},
      {R"(Extract (0,0)-(2147483648,1) Quality: "75")", kOverflow, true, {.Extract = true}},
      {R"(Extract Whole Image LimitWidth (1e10) Quality: "75")",
       kOverflow,
       true,
       {.ResizeMethod = kLimitWidth}},
      {R"(Extract Whole Image FixToSize (5*-1e999) Quality: "75")",
       kOverflow,
       true,
       {.ResizeMethod = kFixToSize, .ResizeWidth = 5}},
      // A resize value must end before the first text field.
      {R"~(Extract Whole Image LimitWidth (5 Prefix: "a)" Quality: "75")~",
       kCall,
       true,
       {.ResizeMethod = kLimitWidth}},
      // Read, but no valid record: corners below 0, a zero size.
      {R"(Extract (-10,-10)-(50,50) Quality: "75")",
       "",
       false,
       {.Extract = true, .TopLeftX = -10, .TopLeftY = -10, .BottomRightX = 50, .BottomRightY = 50}},
      {R"(Extract (-2147483600,0)-(10,90) Quality: "75")",
       "",
       false,
       {.Extract = true, .TopLeftX = -2147483600, .BottomRightX = 10, .BottomRightY = 90}},
      {R"(Extract Whole Image LimitHeight (1e-999) Quality: "75")",
       "",
       false,
       {.Resize = true, .ResizeMethod = kLimitHeight, .ResizeWidth = 1, .ResizeHeight = 0}},
      // Control characters cannot be in a prefix.
      {"Extract Whole Image Prefix: \"a\tb\" Quality: \"75\"", "", false, {.Prefix = "a\tb"}},
      // Keywords inside a prefix stay text (the round trip writes them in every
      // case), also in lower case.
      {R"~(extract whole image limitwidth (40) prefix: "limitheight (2)" quality: "60")~",
       "",
       true,
       {.Resize = true,
        .ResizeMethod = kLimitWidth,
        .ResizeWidth = 40,
        .ResizeHeight = 1,
        .JpgQuality = 60,
        .Prefix = "limitheight (2)"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.text);
    QString error = "kept";
    const Operation op = ParseOperation(QString::fromUtf8(row.text), error);
    EXPECT_EQ(error.toStdString(), *row.error ? row.error : "kept");
    EXPECT_EQ(IsOperationValid(op), row.valid);
    EXPECT_EQ(op, row.op);
  }
}

TEST(OperationText, NumbersReadTheSameInEveryLocale) {
  // A comma-decimal locale, made for the test: machines rarely have one.
  test::TempFolder locales;
  QProcess localedef;
  localedef.start("localedef", {"-i", "de_DE", "-f", "UTF-8", locales.file("de_DE.UTF-8")});
  if (!localedef.waitForFinished(60000) || localedef.exitCode() != 0)
    GTEST_SKIP() << "localedef could not make de_DE.UTF-8: "
                 << localedef.errorString().toStdString();
  const QString texts[] = {
      R"(Extract (0,0)-(99.6,49.6) LimitWidth (40.6) Quality: "75.5")",
      R"(Extract (1.5e1,2,5)-(3.49,4) FixToSize (2.5*0,6) Prefix: "1.5" Quality: "9.9")",
  };
  const auto readAll = [&] {
    std::vector<std::pair<Operation, QString>> records;
    for (const QString &text : texts) {
      QString error;
      records.emplace_back(ParseOperation(text, error), error);
    }
    return records;
  };
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  const auto inC = readAll();
  const QByteArray oldPath = qgetenv("LOCPATH");
  qputenv("LOCPATH", locales.path().toLocal8Bit());
  const bool switched = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  const double commaRead = std::strtod("0.5", nullptr);
  const auto inGerman = readAll();
  std::setlocale(LC_ALL, saved.c_str());
  oldPath.isNull() ? qunsetenv("LOCPATH") : qputenv("LOCPATH", oldPath);
  if (!switched) GTEST_SKIP() << "the generated de_DE.UTF-8 locale could not be set";
  EXPECT_EQ(commaRead, 0.0) << "the locale reads a comma as its decimal sign";
  EXPECT_EQ(inGerman, inC);
  // Equal records mean nothing if neither read the decimals.
  EXPECT_EQ(inC[0].first.ResizeWidth, 41);
  EXPECT_EQ(inC[0].first.JpgQuality, 76);
  EXPECT_EQ(inC[1].first.TopLeftX, 15);
}

TEST(OperationValidity, Rules) {
  const struct {
    Operation op;
    bool valid;
  } rows[] = {
      {OperationDefaults(), true},
      {{.OutputFormat = ""}, true},
      {{.OutputFormat = "jpg"}, true},
      {{.OutputFormat = "JPEG"}, false},
      {{.OutputFormat = "avif"}, true},
      {{.OutputFormat = "HEIC"}, false}, // read, never written
      {{.JpgQuality = 0}, false},
      {{.JpgQuality = 1}, true},
      {{.JpgQuality = 100}, true},
      {{.JpgQuality = 101}, false},
      {{.Extract = true, .TopLeftX = 5, .BottomRightX = 5}, true},
      // The rectangle, one axis wrong at a time, and wider than high or
      // higher than wide: no corner is held against the other axis.
      {{.Extract = true, .TopLeftX = 6, .BottomRightX = 5}, false},
      {{.Extract = true, .TopLeftY = 6, .BottomRightY = 5}, false},
      {{.Extract = true, .TopLeftX = -1, .BottomRightX = 5}, false},
      {{.Extract = true, .TopLeftY = -1, .BottomRightY = 5}, false},
      {{.Extract = true, .TopLeftX = 2, .TopLeftY = 7, .BottomRightX = 5, .BottomRightY = 40},
       true},
      {{.Extract = true, .TopLeftX = 7, .TopLeftY = 2, .BottomRightX = 40, .BottomRightY = 5},
       true},
      // The size is checked whatever the method, each side on its own.
      {{.Resize = true, .ResizeMethod = kLimitWidth, .ResizeHeight = 0}, false},
      {{.Resize = true, .ResizeMethod = kLimitHeight, .ResizeWidth = 0}, false},
      {{.Resize = true, .ResizeWidth = 1, .ResizeHeight = 20000}, true},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(IsOperationValid(rows[i].op), rows[i].valid) << "row " << i;

  for (const char *bad : {"a:b", "a*", "x/y", "x\\y", "p|", "?", "\"", ">", "<", "a\nb", "\r", "\t",
                          "\x1b[1m", "\x7f", "\u0085"}) {
    EXPECT_FALSE(IsOperationValid({.Prefix = QString::fromUtf8(bad)})) << bad;
    EXPECT_FALSE(IsOperationValid({.Suffix = QString::fromUtf8(bad)})) << bad;
  }
  QString error;
  EXPECT_EQ(OperationDescription({.Prefix = "a:b"}, error), "");
  EXPECT_EQ(error, "Invalid Operation!");
  EXPECT_EQ(RemoveInvalidFilenameChars("a\r\nb\tc\u0085d\u00e9"), "abcd\u00e9");
  EXPECT_EQ(RemoveInvalidFilenameChars(R"(\/|?"><*:ok)"), "ok");
  EXPECT_TRUE(IsValidFilenamePart(""));
}

TEST(VbText, ValReadsTheLeadingNumber) {
  const std::pair<const char *, double> rows[] = {
      {"", 0},
      {"abc", 0},
      {" \t\n-12abc", -12},
      {"1 000", 1000},
      {"2.5.7", 2.5},
      {"3e", 3},
      {"3e2", 300},
      {"+.5e1x", 5},
      {"1234e-99999", 0},
      {"0e999999", 0},
      {"-1e400", -HUGE_VAL},
      {"0.001e99999999999999999999", HUGE_VAL},
      {"١٢", 0}, // only ASCII digits count
  };
  for (const auto &[text, value] : rows)
    EXPECT_EQ(Val(text), value) << text;
  // Halves to even and overflow in general show in how texts read.
  EXPECT_EQ(ToLong(-2.5), -2);
  EXPECT_EQ(InStr(12, "abc", "a"), 0);
  EXPECT_THROW(Mid("abc", 1, -1), Failure);
}

} // namespace
} // namespace varnholt
