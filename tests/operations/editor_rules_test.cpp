#include "operations/editor_rules.h"

#include <gtest/gtest.h>

#include <tuple>

namespace varnholt {
namespace {

TEST(EditorRules, OnlyDigitsSurvive) {
  const std::tuple<const char *, bool, const char *> rows[] = {
      {"12a3", true, "123"}, {"\u22125", true, "5"},
      {" 7.5 ", true, "75"}, {"\u0661\u0662x", true, ""}, // non-ASCII digits go too
      {"", false, ""},       {"000", false, "1"},
      {"000", true, "000"},
  };
  for (const auto &[text, zeroAllowed, digits] : rows)
    EXPECT_EQ(RemoveNonNumbers(QString::fromUtf8(text), zeroAllowed), digits) << text;
}

TEST(EditorRules, CornersAndSizesStayInStep) {
  struct Row {
    const char *name;
    RectangleBoxes before;
    RectangleBox changed;
    RectangleBoxes after;
    QList<SizeLimit> messages;
  } rows[] = {
      {"corners give sizes",
       {"10", "20", "109", "69"},
       RectangleBox::BottomRightY,
       {"10", "20", "109", "69", "100", "50"},
       {}},
      {"bottom-right below top-left is raised",
       {"10", "20", "5", "69"},
       RectangleBox::BottomRightX,
       {"10", "20", "10", "69", "1", "50"},
       {}},
      {"bottom-right above top-left is raised",
       {"10", "20", "109", "5"},
       RectangleBox::BottomRightY,
       {"10", "20", "109", "20", "100", "1"},
       {}},
      {"empty corner becomes 0",
       {"10", "", "109", "69"},
       RectangleBox::TopLeftY,
       {"10", "0", "109", "69", "100", "70"},
       {}},
      {"empty left corner becomes 0",
       {"", "20", "109", "69"},
       RectangleBox::TopLeftX,
       {"0", "20", "109", "69", "110", "50"},
       {}},
      {"width 0 becomes 1 and moves the corner",
       {"10", "20", "109", "69", "0", "50"},
       RectangleBox::ExtractWidth,
       {"10", "20", "10", "69", "1", "50"},
       {}},
      {"width drives bottom-right",
       {"10", "20", "109", "69", "5", "50"},
       RectangleBox::ExtractWidth,
       {"10", "20", "14", "69", "5", "50"},
       {}},
      {"height 0 becomes 1 and moves the corner",
       {"10", "20", "109", "69", "100", "0"},
       RectangleBox::ExtractHeight,
       {"10", "20", "109", "20", "100", "1"},
       {}},
      {"height drives bottom-right",
       {"10", "20", "109", "69", "100", "5"},
       RectangleBox::ExtractHeight,
       {"10", "20", "109", "24", "100", "5"},
       {}},
      {"width above the limit",
       {"10", "0", "109", "9", "25000", "10"},
       RectangleBox::ExtractWidth,
       {"10", "0", "20009", "9", "20000", "10"},
       {SizeLimit::ExtractWidth}},
      {"height above the limit",
       {"0", "10", "9", "109", "10", "25000"},
       RectangleBox::ExtractHeight,
       {"0", "10", "9", "20009", "10", "20000"},
       {SizeLimit::ExtractHeight}},
      {"width one over the limit",
       {"0", "0", "9", "9", "20001", "10"},
       RectangleBox::ExtractWidth,
       {"0", "0", "19999", "9", "20000", "10"},
       {SizeLimit::ExtractWidth}},
      {"width at the limit",
       {"0", "0", "9", "9", "20000", "10"},
       RectangleBox::ExtractWidth,
       {"0", "0", "19999", "9", "20000", "10"},
       {}},
      {"far corner typed",
       {"0", "0", "30000", "9"},
       RectangleBox::BottomRightX,
       {"0", "0", "19999", "9", "20000", "10"},
       {SizeLimit::ExtractWidth}},
      {"far corner typed down",
       {"0", "0", "9", "30000"},
       RectangleBox::BottomRightY,
       {"0", "0", "9", "19999", "10", "20000"},
       {SizeLimit::ExtractHeight}},
      {"both too large",
       {"0", "0", "30000", "40000"},
       RectangleBox::TopLeftX,
       {"0", "0", "19999", "19999", "20000", "20000"},
       {SizeLimit::ExtractWidth, SizeLimit::ExtractHeight}},
      {"no upper limit on corners",
       {"99999999999", "0", "99999999999", "0"},
       RectangleBox::TopLeftX,
       {"99999999999", "0", "99999999999", "0", "1", "1"},
       {}},
  };
  for (Row &row : rows) {
    RectangleBoxes boxes = row.before;
    EXPECT_EQ(VerifyCoordinates(boxes, row.changed), row.messages) << row.name;
    EXPECT_EQ(boxes, row.after) << row.name;
  }
}

// The message texts are checked where the editor shows them.
TEST(EditorRules, ResizeBoxesStopAtTheLimit) {
  const std::tuple<const char *, const char *, bool> rows[] = {
      {"", "1", false}, {"20001", "20000", true}, {"20000", "20000", false}, {"0", "0", false}};
  for (const auto &[typed, kept, told] : rows) {
    QString box = typed;
    EXPECT_EQ(CheckResizeLimit(box), told) << typed;
    EXPECT_EQ(box, kept) << typed;
  }
}

} // namespace
} // namespace varnholt
