// The forms the operation text gained after the first ones: centred crops by
// aspect ratio and the scale by a percentage.
#include "operations/operation.h"
#include "operations/operation_list_file.h"

#include <gtest/gtest.h>

#include <limits>

namespace varnholt {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

Operation Centred(std::int32_t w, std::int32_t h) {
  return {.Extract = true, .OutputFormat = "", .AspectWidth = w, .AspectHeight = h};
}

Operation Scaled(Operation op, std::int32_t percent) {
  op.Resize = true;
  op.ResizeMethod = kScale;
  op.ResizeWidth = op.ResizeHeight = percent;
  return op;
}

const struct FormRow {
  Operation op;
  const char *text;
} kForms[] = {
    {Centred(1, 1), R"(Extract (1:1 Centre) Quality: "75")"},
    {[] {
       Operation op = Centred(16, 9);
       op.Resize = true;
       op.ResizeWidth = 1920;
       op.ResizeHeight = 1080;
       op.OutputFormat = "WEBP";
       op.JpgQuality = 80;
       op.Prefix = "w_";
       return op;
     }(),
     R"(Extract (16:9 Centre) LimitWidthHeight (1920*1080) Prefix: "w_" Format: "WEBP" Quality: "80")"},
    {Centred(kMaxAspectTerm, 1), R"(Extract (10000:1 Centre) Quality: "75")"},
    {Scaled({.OutputFormat = "", .Suffix = "_half"}, 50),
     R"(Extract (50% Scale) Whole Image Suffix: "_half" Quality: "75")"},
    {Scaled({.Extract = true,
             .TopLeftX = 10,
             .TopLeftY = 20,
             .BottomRightX = 109,
             .BottomRightY = 69,
             .OutputFormat = "PNG"},
            200),
     R"(Extract (200% Scale) (10,20)-(109,69) Format: "PNG" Quality: "75")"},
    // A prefix that looks like a newer group stays a prefix.
    {[] {
       Operation op = Scaled(Centred(4, 5), 1);
       op.Prefix = "(9x16 Centre) (3% Scale) ";
       return op;
     }(),
     R"(Extract (1% Scale) (4:5 Centre) Prefix: "(9x16 Centre) (3% Scale) " Quality: "75")"},
    {Scaled({}, kMax),
     R"(Extract (2147483647% Scale) Whole Image Format: "Don't Change" Quality: "75")"},
};

TEST(NewerOperationForms, WrittenAndReadBackAsTheSameRecord) {
  for (const FormRow &row : kForms) {
    QString error;
    EXPECT_EQ(OperationDescription(row.op, error), row.text);
    EXPECT_EQ(error, "");
    Operation back = row.op; // an empty format reads back as the default
    if (back.OutputFormat.isEmpty()) back.OutputFormat = kDontChange;
    EXPECT_EQ(ParseOperation(row.text, error), back) << row.text;
    EXPECT_EQ(error, "") << row.text;
  }
}

// A Varnholt from before these forms reads the group after "Extract " as a
// top-left corner and fails on the missing ",": the run passes over a text
// whose reading failed, and the list file's reader (which looks only at the
// record) drops it, since the corners it got are the wrong way round.
TEST(NewerOperationForms, OlderVersionsLeaveThemOutInTheRunAndTheListFile) {
  QStringList texts;
  for (const FormRow &row : kForms)
    texts << row.text;
  texts << R"(extract ( 3 : 2 center ) LimitWidth (640) Quality: "90")";
  for (const QString &text : texts) {
    QString error;
    const Operation older = ParseOperationAsOlderVersions(text, error);
    EXPECT_EQ(error, "9 - Subscript out of range") << text.toStdString();
    EXPECT_FALSE(IsOperationValid(older)) << text.toStdString();
    EXPECT_EQ(older.AspectWidth, 0);
  }
}

// The original forms read exactly as they always did.
TEST(NewerOperationForms, OriginalFormsReadAsOlderVersionsReadThem) {
  for (const char *text :
       {R"(Extract Whole Image Format: "Don't Change" Quality: "75")",
        R"(Extract (10,20)-(110,220) FixToSize (100*80) Prefix: "(1:1 Centre) " Quality: "90")",
        "Extract Centre (16:9)", "hello"}) {
    QString now, before;
    EXPECT_EQ(ParseOperation(text, now), ParseOperationAsOlderVersions(text, before)) << text;
    EXPECT_EQ(now, before) << text;
  }
}

TEST(NewerOperationForms, OddTextsReadAsTheseRecords) {
  const struct {
    const char *text;
    const char *error;
    bool valid;
  } rows[] = {
      {R"(EXTRACT (16 : 9  CENTER) Quality: "75")", "", true},
      {R"(Extract (0:9 Centre) Quality: "75")", "", false},
      {R"(Extract (9:0 Centre) Quality: "75")", "", false},
      {R"(Extract (10001:1 Centre) Quality: "75")", "", false},
      {R"(Extract (1:10001 Centre) Quality: "75")", "", false},
      {R"(Extract (0% Scale) Whole Image Quality: "75")", "", false},
      {R"(Extract (2147483648% Scale) Whole Image Quality: "75")", "6 - Overflow", true},
      {R"(Extract (16:2147483648 Centre) Quality: "75")", "6 - Overflow", false},
      // Not a group of the newer forms: read as corners, and failing there.
      {R"(Extract (-1:1 Centre) Quality: "75")", "9 - Subscript out of range", false},
      {R"(Extract (1.5:1 Centre) Quality: "75")", "9 - Subscript out of range", false},
      {R"(Extract (50 Scale) Whole Image Quality: "75")", "9 - Subscript out of range", false},
  };
  for (const auto &row : rows) {
    QString error;
    const Operation op = ParseOperation(row.text, error);
    EXPECT_EQ(error, row.error) << row.text;
    EXPECT_EQ(IsOperationValid(op), row.valid) << row.text;
  }
}

TEST(NewerOperationForms, ValidityOfTheirFields) {
  const struct {
    Operation op;
    bool valid;
  } rows[] = {
      {Centred(1, kMaxAspectTerm), true},
      {Centred(0, 1), false},
      {Centred(1, 0), false},
      {Centred(kMaxAspectTerm + 1, 1), false},
      {Centred(-1, -1), false},
      {Scaled({}, 1), true},
      {Scaled({}, 0), false},
      {Scaled(Centred(3, 2), kMax), true},
      {{.AspectWidth = 0, .AspectHeight = 5}, true}, // no extract: no crop to check
  };
  for (const auto &row : rows)
    EXPECT_EQ(IsOperationValid(row.op), row.valid)
        << row.op.AspectWidth << ":" << row.op.AspectHeight << " " << row.op.ResizeWidth;
}

// A list of the original forms only is written as it always was, and
// every line of it is kept when it is read back.
TEST(NewerOperationForms, AListOfTheOriginalFormsIsSavedByteForByte) {
  const Operation ops[] = {
      {.Extract = true,
       .TopLeftX = 10,
       .TopLeftY = 20,
       .BottomRightX = 110,
       .BottomRightY = 220,
       .Resize = true,
       .ResizeHeight = 80,
       .OutputFormat = "JPG",
       .JpgQuality = 90,
       .Prefix = "th_"},
      {.Resize = true, .ResizeMethod = kLimitWidth, .ResizeWidth = 640, .Suffix = "_640"},
      {.Extract = true,
       .Resize = true,
       .ResizeMethod = kLimitHeight,
       .ResizeHeight = 480,
       .OutputFormat = "",
       .JpgQuality = 1},
      {.Resize = true,
       .ResizeMethod = kFixToSize,
       .ResizeWidth = 128,
       .ResizeHeight = 128,
       .OutputFormat = "PNG",
       .JpgQuality = 100,
       .Prefix = "th_"},
      // What the newer forms add is ignored where the text has no place for it.
      {.OutputFormat = "WEBP", .AspectWidth = 16, .AspectHeight = 9},
  };
  const QByteArray bytes =
      "1>Extract (10,20)-(110,220) LimitWidthHeight (100*80) Prefix: \"th_\" Format: \"JPG\" "
      "Quality: \"90\"\r\n"
      "0>Extract Whole Image LimitWidth (640) Suffix: \"_640\" Format: \"Don't Change\" "
      "Quality: \"75\"\r\n"
      "1>Extract (0,0)-(0,0) LimitHeight (480) Quality: \"1\"\r\n"
      "1>Extract Whole Image FixToSize (128*128) Prefix: \"th_\" Format: \"PNG\" Quality: "
      "\"100\"\r\n"
      "1>Extract Whole Image Format: \"WEBP\" Quality: \"75\"\r\n";
  QList<OperationListItem> items;
  for (const Operation &op : ops) {
    QString error;
    items << OperationListItem{OperationDescription(op, error), items.size() != 1};
    ASSERT_EQ(error, "");
  }
  EXPECT_EQ(OperationsFileBytes(items), bytes);
  EXPECT_EQ(KeptOperationLines(bytes).size(), 5);
}

} // namespace
} // namespace varnholt
