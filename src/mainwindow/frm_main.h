#pragma once

#include "geometry/window_math.h"
#include "mainwindow/main_layout.h"
#include "mainwindow/panel_host.h"
#include "operations/operation_list_file.h"
#include "platform/failure.h"
#include "processing/run.h"
#include "settings/manifest.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace varnholt {

class ErrorReporter;
class frmCropTool;
class frmGo;
class FileDialogs;
class FolderBrowser;
class FolderCommand;
class frmAbout;
class ImagePanel;
class OperationEditor;
class OperationListPanel;
class ImageToolkit;
class MagickToolkit;
class Prompter;
class RunAhead;
class SettingsStore;
class Shell;
struct Operation;
struct Settings;

// What initialisation found out before any window existed.
struct Initialisation {
  // The themed look was asked for at start; the manifest goes at exit.
  bool StartedWithXPStyle = false;
  // The manifest was there at start: this instance runs with the themed look.
  bool themed = false;
  // A new instance was started in this one's place: this one ends at once.
  bool restarted = false;
  ManifestPlace manifest;
  // The settings could not be read; the window reports it once the error
  // dialog exists.
  std::optional<Failure> failure;
};

// Everything the main window talks to outside itself. Tests hand it scripted
// ones; the application the real ones.
struct MainWindowServices {
  Settings &settings;
  Prompter &prompter;
  FolderBrowser &folderBrowser;
  FileDialogs &fileDialogs;
  Shell &shell;
  ImageToolkit &toolkit;
  ErrorReporter &errorReporter;
  // Where the image list goes when its folder is invalid; empty: the Pictures
  // or home folder.
  QString defaultFolder;
  // Where the preview's working file is written; empty: the per-user data folder.
  QString workFolder;
  // Where operation list files are proposed; empty: OperationsFolder().
  QString operationsFolder;
  // Where the settings are stored when the window closes; none: not stored.
  SettingsStore *settingsStore = nullptr;
  Initialisation initialisation = {};
  // Loading ends with the splash window (tests go without it).
  bool showSplash = false;
  // Ends the program at once, no handler running any more (closing during a
  // preview). Empty: flush and leave the process.
  std::function<void()> endAtOnce = {};
  // Worker processes that run ahead of the run window; none: it works alone.
  RunAhead *runAhead = nullptr;
  // The folder menus' "Extract Images..." command; none: not offered.
  FolderCommand *folderCommand = nullptr;
  // Where read-only companions (the ImageMagick licence) are; empty:
  // ProgramDataFolder().
  QString dataFolder;
  // Texts of the "Unreadable File Names" boxes to show once loaded: names on
  // the command line, or the program's own folder, that are not valid UTF-8.
  QStringList unreadableNames;
};

// The main window: the image panel on the left, the operation list and the
// operation editor on the right, Start along the bottom. The panels do the
// work; the window makes them, places them, wires them together, and looks
// after its own life cycle (life_cycle.cpp) and Start (start_run.cpp).
class frmMain : public QMainWindow, public PanelHost {
  Q_OBJECT
public:
  explicit frmMain(const MainWindowServices &services, QWidget *parent = nullptr);
  ~frmMain() override;

  // --- The panels, for tests and tools that drive one of them directly
  ImagePanel &Images() const { return *images_; }
  OperationEditor &Editor() const { return *editor_; }
  OperationListPanel &Operations() const { return *operations_; }

  // --- About/Setup and the web site (about_button.cpp)
  void cmdAbout_Click();
  void cmdVisitHV_Click();
  // The About/Settings window, made hidden with this window.
  frmAbout *AboutWindow() const { return about_; }

  // --- Life cycle
  // Before any widget exists: loads the settings and, for the themed look,
  // writes the manifest, restarting once through the restarter when it was
  // missing.
  static Initialisation Form_Initialize(SettingsStore &store, const QString &defaultFolder,
                                        const ManifestPlace &manifest, Restarter *restarter,
                                        Settings &settings);
  // Centres the window, restores the folder, pattern and list, reads the
  // command line, fills the image list once and shows the splash.
  void Form_Load(const QString &commandLine);
  // The window is active again after one of the program's own windows (or
  // for the first time): the editor's states, Start, and unless the settings
  // window or the crop tool has just closed, the preview and the operation.
  void Form_Activate();
  // Runs Form_Activate once the current handler has finished; several
  // requests before then make one activation.
  void ActivateLater() override;
  // Offers to save a changed list, then stores the folder, pattern and
  // settings. False when the window has to stay open (the list is unsaved).
  bool Form_Unload();
  // When the window goes: the manifest goes with it if the program started
  // with the themed look.
  void Form_Terminate();

  // --- Starting a run
  void cmdGo_Click();
  // The run window, made at the first run and reused; null before.
  frmGo *RunWindow() const { return go_; }
  // What a run reads: the two lists' entries and the image folder.
  const RunSource &Source() const { return *source_; }

  // --- Geometry
  double TwipsPerPixelX() const { return twipsPerPixelX_; }
  double TwipsPerPixelY() const { return twipsPerPixelY_; }
  QRect TwipsToPixels(const QRect &twips) const;

  // --- What the panels ask of the window
  void ReportFailure(const Failure &failure, const QString &source,
                     const QString &operation = QString()) override;
  void ReturningFromDialog() override { ReturningFromDialog_ = true; }

protected:
  void closeEvent(QCloseEvent *event) override;
  void showEvent(QShowEvent *event) override;
  // drop.cpp
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

private:
  MainWindowServices services_;
  double twipsPerPixelX_ = 15;
  double twipsPerPixelY_ = 15;

  ImagePanel *images_ = nullptr;
  OperationEditor *editor_ = nullptr;
  OperationListPanel *operations_ = nullptr;
  std::unique_ptr<RunSource> source_;

  QPushButton *cmdAbout = nullptr;
  QPushButton *cmdVisitHV = nullptr;
  QPushButton *cmdGo = nullptr;

  // frm_main.cpp
  void PlaceControls();
  void FitFont();
  // Shares the room beyond the first size out among the controls.
  void StretchToSize();
  void WirePanels();

  // start_run.cpp
  // After a finished run: offers to open the folder with the results.
  void OfferResults();

  // life_cycle.cpp
  void CreateRunWindow();
  void CentreOnScreen();
  void EndAtOnce();
  bool ReturningFromDialog_ = false;
  bool shownOnce_ = false;
  bool placeRestored_ = false; // put back where the last session left it
  bool activationQueued_ = false;
  bool activating_ = false;
  bool terminated_ = false;
  frmAbout *about_ = nullptr;
  frmGo *go_ = nullptr;
};

// ImageMagick for the windows; null once the error dialog has said why it
// cannot start (its scratch folder cannot be made, say).
std::unique_ptr<MagickToolkit> StartImageToolkit(ErrorReporter &errors);

// "Varnholt 1.00": major "." minor revision, no separator between the last two.
QString ProgramTitle();

} // namespace varnholt
