#include "croptool/crop_picture.h"

#include "croptool/frm_crop_tool.h"
#include "desktop/desktop_look.h"

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
  // On a dark panel the dark blue dots would vanish: their gaps are light
  // there, as they are over most pictures.
  if (IsDarkPalette(palette())) {
    painter.setPen(QPen(QColor(224, 224, 224), 1));
    painter.drawLine(0, height() / 2, width(), height() / 2);
  }
  painter.setPen(DottedPen(colour_));
  painter.drawLine(0, height() / 2, width(), height() / 2);
}

CropPicture::CropPicture(frmCropTool &tool, QWidget *parent) : QWidget(parent), tool_(tool) {
  setObjectName(QStringLiteral("picInner"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
}

double CropPicture::dpr() const { return picture_.isNull() ? 1.0 : picture_.devicePixelRatio(); }

void CropPicture::setPicture(QImage picture, QSize full) {
  picture_ = std::move(picture);
  full_ = picture_.isNull() ? QSize() : full;
  fitSize();
}

void CropPicture::setScale(double scale) {
  scale_ = scale;
  fitSize();
}

void CropPicture::fitSize() {
  resize(full_.isEmpty() ? QSize(0, 0)
                         : QSize(int(std::ceil(full_.width() * scale_ / dpr())),
                                 int(std::ceil(full_.height() * scale_ / dpr()))));
  update();
}

bool CropPicture::coarserThanShown() const {
  return !full_.isEmpty() && picture_.width() < full_.width() &&
         scale_ * full_.width() > picture_.width() * 1.05;
}

double CropPicture::lineAt(float at, bool bottomRight) const {
  const double first = std::floor(at * scale_);
  const double last = std::ceil((at + 1) * scale_) - 1;
  return (bottomRight ? std::max(first, last) : first) / dpr();
}

QRect CropPicture::strip(Qt::Orientation line, double at) const {
  const int from = static_cast<int>(std::floor(at)) - 1;
  const int across = 3 + static_cast<int>(std::ceil(1 / dpr()));
  return line == Qt::Vertical ? QRect(from, 0, across, height()) : QRect(0, from, width(), across);
}

QPointF CropPicture::imagePosition(const QPointF &widgetPosition) const {
  const auto pixel = [this](double logical) {
    return std::floor((std::floor(logical * dpr()) + 0.5) / scale_);
  };
  return QPointF(pixel(widgetPosition.x()), pixel(widgetPosition.y()));
}

void CropPicture::paintEvent(QPaintEvent *event) {
  QPainter painter(this);
  // Widget pixels to the decoded picture's pixels.
  const double toPicture =
      full_.isEmpty() ? 1.0 : dpr() * picture_.width() / (scale_ * full_.width());
  for (const QRect &r : event->region()) {
    if (picture_.isNull() || picture_.hasAlphaChannel())
      painter.fillRect(r, palette().color(QPalette::Dark));
    if (!picture_.isNull())
      painter.drawImage(QRectF(r), picture_,
                        QRectF(QPointF(r.topLeft()) * toPicture, QSizeF(r.size()) * toPicture));
  }
  if (!tool_.GuideVisible() || picture_.isNull()) return;
  painter.scale(1 / dpr(), 1 / dpr());
  using Guide = frmCropTool::Guide;
  for (const Guide g :
       {Guide::TopLeftX, Guide::TopLeftY, Guide::BottomRightX, Guide::BottomRightY}) {
    // Drawn from the picture's edge; the pen's phase stands for the
    // shifted start, so the dots crawl without a gap at the edge.
    const QLineF line = tool_.GuideLine(g);
    const bool vertical = line.x1() == line.x2();
    const bool bottomRight = g == Guide::BottomRightX || g == Guide::BottomRightY;
    const double at = lineAt(float(vertical ? line.x1() : line.y1()), bottomRight) * dpr();
    painter.setPen(tool_.GuidePen(g));
    painter.drawLine(vertical ? QLineF(at, 0, at, height() * dpr()).toLine()
                              : QLineF(0, at, width() * dpr(), at).toLine());
  }
}

void CropPicture::mousePressEvent(QMouseEvent *event) {
  tool_.picInner_MouseDown(event->buttons(), imagePosition(event->position()));
}

void CropPicture::mouseMoveEvent(QMouseEvent *event) {
  tool_.picInner_MouseMove(event->buttons(), imagePosition(event->position()));
}

} // namespace varnholt
