#pragma once

#include "geometry/window_math.h"
#include "operations/operation_list_file.h"
#include "platform/failure.h"
#include "processing/run.h"
#include "settings/manifest.h"

#include <QHash>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
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
class ImageEntry;
class ImageToolkit;
class MagickToolkit;
class Prompter;
class RunAhead;
class SettingsStore;
class Shell;
class UpDown;
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

// The main window: image folder and list with the preview on the left, the
// operation list and editor on the right, Start along the bottom. Its
// behaviour lives in files by concern (image_list.cpp, preview.cpp, ...).
class frmMain : public QMainWindow, public RunSource {
  Q_OBJECT
public:
  explicit frmMain(const MainWindowServices &services, QWidget *parent = nullptr);
  ~frmMain() override;

  // --- Image folder and image list
  void RefreshFileList();
  void AdjustHorizontalScroll(QListWidget *lstbox);
  void txtInputDirectory_Change();
  void txtPattern_Change();
  void chkInversePattern_Click();
  void cmdSelectDir_Click();
  void cmdSelectAll_Click();
  void cmdDeselectAll_Click();
  // The horizontal scroll range last given to a list box, in pixels.
  int HorizontalExtent(const QListWidget *lstbox) const;

  // --- Preview
  void lstImages_Click();
  void lstImages_DblClick();
  // The picture the preview shows was made from this file; empty when none.
  QString PreviewedFile() const { return previewedFile_; }

  // --- Operation editor
  void CheckRemoveNonNumbers(QLineEdit *box, bool ZeroAllowed);
  void VerifyCoordinates(QLineEdit *txtbox);
  // False (after the error dialog) when a box holds a number the record
  // cannot carry; the caller then leaves the list alone.
  bool OperationFromControls(Operation &op);
  void SetControlsForOperation(const Operation &op);
  void chkExtract_Click();
  void chkResizeImage_Click();
  void cmbResizeMethod_Click();
  void txtResizeWidth_LostFocus();
  void txtResizeHeight_LostFocus();
  void txtPrefix_Change();
  void txtSuffix_Change();

  // --- Crop tool (src/croptool/launch.cpp)
  void cmdUseCropTool_Click();
  frmCropTool *CropTool();

  // --- Operation list
  void cmdAddOperation_Click();
  void cmdSaveOperation_Click();
  void cmdRemoveOperation_Click();
  void cmdNewOperation_Click();
  void lstOperations_Click();
  void cmdNewList_Click();
  void cmdLoadList_Click();
  void cmdSaveList_Click();
  void SetWindowTitle();
  void OperationsFileToList(const QString &fileName);
  // The highlighted entry of the operation list, or -1.
  int HighlightedOperation() const;
  // The editor holds no edits that the list lacks: Start does not ask.
  bool operationSaved() const { return OperationSaved; }
  // The list has changes that no file holds yet: closing asks.
  bool listChanged() const { return ListChanged; }
  QList<OperationListItem> OperationItems() const;

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
  void ActivateLater();
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

  // --- What a run reads: the two lists and the folder
  qsizetype imageCount() const override;
  QString imageText(qsizetype index) const override;
  bool imageTicked(qsizetype index) const override;
  qsizetype operationCount() const override;
  QString operationText(qsizetype index) const override;
  bool operationTicked(qsizetype index) const override;
  QString inputFolder() const override;

  // --- Geometry
  double TwipsPerPixelX() const { return twipsPerPixelX_; }
  double TwipsPerPixelY() const { return twipsPerPixelY_; }
  QRect TwipsToPixels(const QRect &twips) const;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void showEvent(QShowEvent *event) override;

private:
  MainWindowServices services_;

  // --- Form-level state
  bool RefreshingList = false;
  bool FormLoading = false;
  bool LoadingPreview = false;
  int ImageLoaded = 0;
  QString PreviewGeometry;
  bool ReturningFromDialog = false;
  bool StartedWithXPStyle = false;
  bool SettingControls = false;
  bool OperationSaved = false;
  bool ListChanged = false;

  // --- Controls, by area
  QLabel *lblDir = nullptr;
  QLineEdit *txtInputDirectory = nullptr;
  QPushButton *cmdSelectDir = nullptr;
  QLabel *lblPattern = nullptr;
  QLineEdit *txtPattern = nullptr;
  QCheckBox *chkInversePattern = nullptr;
  QListWidget *lstImages = nullptr;
  QGroupBox *fraLoadingImages = nullptr;
  QLabel *Label2 = nullptr;
  QPushButton *cmdSelectAll = nullptr;
  QPushButton *cmdDeselectAll = nullptr;

  QGroupBox *fraPreview = nullptr;
  QGroupBox *fraViewPicture = nullptr;
  QLabel *lblLoading = nullptr;
  QLabel *imgPreview = nullptr;
  QLabel *lblViewPictureError = nullptr;
  QLabel *lblImageDimensions = nullptr;

  QListWidget *lstOperations = nullptr;
  QPushButton *cmdNewList = nullptr;
  QPushButton *cmdSaveList = nullptr;
  QPushButton *cmdLoadList = nullptr;

  QGroupBox *fraExtractImage = nullptr;
  QCheckBox *chkExtract = nullptr;
  QLabel *lblCoordX = nullptr;
  QLabel *lblCoordY = nullptr;
  QLabel *lblTopLeft = nullptr;
  QLineEdit *txtTopLeftX = nullptr;
  QLineEdit *txtTopLeftY = nullptr;
  QLabel *lblBottomRight = nullptr;
  QLineEdit *txtBottomRightX = nullptr;
  QLineEdit *txtBottomRightY = nullptr;
  QPushButton *cmdUseCropTool = nullptr;
  QLabel *lblExtractWidth = nullptr;
  QLineEdit *txtExtractWidth = nullptr;
  UpDown *udbExtractWidth = nullptr;
  QLabel *lblExtractX = nullptr;
  QLabel *lblExtractHeight = nullptr;
  QLineEdit *txtExtractHeight = nullptr;
  UpDown *udbExtractHeight = nullptr;

  QGroupBox *Frame4 = nullptr;
  QCheckBox *chkResizeImage = nullptr;
  QComboBox *cmbResizeMethod = nullptr;
  QLabel *lblResizeWidth = nullptr;
  QLineEdit *txtResizeWidth = nullptr;
  UpDown *udbResizeWidth = nullptr;
  QLabel *lblResizeX = nullptr;
  QLabel *lblResizeHeight = nullptr;
  QLineEdit *txtResizeHeight = nullptr;
  UpDown *udbResizeHeight = nullptr;

  QGroupBox *Frame3 = nullptr;
  QLabel *Label1 = nullptr;
  QLineEdit *txtPrefix = nullptr;
  QLabel *Label6 = nullptr;
  QLineEdit *txtSuffix = nullptr;
  QLabel *Label5 = nullptr;
  QComboBox *cmbOutputFormat = nullptr;
  QLabel *lblJpgQuality = nullptr;
  QLineEdit *txtJpgQuality = nullptr;
  UpDown *udbJpgQuality = nullptr;

  QPushButton *cmdNewOperation = nullptr;
  QPushButton *cmdSaveOperation = nullptr;
  QPushButton *cmdAddOperation = nullptr;
  QPushButton *cmdRemoveOperation = nullptr;
  QPushButton *cmdAbout = nullptr;
  QPushButton *cmdVisitHV = nullptr;
  QPushButton *cmdGo = nullptr;

  // frm_main.cpp
  void BuildControls();
  void BindControls();
  void SetFocusOrder();
  void FitFont();
  void ConnectImageSide();

  // image_list.cpp
  void ShowListBusy(bool busy);
  QString FallbackFolder() const;
  void ReportRefreshFailure(const class Failure &failure);
  void ReportUnreadableNames(const QString &folder);
  ImageEntry *EntryAt(int row) const;
  void InsertSorted(ImageEntry *entry);
  void RebuildIndexIfStale();
  void SetAllTicks(bool ticked);

  // editor.cpp
  void ConnectEditor();
  void BoxLeft(QLineEdit *box);
  void ResizeLimit(QLineEdit *box, bool width);
  void FileNameCheck(QLineEdit *box);
  void SyncSpinners();
  void ReportFailure(const Failure &failure, const QString &source,
                     const QString &operation = QString());
  QList<QLineEdit *> LeaveWatchedBoxes() const;

  // operation_list.cpp
  void ConnectOperationList();
  QString ListFolder() const;

  // preview.cpp
  QString WorkFolder() const;
  void ShowPreviewFailure(const QString &name, const QString &description);

  double twipsPerPixelX_ = 15;
  double twipsPerPixelY_ = 15;
  PreviewBox previewBox_;
  int refreshDepth_ = 0;
  QString unreadableReported_; // the folder and names last told about
  quint64 previewGeneration_ = 0;
  QString previewedFile_;
  // The image list's entries by exact name: a new name's tick and place are
  // decided without walking the list.
  QHash<QString, ImageEntry *> imageIndex_;
  // A box's leave handling is running: a message box it shows takes the
  // focus, and that is not the user leaving another box.
  bool leavingBox_ = false;
  frmGo *go_ = nullptr;

  // life_cycle.cpp
  void CreateRunWindow();
  void CentreOnScreen();
  void EndAtOnce();
  bool shownOnce_ = false;
  bool activationQueued_ = false;
  bool activating_ = false;
  bool terminated_ = false;
  frmAbout *about_ = nullptr;
  frmCropTool *cropTool_ = nullptr;
  bool launchingCropTool_ = false;
};

// The controls of a window whose caption is wider than the control itself
// (or, for a label, taller).
QStringList ClippedCaptions(const QWidget *window);

// ImageMagick for the windows; null once the error dialog has said why it
// cannot start (its scratch folder cannot be made, say).
std::unique_ptr<MagickToolkit> StartImageToolkit(ErrorReporter &errors);

// "Varnholt 1.00": major "." minor revision, no separator between the last two.
QString ProgramTitle();

} // namespace varnholt
