#pragma once

#include <QDialog>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabBar;

namespace varnholt {

class ErrorReporter;
class FolderBrowser;
class FolderCommand;
class Prompter;
class Shell;
struct Settings;

// Everything the About/Settings window talks to outside itself.
struct AboutServices {
  Settings &settings;
  Prompter &prompter;
  FolderBrowser &folderBrowser;
  Shell &shell;
  ErrorReporter &errorReporter;
  // Null: the folder command is not offered here (always shown clear).
  FolderCommand *folderCommand = nullptr;
  // The main window's current image folder, shown as the output folder while
  // "Output Files in Different Folder" is clear.
  std::function<QString()> inputFolder;
  // Where ImageMagickLicense.txt is read from; empty: ProgramDataFolder().
  QString dataFolder;
};

// The About/Settings window: program information, the terms and the
// ImageMagick licence, and the persistent options. It edits the settings in
// memory only (they are stored when the main window closes) and hides instead
// of closing, so one window serves the whole run of the program.
class frmAbout : public QDialog {
  Q_OBJECT
public:
  // Positions and fills the window over `owner` (a missing licence file is
  // reported here, once).
  explicit frmAbout(const AboutServices &services, QWidget *owner = nullptr);

  // Over the owner's centre, as the window is placed when it is made.
  void CentreOverOwner();
  // The controls take the settings; runs at every showing.
  void Form_Activate();

  void tabAbout_Click();
  void chkOutputDiffFolder_Click();
  void cmdSelectDir_Click();
  void cmdOK_Click();
  void cmdCancel_Click();
  void lblVisitHalvane_Click();
  void lblVisitImageMagick_Click();
  void cmdSubmitFeedback_Click();
  void cmdReportBug_Click();

  int VisibleFrameIndex() const { return visibleFrame_; }

protected:
  void showEvent(QShowEvent *event) override;
  void reject() override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void BuildControls();
  void BuildTabsAndFrames();
  void StyleControls(const QFont &font);
  void FillGeneral();
  void LoadLicence();
  void OpenOrSay(const QString &address);
  QRect TwipsToPixels(const QRect &twips) const;

  AboutServices services_;
  double twipsPerPixelX_ = 15;
  double twipsPerPixelY_ = 15;
  int visibleFrame_ = 0;

  QTabBar *tabAbout = nullptr;
  std::array<QGroupBox *, 3> fraAbout{};
  QLabel *lblTitle = nullptr;
  QLabel *Image1 = nullptr;
  QLabel *lblVersion_ = nullptr;
  QLabel *lblDescription = nullptr;
  QLabel *lblVisitHalvane_ = nullptr;
  QLabel *lblVisitImageMagick_ = nullptr;
  QPlainTextEdit *txtTnC = nullptr;
  QPlainTextEdit *txtImageMagick = nullptr;
  QCheckBox *chkOutOfBoundry = nullptr;
  QCheckBox *chkAntialias = nullptr;
  QCheckBox *chkContextMenu = nullptr;
  QCheckBox *chkOutputDiffFolder = nullptr;
  QLineEdit *txtOutputDir = nullptr;
  QPushButton *cmdSelectDir = nullptr;
  QCheckBox *chkXPStyle = nullptr;
  QCheckBox *chkAutoOrient = nullptr;
  QCheckBox *chkNeverEnlarge = nullptr;
  QCheckBox *chkSharpen = nullptr;
  QCheckBox *chkSubfolders = nullptr;
  QCheckBox *chkExactDecode = nullptr;
  QComboBox *cboExistingResults = nullptr;
  QComboBox *cboMetadata = nullptr;
  QPushButton *cmdSubmitFeedback = nullptr;
  QPushButton *cmdReportBug = nullptr;
  QPushButton *cmdOK = nullptr;
  QPushButton *cmdCancel = nullptr;
};

// The texts the window shows.
QString AboutVersionText(); // major.minor.revision
QString AboutDescriptionText();
QString TermsText();       // lines separated by CR LF
QString FeedbackAddress(); // a mailto: address

} // namespace varnholt
