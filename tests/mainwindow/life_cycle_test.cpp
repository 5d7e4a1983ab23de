#include "mainwindow/main_window_fixture.h"

#include "geometry/window_place.h"

#include "dialogs/frm_about.h"
#include "dialogs/frm_go.h"
#include "dialogs/frm_splash.h"
#include "operations/operation_list_file.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "processing/magick/magick_toolkit.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QSemaphore>
#include <QTest>
#include <QTimer>
#include <QUrl>

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
    window->Operations().cmdAddOperation_Click();
    ASSERT_TRUE(window->Operations().listChanged());
  }
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

// Yes writes the list, through the save dialog when it has no file yet; No
// leaves it alone. The window stays open while the list is neither written
// nor given up, and only a real close stores the settings.
TEST_F(ClosingTest, AChangedListIsOfferedForSavingAndOnlyAWrittenOrRefusedOneLetsTheWindowClose) {
  // A file where the list's folder should be: no one can write there.
  WriteBytes(lists.file("plain"), "x");
  const QString unwritable = lists.file("plain/web.vop");
  QString writeError;
  Settings scratch;
  ASSERT_FALSE(SaveOperationsFile(unwritable, {}, scratch, writeError));
  struct Row {
    QString loaded;
    Answer answer;
    std::optional<QString> saveAs; // the dialog's answer, for a list without a file
    bool closes, written;
  } rows[] = {
      {lists.file("web.vop"), Answer::No, {}, true, false},
      {lists.file("web.vop"), Answer::Yes, {}, true, true},
      {unwritable, Answer::Yes, {}, false, false},
      {"", Answer::Yes, std::nullopt, false, false},
      {"", Answer::Yes, lists.file("new.vop"), true, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.loaded.toStdString() + " " + row.saveAs.value_or("-").toStdString());
    settings.LoadedFile = row.loaded;
    store.flushes = 0;
    Open();
    AddOperation();
    prompter.expect("Save Changes?",
                    row.loaded.isEmpty() ? "Do you want to save operations to a file?"
                                         : "Save changes to web.vop?",
                    Buttons::YesNo, Icon::Question, row.answer);
    if (row.loaded.isEmpty()) dialogs.answers.push_back(row.saveAs);
    if (row.loaded == unwritable)
      ExpectOk("File Write Error",
               "Could not save operations to \"" + unwritable + "\"!\r\n" + writeError);
    const int dismissed = errors.dismissed;
    EXPECT_EQ(window->close(), row.closes);
    EXPECT_EQ(errors.dismissed - dismissed, row.closes ? 1 : 0) << "the error dialog goes too";
    EXPECT_TRUE(dialogs.answers.empty());
    EXPECT_EQ(window->isVisible(), !row.closes);
    EXPECT_EQ(store.flushes, row.closes ? 1 : 0);
    const QString file = row.saveAs.value_or(row.loaded);
    if (row.closes) EXPECT_EQ(store.values.value("Settings/LoadedFile"), file);
    if (!row.closes) EXPECT_TRUE(window->Operations().listChanged());
    QString error;
    EXPECT_EQ(LoadOperationsFile(file, scratch.LoadedFile, error).size(), row.written ? 1 : 0);
  }
  // Emptied, the list has nothing to keep: no question.
  Open();
  AddOperation();
  window->Operations().cmdNewList_Click();
  EXPECT_TRUE(window->close());
}

using StartUp = ClosingTest;

TEST_F(StartUp, TheCommandLineNamesAFolderOrAListElseTheLastOnesAreRestored) {
  QDir(images.path()).mkpath("My Shoot");
  const QString shoot = images.file("My Shoot");
  MakeImage(shoot + "/in.png", 8, 6);
  Make({"last.png"});
  const QString last = ListFile("last.vop");
  const QString capitals = ListFile("WEB.VOP");
  const QString here = images.path();
  const auto Args = [](const QStringList &words) {
    return ParseProgramArguments(QStringList("varnholt") + words).commandLine;
  };
  struct Row {
    QString commandLine, folder, title;
    QStringList listed;
    QString restored; // the folder of the last run
  } rows[] = {
      {"\"" + shoot + "\"", shoot, "Varnholt 1.00 (last.vop)", {"in.png"}, here},
      {capitals, here, "Varnholt 1.00 (WEB.VOP)", {"last.png"}, here},
      {lists.file("missing.vop"), here, "Varnholt 1.00 (last.vop)", {"last.png"}, here},
      // Options that are none of ours name nothing, wherever they stand.
      {Args({"-x", shoot}), here, "Varnholt 1.00 (last.vop)", {"last.png"}, here},
      {Args({"--frobnicate", capitals}), here, "Varnholt 1.00 (last.vop)", {"last.png"}, here},
      {Args({shoot, "-"}), here, "Varnholt 1.00 (last.vop)", {"last.png"}, here},
      // Nothing is listed while loading: no one is told the restored folder is gone.
      {"\"" + shoot + "\"", shoot, "Varnholt 1.00 (last.vop)", {"in.png"}, images.file("gone")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.commandLine.toStdString());
    settings.SelectedDir = row.restored;
    settings.LoadedFile = last;
    Load(row.commandLine);
    EXPECT_EQ(Box("txtInputDirectory")->text(), row.folder);
    EXPECT_EQ(Listed(), row.listed);
    List("lstImages")->setCurrentRow(0);
    EXPECT_EQ(window->Images().PreviewedFile(), row.folder + "/" + row.listed[0])
        << "settled as loading ended";
    EXPECT_EQ(window->windowTitle(), row.title);
    EXPECT_EQ(List("lstOperations")->count(), 1);
    ASSERT_NE(window->RunWindow(), nullptr) << "made hidden while loading";
    EXPECT_FALSE(window->RunWindow()->isVisible());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_LE((window->frameGeometry().center() - screen.center()).manhattanLength(), 2);
  }
  EXPECT_TRUE(errors.reports.empty());
}

// Dropped on the window, a folder or a list file opens as on the command
// line; a changed list is offered for saving first. Other things are refused.
TEST_F(StartUp, AFolderOrAListFileDroppedOnTheWindowOpens) {
  QDir(images.path()).mkpath("My Shoot");
  const QString shoot = images.file("My Shoot");
  MakeImage(shoot + "/in.png", 8, 6);
  Make({"a.png"});
  const QString web = ListFile("web.vop");
  settings.SelectedDir = images.path();
  Load("");
  const auto drop = [this](const QString &path) {
    QMimeData data;
    data.setUrls({path.contains("://") ? QUrl(path) : QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window.get(), &dropped);
    return true;
  };
  EXPECT_TRUE(drop(shoot));
  EXPECT_EQ(Box("txtInputDirectory")->text(), shoot);
  EXPECT_EQ(Listed(), QStringList({"in.png"}));

  AddOperation();
  prompter.expect("Save Changes?", "Do you want to save operations to a file?", Buttons::YesNo,
                  Icon::Question, Answer::No);
  EXPECT_TRUE(drop(web));
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");
  EXPECT_EQ(List("lstOperations")->count(), 1);

  for (const QString &refused :
       {shoot + "/in.png", images.file("gone.vop"), QString("https://example.org/a.vop")})
    EXPECT_FALSE(drop(refused)) << refused.toStdString();
  EXPECT_EQ(Box("txtInputDirectory")->text(), shoot);
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
  window->Operations().OperationsFileToList(web);
  AddOperation();
  window->resize(760, 520);
  window->move(40, 50);
  prompter.expect("Save Changes?", "Save changes to web.vop?", Buttons::YesNo, Icon::Question,
                  Answer::No);
  EXPECT_TRUE(window->close());
  window.reset();
  settings = Settings{};
  start();
  EXPECT_EQ(QRect(window->pos(), window->size()), QRect(40, 50, 760, 520))
      << "where and as large as it was";
  EXPECT_EQ(Box("txtInputDirectory")->text(), images.path());
  EXPECT_EQ(Box("txtPattern")->text(), "a*");
  EXPECT_TRUE(Check("chkInversePattern")->isChecked());
  EXPECT_EQ(Listed(), QStringList({"b.png"}));
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");
  EXPECT_EQ(List("lstOperations")->count(), 1) << "the unsaved addition was not kept";
}

// A place no screen shows (a screen since unplugged) is not restored; nor is
// one that does not read. The window opens as at the first start: centred,
// at the size the screen gives it.
TEST_F(StartUp, AStoredPlaceOffEveryScreenFallsBackToCentred) {
  for (const char *stored : {"", "-5000,-5000,700,500", "3000,40,700,500,max", "40,50,wide,500"}) {
    settings.MainWindowPlace = stored;
    settings.SelectedDir = images.path();
    Load("");
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window->frameGeometry().center() - screen.center()).manhattanLength(), 2) << stored;
    EXPECT_EQ(window->size(), FirstStartSize(screen.size(), window->minimumSize(),
                                             window->frameGeometry().size() - window->size()))
        << stored;
    EXPECT_GT(window->width(), window->minimumWidth()) << stored;
    EXPECT_FALSE(window->isMaximized()) << stored;
    window.reset();
  }
}

TEST_F(StartUp, TheThemedLookWritesTheManifestRestartsOnceAndRemovesItAtTheEnd) {
  struct Recorder : Restarter {
    bool restart() override { return ++restarts, true; }
    int restarts = 0;
  };
  struct Row {
    const char *name, *xpStyle;
    bool leftover, writable, restarted, themed, thereWhileRunning, thereAfterwards;
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
  // Two bad values, one report; the keys beside them keep what they hold.
  store.values["Settings/Antialias"] = "maybe";
  store.values["Settings/AllowOutOfBoundry"] = "often";
  store.values["Settings/XPStyle"] = "False";
  store.values["Settings/OutputDir"] = "/out";
  const Initialisation init =
      frmMain::Form_Initialize(store, fallback.path(), {}, nullptr, settings);
  EXPECT_FALSE(init.StartedWithXPStyle);
  EXPECT_EQ(QStringList({settings.SelectedDir, settings.OutputDir}),
            QStringList({fallback.path(), "/out"}));
  Load("", nullptr, init);
  ASSERT_EQ(errors.reports.size(), 1u);
  EXPECT_EQ(QStringList(
                {errors.reports[0].source, errors.reports[0].form, errors.reports[0].description}),
            QStringList({"Form_Initialize", "frmMain",
                         "Type mismatch: setting Antialias holds \"maybe\", read as its "
                         "default\nType mismatch: setting AllowOutOfBoundry holds \"often\", read "
                         "as its default"}));

  // So is a scratch folder for ImageMagick that cannot be made.
  WriteBytes(fallback.file("not-a-folder"), "");
  const QByteArray before = qgetenv("TMPDIR");
  qputenv("TMPDIR", fallback.file("not-a-folder").toLocal8Bit());
  const auto started = StartImageToolkit(errors);
  qputenv("TMPDIR", before);
  EXPECT_EQ(started, nullptr);
  ASSERT_EQ(errors.reports.size(), 2u);
  const ErrorReport &r = errors.reports[1];
  EXPECT_EQ(QStringList({r.title, r.form, r.source, r.operation, r.description}),
            QStringList({"Varnholt 1.00", "frmMain", "Form_Initialize", "Starting ImageMagick",
                         "The temporary folder " + fallback.file("not-a-folder") +
                             " cannot be used (Not a directory): set TMPDIR to a folder you can "
                             "write to"}));
}

TEST_F(StartUp, NamesThatAreNotUtf8AreNamedInsteadOfPassedOver) {
  const char *argv[] = {"varnholt", "/p/caf\xe9", "/p/caf\xc3\xa9", "-x\xff"};
  const QStringList arguments = NonUtf8Arguments(4, argv);
  EXPECT_EQ(arguments, (QStringList{"/p/caf\\xe9", "-x\\xff"}));
  const QStringList texts = UnreadableStartTexts(arguments, "/opt/\\xe9t\\xe9/bin/varnholt");
  ASSERT_EQ(texts.size(), 2);
  EXPECT_EQ(NonUtf8ProgramPath(), "") << "the tests run from a UTF-8 path";
  for (const QString &text : texts)
    ExpectOk("Unreadable File Names", text);
  settings.SelectedDir = images.path();
  MainWindowServices services = Services(prompter);
  services.unreadableNames = texts;
  window = std::make_unique<frmMain>(services);
  window->Form_Load("/p/caf\uFFFD");
  Show();
  EXPECT_TRUE(prompter.done());
  EXPECT_EQ(Box("txtInputDirectory")->text(), images.path()) << "the last session's";
  EXPECT_EQ(texts[0],
            "The folder or list named on the command line cannot be opened because its "
            "name is not valid UTF-8. Rename it to open it:\r\n\r\n/p/caf\\xe9\r\n-x\\xff");
  EXPECT_TRUE(texts[1].endsWith(":\r\n\r\n/opt/\\xe9t\\xe9/bin/varnholt"));
}

TEST_F(StartUp, TheSettingsWindowIsModalAndOnlyComingBackFromItKeepsThePreview) {
  Make({"a.png"});
  ListFile("run.vop");
  Open();
  List("lstImages")->setCurrentRow(0);
  ASSERT_EQ(PreviewConverts(), 1);

  Button("cmdGo")->setText("Start >>>");
  Button("cmdGo")->setEnabled(false);
  window->Operations().cmdNewList_Click(); // the editor as it stands counts as saved
  EXPECT_FALSE(window->AboutWindow()->isVisible()) << "made hidden while loading";
  bool wasModal = false;
  QTimer::singleShot(0, window.get(), [&] {
    frmAbout *about = window->AboutWindow();
    wasModal = about->isVisible() && QApplication::activeModalWidget() == about;
    const QRect main = window->geometry();
    EXPECT_EQ(about->pos(), QPoint(qRound(main.x() + main.width() / 2.0 - about->width() / 2.0),
                                   qRound(main.y() + main.height() / 2.0 - about->height() / 2.0)));
    EXPECT_EQ(Control<QLineEdit>(*about, "txtOutputDir")->text(), images.path());
    about->cmdCancel_Click();
  });
  QTest::mouseClick(Button("cmdAbout"), Qt::LeftButton);
  EXPECT_TRUE(wasModal) << "centred over the window, on its folder";
  window->ActivateLater(); // joins the activation the settings window asked for
  QCoreApplication::processEvents();
  EXPECT_EQ(PreviewConverts(), 1);
  EXPECT_TRUE(window->Editor().Saved()) << "coming back is no change of the operation";
  EXPECT_EQ(Button("cmdGo")->text(), "Start >>");
  EXPECT_TRUE(Button("cmdGo")->isEnabled());
  window->ActivateLater(); // back from any other window
  QCoreApplication::processEvents();
  EXPECT_EQ(PreviewConverts(), 2);

  window->Operations().OperationsFileToList(lists.file("run.vop"));
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
