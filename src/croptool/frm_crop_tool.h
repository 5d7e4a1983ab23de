#pragma once

#include "geometry/crop_rules.h"

#include <QDialog>
#include <QImage>
#include <QLineF>
#include <QPen>

#include <functional>

class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QTimer;

namespace varnholt {

class Prompter;
struct Settings;

// The window on which the user picks the rectangle of an extraction: the
// picture at its natural size (one image pixel per device pixel) in a
// scrollable view, the left button placing the top-left corner and the right
// button the bottom-right one, each marked by two crawling dotted lines and a
// tag with its coordinates. It knows nothing of operations or files: the
// caller gives it a picture and corners, shows it modally and reads back
// whether it was cancelled and where the corners are. It is made once and
// hidden between uses, so it keeps its place, size and timer.
class frmCropTool : public QDialog {
  Q_OBJECT
public:
  frmCropTool(const Settings &settings, Prompter &prompter, QWidget *parent = nullptr);
  ~frmCropTool() override;

  // The corners, pixel indexes. Writing one only stores it: the lines and
  // tags follow at the next activation.
  float CropTopLeftX() const { return corners_.TopLeftX; }
  float CropTopLeftY() const { return corners_.TopLeftY; }
  float CropBottomRightX() const { return corners_.BottomRightX; }
  float CropBottomRightY() const { return corners_.BottomRightY; }
  void SetCropTopLeftX(float SetTopLeftX) { corners_.TopLeftX = SetTopLeftX; }
  void SetCropTopLeftY(float SetTopLeftY) { corners_.TopLeftY = SetTopLeftY; }
  void SetCropBottomRightX(float SetBottomRightX) { corners_.BottomRightX = SetBottomRightX; }
  void SetCropBottomRightY(float SetBottomRightY) { corners_.BottomRightY = SetBottomRightY; }
  bool GetWasCancelled() const { return WasCancelled; }

  // A new picture is shown whole (fitted to the view, never enlarged), from
  // its top-left corner. `full` is the whole picture's size when `picture`
  // was decoded smaller; corners and sizes are always of the whole picture.
  void SetPicture(QImage picture, QSize full = {});
  void ClearPicture();
  // Where the whole picture comes from once a zoom shows more pixels than
  // the small one holds; asked at most once per picture.
  void SetFullPictureLoader(std::function<QImage()> load) { loadFull_ = std::move(load); }
  // The view's size in device pixels: what a fitted picture is decoded at.
  QSize ViewPixels();

  // Zoom: device pixels per picture pixel (1 is 100 %). A zoom about a point
  // of the view (picOuter's coordinates) keeps the picture pixel under it.
  double Zoom() const;
  double FitZoom() const;
  void SetZoom(double zoom, QPointF about);
  void ZoomBy(double factor, QPointF about);

  // Handlers, public so that tests can run them as the events would.
  void Form_Activate();
  void Form_Resize();
  void tmrPulsate_Timer();
  void cmdOK_Click();
  void cmdCancel_Click();

  // The picture's size in pixels, as activation measured it.
  float ImageWidth() const { return imageWidth_; }
  float ImageHeight() const { return imageHeight_; }
  int PulseOffset() const { return pulseOffset_; }

  // The four guide lines, in image pixels. Each starts a little before or
  // after the picture's edge by the crawl's offset and runs to the far edge.
  enum class Guide { TopLeftX, TopLeftY, BottomRightX, BottomRightY };
  QLineF GuideLine(Guide guide) const;
  bool GuideVisible() const { return linesVisible_; }
  // The pen a guide line is drawn with: dotted, its phase following the crawl.
  QPen GuidePen(Guide guide) const;
  // Device pixels of the crawl's dot pattern: 3 on, 3 off.
  static constexpr int kDotPeriod = 6;

  // The picture area, for tests and the benchmark to aim the mouse at.
  QWidget *PictureArea() const;

protected:
  void showEvent(QShowEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void reject() override;
  void keyPressEvent(QKeyEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  friend class CropPicture;
  // The controls, made once by the constructor.
  QRect Design(int left, int top, int width, int height) const;
  void BuildInfoPanel();
  void FitInfoFont();
  void BuildPictureArea();
  void BuildScrollBars();
  void picInner_MouseDown(Qt::MouseButtons buttons, QPointF position);
  void picInner_MouseMove(Qt::MouseButtons buttons, QPointF position);
  void HandleMouse(Qt::MouseButtons buttons, QPointF position);
  void PlaceTopLeftTag();
  void PlaceBottomRightTag();
  void UpdateLines(const CropCorners &before);
  // The view and the scroll bars it needs, then their ranges.
  void RefreshScrollRanges();
  void PlaceView();
  // Where the view and its scroll bars go: below the info panel, to the
  // window's edges.
  QRect ViewArea() const;
  void HBar_Change(int value);
  void VBar_Change(int value);
  double Gap(Qt::Orientation along) const;

  const Settings &settings_;
  Prompter &prompter_;

  QGroupBox *fraInfo;
  QLabel *Label1;
  QWidget *Line1;
  QLabel *Label2;
  QWidget *Line2;
  QLabel *lblImageSizeL;
  QLabel *lblImageSize;
  QLabel *lblExtractSizeL;
  QLabel *lblExtractSize;
  QPushButton *cmdOK;
  QPushButton *cmdCancel;
  QWidget *picOuter;
  class CropPicture *picInner;
  QLabel *lblTopLeftCoords;
  QLabel *lblBottomRightCoords;
  QScrollBar *HBar;
  QScrollBar *VBar;
  QTimer *tmrPulsate;

  double twipsPerPixelX_ = 15;
  double twipsPerPixelY_ = 15;
  CropCorners corners_;
  bool WasCancelled = false;
  bool PlacingCorners = false;
  float imageWidth_ = 0;
  float imageHeight_ = 0;
  int pulseOffset_ = 0;
  bool linesVisible_ = false;
  bool newPicture_ = false;
  std::function<QImage()> loadFull_;
  bool loadingFull_ = false;
  void LoadFullPictureIfNeeded();
  QPointF MouseInView() const;
};

} // namespace varnholt
