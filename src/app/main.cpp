#include "batch/batch.h"
#include "desktop/desktop_look.h"
#include "desktop/folder_command.h"
#include "desktop/program_icon.h"
#include "desktop/qt_desktop.h"
#include "dialogs/frm_error.h"
#include "mainwindow/frm_main.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/pair_stage.h"
#include "processing/run_plan.h"
#include "settings/manifest.h"
#include "settings/settings.h"
#include "version.h"
#include "workers/ahead_pool.h"

#include <QApplication>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {
using namespace varnholt;

const char *kUsage =
    "Usage: varnholt [FOLDER | LIST.vop]\n"
    "       varnholt --batch LIST.vop [OPTIONS]   (no window; see varnholt --batch --help)\n"
    "       varnholt --version | --help\n"
    "\n"
    "Varnholt processes the images of one folder in a batch: pick a folder,\n"
    "tick images, build a list of operations (crop, resize, format, quality,\n"
    "prefix and suffix) and run them.\n"
    "\n"
    "  FOLDER      open with this image folder\n"
    "  LIST.vop    open with this operation list\n"
    "  --version   print the version and exit\n"
    "  --help      print this text and exit\n";

// --help and --version work without a display too; anything else is judged
// once Qt has taken its own options (-platform, -style, ...) out. An exit
// status: the program has answered already.
std::optional<int> AnswerWithoutDisplay(int argc, char **argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  const ProgramArguments early = ParseProgramArguments(arguments);
  if (early.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (early.version) {
    std::printf("%s\n", kVersionText);
    return 0;
  }
  return std::nullopt;
}

// What is left once Qt has taken its options: the folder or list to open. A
// word that is not an option is said, and read as part of the name.
ProgramArguments ReadWhatToOpen() {
  const ProgramArguments program = ParseProgramArguments(QApplication::arguments());
  if (!program.unknown.isEmpty())
    std::fprintf(stderr, "varnholt: not an option, read as part of the folder or list: %s\n",
                 qPrintable(program.unknown.join(u' ')));
  return program;
}

// What runs that were killed left behind: their owners are gone.
void SweepWhatKilledRunsLeft(const Settings &settings) {
  SweepScratchLeftovers();
  SweepLeftovers(settings.SelectedDir);
  if (const QString output = OutputFolderFor(settings, settings.SelectedDir);
      output != settings.SelectedDir)
    SweepLeftovers(output);
  // A run with subfolders builds its pairs in each of them.
  if (settings.IncludeSubfolders)
    SweepLeftoversBelow(OutputFolderFor(settings, settings.SelectedDir));
}

// Before the first widget: every window is made in the chosen look. The
// themed look is light or dark as the desktop is; the classic one is as it
// always was.
void ChooseLook(bool themed) {
  QApplication::setStyle(
      QStyleFactory::create(themed ? QStringLiteral("Fusion") : QStringLiteral("Windows")));
  if (themed) FollowDesktopLook();
  QApplication::setWindowIcon(ProgramIcon());
}

} // namespace

int main(int argc, char **argv) {
  // The batch mode runs where there may be no display at all, so it must
  // decide before any window-system object exists.
  if (WantsBatch(argc, argv)) return BatchMain(argc, argv);

  // Kept as given: QApplication takes its own options out of argv.
  const QByteArrayList originalArgv(argv, argv + argc);
  if (const std::optional<int> answered = AnswerWithoutDisplay(argc, argv)) return *answered;
  const bool restarted = ProcessRestarter::TakeRestartedMark();
  QCoreApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QCoreApplication::setApplicationName(QStringLiteral("Varnholt"));

  // The settings and the themed look come before the application object:
  // a restart then replaces a process that has not yet opened the display.
  QSettingsStore store;
  Settings settings;
  ProcessRestarter restarter(originalArgv);
  const Initialisation init =
      frmMain::Form_Initialize(store, DefaultImageFolder(), ManifestPlace::ForThisProgram(),
                               restarted ? nullptr : &restarter, settings);
  if (init.restarted) return 0; // a restart that reports back did not replace this process

  QApplication app(argc, argv);
  QApplication::setApplicationVersion(QString::fromLatin1(kVersionText));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));

  const ProgramArguments program = ReadWhatToOpen();

  SweepWhatKilledRunsLeft(settings);
  ChooseLook(init.themed);

  QtPrompter prompter;
  QtFolderBrowser folderBrowser;
  QtFileDialogs fileDialogs;
  QtShell shell;
  frmError errorReporter(shell);
  // Without its scratch folder ImageMagick cannot be given a single file.
  const std::unique_ptr<MagickToolkit> toolkit = StartImageToolkit(errorReporter);
  if (!toolkit) return 1;

  MainWindowServices services{settings, prompter, folderBrowser, fileDialogs,
                              shell,    *toolkit, errorReporter};
  services.settingsStore = &store;
  XdgFolderCommand folderCommand(XdgPlaces::FromEnvironment(),
                                 QCoreApplication::applicationFilePath());
  services.folderCommand = &folderCommand;
  services.initialisation = init;
  // The run window's pairs are worked out ahead in worker processes, one per core.
  AheadPool ahead(DefaultJobs(), SelfExecutable());
  services.runAhead = &ahead;
  services.showSplash = true;
  services.unreadableNames =
      UnreadableStartTexts(NonUtf8Arguments(argc, argv), NonUtf8ProgramPath());
  services.endAtOnce = [&toolkit] {
    toolkit->DiscardScratch();
    std::fflush(nullptr);
    std::_Exit(0);
  };
  frmMain window(services);
  prompter.setParent(&window);
  window.Form_Load(program.commandLine);
  window.show();
  return app.exec();
}
