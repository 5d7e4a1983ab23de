#include "mainwindow/main_window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <future>

namespace varnholt::test {
namespace {

using Preview = MainWindowTest;

TEST_F(Preview, ShowsTheSourceSizeAndACentredPictureSmallerThanTheFrame) {
  Make({"photo.png"}, 640, 480);
  Open();
  window->lstImages->setCurrentRow(0);

  EXPECT_EQ(window->lblImageDimensions->text(), "Dimensions: 640x480 Pixels");
  EXPECT_TRUE(window->lblImageDimensions->isVisible());
  EXPECT_TRUE(window->imgPreview->isVisible());
  EXPECT_FALSE(window->lblLoading->isVisible());
  EXPECT_FALSE(window->lblViewPictureError->isVisible());
  EXPECT_EQ(window->ImageLoaded, 1);
  EXPECT_FALSE(window->LoadingPreview);

  const QSize picture = window->imgPreview->pixmap().size();
  const QSize frame = window->fraViewPicture->size();
  EXPECT_EQ(window->imgPreview->size(), picture);
  EXPECT_LT(picture.width(), frame.width());
  EXPECT_LT(picture.height(), frame.height());
  EXPECT_NEAR(picture.width() * 480.0 / picture.height(), 640, 8) << "proportions kept";
  const QRect placed = window->imgPreview->geometry();
  EXPECT_LE(std::abs(placed.left() - (frame.width() - placed.right() - 1)), 1);
  EXPECT_LE(std::abs(placed.top() - (frame.height() - placed.bottom() - 1)), 1);

  // The working file has its usual name in the data folder; nothing else is left.
  EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList({"preview.png"}));
  EXPECT_EQ(ImageSize(work.file("preview.png")), picture);

  ASSERT_EQ(toolkit.calls.size(), 2u);
  EXPECT_EQ(toolkit.calls[0].args, QStringList({"-format", "Dimensions: %wx%h Pixels", "-ping",
                                                images.file("photo.png")}));
  EXPECT_EQ(toolkit.calls[1].args.mid(0, 6),
            QStringList({"-define", "jpeg:size=278x230", "-format", "png", "-geometry",
                         window->PreviewGeometry}));
  EXPECT_EQ(toolkit.calls[1].args.value(6), images.file("photo.png"));
  EXPECT_EQ(window->cmdUseCropTool->toolTip(),
            "Use crop tool to specify coordinates on selected image: photo.png");
}

TEST_F(Preview, PreviewBoxIsTheImageControlInPixels) {
  Open();
  EXPECT_EQ(window->PreviewGeometry,
            PreviewGeometryText(PreviewBoxFromTwips(2085, 1725, window->TwipsPerPixelX(),
                                                    window->TwipsPerPixelY())));
  if (window->TwipsPerPixelX() == 15) EXPECT_EQ(window->PreviewGeometry, "139x115");
}

TEST_F(Preview, CropToolButtonOnlyWithExtractTicked) {
  Make({"a.png", "b.png"}, 40, 30);
  Open();
  window->lstImages->setCurrentRow(0);
  EXPECT_EQ(window->ImageLoaded, 1);
  EXPECT_FALSE(window->cmdUseCropTool->isEnabled());

  window->chkExtract->setChecked(true);
  window->lstImages->setCurrentRow(1);
  EXPECT_TRUE(window->cmdUseCropTool->isEnabled());
}

TEST_F(Preview, ADeletedFileShowsTheErrorStateAndNoDialog) {
  Make({"a.png", "gone.png"}, 40, 30);
  Open();
  window->chkExtract->setChecked(true);
  window->lstImages->setCurrentRow(0);
  ASSERT_TRUE(window->cmdUseCropTool->isEnabled());
  ASSERT_TRUE(QFile::remove(images.file("gone.png")));

  window->lstImages->setCurrentRow(1);
  EXPECT_TRUE(window->lblViewPictureError->isVisible());
  EXPECT_TRUE(window->lblViewPictureError->text().startsWith("Error Loading: gone.png\n"))
      << window->lblViewPictureError->text().toStdString();
  EXPECT_GT(window->lblViewPictureError->text().size(),
            QString("Error Loading: gone.png\n").size());
  EXPECT_EQ(window->ImageLoaded, 0);
  EXPECT_FALSE(window->cmdUseCropTool->isEnabled());
  EXPECT_FALSE(window->imgPreview->isVisible());
  EXPECT_FALSE(window->lblLoading->isVisible());
  EXPECT_FALSE(window->lblImageDimensions->isVisible());
  EXPECT_FALSE(window->LoadingPreview);
  EXPECT_TRUE(window->PreviewedFile().isEmpty());
  EXPECT_TRUE(errors.reports.empty());

  // A corrupt image fails the same way.
  WriteBytes(images.file("bad.png"), "\x89PNG\r\n\x1a\nnot really");
  window->RefreshFileList();
  window->lstImages->setCurrentRow(window->lstImages->count() - 1);
  ASSERT_EQ(window->lstImages->currentItem()->text(), "bad.png");
  EXPECT_TRUE(window->lblViewPictureError->text().startsWith("Error Loading: bad.png\n"));

  // And the next good one recovers.
  window->lstImages->setCurrentRow(0);
  EXPECT_EQ(window->ImageLoaded, 1);
  EXPECT_FALSE(window->lblViewPictureError->isVisible());
  EXPECT_TRUE(window->lblImageDimensions->isVisible());
}

TEST_F(Preview, AnImageOfSeveralFramesShowsItsFirst) {
  ASSERT_EQ(QProcess::execute("convert", {"-size", "60x20", "xc:red", "xc:blue", "xc:lime",
                                          images.file("frames.tif")}),
            0);
  Open();
  window->lstImages->setCurrentRow(0);
  EXPECT_EQ(window->ImageLoaded, 1) << window->lblViewPictureError->text().toStdString();
  EXPECT_EQ(window->lblImageDimensions->text(), "Dimensions: 60x20 Pixels");
  EXPECT_EQ(window->imgPreview->pixmap().toImage().pixelColor(5, 5), QColor(Qt::red));
  EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList({"preview.png"}));
}

TEST_F(Preview, NoCurrentEntryMeansNoImageSelected) {
  Make({"a.png"}, 40, 30);
  Open();
  window->lstImages->setCurrentRow(0);
  ASSERT_EQ(window->ImageLoaded, 1);
  window->lstImages->setCurrentRow(-1);
  EXPECT_EQ(window->lblLoading->text(), "No Image Selected.");
  EXPECT_TRUE(window->lblLoading->isVisible());
  EXPECT_FALSE(window->imgPreview->isVisible());
  EXPECT_FALSE(window->lblImageDimensions->isVisible());
  EXPECT_FALSE(window->cmdUseCropTool->isEnabled());
  EXPECT_EQ(window->ImageLoaded, 0);
}

TEST_F(Preview, AClickWhileLoadingNeverLeavesTheOlderPictureShown) {
  Make({"a.png"}, 640, 480);
  Make({"b.png"}, 200, 300);
  Open();
  // While a.png's preview is being converted, the user picks b.png; a.png's
  // convert only finishes once b.png's preview is on screen.
  std::promise<void> bShown;
  std::shared_future<void> bShownFuture = bShown.get_future().share();
  toolkit.before = [&](const RecordingToolkit::Call &call) {
    if (call.command != "convert" || !call.args.value(6).endsWith("a.png")) return;
    QMetaObject::invokeMethod(
        window.get(),
        [&] {
          window->lstImages->setCurrentRow(1);
          bShown.set_value();
        },
        Qt::QueuedConnection);
    bShownFuture.wait();
  };
  window->lstImages->setCurrentRow(0);

  EXPECT_EQ(window->lstImages->currentItem()->text(), "b.png");
  EXPECT_EQ(window->lblImageDimensions->text(), "Dimensions: 200x300 Pixels");
  EXPECT_EQ(window->PreviewedFile(), images.file("b.png"));
  const QSize picture = window->imgPreview->pixmap().size();
  EXPECT_LT(picture.width(), picture.height()) << "b.png is the portrait one";
  EXPECT_EQ(window->ImageLoaded, 1);
  EXPECT_FALSE(window->LoadingPreview);
  EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList({"preview.png"}));
}

TEST_F(Preview, DoubleClickInvertsTheTickOnceAndOpensTheImage) {
  Make({"a.png", "b.png"});
  Open(images.path() + QDir::separator()); // a folder text that ends in a separator
  QListWidgetItem *b = Entry("b.png");
  const QPoint onText = window->lstImages->visualItemRect(b).center();
  QTest::mouseClick(window->lstImages->viewport(), Qt::LeftButton, {}, onText);
  ASSERT_EQ(window->lstImages->currentItem(), b);
  ASSERT_EQ(b->checkState(), Qt::Checked);

  QTest::mouseDClick(window->lstImages->viewport(), Qt::LeftButton, {}, onText);
  EXPECT_EQ(b->checkState(), Qt::Unchecked);
  EXPECT_EQ(shell.opened, QStringList({images.path() + QDir::separator() + "b.png"}));
  EXPECT_EQ(Entry("a.png")->checkState(), Qt::Checked);
}

} // namespace
} // namespace varnholt::test
