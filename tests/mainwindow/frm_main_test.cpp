#include "mainwindow/main_window_fixture.h"

#include <QGroupBox>
#include <QTest>

namespace varnholt::test {
namespace {

using MainWindow = MainWindowTest;

TEST_F(MainWindow, CaptionCarriesNameAndVersion) {
  Open();
  EXPECT_EQ(window->windowTitle().toStdString(), "Varnholt 1.00");
  EXPECT_EQ(ProgramTitle().toStdString(), "Varnholt 1.00");
}

TEST_F(MainWindow, FixedSizeFromTheTwipsOfTheLayout) {
  Open();
  const QRect client = window->TwipsToPixels(QRect(0, 0, 7605, 6435));
  EXPECT_EQ(window->size(), client.size());
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_EQ(List("lstImages")->geometry(), window->TwipsToPixels(QRect(90, 855, 2535, 2310)));
  EXPECT_EQ(Button("cmdGo")->geometry(), window->TwipsToPixels(QRect(990, 5985, 6540, 375)));
  // Inside a frame, positions count from the frame.
  EXPECT_EQ(Box("txtPrefix")->parentWidget(), Find<QGroupBox>("Frame3"));
  EXPECT_EQ(Box("txtPrefix")->geometry(), window->TwipsToPixels(QRect(720, 270, 1230, 285)));
  EXPECT_EQ(Label("imgPreview")->parentWidget(), Find<QGroupBox>("fraViewPicture"));
  EXPECT_EQ(Find<QGroupBox>("fraViewPicture")->parentWidget(), Find<QGroupBox>("fraPreview"));
}

TEST_F(MainWindow, ControlsCarryTheirCaptionsItemsAndTooltips) {
  Open();
  EXPECT_EQ(Label("lblDir")->text(), "Folder:");
  EXPECT_EQ(Label("Label2")->text(), "Loading Image List...");
  EXPECT_EQ(Find<QGroupBox>("fraPreview")->title(), "View Picture");
  EXPECT_EQ(Label("lblLoading")->text(), "No Image Selected.");
  EXPECT_EQ(Check("chkResizeImage")->text(), "&Resize Extracted Image");
  EXPECT_EQ(Button("cmdUseCropTool")->text(), ">");
  EXPECT_EQ(Button("cmdGo")->text(), "Start >>") << "as every activation sets it";
  EXPECT_TRUE(Button("cmdGo")->font().bold());
  EXPECT_EQ(Box("txtJpgQuality")->text(), "75");
  EXPECT_TRUE(Box("txtJpgQuality")->isReadOnly());
  EXPECT_TRUE(Box("txtInputDirectory")->isReadOnly());
  EXPECT_EQ(Box("txtTopLeftX")->alignment() & Qt::AlignRight, Qt::AlignRight);
  EXPECT_EQ(Check("chkInversePattern")->text(), "");
  QStringList methods, formats;
  for (int i = 0; i < Combo("cmbResizeMethod")->count(); ++i)
    methods << Combo("cmbResizeMethod")->itemText(i);
  for (int i = 0; i < Combo("cmbOutputFormat")->count(); ++i)
    formats << Combo("cmbOutputFormat")->itemText(i);
  EXPECT_EQ(methods,
            QStringList({"Limit Width & Height", "Limit Width", "Limit Height", "Fix to Size"}));
  EXPECT_EQ(formats,
            QStringList({"Don't Change", "BMP", "GIF", "JPG", "PNG", "TIFF", "MIFF", "TGA"}));
  EXPECT_EQ(List("lstOperations")->toolTip(),
            "The list of operations to preform on each image. Check operations to enable them.");
  EXPECT_EQ(Box("txtJpgQuality")->toolTip(),
            "The output quality of the JPG images, form 1 to 100. Default is 75%. If any JPG "
            "image is processed, this value is used.");
  EXPECT_EQ(Spinner("udbJpgQuality")->buddy(), Box("txtJpgQuality"));
  EXPECT_EQ(Spinner("udbJpgQuality")->maximum(), 100);
  EXPECT_EQ(Spinner("udbResizeWidth")->maximum(), 20000);
  for (QPushButton *picture :
       {Button("cmdSelectDir"), Button("cmdSelectAll"), Button("cmdNewList"), Button("cmdAbout"),
        Button("cmdVisitHV"), Button("cmdRemoveOperation")}) {
    EXPECT_FALSE(picture->icon().isNull()) << picture->objectName().toStdString();
    EXPECT_TRUE(picture->text().isEmpty());
  }
  EXPECT_FALSE(Find<QGroupBox>("fraLoadingImages")->isVisible());
  EXPECT_FALSE(Button("cmdUseCropTool")->isEnabled());
}

TEST_F(MainWindow, EveryCaptionFitsItsControl) {
  Open();
  EXPECT_EQ(ClippedCaptions(window.get()), QStringList());
}

TEST_F(MainWindow, TabMovesThroughTheControlsInOrder) {
  Open();
  const QStringList order = {
      "txtInputDirectory",  "cmdSelectDir",     "txtPattern",       "chkInversePattern",
      "lstImages",          "lstOperations",    "cmdNewList",       "cmdSaveList",
      "cmdLoadList",        "chkExtract",       "txtTopLeftX",      "txtTopLeftY",
      "txtBottomRightX",    "txtBottomRightY",  "txtExtractWidth",  "udbExtractWidth",
      "txtExtractHeight",   "udbExtractHeight", "chkResizeImage",   "cmbResizeMethod",
      "txtResizeWidth",     "udbResizeWidth",   "txtResizeHeight",  "udbResizeHeight",
      "txtPrefix",          "txtSuffix",        "cmbOutputFormat",  "txtJpgQuality",
      "udbJpgQuality",      "cmdNewOperation",  "cmdSaveOperation", "cmdAddOperation",
      "cmdRemoveOperation", "cmdAbout",         "cmdVisitHV",       "cmdGo",
      "cmdSelectAll",       "cmdDeselectAll",   "cmdUseCropTool"};
  QStringList chain;
  QWidget *w = Box("txtInputDirectory");
  do {
    if (order.contains(w->objectName())) chain << w->objectName();
    w = w->nextInFocusChain();
  } while (w != Box("txtInputDirectory") && chain.size() < 100);
  EXPECT_EQ(chain, order);
}

} // namespace
} // namespace varnholt::test
