// The main window from start to end: settings and the themed look before it
// exists, loading, activation, closing and the end.
#include "mainwindow/frm_main.h"

#include "dialogs/frm_splash.h"
#include "operations/operation_list_file.h"
#include "platform/error_reporter.h"
#include "platform/prompter.h"
#include "platform/settings_store.h"
#include "dialogs/frm_go.h"
#include "processing/magick/magick_toolkit.h"
#include "croptool/frm_crop_tool.h"
#include "dialogs/frm_about.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
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
  go_ = new frmGo(*this, services_.settings, services_.toolkit, services_.prompter,
                  services_.errorReporter, this, services_.runAhead);
  go_->setWindowIcon(windowIcon());
}

void frmMain::Form_Load(const QString &commandLine) {
  Settings &settings = services_.settings;
  try {
    FormLoading = true;
    ReturningFromDialog = false;

    CentreOnScreen();

    LoadingPreview = false;
    ListChanged = false;

    txtInputDirectory->setText(settings.SelectedDir);
    txtPattern->setText(settings.Pattern);
    chkInversePattern->setChecked(settings.InversePattern != 0);

    const CommandLineTarget target = ReadCommandLine(commandLine);
    if (!target.folder.isEmpty())
      txtInputDirectory->setText(target.folder);
    else if (!target.listFile.isEmpty())
      settings.LoadedFile = target.listFile;

    FormLoading = false;

    // The other windows are made now, hidden, with this window's icon.
    CreateRunWindow();
    if (auto *dialog = dynamic_cast<QWidget *>(&services_.errorReporter))
      dialog->setWindowIcon(windowIcon());
    // The settings window is made with this window; the crop tool at its
    // first use, as it holds a picture while it is open.
    if (about_) about_->setWindowIcon(windowIcon());

    RefreshFileList();
    // Not passed over without a word: the last session's folder is shown instead.
    for (const QString &text : services_.unreadableNames)
      services_.prompter.ask(QStringLiteral("Unreadable File Names"), text, Buttons::Ok,
                             Icon::Exclamation);
    if (!settings.LoadedFile.isEmpty()) OperationsFileToList(settings.LoadedFile);
    SetWindowTitle();
    previewBox_ = PreviewBoxFromTwips(2085, 1725, twipsPerPixelX_, twipsPerPixelY_);
    PreviewGeometry = PreviewGeometryText(previewBox_);
    cmdNewOperation_Click();

    if (services_.showSplash) {
      frmSplash splash(this);
      splash.ShowModal();
    }
  } catch (const Failure &failure) {
    services_.errorReporter.DisplayError(
        ErrorReport::from(failure, windowTitle(), kForm, QStringLiteral("Form_Load")));
  }
}

void frmMain::CentreOnScreen() {
  const QScreen *screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  // The border counts: it is known once the window is on the screen.
  const QRect area = screen->geometry();
  const QSize outer = frameGeometry().size();
  move(area.left() + int(area.width() / 2.0 - outer.width() / 2.0),
       area.top() + int(area.height() / 2.0 - outer.height() / 2.0));
}

void frmMain::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    if (!event->spontaneous()) CentreOnScreen();
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
    const bool saved = OperationSaved;
    chkExtract_Click();
    chkResizeImage_Click();
    OperationSaved = saved;
    SettingControls = false;
    cmdGo->setText(QStringLiteral("Start >>"));
    cmdGo->setEnabled(true);
    if (ReturningFromDialog) {
      ReturningFromDialog = false;
    } else {
      lstImages_Click();
      lstOperations_Click();
      AdjustHorizontalScroll(lstOperations);
      AdjustHorizontalScroll(lstImages);
      VerifyCoordinates(txtBottomRightY);
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
    // A list that was emptied and belongs to no file holds nothing to keep.
    const bool worthKeeping = !settings.LoadedFile.isEmpty() || lstOperations->count() > 0;
    if (ListChanged && worthKeeping) {
      const QString title = QStringLiteral("Save Changes?");
      if (!settings.LoadedFile.isEmpty()) {
        if (services_.prompter.ask(title, "Save changes to " + FileNamePart(settings.LoadedFile) + "?",
                                   Buttons::YesNo, Icon::Question) == Answer::Yes) {
          QString errorText;
          if (!SaveOperationsFile(settings.LoadedFile, OperationItems(), settings, errorText)) {
            services_.prompter.ask(QStringLiteral("File Write Error"),
                                   "Could not save operations to \"" + settings.LoadedFile +
                                       "\"!\r\n" + errorText,
                                   Buttons::Ok, Icon::Exclamation);
            // Stay open: closing now would throw the changes away.
            return false;
          }
          ListChanged = false;
        }
      } else if (services_.prompter.ask(title,
                                        QStringLiteral("Do you want to save operations to a file?"),
                                        Buttons::YesNo, Icon::Question) == Answer::Yes) {
        cmdSaveList_Click();
        if (ListChanged) return false;
      }
    }
    settings.SelectedDir = txtInputDirectory->text();
    settings.Pattern = txtPattern->text();
    settings.InversePattern = chkInversePattern->isChecked() ? 1 : 0;
    if (services_.settingsStore) SaveSettings(*services_.settingsStore, settings);

    if (go_) go_->hide();
    if (auto *dialog = dynamic_cast<QWidget *>(&services_.errorReporter)) dialog->hide();
    if (about_) about_->hide();
    if (cropTool_) cropTool_->hide();

    // A preview is waiting for ImageMagick in a nested event loop: returning
    // to it would keep the program alive until the call ends, for nothing.
    if (LoadingPreview) EndAtOnce();
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
