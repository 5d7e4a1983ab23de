// The editor's centred crop (the aspect box) and its scale by a percentage.
#include "mainwindow/editor_fixture.h"

#include "operations/operation.h"

namespace varnholt::test {
namespace {

class EditorShapes : public EditorTest {
protected:
  void SetUp() override {
    Start();
    Check("chkExtract")->setChecked(true);
  }
  QLineEdit *AspectBox() const { return Combo("cmbExtractAspect")->lineEdit(); }
  // Which of the extract frame's controls take input now, one flag each.
  QString Enabled() const {
    QString flags;
    for (const char *name : {"cmbExtractAspect", "txtTopLeftX", "txtBottomRightY",
                             "txtExtractWidth", "udbExtractHeight", "lblCoordX", "cmdUseCropTool"})
      flags += Find<QWidget>(name)->isEnabled() ? '1' : '0';
    return flags;
  }
};

// A ratio chosen rests the corners and the crop tool; typed ones are tidied,
// and what is no ratio goes back to the last choice.
TEST_F(EditorShapes, TheAspectBoxTakesARatioInPlaceOfTheCorners) {
  EXPECT_EQ(Combo("cmbExtractAspect")->currentText(), "Free");
  EXPECT_EQ(Enabled(), "1111110") << "no preview, so no crop tool";
  // Every entry can be read whole in the box (the check of the window's
  // captions leaves out the room an editable box gives its arrow).
  for (int i = 0; i < Combo("cmbExtractAspect")->count(); ++i) {
    const QString entry = Combo("cmbExtractAspect")->itemText(i);
    EXPECT_LE(AspectBox()->fontMetrics().horizontalAdvance(entry) + 4, AspectBox()->width())
        << entry.toStdString();
  }
  Combo("cmbExtractAspect")->setCurrentIndex(9);
  EXPECT_EQ(Combo("cmbExtractAspect")->currentText(), "16:9");
  EXPECT_EQ(Enabled(), "1000000");
  window->Editor().SetPreviewShown(true);
  EXPECT_EQ(Enabled(), "1000000") << "the crop tool sets corners, not ratios";
  Check("chkExtract")->setChecked(false);
  EXPECT_EQ(Enabled(), "0000000");
  Check("chkExtract")->setChecked(true);
  const struct {
    const char *typed, *after;
  } rows[] = {{"65:24", "65:24"}, {" 007:05 ", "7:5"}, {"0:5", "7:5"}, {"10001:1", "7:5"},
              {"16:", "7:5"},     {"free", "Free"},    {"1:1", "1:1"}, {"3x2", "1:1"}};
  for (const auto &row : rows) {
    TypeAndLeave(AspectBox(), row.typed);
    EXPECT_EQ(Combo("cmbExtractAspect")->currentText(), row.after) << row.typed;
  }
  Type(AspectBox(), "3x");
  EXPECT_EQ(AspectBox()->text(), "3") << "the x is refused as it is typed";
  Leave();
  window->Operations().cmdNewOperation_Click();
  EXPECT_EQ(Combo("cmbExtractAspect")->currentText(), "Free") << "a reset takes the corners";
}

TEST_F(EditorShapes, ACentredScaledCropGoesInAndOutOfTheControls) {
  TypeAndLeave(Box("txtTopLeftX"), "7"); // corners typed earlier are no part of it
  Combo("cmbExtractAspect")->setCurrentIndex(2);
  EXPECT_EQ(Box("txtTopLeftX")->text(), "7") << "the box keeps them for the corners";
  Check("chkResizeImage")->setChecked(true);
  Box("txtResizeWidth")->setText("1920");
  Combo("cmbResizeMethod")->setCurrentIndex(kScale);
  EXPECT_EQ(Combo("cmbResizeMethod")->currentText(), "Scale by Percent");
  EXPECT_EQ(Box("txtResizeWidth")->text(), "100") << "1920 pixels is no percentage";
  EXPECT_EQ(Label("lblResizeWidth")->text(), "Percent");
  EXPECT_FALSE(Box("txtResizeHeight")->isEnabled());
  EXPECT_FALSE(Find<QWidget>("lblResizeX")->isEnabled());
  TypeAndLeave(Box("txtResizeWidth"), "50");
  Operation op;
  ASSERT_TRUE(window->Editor().OperationFromControls(op));
  EXPECT_EQ(op, (Operation{.Extract = true,
                           .Resize = true,
                           .ResizeMethod = kScale,
                           .ResizeWidth = 50,
                           .ResizeHeight = 50,
                           .OutputFormat = "",
                           .AspectWidth = 4,
                           .AspectHeight = 5}));
  window->Editor().SetControlsForOperation(OperationDefaults());
  EXPECT_EQ(Label("lblResizeWidth")->text(), "Width");
  op.AspectWidth = 65, op.AspectHeight = 24;
  window->Editor().SetControlsForOperation(op);
  EXPECT_EQ(Combo("cmbExtractAspect")->currentText(), "65:24");
  EXPECT_EQ(Combo("cmbResizeMethod")->currentIndex(), kScale);
  EXPECT_EQ(Box("txtResizeWidth")->text(), "50");
  EXPECT_FALSE(Box("txtTopLeftX")->isEnabled());
  Operation back;
  ASSERT_TRUE(window->Editor().OperationFromControls(back));
  EXPECT_EQ(back, op);
  // A percentage past the editor's limit is told once and clamped.
  ExpectOk("Maximum Percentage Exceeded", "Maximum percentage allowed is: 1000%",
           Icon::Information);
  const int shown = prompter.shown();
  TypeAndLeave(Box("txtResizeWidth"), "2500");
  EXPECT_EQ(prompter.shown(), shown + 1);
  EXPECT_EQ(Box("txtResizeWidth")->text(), "1000");
  EXPECT_EQ(Spinner("udbResizeWidth")->maximum(), 1000);
  Combo("cmbResizeMethod")->setCurrentIndex(kFixToSize);
  EXPECT_EQ(Spinner("udbResizeWidth")->maximum(), 20000);
}

} // namespace
} // namespace varnholt::test
