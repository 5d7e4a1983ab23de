#pragma once

#include <QColor>
#include <QImage>
#include <QPen>
#include <QWidget>

namespace varnholt {

class frmCropTool;

// The two corners' colours: the lines and legend, and the tags behind their
// coordinates.
inline const QColor kTopLeftColour(0, 0, 192);
inline const QColor kBottomRightColour(255, 0, 0);
inline const QColor kTopLeftTagColour(128, 255, 128);
inline const QColor kBottomRightTagColour(255, 128, 128);

// One device pixel wide, dotted with the crop tool's period.
QPen DottedPen(const QColor &colour);

// The legend's short dotted lines.
class LegendLine : public QWidget {
public:
  LegendLine(const QColor &colour, QWidget *parent) : QWidget(parent), colour_(colour) {}

protected:
  void paintEvent(QPaintEvent *) override;

private:
  QColor colour_;
};

// The picture at any zoom, with the guide lines on it. Its size is that of
// the whole picture times the zoom, whatever size the picture was decoded at
// (a fitted view is decoded small). Only what is exposed is painted: the
// picture may be far larger than the view, and a corner being dragged
// repaints just its lines.
class CropPicture : public QWidget {
public:
  CropPicture(frmCropTool &tool, QWidget *parent);

  // `full`: the whole picture's size in pixels; `picture` may be smaller.
  void setPicture(QImage picture, QSize full);
  const QImage &picture() const { return picture_; }
  QSize fullSize() const { return full_; }
  // Device pixels per picture pixel: 1 is 100 %.
  double scale() const { return scale_; }
  void setScale(double scale);
  // The picture holds fewer pixels than this scale shows.
  bool coarserThanShown() const;

  // Where a guide line of the corner at pixel `at` runs, in widget pixels:
  // the top-left lines on the first device pixel of that picture pixel, the
  // bottom-right ones on its last, so at any zoom the lines enclose exactly
  // the pixels the rectangle takes (at 100 % both are the pixel itself).
  double lineAt(float at, bool bottomRight) const;
  // The strip a guide line at `at` (widget pixels) covers.
  QRect strip(Qt::Orientation line, double at) const;
  // The picture pixel under a mouse position (widget pixels): the one under
  // the middle of the device pixel pointed at, i.e. floor((d + 0.5) / scale)
  // for device pixel d. Outside the picture it runs on past its edges.
  QPointF imagePosition(const QPointF &widgetPosition) const;

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;

private:
  frmCropTool &tool_;
  QImage picture_;
  QSize full_;
  double scale_ = 1;
  double dpr() const;
  void fitSize();
};

} // namespace varnholt
