#include "dialogs/frm_about.h"

#include "mainwindow/main_window_fixture.h"
#include "platform/paths.h"
#include "version.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

namespace varnholt::test {
namespace {

class AboutWindow : public ::testing::Test {
protected:
  void SetUp() override { WriteBytes(data.file("ImageMagickLicense.txt"), "Licence\r\n"); }
  void TearDown() override {
    window.reset();
    EXPECT_TRUE(prompter.done()) << "a message box was expected but never shown";
  }
  void Open() {
    window = std::make_unique<frmAbout>(AboutServices{settings, prompter, browser, shell, errors,
                                                      &command, [this] { return inputFolder; },
                                                      data.path()});
  }
  template <typename T = QWidget> T *Child(const QString &name) const {
    return Control<T>(*window, name);
  }
  QLineEdit *OutputBox() const { return Child<QLineEdit>("txtOutputDir"); }

  TempFolder data;
  Settings settings;
  ScriptedPrompter prompter;
  FakeFolderBrowser browser;
  RecordingShell shell;
  RecordingErrorReporter errors;
  FakeFolderCommand command;
  QString inputFolder = QStringLiteral("/home/me/Pictures/shoot");
  std::unique_ptr<frmAbout> window;
};

TEST_F(AboutWindow, ControlsCarryTheirCaptionsAndTooltips) {
  Open();
  EXPECT_EQ(window->windowTitle(), "About/Settings");
  auto *tabs = Child<QTabBar>("tabAbout");
  const QStringList tabTexts = {"&General Info", "&Terms && Conditions", "Settings"};
  ASSERT_EQ(tabs->count(), 3);
  const struct {
    const char *name, *caption, *tooltip;
  } rows[] = {
      {"lblTitle", "Varnholt", ""},
      {"lblVersionT", "Version:", ""},
      {"lblVersion_", "1.0.0", ""},
      {"lblDescription",
       "Extracts sections of images out (based on coordinates) and saves them to differnt files. "
       "Extracted images can be resized, suffixed, prefixed and have their format changed "
       "(png,bmp,jpg,gif,tiff,tga,miff).",
       ""},
      {"lblDescriptionT", "Description:", ""},
      {"lblDateWrittenT", "Date Written:", ""},
      {"lblDateWritten_", "11/04/2004", ""},
      {"lblWrittenByT_", "Written By:", ""},
      {"lblWrittenBy_", kAuthor, ""},
      {"lblWebsiteT", "Website:", ""},
      {"lblVisitHalvane_", kWebUrl, ""},
      {"lblPoweredByT", "Powered By:", ""},
      {"lblIM1_", "ImageMagick (", ""},
      {"lblVisitImageMagick_", kImageMagickUrl, ""},
      {"lblIM2_", ")", ""},
      {"Label1", "Terms and Conditions:", ""},
      {"Label2", "ImageMagicK License:", ""},
      {"chkOutOfBoundry", "Allow Out-Of-Boundry Extraction",
       "If the bottom-right coordinate is greater than the image's size, then make the "
       "coordiate the bottom-right corner of the image."},
      {"chkAntialias", "Antialias Resized Images",
       "Will antialias (soften) images that have been resized."},
      {"chkContextMenu", "Enable Explorer Context Menu",
       "Enables a right-click menu option for folders in explorer to process images."},
      {"chkOutputDiffFolder", "Output Files in Different Folder:",
       "Check to put all extracted images into a different folder (other than input folder)."},
      {"txtOutputDir", "", "The directory to output all extracted files."},
      {"cmdSelectDir", "", "Click to change output folder."},
      {"chkXPStyle", "XP Style (Requires Restart)",
       "Program look will take on the styles used under \"Windows XP\" (only available under XP, "
       "some people my notice preformance difference)."},
      {"chkAutoOrient", "Turn Photos Upright",
       "Takes every picture the way its camera or phone says it is seen (EXIF orientation), "
       "for coordinates, sizes, the preview, the crop tool and the results."},
      {"chkNeverEnlarge", "Never Enlarge Images",
       "The Limit resize methods only shrink: an image already inside the limit keeps its size. "
       "Fix To Size is always exact."},
      {"chkSharpen", "Sharpen After Shrinking",
       "Gives a resized picture that came out smaller a light sharpening, stronger the more it "
       "shrank, so fine detail stays crisp. Pictures that keep or grow their size, and plain "
       "copies, are left as they are."},
      {"chkExactDecode", "Decode JPEGs Whole",
       "Decodes every JPEG at its full size, also where a reduced decode gives the same size of "
       "result several times faster: results exactly as from a full decode."},
      {"chkSubfolders", "Include Subfolders",
       "Lists the images of every folder inside the image folder too, with the same pattern, "
       "shown with their folder (2024/IMG_0001.jpg). Their results go into the same folders "
       "inside the output folder, made as needed, or beside each image. Hidden folders and "
       "links to folders are left out."},
      {"cmdSubmitFeedback", "Submit Feedback", ""},
      {"cmdReportBug", "Submit Bug Report", ""},
      {"cmdOK", "&OK", ""},
      {"cmdCancel", "C&ancel", ""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    QWidget *w = Child(row.name);
    EXPECT_EQ(w->property("text").toString(), QString::fromUtf8(row.caption));
    EXPECT_EQ(w->toolTip(), QString::fromUtf8(row.tooltip));
  }
  EXPECT_FALSE(Child<QPushButton>("cmdSelectDir")->icon().isNull());
  const QString terms =
      "This software is provided 'as is' and any express or implied warranties, including, but "
      "not limited to, the implied warranties of merchantability and fitness for a particular "
      "purpose are disclaimed. In no event shall the author be liable for any direct, indirect, "
      "incidental, special, exemplary, or consequential damages (including, but not limited to, "
      "procurement of substitute goods or services; loss of use, data, or profits; or business "
      "interruption) however caused and on any theory of liability, whether in contract, strict "
      "liability, or tort (including negligence or otherwise) arising in any way out of the use "
      "of this software, even if advised of the possibility of such damage.\r\n\r\n"
      "The author (" +
      QString::fromUtf8(kAuthor) +
      ") and associates take no responsibility for any outcome of using this program, its files "
      "or its installation.\r\n\r\n"
      "If you do not agree to these terms and conditions please remove this program and it's "
      "asscociated files from your computer.";
  EXPECT_EQ(Child<QPlainTextEdit>("txtTnC")->toPlainText(), QString(terms).replace("\r\n", "\n"));
  EXPECT_TRUE(Child<QPlainTextEdit>("txtTnC")->isReadOnly());
  // Each tab, under its caption, shows its own frame, where nothing is cut short.
  window->show();
  EXPECT_EQ(window->VisibleFrameIndex(), 0);
  for (int k : {2, 1, 0, 2}) {
    EXPECT_EQ(tabs->tabText(k), tabTexts[k]);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(k).center());
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(Child<QGroupBox>(QString("fraAbout(%1)").arg(i))->isVisible(), i == k) << k << i;
    EXPECT_EQ(ClippedCaptions(window.get()), QStringList()) << "tab " << k;
  }
}

TEST_F(AboutWindow, TheLicenceIsShownLineByLineAndAMissingOneIsToldOnce) {
  WriteBytes(data.file("ImageMagickLicense.txt"), "First line\r\nsecond\n\nlast, no break");
  Open();
  EXPECT_EQ(Child<QPlainTextEdit>("txtImageMagick")->toPlainText(),
            "First line\nsecond\n\nlast, no break\n");
  // The program's own copy, where a plain start-up finds it.
  frmAbout installed(AboutServices{settings, prompter, browser, shell, errors, nullptr, {}, {}});
  EXPECT_TRUE(Control<QPlainTextEdit>(installed, "txtImageMagick")
                  ->toPlainText()
                  .contains("ImageMagick Studio LLC"));

  QFile::remove(data.file("ImageMagickLicense.txt"));
  prompter.expect("File Access Error",
                  "Could not load ImageMagick license file: " + data.path() +
                      "/ImageMagickLicense.txt!\r\n\r\nPlease Re-Install Varnholt!",
                  Buttons::Ok, Icon::Information, Answer::Ok);
  Open();
  EXPECT_EQ(Child<QPlainTextEdit>("txtImageMagick")->toPlainText(), "");
  window->show();
  EXPECT_TRUE(window->isVisible()) << "the window still works";
}

// One window shown again and again: every showing starts from the settings.
TEST_F(AboutWindow, ShowingCopiesTheSettingsAndOnlyOkWritesThemBack) {
  enum Close { Ok, Cancel, Escape };
  const char *boxes[] = {"chkXPStyle",      "chkAntialias",   "chkOutputDiffFolder",
                         "chkOutOfBoundry", "chkContextMenu", "chkAutoOrient",
                         "chkNeverEnlarge", "chkExactDecode", "chkSharpen",
                         "chkSubfolders"};
  const std::pair<QList<bool>, Close> rows[] = {
      {{true, false, true, false, true, true, false, true, false, true}, Ok},
      {{false, true, false, true, false, false, true, false, true, false}, Cancel},
      {{true, false, true, false, true, false, true, false, false, true}, Escape},
      {{false, true, false, true, false, true, false, true, true, false}, Ok}};
  Open();
  for (const auto &[given, close] : rows) {
    SCOPED_TRACE(close);
    const bool diff = given[2];
    settings = {.OutputInDiffDir = diff,
                .OutputDir = "/out/here",
                .XPStyle = given[0],
                .Antialias = given[1],
                .AllowOutOfBoundry = given[3],
                .AutoOrient = given[5],
                .NeverEnlarge = given[6],
                .ExactDecode = given[7],
                .SharpenAfterShrinking = given[8],
                .IncludeSubfolders = given[9]};
    command.registered = given[4];
    command.calls.clear();
    const Settings before = settings;
    window->show();
    Child<QTabBar>("tabAbout")->setCurrentIndex(2);
    QList<bool> ticked;
    for (const char *box : boxes)
      ticked << Child<QCheckBox>(box)->isChecked();
    EXPECT_EQ(ticked, given);
    // Clear: the input folder, greyed out with its button.
    EXPECT_EQ(OutputBox()->text(), diff ? "/out/here" : inputFolder);
    EXPECT_EQ(OutputBox()->isEnabled(), diff);
    EXPECT_EQ(Child<QPushButton>("cmdSelectDir")->isEnabled(), diff);

    // Every box turned over; the folder button replaces the box only with a chosen folder.
    for (const char *box : boxes) // on the box itself: it is wider than its caption
      QTest::mouseClick(Child(box), Qt::LeftButton, {}, QPoint(6, Child(box)->height() / 2));
    EXPECT_EQ(OutputBox()->isEnabled(), !diff);
    if (!diff) {
      browser.answers = {QString(), "/chosen/folder"};
      QTest::mouseClick(Child<QPushButton>("cmdSelectDir"), Qt::LeftButton);
      EXPECT_EQ(OutputBox()->text(), inputFolder);
      QTest::mouseClick(Child<QPushButton>("cmdSelectDir"), Qt::LeftButton);
      EXPECT_EQ(OutputBox()->text(), "/chosen/folder");
      // The browser opens at the output folder the box shows.
      EXPECT_EQ(browser.startFolders.mid(browser.startFolders.size() - 2),
                QStringList({inputFolder, inputFolder}));
    }
    const QString shown = OutputBox()->text();
    if (close == Escape)
      QTest::keyClick(window.get(), Qt::Key_Escape);
    else
      QTest::mouseClick(Child<QPushButton>(close == Ok ? "cmdOK" : "cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    const Settings turned = {.OutputInDiffDir = !diff,
                             .OutputDir = shown,
                             .XPStyle = !given[0],
                             .Antialias = !given[1],
                             .AllowOutOfBoundry = !given[3],
                             .AutoOrient = !given[5],
                             .NeverEnlarge = !given[6],
                             .ExactDecode = !given[7],
                             .SharpenAfterShrinking = !given[8],
                             .IncludeSubfolders = !given[9]};
    EXPECT_EQ(settings, close == Ok ? turned : before);
    EXPECT_EQ(command.calls, close != Ok ? QStringList()
                             : given[4]  ? QStringList("Unregister")
                                         : QStringList("Register"));
  }
  EXPECT_EQ(settings.OutputDir, "/chosen/folder");
  EXPECT_EQ(browser.titles, QStringList(4, "Select Output Directory"));
}

// What a run does with an earlier result, and what metadata its results
// carry: shown as words, stored as the settings file's, written back by OK
// only. The keyboard picks the next one.
TEST_F(AboutWindow, ChoiceBoxesShowTheSettingAndOkStoresTheChoice) {
  const struct {
    QString Settings::*field;
    const char *box, *stored, *shown;
    bool ok;
    const char *after;
  } rows[] = {
      {&Settings::ExistingResults, "cboExistingResults", "Replace", "Replace", true, "Skip"},
      {&Settings::ExistingResults, "cboExistingResults", "Skip", "Skip", true, "KeepBoth"},
      {&Settings::ExistingResults, "cboExistingResults", "KeepBoth", "Keep Both", false,
       "KeepBoth"},
      {&Settings::ExistingResults, "cboExistingResults", "anything", "Replace", false, "anything"},
      {&Settings::Metadata, "cboMetadata", "KeepAll", "Keep All", true, "RemoveLocation"},
      {&Settings::Metadata, "cboMetadata", "RemoveLocation", "Remove Location", true, "RemoveAll"},
      {&Settings::Metadata, "cboMetadata", "RemoveAll", "Remove All", false, "RemoveAll"},
      {&Settings::Metadata, "cboMetadata", "anything", "Keep All", false, "anything"}};
  Open();
  for (const auto &row : rows) {
    SCOPED_TRACE(row.stored);
    settings.*row.field = row.stored;
    window->show();
    Child<QTabBar>("tabAbout")->setCurrentIndex(2);
    auto *box = Child<QComboBox>(row.box);
    EXPECT_EQ(box->currentText(), row.shown);
    EXPECT_TRUE(box->isVisible());
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    QTest::mouseClick(Child<QPushButton>(row.ok ? "cmdOK" : "cmdCancel"), Qt::LeftButton);
    EXPECT_EQ(settings.*row.field, row.after);
  }
  EXPECT_EQ(Child("lblExistingResults")->property("text").toString(), "Existing Results:");
  EXPECT_EQ(Child("lblMetadata")->property("text").toString(), "Metadata In Results:");
  // Every control of the tab is whole inside its frame, the last one too.
  auto *frame = Child<QWidget>("fraAbout(2)");
  for (QWidget *w : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    EXPECT_TRUE(frame->contentsRect().contains(w->geometry())) << w->objectName().toStdString();
  // Two boxes side by side on one row: apart, and each caption whole.
  for (const char *name : {"chkNeverEnlarge", "chkSharpen", "chkExactDecode", "chkSubfolders"})
    EXPECT_LE(Child(name)->sizeHint().width(), Child(name)->width()) << name;
  EXPECT_FALSE(Child("chkNeverEnlarge")->geometry().intersects(Child("chkSharpen")->geometry()));
  EXPECT_FALSE(Child("chkExactDecode")->geometry().intersects(Child("chkSubfolders")->geometry()));
}

// The settings window's links and buttons, and the main window's button to the web site.
using MainWindowButtons = MainWindowTest;

TEST_F(MainWindowButtons, LinksAndButtonsOpenTheirAddresses) {
  Open();
  frmAbout *about = window->AboutWindow();
  about->show();
  const struct {
    QWidget *window;
    const char *control;
    QString address;
    bool toldWhenFailing;
  } rows[] = {
      {window.get(), "cmdVisitHV", kWebUrl, true},
      {about, "lblVisitHalvane_", kWebUrl, false},
      {about, "lblVisitImageMagick_", kImageMagickUrl, false},
      {about, "cmdSubmitFeedback", QString("mailto:") + kFeedbackMail, true},
      {about, "cmdReportBug", kBugPageUrl, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.control);
    for (const bool opens : {true, false}) {
      shell.opened.clear();
      shell.result = opens;
      if (!opens && row.toldWhenFailing) ExpectOk("Open Error", "Could Not Open: " + row.address);
      QTest::mouseClick(Control<QWidget>(*row.window, row.control), Qt::LeftButton);
      EXPECT_EQ(shell.opened, QStringList(row.address));
      EXPECT_TRUE(prompter.done());
    }
  }
}

} // namespace
} // namespace varnholt::test
