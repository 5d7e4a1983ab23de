#include "mainwindow/main_window_fixture.h"

#include "mainwindow/up_down.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
  EXPECT_EQ(window->lstImages->geometry(), window->TwipsToPixels(QRect(90, 855, 2535, 2310)));
  EXPECT_EQ(window->cmdGo->geometry(), window->TwipsToPixels(QRect(990, 5985, 6540, 375)));
  // Inside a frame, positions count from the frame.
  EXPECT_EQ(window->txtPrefix->parentWidget(), window->Frame3);
  EXPECT_EQ(window->txtPrefix->geometry(), window->TwipsToPixels(QRect(720, 270, 1230, 285)));
  EXPECT_EQ(window->imgPreview->parentWidget(), window->fraViewPicture);
  EXPECT_EQ(window->fraViewPicture->parentWidget(), window->fraPreview);
}

TEST_F(MainWindow, ControlsCarryTheirCaptionsItemsAndTooltips) {
  Open();
  EXPECT_EQ(window->lblDir->text(), "Folder:");
  EXPECT_EQ(window->Label2->text(), "Loading Image List...");
  EXPECT_EQ(window->fraPreview->title(), "View Picture");
  EXPECT_EQ(window->lblLoading->text(), "No Image Selected.");
  EXPECT_EQ(window->chkResizeImage->text(), "&Resize Extracted Image");
  EXPECT_EQ(window->cmdUseCropTool->text(), ">");
  EXPECT_EQ(window->cmdGo->text(), "Start >>") << "as every activation sets it";
  EXPECT_TRUE(window->cmdGo->font().bold());
  EXPECT_EQ(window->txtJpgQuality->text(), "75");
  EXPECT_TRUE(window->txtJpgQuality->isReadOnly());
  EXPECT_TRUE(window->txtInputDirectory->isReadOnly());
  EXPECT_EQ(window->txtTopLeftX->alignment() & Qt::AlignRight, Qt::AlignRight);
  EXPECT_EQ(window->chkInversePattern->text(), "");
  QStringList methods, formats;
  for (int i = 0; i < window->cmbResizeMethod->count(); ++i)
    methods << window->cmbResizeMethod->itemText(i);
  for (int i = 0; i < window->cmbOutputFormat->count(); ++i)
    formats << window->cmbOutputFormat->itemText(i);
  EXPECT_EQ(methods,
            QStringList({"Limit Width & Height", "Limit Width", "Limit Height", "Fix to Size"}));
  EXPECT_EQ(formats,
            QStringList({"Don't Change", "BMP", "GIF", "JPG", "PNG", "TIFF", "MIFF", "TGA"}));
  EXPECT_EQ(window->lstOperations->toolTip(),
            "The list of operations to preform on each image. Check operations to enable them.");
  EXPECT_EQ(window->txtJpgQuality->toolTip(),
            "The output quality of the JPG images, form 1 to 100. Default is 75%. If any JPG "
            "image is processed, this value is used.");
  EXPECT_EQ(window->udbJpgQuality->buddy(), window->txtJpgQuality);
  EXPECT_EQ(window->udbJpgQuality->maximum(), 100);
  EXPECT_EQ(window->udbResizeWidth->maximum(), 20000);
  for (QPushButton *picture : {window->cmdSelectDir, window->cmdSelectAll, window->cmdNewList,
                               window->cmdAbout, window->cmdVisitHV, window->cmdRemoveOperation}) {
    EXPECT_FALSE(picture->icon().isNull()) << picture->objectName().toStdString();
    EXPECT_TRUE(picture->text().isEmpty());
  }
  EXPECT_FALSE(window->fraLoadingImages->isVisible());
  EXPECT_FALSE(window->cmdUseCropTool->isEnabled());
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
  QWidget *w = window->txtInputDirectory;
  do {
    if (order.contains(w->objectName())) chain << w->objectName();
    w = w->nextInFocusChain();
  } while (w != window->txtInputDirectory && chain.size() < 100);
  EXPECT_EQ(chain, order);
}

} // namespace
} // namespace varnholt::test
