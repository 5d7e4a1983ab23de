#include "mainwindow/main_window_fixture.h"

#include <QGroupBox>

namespace varnholt::test {
namespace {

using MainWindow = MainWindowTest;

// What a user reads on the window as it opens, each text once; every caption
// fits its control.
TEST_F(MainWindow, OpensWithItsTextsAndEveryCaptionFits) {
  Open();
  EXPECT_EQ(window->windowTitle().toStdString(), "Varnholt 1.00");
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "a fixed size";
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

} // namespace
} // namespace varnholt::test
