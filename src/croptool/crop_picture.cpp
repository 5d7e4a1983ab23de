#include "croptool/crop_picture.h"

#include "croptool/frm_crop_tool.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace varnholt {

QPen DottedPen(const QColor &colour) {
  QPen pen(colour);
  pen.setWidth(1);
  pen.setCosmetic(true);
  const double half = frmCropTool::kDotPeriod / 2.0;
  pen.setDashPattern({half, half});
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

void LegendLine::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setPen(DottedPen(colour_));
  painter.drawLine(0, height() / 2, width(), height() / 2);
}

CropPicture::CropPicture(frmCropTool &tool, QWidget *parent) : QWidget(parent), tool_(tool) {
  setObjectName(QStringLiteral("picInner"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
}

void CropPicture::setPicture(QImage picture) {
  picture_ = std::move(picture);
  ratio_ = picture_.isNull() ? 1.0 : picture_.devicePixelRatio();
  resize(picture_.isNull() ? QSize(0, 0) : (QSizeF(picture_.size()) / ratio_).toSize());
  update();
}

QRect CropPicture::strip(Qt::Orientation line, double at) const {
  const int from = static_cast<int>(std::floor(at / ratio_)) - 1;
  const int across = 3 + static_cast<int>(std::ceil(1 / ratio_));
  return line == Qt::Vertical ? QRect(from, 0, across, height())
                              : QRect(0, from, width(), across);
}

void CropPicture::paintEvent(QPaintEvent *event) {
  QPainter painter(this);
  for (const QRect &r : event->region()) {
    if (picture_.isNull() || picture_.hasAlphaChannel())
      painter.fillRect(r, palette().color(QPalette::Dark));
    if (!picture_.isNull())
      painter.drawImage(QPointF(r.topLeft()), picture_,
                        QRectF(QPointF(r.topLeft()) * ratio_, QSizeF(r.size()) * ratio_));
  }
  if (!tool_.GuideVisible() || picture_.isNull()) return;
  painter.scale(1 / ratio_, 1 / ratio_);
  using Guide = frmCropTool::Guide;
  for (const Guide g :
       {Guide::TopLeftX, Guide::TopLeftY, Guide::BottomRightX, Guide::BottomRightY}) {
    // Drawn from the picture's edge; the pen's phase stands for the
    // shifted start, so the dots crawl without a gap at the edge.
    QLineF line = tool_.GuideLine(g);
    if (line.x1() == line.x2())
      line.setP1(QPointF(line.x1(), 0));
    else
      line.setP1(QPointF(0, line.y1()));
    painter.setPen(tool_.GuidePen(g));
    painter.drawLine(line.toLine());
  }
}

void CropPicture::mousePressEvent(QMouseEvent *event) {
  tool_.picInner_MouseDown(event->buttons(), imagePosition(event->position()));
}

void CropPicture::mouseMoveEvent(QMouseEvent *event) {
  tool_.picInner_MouseMove(event->buttons(), imagePosition(event->position()));
}

} // namespace varnholt
