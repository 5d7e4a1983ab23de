#include "operations/editor_rules.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(EditorRules, OnlyDigitsSurvive) {
  EXPECT_EQ(RemoveNonNumbers("12a3", true), "123");
  EXPECT_EQ(RemoveNonNumbers("\u22125", true), "5");
  EXPECT_EQ(RemoveNonNumbers(" 7.5 ", true), "75");
  EXPECT_EQ(RemoveNonNumbers("\u0661\u0662x", true), "") << "non-ASCII digits go too";
  EXPECT_EQ(RemoveNonNumbers("", false), "");
  EXPECT_EQ(RemoveNonNumbers("000", false), "1");
  EXPECT_EQ(RemoveNonNumbers("000", true), "000");
}

std::string Text(const RectangleBoxes &b) {
  return QStringList({b.TopLeftX, b.TopLeftY, b.BottomRightX, b.BottomRightY, b.ExtractWidth,
                      b.ExtractHeight})
      .join(' ')
      .toStdString();
}

TEST(EditorRules, CornersAndSizesStayInStep) {
  struct Row {
    const char *name;
    RectangleBoxes before;
    RectangleBox changed;
    RectangleBoxes after;
    QList<SizeLimit> messages;
  } rows[] = {
      {"corners give sizes", {"10", "20", "109", "69"}, RectangleBox::BottomRightY,
       {"10", "20", "109", "69", "100", "50"}, {}},
      {"bottom-right below top-left is raised", {"10", "20", "5", "69"},
       RectangleBox::BottomRightX, {"10", "20", "10", "69", "1", "50"}, {}},
      {"empty corner becomes 0", {"10", "", "109", "69"}, RectangleBox::TopLeftY,
       {"10", "0", "109", "69", "100", "70"}, {}},
      {"width 0 becomes 1 and moves the corner", {"10", "20", "109", "69", "0", "50"},
       RectangleBox::ExtractWidth, {"10", "20", "10", "69", "1", "50"}, {}},
      {"width drives bottom-right", {"10", "20", "109", "69", "5", "50"},
       RectangleBox::ExtractWidth, {"10", "20", "14", "69", "5", "50"}, {}},
      {"width above the limit", {"10", "0", "109", "9", "25000", "10"},
       RectangleBox::ExtractWidth, {"10", "0", "20009", "9", "20000", "10"},
       {SizeLimit::ExtractWidth}},
      {"width one over the limit", {"0", "0", "9", "9", "20001", "10"},
       RectangleBox::ExtractWidth, {"0", "0", "19999", "9", "20000", "10"},
       {SizeLimit::ExtractWidth}},
      {"width at the limit", {"0", "0", "9", "9", "20000", "10"}, RectangleBox::ExtractWidth,
       {"0", "0", "19999", "9", "20000", "10"}, {}},
      {"far corner typed", {"0", "0", "30000", "9"}, RectangleBox::BottomRightX,
       {"0", "0", "19999", "9", "20000", "10"}, {SizeLimit::ExtractWidth}},
      {"both too large", {"0", "0", "30000", "40000"}, RectangleBox::TopLeftX,
       {"0", "0", "19999", "19999", "20000", "20000"},
       {SizeLimit::ExtractWidth, SizeLimit::ExtractHeight}},
      {"no upper limit on corners", {"99999999999", "0", "99999999999", "0"},
       RectangleBox::TopLeftX, {"99999999999", "0", "99999999999", "0", "1", "1"}, {}},
  };
  for (Row &row : rows) {
    RectangleBoxes boxes = row.before;
    EXPECT_EQ(VerifyCoordinates(boxes, row.changed), row.messages) << row.name;
    EXPECT_EQ(Text(boxes), Text(row.after)) << row.name;
  }
}

// The message texts are checked where the editor shows them.
TEST(EditorRules, ResizeBoxesStopAtTheLimit) {
  QString box;
  EXPECT_FALSE(CheckResizeLimit(box));
  EXPECT_EQ(box, "1");
  box = "20001";
  EXPECT_TRUE(CheckResizeLimit(box));
  EXPECT_EQ(box, "20000");
  EXPECT_FALSE(CheckResizeLimit(box)) << "the limit itself is allowed";
  box = "0";
  EXPECT_FALSE(CheckResizeLimit(box));
  EXPECT_EQ(box, "0");
}

} // namespace
} // namespace varnholt
