#include "cli/batch.h"
#include "dialogs/frm_error.h"
#include "mainwindow/frm_main.h"
#include "platform/qt_desktop.h"
#include "platform/settings_store.h"
#include "processing/magick_toolkit.h"
#include "settings/folder_command.h"
#include "settings/paths.h"
#include "settings/settings.h"
#include "version.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>

#include <optional>

#include <cstdio>
#include <cstring>

namespace {
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
} // namespace

int main(int argc, char **argv) {
  // The batch mode runs where there may be no display at all, so it must
  // decide before any window-system object exists.
  if (varnholt::WantsBatch(argc, argv)) return varnholt::BatchMain(argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s\n", varnholt::kVersionText);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationVersion(QString::fromLatin1(varnholt::kVersionText));
  using namespace varnholt;
  QSettingsStore store;
  Settings settings;
  std::optional<Failure> unreadableSettings;
  try {
    settings = LoadSettings(store, DefaultImageFolder());
  } catch (const Failure &failure) {
    // Start on the defaults, and say why once the error dialog exists.
    unreadableSettings = failure;
    settings = Settings{};
    settings.SelectedDir = settings.OutputDir = DefaultImageFolder();
  }
  QtPrompter prompter;
  QtFolderBrowser folderBrowser;
  QtFileDialogs fileDialogs;
  QtShell shell;
  MagickToolkit toolkit;
  frmError errorReporter(shell);
  if (unreadableSettings)
    errorReporter.DisplayError(ErrorReport::from(*unreadableSettings, ProgramTitle(),
                                                 QStringLiteral("frmMain"),
                                                 QStringLiteral("Form_Initialize")));
  XdgFolderCommand folderCommand(XdgFolderCommand::DefaultDataHome(),
                                 QCoreApplication::applicationFilePath());
  frmMain window({settings, prompter, folderBrowser, fileDialogs, shell, toolkit, errorReporter,
                  QString(), QString(), QString(), &store, &folderCommand});
  prompter.setParent(&window);
  // Until the window's own start-up arrives: restore the folder, pattern and
  // the operation list used last, and fill the image list once.
  window.FormLoading = true;
  window.txtInputDirectory->setText(settings.SelectedDir);
  window.txtPattern->setText(settings.Pattern);
  window.chkInversePattern->setChecked(settings.InversePattern != 0);
  window.FormLoading = false;
  window.RefreshFileList();
  if (!settings.LoadedFile.isEmpty()) window.OperationsFileToList(settings.LoadedFile);
  window.SetWindowTitle();
  window.show();
  window.lstImages_Click();
  return app.exec();
}
