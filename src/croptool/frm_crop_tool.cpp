#include "croptool/frm_crop_tool.h"

#include "croptool/crop_picture.h"

#include "geometry/window_math.h"
#include "platform/prompter.h"
#include "settings/settings.h"

#include <QCursor>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

#include <cmath>

namespace varnholt {

namespace {
// How far a corner's tag stands from its lines, in twips.
const int kTagGap = 100;
} // namespace

QWidget *frmCropTool::PictureArea() const { return picInner; }

void frmCropTool::SetPicture(QImage picture, QSize full) {
  if (!picture.isNull()) {
    // One image pixel per device pixel, whatever the screen's scale.
    picture.setDevicePixelRatio(devicePixelRatioF());
    if (picture.format() != QImage::Format_RGB32 &&
        picture.format() != QImage::Format_ARGB32_Premultiplied)
      picture.convertTo(picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                  : QImage::Format_RGB32);
  }
  if (!full.isValid()) full = picture.size();
  picInner->setPicture(std::move(picture), full);
  newPicture_ = true;
  loadingFull_ = false;
  RefreshScrollRanges();
}

void frmCropTool::ClearPicture() {
  picInner->setPicture(QImage(), QSize());
  loadFull_ = nullptr;
}

QSize frmCropTool::ViewPixels() {
  Form_Resize();
  return ViewArea().size() * devicePixelRatioF();
}

QRect frmCropTool::ViewArea() const {
  const int top = fraInfo->geometry().bottom() + 1 + TwipsToPixels(40, twipsPerPixelY_);
  return QRect(picOuter->x(), top, width() - picOuter->x(), height() - top);
}

double frmCropTool::Zoom() const { return picInner->scale(); }

double frmCropTool::FitZoom() const {
  const QSize full = picInner->fullSize();
  if (full.isEmpty()) return 1;
  // Fitted, the picture needs no scroll bar: their room is the view's too.
  const QSizeF view = QSizeF(ViewArea().size()) * devicePixelRatioF();
  return std::min({1.0, view.width() / full.width(), view.height() / full.height()});
}

void frmCropTool::SetZoom(double zoom, QPointF about) {
  // The picture pixel under `about` stays under it.
  const double before = picInner->scale();
  const QPointF pixel = (about - QPointF(picInner->pos())) / before;
  picInner->setScale(zoom);
  RefreshScrollRanges();
  const QPointF origin = pixel * zoom - about;
  HBar->setValue(static_cast<int>(std::lround(origin.x())));
  VBar->setValue(static_cast<int>(std::lround(origin.y())));
  picInner->move(-HBar->value(), -VBar->value());
  PlaceTopLeftTag();
  PlaceBottomRightTag();
  LoadFullPictureIfNeeded();
}

void frmCropTool::ZoomBy(double factor, QPointF about) {
  // From the whole picture in view (or 100 % for a small one) to 16 device
  // pixels a picture pixel.
  const double lowest = std::min(FitZoom(), 1.0);
  SetZoom(std::clamp(Zoom() * factor, lowest, 16.0), about);
}

void frmCropTool::LoadFullPictureIfNeeded() {
  if (!loadFull_ || loadingFull_ || !picInner->coarserThanShown()) return;
  loadingFull_ = true; // once per picture, whatever comes of it
  const QSize full = picInner->fullSize();
  QImage picture = loadFull_();
  // The tool may have been closed, or given another picture, meanwhile.
  if (picture.isNull() || picture.size() != full || picInner->fullSize() != full) return;
  picture.setDevicePixelRatio(devicePixelRatioF());
  picInner->setPicture(std::move(picture), full);
}

QPointF frmCropTool::MouseInView() const {
  const QPoint at = picOuter->mapFromGlobal(QCursor::pos());
  return picOuter->rect().contains(at) ? QPointF(at) : QPointF(picOuter->rect().center());
}

void frmCropTool::keyPressEvent(QKeyEvent *event) {
  switch (event->key()) {
  case Qt::Key_Plus:
  case Qt::Key_Equal: ZoomBy(1.25, MouseInView()); return;
  case Qt::Key_Minus: ZoomBy(1 / 1.25, MouseInView()); return;
  case Qt::Key_1: SetZoom(1, MouseInView()); return;
  case Qt::Key_0: SetZoom(FitZoom(), MouseInView()); return;
  default: QDialog::keyPressEvent(event);
  }
}

void frmCropTool::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  // Restored from the task bar is not a new showing.
  if (!event->spontaneous()) Form_Activate();
}

void frmCropTool::Form_Activate() {
  const QSize full = picInner->fullSize();
  imageWidth_ = full.isEmpty() ? 0 : static_cast<float>(full.width());
  imageHeight_ = full.isEmpty() ? 0 : static_cast<float>(full.height());
  lblImageSize->setText(ShortestDecimal(imageWidth_) + u'x' + ShortestDecimal(imageHeight_));
  lblImageSize->adjustSize();

  // No rectangle yet: it starts as the whole picture, so a first left click
  // picks a top-left corner and the size reads right at once.
  if (corners_ == CropCorners{} && imageWidth_ >= 1 && imageHeight_ >= 1) {
    corners_.BottomRightX = imageWidth_ - 1;
    corners_.BottomRightY = imageHeight_ - 1;
  }
  const QString problem =
      CheckCornersAgainstImage(corners_, imageWidth_, imageHeight_, settings_.AllowOutOfBoundry);
  if (!problem.isEmpty())
    prompter_.ask(kImageTooSmallTitle, problem, Buttons::Ok, Icon::Exclamation);

  PlacingCorners = true;
  HandleMouse(Qt::LeftButton, QPointF(corners_.TopLeftX, corners_.TopLeftY));
  HandleMouse(Qt::RightButton, QPointF(corners_.BottomRightX, corners_.BottomRightY));
  PlacingCorners = false;
  linesVisible_ = true;
  picInner->update();

  if (newPicture_) {
    // A new picture is looked at whole, from its top-left corner.
    newPicture_ = false;
    picInner->setScale(FitZoom());
    RefreshScrollRanges();
    HBar->setValue(0);
    VBar->setValue(0);
    PlaceTopLeftTag();
    PlaceBottomRightTag();
  }
  WasCancelled = false;
}

void frmCropTool::picInner_MouseDown(Qt::MouseButtons buttons, QPointF position) {
  HandleMouse(buttons, position);
}

void frmCropTool::picInner_MouseMove(Qt::MouseButtons buttons, QPointF position) {
  HandleMouse(buttons, position);
}

void frmCropTool::HandleMouse(Qt::MouseButtons buttons, QPointF position) {
  const std::int32_t px = PixelAt(position.x());
  const std::int32_t py = PixelAt(position.y());
  const CropCorners before = corners_;
  if (buttons == Qt::LeftButton) {
    if (PlacingCorners) {
      corners_.TopLeftX = static_cast<float>(px);
      corners_.TopLeftY = static_cast<float>(py);
    } else {
      corners_.TopLeftX = PlaceTopLeft(px, imageWidth_, corners_.BottomRightX);
      corners_.TopLeftY = PlaceTopLeft(py, imageHeight_, corners_.BottomRightY);
    }
    lblTopLeftCoords->setText(CornerTagText(corners_.TopLeftX, corners_.TopLeftY));
    PlaceTopLeftTag();
  } else if (buttons == Qt::RightButton) {
    if (PlacingCorners) {
      corners_.BottomRightX = static_cast<float>(px);
      corners_.BottomRightY = static_cast<float>(py);
    } else {
      corners_.BottomRightX = PlaceBottomRight(px, imageWidth_, corners_.TopLeftX);
      corners_.BottomRightY = PlaceBottomRight(py, imageHeight_, corners_.TopLeftY);
    }
    lblBottomRightCoords->setText(CornerTagText(corners_.BottomRightX, corners_.BottomRightY));
    PlaceBottomRightTag();
  } else {
    return;
  }
  lblExtractSize->setText(ExtractionSizeText(corners_));
  lblExtractSize->adjustSize();
  UpdateLines(before);
}

double frmCropTool::Gap(Qt::Orientation along) const {
  return kTagGap / (along == Qt::Horizontal ? twipsPerPixelX_ : twipsPerPixelY_);
}

void frmCropTool::PlaceTopLeftTag() {
  lblTopLeftCoords->adjustSize();
  lblTopLeftCoords->move(TopLeftTagPosition(picInner->lineAt(corners_.TopLeftX, false),
                                            lblTopLeftCoords->width(), Gap(Qt::Horizontal)),
                         TopLeftTagPosition(picInner->lineAt(corners_.TopLeftY, false),
                                            lblTopLeftCoords->height(), Gap(Qt::Vertical)));
}

void frmCropTool::PlaceBottomRightTag() {
  lblBottomRightCoords->adjustSize();
  lblBottomRightCoords->move(BottomRightTagPosition(picInner->lineAt(corners_.BottomRightX, true),
                                                    lblBottomRightCoords->width(),
                                                    Gap(Qt::Horizontal), picInner->width()),
                             BottomRightTagPosition(picInner->lineAt(corners_.BottomRightY, true),
                                                    lblBottomRightCoords->height(),
                                                    Gap(Qt::Vertical), picInner->height()));
}

void frmCropTool::UpdateLines(const CropCorners &before) {
  if (!linesVisible_) return;
  const auto moved = [this](Qt::Orientation line, float was, float now, bool bottomRight) {
    if (was == now) return;
    picInner->update(picInner->strip(line, picInner->lineAt(was, bottomRight)));
    picInner->update(picInner->strip(line, picInner->lineAt(now, bottomRight)));
  };
  moved(Qt::Vertical, before.TopLeftX, corners_.TopLeftX, false);
  moved(Qt::Horizontal, before.TopLeftY, corners_.TopLeftY, false);
  moved(Qt::Vertical, before.BottomRightX, corners_.BottomRightX, true);
  moved(Qt::Horizontal, before.BottomRightY, corners_.BottomRightY, true);
}

QLineF frmCropTool::GuideLine(Guide guide) const {
  const bool topLeft = guide == Guide::TopLeftX || guide == Guide::TopLeftY;
  const double start = (topLeft ? pulseOffset_ : pulseOffset_ - 60) * kDotPeriod / 60.0;
  const double width = picInner->fullSize().width(), height = picInner->fullSize().height();
  switch (guide) {
  case Guide::TopLeftX: return QLineF(corners_.TopLeftX, start, corners_.TopLeftX, height);
  case Guide::TopLeftY: return QLineF(start, corners_.TopLeftY, width, corners_.TopLeftY);
  case Guide::BottomRightX:
    return QLineF(corners_.BottomRightX, start, corners_.BottomRightX, height);
  case Guide::BottomRightY:
    return QLineF(start, corners_.BottomRightY, width, corners_.BottomRightY);
  }
  return {};
}

QPen frmCropTool::GuidePen(Guide guide) const {
  const bool topLeft = guide == Guide::TopLeftX || guide == Guide::TopLeftY;
  QPen pen = DottedPen(topLeft ? kTopLeftColour : kBottomRightColour);
  // Drawn from the edge, the pattern is as far along as it would be had the
  // line been drawn from its start.
  const QLineF line = GuideLine(guide);
  const double start = line.x1() == line.x2() ? line.y1() : line.x1();
  pen.setDashOffset(std::fmod(std::fmod(-start, kDotPeriod) + kDotPeriod, kDotPeriod));
  return pen;
}

void frmCropTool::tmrPulsate_Timer() {
  pulseOffset_ = NextPulseOffset(pulseOffset_);
  if (!linesVisible_ || !isVisible()) return;
  picInner->update(picInner->strip(Qt::Vertical, picInner->lineAt(corners_.TopLeftX, false)));
  picInner->update(picInner->strip(Qt::Horizontal, picInner->lineAt(corners_.TopLeftY, false)));
  picInner->update(picInner->strip(Qt::Vertical, picInner->lineAt(corners_.BottomRightX, true)));
  picInner->update(picInner->strip(Qt::Horizontal, picInner->lineAt(corners_.BottomRightY, true)));
}

void frmCropTool::resizeEvent(QResizeEvent *event) {
  QDialog::resizeEvent(event);
  Form_Resize();
}

void frmCropTool::Form_Resize() {
  if (isMinimized()) return;
  // Qt keeps the window at its minimum; a window manager may not.
  if (width() < minimumWidth() || height() < minimumHeight()) {
    resize(std::max(width(), minimumWidth()), std::max(height(), minimumHeight()));
    return;
  }
  const auto px = [this](int twips, Qt::Orientation along) {
    return TwipsToPixels(twips, along == Qt::Horizontal ? twipsPerPixelX_ : twipsPerPixelY_);
  };
  fraInfo->resize(width() - px(90, Qt::Horizontal), fraInfo->height());
  cmdOK->move(fraInfo->width() - cmdOK->width() - px(80, Qt::Horizontal), cmdOK->y());
  cmdCancel->move(cmdOK->x(), cmdCancel->y());
  RefreshScrollRanges();
}

void frmCropTool::PlaceView() {
  // A scroll bar only where the picture at its zoom does not fit; the view
  // takes the room of one that is not needed.
  const QRect area = ViewArea();
  const BarsShown bars =
      ScrollBarsShown(picInner->size(), area.size(), QSize(VBar->width(), HBar->height()));
  picOuter->setGeometry(area.x(), area.y(), area.width() - (bars.vertical ? VBar->width() : 0),
                        area.height() - (bars.horizontal ? HBar->height() : 0));
  HBar->setGeometry(picOuter->x(), picOuter->geometry().bottom() + 1, picOuter->width(),
                    HBar->height());
  VBar->setGeometry(picOuter->geometry().right() + 1, picOuter->y(), VBar->width(),
                    picOuter->height());
  HBar->setVisible(bars.horizontal);
  VBar->setVisible(bars.vertical);
}

void frmCropTool::RefreshScrollRanges() {
  PlaceView();
  const auto apply = [](QScrollBar *bar, const ScrollSettings &s) {
    // Nothing to scroll: the picture goes back to the view's edge, where
    // the disabled bar would otherwise leave it out of reach.
    bar->setRange(0, s.maximum);
    bar->setEnabled(s.enabled);
    if (!s.enabled) return;
    bar->setPageStep(s.pageStep);
    bar->setSingleStep(s.singleStep);
  };
  apply(HBar, ScrollSettingsFor(picInner->width(), picOuter->width()));
  apply(VBar, ScrollSettingsFor(picInner->height(), picOuter->height()));
}

void frmCropTool::HBar_Change(int value) { picInner->move(-value, picInner->y()); }
void frmCropTool::VBar_Change(int value) { picInner->move(picInner->x(), -value); }

bool frmCropTool::eventFilter(QObject *watched, QEvent *event) {
  if (watched == picOuter && event->type() == QEvent::Wheel) {
    // The wheel scrolls a fifth of the view per notch; sideways with Shift;
    // with Ctrl it zooms about the mouse.
    const auto *wheel = static_cast<QWheelEvent *>(event);
    const QPoint delta = wheel->angleDelta();
    if (wheel->modifiers() & Qt::ControlModifier) {
      if (delta.y() != 0) ZoomBy(std::pow(1.25, delta.y() / 120.0), wheel->position());
      return true;
    }
    const bool sideways = delta.x() != 0 || (wheel->modifiers() & Qt::ShiftModifier);
    QScrollBar *bar = sideways ? HBar : VBar;
    const int notches = delta.x() != 0 ? delta.x() : delta.y();
    if (bar->isEnabled()) bar->setValue(bar->value() - notches * bar->pageStep() / 120);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void frmCropTool::cmdOK_Click() { done(QDialog::Accepted); }

void frmCropTool::cmdCancel_Click() {
  WasCancelled = true;
  done(QDialog::Rejected);
}

// The close box and Escape are Cancel: nothing picked is taken.
void frmCropTool::reject() { cmdCancel_Click(); }

} // namespace varnholt
