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

// The picture at one image pixel per device pixel, with the guide lines on
// it. Only what is exposed is painted: the picture may be far larger than
// the view, and a corner being dragged repaints just its lines.
class CropPicture : public QWidget {
public:
  CropPicture(frmCropTool &tool, QWidget *parent);

  void setPicture(QImage picture);
  const QImage &picture() const { return picture_; }
  double ratio() const { return ratio_; }

  // The strip a guide line at `at` (image pixels) covers, in widget pixels.
  QRect strip(Qt::Orientation line, double at) const;

  QPointF imagePosition(const QPointF &widgetPosition) const { return widgetPosition * ratio_; }

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;

private:
  frmCropTool &tool_;
  QImage picture_;
  double ratio_ = 1;
};

} // namespace varnholt
