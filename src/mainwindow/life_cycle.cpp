// The main window from start to end: settings and the themed look before it
// exists, loading, activation, closing and the end.
#include "mainwindow/frm_main.h"

#include "desktop/window_placing.h"
#include "dialogs/frm_about.h"
#include "dialogs/frm_go.h"
#include "dialogs/frm_splash.h"
#include "mainwindow/image_panel.h"
#include "mainwindow/operation_editor.h"
#include "mainwindow/operation_list_panel.h"
#include "platform/error_reporter.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "platform/settings_store.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace varnholt {

namespace {
const QString kForm = QStringLiteral("frmMain");
}

Initialisation frmMain::Form_Initialize(SettingsStore &store, const QString &defaultFolder,
                                        const ManifestPlace &manifest, Restarter *restarter,
                                        Settings &settings) {
  Initialisation init;
  init.manifest = manifest;
  try {
    QList<Failure> bad;
    settings = LoadSettings(store, defaultFolder, &bad);
    // One report for all of them, once the error dialog exists; each bad key
    // has its default and is written back so at the end, the others as read.
    if (!bad.isEmpty()) {
      QStringList descriptions;
      for (const Failure &failure : bad)
        descriptions << failure.description();
      init.failure = Failure(bad.front().number(), descriptions.join(u'\n'));
    }
  } catch (const Failure &failure) {
    // Start on the defaults, and say why once the error dialog exists.
    init.failure = failure;
    settings = Settings{};
    settings.SelectedDir = settings.OutputDir = defaultFolder;
    return init;
  }
  init.StartedWithXPStyle = settings.XPStyle;
  if (settings.XPStyle) {
    const ManifestWrite written = WriteManifest(manifest, true, true, restarter);
    init.restarted = written.restarted;
    init.themed = written.existed;
  }
  return init;
}

std::unique_ptr<MagickToolkit> StartImageToolkit(ErrorReporter &errors) {
  try {
    return std::make_unique<MagickToolkit>();
  } catch (const Failure &failure) {
    errors.DisplayError(ErrorReport::from(failure, ProgramTitle(), kForm,
                                          QStringLiteral("Form_Initialize"),
                                          QStringLiteral("Starting ImageMagick")));
    return nullptr;
  }
}

void frmMain::CreateRunWindow() {
  if (go_) return;
  go_ = new frmGo(*source_, services_.settings, services_.toolkit, services_.prompter,
                  services_.errorReporter, this, services_.runAhead);
  go_->setWindowIcon(windowIcon());
}

void frmMain::Form_Load(const QString &commandLine) {
  Settings &settings = services_.settings;
  try {
    ReturningFromDialog_ = false;

    placeRestored_ = RestoreWindowPlace(this, settings.MainWindowPlace);
    if (!placeRestored_) CentreOnScreen();

    operations_->SetListChanged(false);
    images_->BeginLoading(settings.SelectedDir, settings.Pattern, settings.InversePattern != 0);

    const CommandLineTarget target = ReadCommandLine(commandLine);
    if (!target.folder.isEmpty())
      images_->SetFolder(target.folder);
    else if (!target.listFile.isEmpty())
      settings.LoadedFile = target.listFile;

    images_->EndLoading();

    // The other windows are made now, hidden, with this window's icon; the
    // error dialog takes the icon of the window it reports for each time.
    CreateRunWindow();
    // The settings window is made with this window; the crop tool at its
    // first use, as it holds a picture while it is open.
    if (about_) about_->setWindowIcon(windowIcon());

    images_->RefreshFileList();
    // Not passed over without a word: the last session's folder is shown instead.
    for (const QString &text : services_.unreadableNames)
      services_.prompter.ask(QStringLiteral("Unreadable File Names"), text, Buttons::Ok,
                             Icon::Exclamation);
    if (!settings.LoadedFile.isEmpty()) operations_->OperationsFileToList(settings.LoadedFile);
    operations_->SetWindowTitle();
    operations_->cmdNewOperation_Click();

    if (services_.showSplash) {
      frmSplash splash(this);
      splash.ShowModal();
    }
  } catch (const Failure &failure) {
    services_.errorReporter.DisplayError(
        ErrorReport::from(failure, windowTitle(), kForm, QStringLiteral("Form_Load")));
  }
}

void frmMain::CentreOnScreen() { PlaceForFirstStart(this); }

void frmMain::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    if (!event->spontaneous() && !placeRestored_) {
      CentreOnScreen();
      // A window manager frames the window only once it is on the screen:
      // centred again with its frame, unless it has been moved meanwhile.
      const QPoint placed = pos();
      QTimer::singleShot(150, this, [this, placed] {
        if (pos() == placed && frameGeometry().size() != size()) CentreFrameOnScreen(this);
      });
    }
    ActivateLater();
  }
}

void frmMain::ActivateLater() {
  if (activationQueued_ || !shownOnce_) return;
  activationQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    activationQueued_ = false;
    Form_Activate();
  });
}

void frmMain::Form_Activate() {
  if (activating_) return;
  activating_ = true;
  try {
    // Only the enabled states are brought in line: coming back to the window
    // is no change of the operation, and Start must not ask to save it.
    editor_->BringStatesInLine();
    cmdGo->setText(QStringLiteral("Start >>"));
    cmdGo->setEnabled(true);
    if (ReturningFromDialog_) {
      ReturningFromDialog_ = false;
    } else {
      images_->lstImages_Click();
      operations_->lstOperations_Click();
      operations_->AdjustHorizontalScroll();
      images_->AdjustHorizontalScroll();
      editor_->RecheckRectangle();
    }
  } catch (const Failure &failure) {
    services_.errorReporter.DisplayError(
        ErrorReport::from(failure, windowTitle(), kForm, QStringLiteral("Form_Activate")));
  }
  activating_ = false;
}

bool frmMain::Form_Unload() {
  Settings &settings = services_.settings;
  try {
    if (!operations_->OfferToSave()) return false;
    images_->Store(settings);
    settings.MainWindowPlace = WindowPlaceNow(this);
    if (services_.settingsStore) SaveSettings(*services_.settingsStore, settings);

    if (go_) go_->hide();
    services_.errorReporter.Dismiss();
    if (about_) about_->hide();
    editor_->HideCropTool();

    // A preview is waiting for ImageMagick in a nested event loop: returning
    // to it would keep the program alive until the call ends, for nothing.
    if (images_->LoadingPreview()) EndAtOnce();
  } catch (const Failure &failure) {
    services_.errorReporter.DisplayError(
        ErrorReport::from(failure, windowTitle(), kForm, QStringLiteral("Form_Unload")));
  }
  return true;
}

void frmMain::EndAtOnce() {
  Form_Terminate();
  if (services_.endAtOnce) {
    services_.endAtOnce();
    return;
  }
  std::fflush(nullptr);
  std::_Exit(0);
}

void frmMain::Form_Terminate() {
  const Initialisation &init = services_.initialisation;
  if (!init.StartedWithXPStyle || terminated_) return;
  terminated_ = true;
  try {
    DeleteManifest(init.manifest);
  } catch (const Failure &failure) {
    services_.errorReporter.DisplayError(
        ErrorReport::from(failure, windowTitle(), kForm, QStringLiteral("Form_Terminate")));
  }
}

void frmMain::closeEvent(QCloseEvent *event) {
  if (Form_Unload())
    event->accept();
  else
    event->ignore();
}

} // namespace varnholt
