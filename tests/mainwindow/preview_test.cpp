#include "mainwindow/main_window_fixture.h"

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QProcess>
#include <QTest>

#include <future>

namespace varnholt::test {
namespace {

class Preview : public MainWindowTest {
protected:
  // The parts of the frame on show once the preview has settled (the wait is over).
  QStringList Shown() const {
    EXPECT_NE(window->cursor().shape(), Qt::WaitCursor);
    QStringList shown;
    for (const char *name :
         {"imgPreview", "lblImageDimensions", "lblLoading", "lblViewPictureError"})
      if (Label(name)->isVisible()) shown << name;
    return shown;
  }
  QStringList WorkFiles() const { return QDir(work.path()).entryList(QDir::Files); }
};

TEST_F(Preview, ShowsTheSourceSizeAndACentredPictureOfTheFirstFrameSmallerThanTheFrame) {
  Make({"photo.png"}, 640, 480);
  Open();
  window->resize(window->minimumSize()); // the image control's own size
  List("lstImages")->setCurrentRow(0);

  EXPECT_EQ(Shown(), QStringList({"imgPreview", "lblImageDimensions"}));
  EXPECT_EQ(Label("lblImageDimensions")->text(), "Dimensions: 640x480 Pixels");
  EXPECT_EQ(window->Images().PreviewedFile(), images.file("photo.png"));

  const QSize picture = Label("imgPreview")->pixmap().size();
  const QSize frame = Find<QFrame>("fraViewPicture")->size();
  EXPECT_EQ(Label("imgPreview")->size(), picture);
  EXPECT_LT(picture.width(), frame.width());
  EXPECT_LT(picture.height(), frame.height());
  EXPECT_NEAR(picture.width() * 480.0 / picture.height(), 640, 8) << "proportions kept";
  const QRect placed = Label("imgPreview")->geometry();
  EXPECT_LE(std::abs(placed.left() - (frame.width() - placed.right() - 1)), 1);
  EXPECT_LE(std::abs(placed.top() - (frame.height() - placed.bottom() - 1)), 1);

  // The working file has its usual name in the data folder; nothing else is left.
  EXPECT_EQ(WorkFiles(), QStringList({"preview.png"}));
  EXPECT_EQ(ImageSize(work.file("preview.png")), picture);

  ASSERT_EQ(toolkit.calls.size(), 3u) << "the orientation, the size, one conversion";
  EXPECT_EQ(toolkit.calls[2].args.mid(0, 7),
            QStringList({"-define", "jpeg:size=278x230", "-format", "png", "-geometry", "139x115",
                         images.file("photo.png")}))
      << "the image control's 2085x1725 twips";
  EXPECT_EQ(Button("cmdUseCropTool")->toolTip(),
            "Use crop tool to specify coordinates on selected image: photo.png");

  // An image of several frames shows its first, and leaves no file per frame.
  ASSERT_EQ(QProcess::execute("convert", {"-size", "60x20", "xc:red", "xc:blue", "xc:lime",
                                          images.file("frames.tif")}),
            0);
  window->Images().RefreshFileList();
  List("lstImages")->setCurrentItem(Entry("frames.tif"));
  EXPECT_EQ(window->Images().PreviewedFile(), images.file("frames.tif"))
      << Label("lblViewPictureError")->text().toStdString();
  EXPECT_EQ(Label("lblImageDimensions")->text(), "Dimensions: 60x20 Pixels");
  EXPECT_EQ(Label("imgPreview")->pixmap().toImage().pixelColor(5, 5), QColor(Qt::red));
  EXPECT_EQ(WorkFiles(), QStringList({"preview.png"}));

  // A phone's portrait, stored on its side, shows upright with its upright size.
  test::MakeOrientedJpeg(images.file("side.jpg"), 64, 48, 6);
  window->Images().RefreshFileList();
  List("lstImages")->setCurrentItem(Entry("side.jpg"));
  EXPECT_EQ(Label("lblImageDimensions")->text(), "Dimensions: 48x64 Pixels");
  const QSize upright = Label("imgPreview")->pixmap().size();
  EXPECT_GT(upright.height(), upright.width());
}

// The crop tool needs Extract ticked and an image on show. A file that cannot
// be shown (deleted, or corrupt) says so in the frame, with no dialog.
TEST_F(Preview, NoImageOnShowMeansNoCropToolAndAFailureShowsInTheFrame) {
  Make({"a.png", "gone.png"}, 40, 30);
  WriteBytes(images.file("bad.png"), "\x89PNG\r\n\x1a\nnot really");
  Open();
  List("lstImages")->setCurrentRow(0);
  EXPECT_EQ(window->Images().PreviewedFile(), images.file("a.png"));
  EXPECT_FALSE(Button("cmdUseCropTool")->isEnabled());
  Check("chkExtract")->setChecked(true);
  EXPECT_TRUE(Button("cmdUseCropTool")->isEnabled());

  ASSERT_TRUE(QFile::remove(images.file("gone.png")));
  for (const QString name : {"gone.png", "bad.png"}) {
    List("lstImages")->setCurrentItem(Entry(name));
    EXPECT_EQ(Shown(), QStringList({"lblViewPictureError"})) << name.toStdString();
    const QString error = Label("lblViewPictureError")->text();
    EXPECT_TRUE(error.startsWith("Error Loading: " + name + "\n")) << error.toStdString();
    EXPECT_GT(error.size(), QString("Error Loading: " + name + "\n").size());
    EXPECT_FALSE(Button("cmdUseCropTool")->isEnabled());
    EXPECT_TRUE(window->Images().PreviewedFile().isEmpty());
  }
  EXPECT_TRUE(errors.reports.empty());

  // The next good one recovers.
  List("lstImages")->setCurrentRow(0);
  EXPECT_EQ(window->Images().PreviewedFile(), images.file("a.png"));
  EXPECT_EQ(Shown(), QStringList({"imgPreview", "lblImageDimensions"}));
  EXPECT_TRUE(Button("cmdUseCropTool")->isEnabled());

  List("lstImages")->setCurrentRow(-1);
  EXPECT_EQ(Shown(), QStringList({"lblLoading"}));
  EXPECT_EQ(Label("lblLoading")->text(), "No Image Selected.");
  EXPECT_FALSE(Button("cmdUseCropTool")->isEnabled());
  EXPECT_EQ(window->Images().PreviewedFile(), "");
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
          List("lstImages")->setCurrentRow(1);
          bShown.set_value();
        },
        Qt::QueuedConnection);
    bShownFuture.wait();
  };
  List("lstImages")->setCurrentRow(0);

  EXPECT_EQ(List("lstImages")->currentItem()->text(), "b.png");
  EXPECT_EQ(Label("lblImageDimensions")->text(), "Dimensions: 200x300 Pixels");
  EXPECT_EQ(window->Images().PreviewedFile(), images.file("b.png"));
  const QSize picture = Label("imgPreview")->pixmap().size();
  EXPECT_LT(picture.width(), picture.height()) << "b.png is the portrait one";
  EXPECT_EQ(Shown(), QStringList({"imgPreview", "lblImageDimensions"}));
  EXPECT_EQ(WorkFiles(), QStringList({"preview.png"}));
}

TEST_F(Preview, DoubleClickInvertsTheTickOnceAndOpensTheImage) {
  Make({"a.png", "b.png"});
  Open(images.path() + QDir::separator()); // a folder text that ends in a separator
  QListWidgetItem *b = Entry("b.png");
  const QPoint onText = List("lstImages")->visualItemRect(b).center();
  QTest::mouseClick(List("lstImages")->viewport(), Qt::LeftButton, {}, onText);
  ASSERT_EQ(List("lstImages")->currentItem(), b);
  ASSERT_EQ(b->checkState(), Qt::Checked);

  QTest::mouseDClick(List("lstImages")->viewport(), Qt::LeftButton, {}, onText);
  EXPECT_EQ(b->checkState(), Qt::Unchecked);
  EXPECT_EQ(shell.opened, QStringList({images.path() + QDir::separator() + "b.png"}));
  EXPECT_EQ(Entry("a.png")->checkState(), Qt::Checked);
}

} // namespace
} // namespace varnholt::test
