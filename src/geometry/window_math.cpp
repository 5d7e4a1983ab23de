#include "geometry/window_math.h"

#include "platform/image_toolkit.h"
#include "platform/paths.h"

#include <QDir>

#include <charconv>
#include <cmath>

namespace varnholt {

double TwipsPerPixel(double logicalDpi) { return logicalDpi > 0 ? 1440.0 / logicalDpi : 15.0; }

int TwipsToPixels(double twips, double twipsPerPixel) {
  return static_cast<int>(std::lround(twips / twipsPerPixel));
}

QRect TwipsRectToPixels(const QRect &twips, double twipsPerPixelX, double twipsPerPixelY) {
  const int left = TwipsToPixels(twips.x(), twipsPerPixelX);
  const int top = TwipsToPixels(twips.y(), twipsPerPixelY);
  const int right = TwipsToPixels(twips.x() + twips.width(), twipsPerPixelX);
  const int bottom = TwipsToPixels(twips.y() + twips.height(), twipsPerPixelY);
  return QRect(left, top, right - left, bottom - top);
}

PreviewBox PreviewBoxFromTwips(double widthTwips, double heightTwips, double twipsPerPixelX,
                               double twipsPerPixelY) {
  return {static_cast<float>(widthTwips / twipsPerPixelX),
          static_cast<float>(heightTwips / twipsPerPixelY)};
}

QString ShortestDecimal(float value) {
  char buffer[64];
  // Fixed notation: a size of ten million is "10000000", never "1e+07".
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString PreviewGeometryText(const PreviewBox &box) {
  return ShortestDecimal(box.width) + u'x' + ShortestDecimal(box.height);
}

QStringList PreviewSizeArgs(const QString &image, int orientation) {
  // "-ping" after "-format": any option before it would switch pinging off.
  return {QStringLiteral("-format"),
          orientation >= 5 ? QStringLiteral("Dimensions: %hx%w Pixels")
                           : QStringLiteral("Dimensions: %wx%h Pixels"),
          QStringLiteral("-ping"), image};
}

QStringList PreviewConvertArgs(const QString &image, const QString &preview, const PreviewBox &box,
                               int orientation) {
  const auto twice = [](float side) {
    return QString::number(2 * static_cast<long>(std::ceil(side)));
  };
  // The decode-size hint is for the picture as stored: on its side, the
  // box's width is its height.
  const bool sideways = orientation >= 5;
  const QString hint = sideways ? twice(box.height) + u'x' + twice(box.width)
                                : twice(box.width) + u'x' + twice(box.height);
  QStringList args{QStringLiteral("-define"),
                   QStringLiteral("jpeg:size=") + hint,
                   QStringLiteral("-format"),
                   kPreviewFormat,
                   QStringLiteral("-geometry"),
                   PreviewGeometryText(box),
                   image,
                   preview};
  // Turned before it is fitted, so the fit is that of the upright picture.
  if (orientation > 1) {
    const QStringList turn = UprightOperators(orientation) << QStringLiteral("+repage");
    for (qsizetype i = 0; i < turn.size(); ++i)
      args.insert(4 + i, turn[i]);
  }
  return args;
}

QPoint CentredOrigin(const QSize &frame, const QSize &picture) {
  return QPoint(static_cast<int>(std::lround(frame.width() / 2.0 - picture.width() / 2.0)),
                static_cast<int>(std::lround(frame.height() / 2.0 - picture.height() / 2.0)));
}

int HorizontalExtentPixels(double widestTwips, double twipsPerPixel) {
  return TwipsToPixels(std::lround(widestTwips), twipsPerPixel);
}

QString ExtentText(const QString &entry) { return QStringLiteral("      ") + entry; }

QString OpenImagePath(const QString &folder, const QString &name) {
  const QString sep = QDir::separator();
  QString path = AddBackslash(folder) + name;
  path.replace(sep + sep, sep);
  return path;
}

} // namespace varnholt
