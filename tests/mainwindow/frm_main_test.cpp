#include "mainwindow/main_window_fixture.h"

#include "geometry/window_math.h"
#include "geometry/window_place.h"
#include "mainwindow/main_resize.h"

#include <QFrame>
#include <QGroupBox>
#include <QTest>

namespace varnholt::test {
namespace {

class MainWindow : public MainWindowTest {
protected:
  // A list file of `n` operations, loaded through the Load button.
  void LoadOperations(const QString &file, int n) {
    QByteArray text;
    for (int i = 0; i < n; ++i)
      text +=
          "1>Extract Whole Image Prefix: \"p" + QByteArray::number(i) + "_\" Quality: \"75\"\r\n";
    WriteBytes(file, text);
    dialogs.answers.push_back(file);
    Button("cmdLoadList")->click();
  }
};

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
            QStringList({"Limit Width & Height", "Limit Width", "Limit Height", "Fix to Size",
                         "Scale by Percent"}));
  EXPECT_EQ(items("cmbExtractAspect"),
            QStringList({"Free", "1:1", "4:5", "5:4", "2:3", "3:2", "3:4", "4:3", "9:16", "16:9"}));
  EXPECT_EQ(items("cmbOutputFormat"), QStringList({"Don't Change", "BMP", "GIF", "JPG", "PNG",
                                                   "TIFF", "MIFF", "TGA", "WEBP", "AVIF"}));
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

// Where every named control sits, inside its own container.
QMap<QString, QRect> Layout(const QWidget *client) {
  QMap<QString, QRect> rects;
  for (const QWidget *w : client->findChildren<QWidget *>())
    if (!w->objectName().isEmpty() && w->objectName() != "imgPreview" &&
        !w->objectName().startsWith("qt_"))
      rects[w->objectName()] = w->geometry();
  return rects;
}

// At the first start and maximised, on a large and a small screen under a
// title bar: every control stays inside its container and clear of the
// others beside it; the image column takes two thirds of the new width (more
// once the right part is twice its first width), the preview two thirds of
// the new height and the image list the rest; the
// operation list is no taller than its rows need, and the editor keeps its
// height by the Start button, its boxes wider. Back at the first size (the
// smallest), every control is where the layout puts it.
TEST_F(MainWindow, TheRoomGoesToThePreviewAndTheImagesAtEverySize) {
  Make({"wide.png"}, 600, 400);
  Open();
  LoadOperations(lists.file("three.vop"), 3);
  List("lstImages")->setCurrentRow(0);
  QWidget *client = window->centralWidget();
  window->resize(window->minimumSize());
  const QMap<QString, QRect> first = Layout(client);
  const double tpp = 1440.0 / client->logicalDpiX();
  EXPECT_EQ(first["lstImages"], TwipsRectToPixels(QRect(90, 855, 2535, 2310), tpp, tpp));
  EXPECT_EQ(first["cmdGo"], TwipsRectToPixels(QRect(990, 5985, 6540, 375), tpp, tpp));
  EXPECT_EQ(window->minimumSize(), client->size());
  EXPECT_EQ(Find<QFrame>("fraViewPicture")->frameShape(), QFrame::NoFrame)
      << "the captioned frame alone is drawn around the picture";
  QTest::qWait(300);
  const QSize firstPicture = Label("imgPreview")->pixmap().size();

  const QSize titleBar(0, 24);
  const struct {
    QSize screen;
    bool maximised;
  } rows[] = {
      {{1600, 1000}, false}, {{1600, 1000}, true}, {{1280, 800}, false}, {{1280, 800}, true}};
  for (const auto &row : rows) {
    const QSize inside = row.maximised
                             ? row.screen - titleBar
                             : FirstStartSize(row.screen, window->minimumSize(), titleBar);
    const std::string where = std::to_string(row.screen.width()) + "x" +
                              std::to_string(row.screen.height()) +
                              (row.maximised ? " maximised" : " first start");
    window->resize(inside);
    ASSERT_EQ(client->size(), inside) << where;
    const QMap<QString, QRect> now = Layout(client);
    for (const QWidget *container : client->findChildren<QWidget *>()) {
      if (container->objectName().isEmpty()) continue;
      const QList<QWidget *> inner = container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
      for (const QWidget *a : inner) {
        const QString name = a->objectName();
        if (!now.contains(name) || a->isHidden()) continue;
        EXPECT_TRUE(container->rect().contains(now[name])) << where << " " << name.toStdString();
        for (const QWidget *b : inner)
          if (a < b && now.contains(b->objectName()) && !b->isHidden() &&
              !first[name].intersects(first[b->objectName()]))
            EXPECT_FALSE(now[name].intersects(now[b->objectName()]))
                << where << " " << name.toStdString() << " " << b->objectName().toStdString();
      }
    }
    for (const QWidget *a : client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
      if (now.contains(a->objectName()) && !a->isHidden())
        EXPECT_TRUE(client->rect().contains(now[a->objectName()]))
            << where << " " << a->objectName().toStdString();
    EXPECT_EQ(ClippedCaptions(window.get()), QStringList()) << where;

    const QSize extra = inside - window->minimumSize();
    const auto grown = [&](const char *name) { return now[name].size() - first[name].size(); };
    // The right part's third, up to its own first width again.
    const int right =
        std::min(extra.width() / 3, client->minimumWidth() - first["lstOperations"].left());
    EXPECT_EQ(grown("fraPreview").width(), extra.width() - right) << where;
    EXPECT_EQ(grown("lstImages").width(), extra.width() - right) << where;
    EXPECT_EQ(grown("Frame3").width(), right) << where;
    EXPECT_EQ(grown("lstOperations").width(), right) << where;
    EXPECT_NEAR(grown("fraPreview").height(), extra.height() * 2 / 3, 1) << where;
    EXPECT_NEAR(grown("lstImages").height(), extra.height() / 3, 1) << where;
    EXPECT_EQ(grown("lstOperations").height(), 0) << where << ": three rows fit";
    for (const char *name : {"fraExtractImage", "Frame4", "Frame3", "cmdAddOperation"}) {
      EXPECT_EQ(grown(name).height(), 0) << where << " " << name;
      EXPECT_EQ(now[name].bottom() - first[name].bottom(), extra.height()) << where << " " << name;
    }
    for (const char *box : {"txtPrefix", "txtTopLeftX", "txtResizeHeight", "cmbOutputFormat"})
      EXPECT_GT(grown(box).width(), 0) << where << " " << box;
  }
  QTest::qWait(400); // the preview is made again once the resizing rests
  const QSize grownPicture = Label("imgPreview")->pixmap().size();
  EXPECT_GT(grownPicture.width(), 2 * firstPicture.width());
  const QRect placed = Label("imgPreview")->geometry();
  const QSize frame = Find<QFrame>("fraViewPicture")->size();
  EXPECT_LE(std::abs(placed.left() - (frame.width() - placed.right() - 1)), 1) << "centred";
  EXPECT_LE(std::abs(placed.top() - (frame.height() - placed.bottom() - 1)), 1) << "centred";
  EXPECT_EQ(Label("lblImageDimensions")->text(), "Dimensions: 600x400 Pixels");

  window->resize(100, 100);
  EXPECT_EQ(window->size(), window->minimumSize());
  EXPECT_EQ(Layout(client), first);
  QTest::qWait(400);
  EXPECT_EQ(Label("imgPreview")->pixmap().size(), firstPicture);
}

// The operation list grows as rows are added, as far as the room allows, and
// never over the editor, which stays where it was.
TEST_F(MainWindow, TheOperationListIsAsTallAsItsRowsNeed) {
  Open();
  window->resize(1200, 900);
  const QRect list = List("lstOperations")->geometry();
  const QRect editor = Find<QWidget>("fraExtractImage")->geometry();
  int last = list.height();
  for (int n : {6, 12, 18, 200}) {
    LoadOperations(lists.file(QString::number(n) + ".vop"), n);
    ASSERT_EQ(List("lstOperations")->count(), n);
    const QRect now = List("lstOperations")->geometry();
    EXPECT_EQ(now.top(), list.top()) << n;
    EXPECT_GE(now.height(), last) << n;
    EXPECT_LT(now.bottom(), editor.top()) << n;
    EXPECT_EQ(Find<QWidget>("fraExtractImage")->geometry(), editor) << n;
    const int rows = n + 1, row = List("lstOperations")->sizeHintForRow(0);
    if (now.height() < editor.top() - list.top() - row)
      EXPECT_GE(List("lstOperations")->viewport()->height(), rows * row)
          << n << ": every row shows";
    last = now.height();
  }
  EXPECT_GT(last, 3 * list.height()) << "200 rows take the room there is";
  LoadOperations(lists.file("one.vop"), 1);
  EXPECT_EQ(List("lstOperations")->geometry(), list) << "back to its first height";
}

} // namespace
} // namespace varnholt::test
