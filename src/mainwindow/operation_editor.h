#pragma once

#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace varnholt {

class Failure;
class frmCropTool;
class ImagePanel;
class ImageToolkit;
class PanelHost;
class UpDown;
struct MainWindowServices;
struct Operation;

// The operation being edited: the Extract Image, Dimensions and Output
// frames, their boxes and spinners, and the crop tool opened on the current
// image. It knows whether it holds edits the operation list lacks.
class OperationEditor : public QObject {
  Q_OBJECT
public:
  // Takes over its controls among `client`'s children, by name; the crop
  // tool opens on `images`' current entry.
  OperationEditor(QWidget *client, const MainWindowServices &services, PanelHost &host,
                  const ImagePanel &images, QObject *parent = nullptr);
  ~OperationEditor() override;

  void CheckRemoveNonNumbers(QLineEdit *box, bool ZeroAllowed);
  void VerifyCoordinates(QLineEdit *txtbox);
  // False (after the error dialog) when a box holds a number the record
  // cannot carry; the caller then leaves the list alone.
  bool OperationFromControls(Operation &op);
  void SetControlsForOperation(const Operation &op);
  // The operation into the boxes, its rectangle checked.
  void ShowOperation(const Operation &op);
  void chkExtract_Click();
  void chkResizeImage_Click();
  void cmbResizeMethod_Click();
  void txtResizeWidth_LostFocus();
  void txtResizeHeight_LostFocus();
  void txtPrefix_Change();
  void txtSuffix_Change();

  // The editor holds no edits that the list lacks.
  bool Saved() const { return OperationSaved; }
  void MarkSaved() { OperationSaved = true; }
  // The enabled states brought in line with the boxes, as the window comes
  // back: that is no change of the operation.
  void BringStatesInLine();
  // The rectangle checked again from its last corner.
  void RecheckRectangle();
  // Neither extract nor resize is ticked: the operation only copies.
  bool CopiesOnly() const;
  // Neither prefix nor suffix is given.
  bool KeepsNames() const;

  // The preview shows a picture or none; the crop tool opens only on one.
  void SetPreviewShown(bool shown);
  // The preview starts on this entry; the crop tool's button names it.
  void SetPreviewName(const QString &name);

  // --- Crop tool (crop_tool_launch.cpp)
  void cmdUseCropTool_Click();
  frmCropTool *CropTool();
  // Hides the crop tool if it was ever made.
  void HideCropTool();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  const MainWindowServices &services_;
  PanelHost &host_;
  const ImagePanel &images_;
  QWidget *window_;

  bool SettingControls = false;
  bool OperationSaved = false;
  int ImageLoaded = 0;
  // A box's leave handling is running: a message box it shows takes the
  // focus, and that is not the user leaving another box.
  bool leavingBox_ = false;
  frmCropTool *cropTool_ = nullptr;
  bool launchingCropTool_ = false;

  QCheckBox *chkExtract = nullptr;
  QComboBox *cmbExtractAspect = nullptr;
  QString lastAspect_ = QStringLiteral("Free");
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
  QCheckBox *chkResizeImage = nullptr;
  QComboBox *cmbResizeMethod = nullptr;
  QLabel *lblResizeWidth = nullptr;
  QLineEdit *txtResizeWidth = nullptr;
  UpDown *udbResizeWidth = nullptr;
  QLabel *lblResizeX = nullptr;
  QLabel *lblResizeHeight = nullptr;
  QLineEdit *txtResizeHeight = nullptr;
  UpDown *udbResizeHeight = nullptr;
  QLineEdit *txtPrefix = nullptr;
  QLineEdit *txtSuffix = nullptr;
  QComboBox *cmbOutputFormat = nullptr;
  QLineEdit *txtJpgQuality = nullptr;
  UpDown *udbJpgQuality = nullptr;

  // editor_shapes.cpp: the centred crop's ratio and the scale's percentage.
  void SetUpAspectBox();
  // The ratio in the aspect box; none when it holds "Free", the corners (or is being typed).
  std::optional<std::pair<std::int32_t, std::int32_t>> ChosenAspect() const;
  bool TakesCorners() const;
  void ShowAspectText(const QString &text);
  void ShowAspect(const Operation &op);
  // The width box's caption and range for the method chosen.
  void ShowResizeMethod(int method);
  // The percentage's limit check on leaving the width box; false when the
  // method is not the scale, and the size's check applies.
  bool PercentLimit();

  void BindControls(QWidget *client);
  void Connect();
  void BoxLeft(QLineEdit *box);
  void ResizeLimit(QLineEdit *box, bool width);
  void FileNameCheck(QLineEdit *box);
  void SyncSpinners();
  QList<QLineEdit *> LeaveWatchedBoxes() const;
  // crop_tool_launch.cpp: the corners the crop tool was closed with, into the boxes.
  void TakeCorners(const frmCropTool &tool);
  // Measures the image, gives the tool its first view and returns the
  // picture's full size.
  QSize ShowPictureIn(frmCropTool &tool, ImageToolkit &toolkit, const QString &image);
  void GiveCorners(frmCropTool &tool, QSize full) const;
};

} // namespace varnholt
