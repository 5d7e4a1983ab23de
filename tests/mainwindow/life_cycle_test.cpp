#include "mainwindow/main_window_fixture.h"

#include "dialogs/frm_splash.h"
#include "operations/operation_list_file.h"
#include "platform/settings_store.h"
#include "processing/frm_go.h"
#include "processing/magick_toolkit.h"
#include "settings/frm_about.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QSemaphore>
#include <QTest>
#include <QTimer>

#include <optional>

namespace varnholt::test {
namespace {

class ClosingTest : public MainWindowTest {
protected:
  // One valid operation added through the editor: the list now differs from
  // its file.
  void AddOperation() {
    Check("chkExtract")->setChecked(true);
    Box("txtPrefix")->setText("th_");
    window->cmdAddOperation_Click();
    ASSERT_TRUE(window->listChanged());
  }
  QString Stored(const char *key) const { return store.values.value(QString("Settings/") + key); }
  // A list file of one operation.
  QString ListFile(const QString &name) {
    WriteBytes(lists.file(name), "1>Extract Whole Image Prefix: \"a_\" Quality: \"75\"\r\n");
    return lists.file(name);
  }
  // The window as the program starts it: loaded with a command line, then shown.
  void Load(const QString &commandLine, SettingsStore *settingsStore = nullptr,
            const Initialisation &init = {}) {
    MainWindowServices services = Services(prompter);
    if (settingsStore) services.settingsStore = settingsStore;
    services.initialisation = init;
    window = std::make_unique<frmMain>(services);
    window->Form_Load(commandLine);
    Show();
  }
  int PreviewConverts() const {
    int n = 0;
    for (const auto &call : toolkit.calls)
      n += call.command == "convert" && call.args.last().startsWith(work.path());
    return n;
  }
};

// Yes writes the list; No leaves the file alone. Either way the window
// closes and the settings are stored.
TEST_F(ClosingTest, AsksToSaveTheLoadedListAndWritesItOnlyOnYes) {
  for (const Answer answer : {Answer::No, Answer::Yes}) {
    settings.LoadedFile = lists.file("web.vop");
    Open();
    AddOperation();
    prompter.expect("Save Changes?", "Save changes to web.vop?", Buttons::YesNo, Icon::Question,
                    answer);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(QFile::exists(lists.file("web.vop")), answer == Answer::Yes);
    EXPECT_EQ(Stored("SelectedDir"), images.path());
    EXPECT_EQ(Stored("LoadedFile"), lists.file("web.vop"));
  }
  QString error;
  Settings reread;
  EXPECT_EQ(LoadOperationsFile(lists.file("web.vop"), reread, error).size(), 1);
}

TEST_F(ClosingTest, AFailedSaveKeepsTheWindowOpenAndAnEmptiedListClosesUnasked) {
  // A file where the list's folder should be: no one can write there.
  WriteBytes(lists.file("plain"), "x");
  settings.LoadedFile = lists.file("plain/web.vop");
  Open();
  AddOperation();
  QString expectedError;
  Settings scratch;
  ASSERT_FALSE(
      SaveOperationsFile(settings.LoadedFile, window->OperationItems(), scratch, expectedError));
  prompter.expect("Save Changes?", "Save changes to web.vop?", Buttons::YesNo, Icon::Question,
                  Answer::Yes);
  prompter.expect("File Write Error",
                  "Could not save operations to \"" + settings.LoadedFile + "\"!\r\n" +
                      expectedError,
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->listChanged());
  EXPECT_EQ(store.flushes, 0) << "settings are stored only when the window really closes";

  // Emptied, the list has nothing to keep: no question.
  window->cmdNewList_Click();
  Box("txtPattern")->setText("img*");
  Check("chkInversePattern")->setChecked(true);
  EXPECT_TRUE(window->close());
  EXPECT_EQ(Stored("Pattern"), "img*");
  EXPECT_EQ(Stored("InversePattern"), "1");
  EXPECT_EQ(store.flushes, 1);
}

TEST_F(ClosingTest, AListWithoutAFileOffersTheSaveDialogAndStaysOpenWhenItIsCancelled) {
  Open();
  AddOperation();
  prompter.expect("Save Changes?", "Do you want to save operations to a file?", Buttons::YesNo,
                  Icon::Question, Answer::Yes);
  dialogs.answers.push_back(std::nullopt);
  EXPECT_FALSE(window->close());
  ASSERT_EQ(dialogs.saved.size(), 1u);
  EXPECT_EQ(dialogs.saved[0].title, "Save Operation File as...");

  prompter.expect("Save Changes?", "Do you want to save operations to a file?", Buttons::YesNo,
                  Icon::Question, Answer::Yes);
  dialogs.answers.push_back(lists.file("new.vop"));
  EXPECT_TRUE(window->close());
  EXPECT_TRUE(QFile::exists(lists.file("new.vop")));
  EXPECT_EQ(Stored("LoadedFile"), lists.file("new.vop"));
}

using StartUp = ClosingTest;

TEST_F(StartUp, TheCommandLineNamesAFolderOrAListElseTheLastOnesAreRestored) {
  QDir(images.path()).mkpath("My Shoot");
  const QString shoot = images.file("My Shoot");
  MakeImage(shoot + "/in.png", 8, 6);
  Make({"last.png"});
  const QString last = ListFile("last.vop");
  const QString capitals = ListFile("WEB.VOP");
  struct Row {
    QString commandLine, folder, title;
    QStringList listed;
  } rows[] = {
      {"\"" + shoot + "\"", shoot, "Varnholt 1.00 (last.vop)", {"in.png"}},
      {capitals, images.path(), "Varnholt 1.00 (WEB.VOP)", {"last.png"}},
      {lists.file("missing.vop"), images.path(), "Varnholt 1.00 (last.vop)", {"last.png"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.commandLine.toStdString());
    settings.SelectedDir = images.path();
    settings.LoadedFile = last;
    Load(row.commandLine);
    EXPECT_EQ(Box("txtInputDirectory")->text(), row.folder);
    EXPECT_EQ(Listed(), row.listed);
    EXPECT_EQ(window->windowTitle(), row.title);
    EXPECT_EQ(List("lstOperations")->count(), 1);
    ASSERT_NE(window->RunWindow(), nullptr) << "made hidden while loading";
    EXPECT_FALSE(window->RunWindow()->isVisible());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_LE((window->frameGeometry().center() - screen.center()).manhattanLength(), 2);
  }
  // Nothing is listed while loading: no one is told the restored folder is gone.
  settings.SelectedDir = images.file("gone");
  Load("\"" + shoot + "\"");
  List("lstImages")->setCurrentRow(0);
  EXPECT_EQ(window->PreviewedFile(), shoot + "/in.png") << "the list settled as loading ended";
  EXPECT_TRUE(errors.reports.empty());
}

TEST_F(StartUp, FolderPatternInverseAndListComeBackThroughARealIniFile) {
  Make({"a.png", "b.png"});
  const QString web = ListFile("web.vop");
  TempFolder config;
  std::optional<QSettingsStore> ini;
  const auto start = [&] {
    ini.emplace(config.file("Varnholt.ini"));
    const ManifestPlace place{config.path(), "varnholt", "1.0.0.0", ""};
    Load("", &*ini, frmMain::Form_Initialize(*ini, fallback.path(), place, nullptr, settings));
  };
  start();
  Box("txtInputDirectory")->setText(images.path());
  Box("txtPattern")->setText("a*");
  Check("chkInversePattern")->setChecked(true);
  window->OperationsFileToList(web);
  AddOperation();
  prompter.expect("Save Changes?", "Save changes to web.vop?", Buttons::YesNo, Icon::Question,
                  Answer::No);
  EXPECT_TRUE(window->close());
  window.reset();
  settings = Settings{};
  start();
  EXPECT_EQ(Box("txtInputDirectory")->text(), images.path());
  EXPECT_EQ(Box("txtPattern")->text(), "a*");
  EXPECT_TRUE(Check("chkInversePattern")->isChecked());
  EXPECT_EQ(Listed(), QStringList({"b.png"}));
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");
  EXPECT_EQ(List("lstOperations")->count(), 1) << "the unsaved addition was not kept";
}

TEST_F(StartUp, TheThemedLookWritesTheManifestRestartsOnceAndRemovesItAtTheEnd) {
  struct Recorder : Restarter {
    bool restart() override { return ++restarts, true; }
    int restarts = 0;
  };
  struct Row {
    const char *name;
    const char *xpStyle;
    bool leftover, writable;
    bool restarted, themed, thereWhileRunning, thereAfterwards;
  } rows[] = {
      {"off", "False", true, true, false, false, true, true},
      {"on, first start", "True", false, true, true, false, true, true},
      {"on, leftover", "True", true, true, false, true, true, false},
      {"on, unwritable", "True", false, false, false, false, false, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder data;
    WriteBytes(data.file("plain"), "");
    const ManifestPlace place{row.writable ? data.path() : data.file("plain"), "varnholt",
                              "1.0.0.0", ""};
    if (row.leftover) WriteBytes(place.path(), "left over");
    store.values["Settings/XPStyle"] = row.xpStyle;
    Recorder restarter;
    const Initialisation init =
        frmMain::Form_Initialize(store, fallback.path(), place, &restarter, settings);
    EXPECT_EQ(init.restarted, row.restarted);
    EXPECT_EQ(restarter.restarts, row.restarted ? 1 : 0);
    EXPECT_EQ(init.themed, row.themed);
    if (row.leftover) EXPECT_EQ(ReadBytes(place.path()), "left over") << "left as it is";
    if (init.restarted) continue; // this instance ends here
    Load("", nullptr, init);
    EXPECT_EQ(QFile::exists(place.path()), row.thereWhileRunning);
    settings.XPStyle = true; // switched on while running: for the next start
    window.reset();
    EXPECT_EQ(QFile::exists(place.path()), row.thereAfterwards);
  }
}

TEST_F(StartUp, UnreadableSettingsAndAnUnmakeableScratchFolderAreReportedNotThrown) {
  store.values["Settings/Antialias"] = "maybe";
  const Initialisation init =
      frmMain::Form_Initialize(store, fallback.path(), {}, nullptr, settings);
  EXPECT_FALSE(init.StartedWithXPStyle);
  EXPECT_EQ(settings.SelectedDir, fallback.path());
  Load("", nullptr, init);
  ASSERT_EQ(errors.reports.size(), 1u);
  EXPECT_EQ(errors.reports[0].source, "Form_Initialize");
  EXPECT_EQ(errors.reports[0].form, "frmMain");

  // So is a scratch folder for ImageMagick that cannot be made.
  WriteBytes(fallback.file("not-a-folder"), "");
  const QByteArray before = qgetenv("TMPDIR");
  qputenv("TMPDIR", fallback.file("not-a-folder").toLocal8Bit());
  const auto started = StartImageToolkit(errors);
  qputenv("TMPDIR", before);
  EXPECT_EQ(started, nullptr);
  ASSERT_EQ(errors.reports.size(), 2u);
  const ErrorReport &report = errors.reports[1];
  EXPECT_EQ(report.title, "Varnholt 1.00");
  EXPECT_EQ(report.form, "frmMain");
  EXPECT_EQ(report.source, "Form_Initialize");
  EXPECT_EQ(report.operation, "Starting ImageMagick");
  EXPECT_TRUE(report.description.startsWith("Cannot create a scratch folder"))
      << report.description.toStdString();
}

TEST_F(StartUp, ActivationReloadsThePreviewExceptAfterTheSettingsWindowOrTheCropTool) {
  Make({"a.png"});
  ListFile("run.vop");
  Open();
  List("lstImages")->setCurrentRow(0);
  ASSERT_EQ(PreviewConverts(), 1);

  Button("cmdGo")->setText("Start >>>");
  Button("cmdGo")->setEnabled(false);
  window->cmdNewList_Click(); // the editor as it stands counts as saved
  QTimer::singleShot(0, window.get(), [this] { window->AboutWindow()->cmdCancel_Click(); });
  QTest::mouseClick(Button("cmdAbout"), Qt::LeftButton);
  window->ActivateLater(); // joins the activation the settings window asked for
  QCoreApplication::processEvents();
  EXPECT_EQ(PreviewConverts(), 1);
  EXPECT_TRUE(window->operationSaved()) << "coming back is no change of the operation";
  EXPECT_EQ(Button("cmdGo")->text(), "Start >>");
  EXPECT_TRUE(Button("cmdGo")->isEnabled());
  window->ActivateLater(); // back from any other window
  QCoreApplication::processEvents();
  EXPECT_EQ(PreviewConverts(), 2);

  window->OperationsFileToList(lists.file("run.vop"));
  prompter.expect("Done!", "Process Finished! Would you like to see the resultant files?",
                  Buttons::YesNo, Icon::Question, Answer::No);
  window->cmdGo_Click();
  QCoreApplication::processEvents();
  EXPECT_EQ(PreviewConverts(), 3) << "back from the run window, once";
  EXPECT_TRUE(QFile::exists(images.file("a_a.png")));
}

TEST(Splash, TheBarFillsInFiftyTicksAndTheWindowHidesOnTheLastAlsoWhenModal) {
  frmSplash splash;
  for (const auto &[name, text] : {std::pair{"lbltitle", "Varnholt"},
                                   {"lblVersion", "1.0.0"},
                                   {"Label4", "Version:"},
                                   {"Label3", "Written By:"},
                                   {"Label2", "Loading...."}})
    EXPECT_EQ(splash.findChild<QLabel *>(name)->text(), text);
  EXPECT_EQ(splash.LoadingTimer()->interval(), 10);
  EXPECT_FALSE(splash.LoadingTimer()->isActive()) << "not before it is shown";
  EXPECT_EQ(QPair(splash.LoadingBar()->minimum(), splash.LoadingBar()->maximum()), QPair(0, 500));
  splash.show();
  EXPECT_TRUE(splash.LoadingTimer()->isActive());
  for (int tick = 1; tick < 50; ++tick)
    splash.timLoading_Timer();
  EXPECT_EQ(splash.LoadingBar()->value(), 490);
  EXPECT_TRUE(splash.isVisible());
  splash.timLoading_Timer();
  EXPECT_EQ(splash.LoadingBar()->value(), 500);
  EXPECT_FALSE(splash.isVisible());

  // Shown modally again, the full bar hides it at the first tick, which may
  // come before the modal wait has begun: the wait still ends.
  splash.ShowModal();
  EXPECT_FALSE(splash.isVisible());
  EXPECT_FALSE(splash.LoadingTimer()->isActive());
}

// Closing while ImageMagick is still making a preview leaves at once: the
// slow call is not waited for, and nothing hangs on the way out.
TEST_F(StartUp, ClosingDuringAPreviewEndsTheProgramAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Make({"a.png"});
  QElapsedTimer clock;
  clock.start();
  EXPECT_EXIT(
      {
        toolkit.before = [](const RecordingToolkit::Call &) {
          QSemaphore never;
          never.acquire(); // a preview that does not end
        };
        Open();
        // The preview's wait is the only event loop before exit(3).
        QTimer::singleShot(100, window.get(), [this] { window->close(); });
        List("lstImages")->setCurrentRow(0);
        std::exit(3); // the preview finished: the close came too late or did nothing
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_LT(clock.elapsed(), 15000);
}

} // namespace
} // namespace varnholt::test
