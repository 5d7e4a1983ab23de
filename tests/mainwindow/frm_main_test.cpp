#include "mainwindow/main_window_fixture.h"

#include "geometry/window_math.h"

#include <QGroupBox>
#include <QTest>

namespace varnholt::test {
namespace {

using MainWindow = MainWindowTest;

// What a user reads on the window as it opens, each text once; every caption
// fits its control.
TEST_F(MainWindow, OpensWithItsTextsAndEveryCaptionFits) {
  Open();
  EXPECT_EQ(window->windowTitle().toStdString(), "Varnholt 1.00");
  const struct {
    const char *name, *text;
  } captions[] = {
      {"lblDir", "Folder:"},
      {"Label2", "Loading Image List..."},
      {"lblLoading", "No Image Selected."},
      {"chkResizeImage", "&Resize Extracted Image"},
      {"chkInversePattern", ""},
      {"cmdUseCropTool", ">"},
      {"cmdGo", "Start >>"},
      {"txtJpgQuality", "75"},
      {"txtResizeWidth", "100"},
  };
  for (const auto &row : captions)
    EXPECT_EQ(Find<QWidget>(row.name)->property("text").toString(), row.text) << row.name;
  EXPECT_EQ(Find<QGroupBox>("fraPreview")->title(), "View Picture");
  const auto items = [this](const char *name) {
    QStringList texts;
    for (int i = 0; i < Combo(name)->count(); ++i)
      texts << Combo(name)->itemText(i);
    return texts;
  };
  EXPECT_EQ(items("cmbResizeMethod"),
            QStringList({"Limit Width & Height", "Limit Width", "Limit Height", "Fix to Size"}));
  EXPECT_EQ(items("cmbOutputFormat"),
            QStringList({"Don't Change", "BMP", "GIF", "JPG", "PNG", "TIFF", "MIFF", "TGA"}));
  EXPECT_EQ(List("lstOperations")->toolTip(),
            "The list of operations to preform on each image. Check operations to enable them.");
  EXPECT_EQ(Box("txtJpgQuality")->toolTip(),
            "The output quality of the JPG images, form 1 to 100. Default is 75%. If any JPG "
            "image is processed, this value is used.");
  EXPECT_EQ(Combo("cmbOutputFormat")->currentIndex(), 0) << "the default operation";
  EXPECT_FALSE(Check("chkResizeImage")->isChecked());
  EXPECT_TRUE(Box("txtJpgQuality")->isReadOnly()) << "only its arrows change it";
  EXPECT_TRUE(Box("txtInputDirectory")->isReadOnly()) << "the folder comes from the browser";
  EXPECT_EQ(Spinner("udbResizeWidth")->maximum(), 20000);
  EXPECT_FALSE(Find<QGroupBox>("fraLoadingImages")->isVisible());
  EXPECT_FALSE(Button("cmdUseCropTool")->isEnabled()) << "no image selected yet";
  for (QPushButton *picture :
       {Button("cmdSelectDir"), Button("cmdSelectAll"), Button("cmdNewList"), Button("cmdAbout"),
        Button("cmdVisitHV"), Button("cmdRemoveOperation")})
    EXPECT_FALSE(picture->icon().isNull()) << picture->objectName().toStdString();
  EXPECT_EQ(ClippedCaptions(window.get()), QStringList());
}

// Made larger, the image column, the image list, the preview and the
// operation list take the room; the editor and the buttons keep their sizes;
// nothing comes to overlap. Back at the first size (the smallest), every control is
// where the layout puts it, and the preview is made for the box it has.
TEST_F(MainWindow, GrowsItsListsAndPreviewAndComesBackToItsLayout) {
  Make({"wide.png"}, 600, 400);
  Open();
  List("lstImages")->setCurrentRow(0);
  QWidget *client = window->centralWidget();
  const auto layout = [client] {
    QMap<QString, QRect> rects;
    for (QWidget *w : client->findChildren<QWidget *>())
      if (!w->objectName().isEmpty() && w->objectName() != "imgPreview")
        rects[w->objectName()] = w->geometry();
    return rects;
  };
  const QMap<QString, QRect> first = layout();
  const double tpp = 1440.0 / client->logicalDpiX();
  EXPECT_EQ(first["lstImages"], TwipsRectToPixels(QRect(90, 855, 2535, 2310), tpp, tpp));
  EXPECT_EQ(first["cmdGo"], TwipsRectToPixels(QRect(990, 5985, 6540, 375), tpp, tpp));
  EXPECT_EQ(window->minimumSize(), client->size());
  const QSize firstPicture = Label("imgPreview")->pixmap().size();

  window->resize(window->size() + QSize(300, 200));
  const QMap<QString, QRect> grown = layout();
  for (const char *name : {"lstImages", "fraPreview", "lstOperations"}) {
    EXPECT_GT(grown[name].width(), first[name].width()) << name;
    EXPECT_GT(grown[name].height(), first[name].height()) << name;
  }
  for (const char *name : {"fraExtractImage", "Frame4", "Frame3", "cmdAddOperation", "cmdGo",
                           "cmdSelectAll", "txtJpgQuality"})
    EXPECT_EQ(grown[name].size(), first[name].size()) << name;
  const QList<QWidget *> top = client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
  for (QWidget *a : top) {
    if (!a->isVisible()) continue;
    EXPECT_TRUE(client->rect().contains(a->geometry())) << a->objectName().toStdString();
    for (QWidget *b : top)
      if (a < b && b->isVisible() && !first[a->objectName()].intersects(first[b->objectName()]))
        EXPECT_FALSE(a->geometry().intersects(b->geometry()))
            << a->objectName().toStdString() << " " << b->objectName().toStdString();
  }
  QTest::qWait(400); // the preview is made again once the resizing rests
  const QSize grownPicture = Label("imgPreview")->pixmap().size();
  EXPECT_GT(grownPicture.width(), firstPicture.width());
  EXPECT_EQ(Label("lblImageDimensions")->text(), "Dimensions: 600x400 Pixels");

  window->resize(100, 100);
  EXPECT_EQ(window->size(), window->minimumSize());
  EXPECT_EQ(layout(), first);
  QTest::qWait(400);
  EXPECT_EQ(Label("imgPreview")->pixmap().size(), firstPicture);
}

} // namespace
} // namespace varnholt::test
