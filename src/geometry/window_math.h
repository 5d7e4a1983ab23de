#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace varnholt {

// The main window's layout is drawn in twips (1/1440 inch); the screen's
// logical DPI decides how many make a pixel.
double TwipsPerPixel(double logicalDpi);
int TwipsToPixels(double twips, double twipsPerPixel);
// Edges are converted, not sizes, so controls that touch in twips still touch
// in pixels whatever the rounding.
QRect TwipsRectToPixels(const QRect &twips, double twipsPerPixelX, double twipsPerPixelY);

// The box a preview is scaled to fit, in pixels. Kept in single precision:
// a fraction survives into the geometry text when the DPI leaves one.
struct PreviewBox {
  float width = 0;
  float height = 0;
};
PreviewBox PreviewBoxFromTwips(double widthTwips, double heightTwips, double twipsPerPixelX,
                               double twipsPerPixelY);
// Width "x" height, each in its shortest decimal form: "139x115", "208.5x172.5".
QString PreviewGeometryText(const PreviewBox &box);
// The shortest plain decimal text (no exponent) that reads back as the same
// single-precision number.
QString ShortestDecimal(float value);

// The size query pings: same text, but no pixel is decoded. Given the
// picture's EXIF orientation, it and the convert speak of the upright
// picture: width and height swap for a picture on its side (5 to 8), and the
// convert turns it (2 to 8).
QStringList PreviewSizeArgs(const QString &image, int orientation = 0);
// The preview's working file is a PNG: ImageMagick 6 spends some 400 ms
// preparing any full-colour picture for GIF (its colour reduction fills a
// 128 MiB table first), longer than reading a large JPEG; PNG needs none of
// it and keeps every colour.
inline const QString kPreviewFormat = QStringLiteral("png");
// The preview convert. The JPEG size hint (twice the box, whole pixels) lets
// the decoder scale down while it reads; other formats ignore it.
QStringList PreviewConvertArgs(const QString &image, const QString &preview, const PreviewBox &box,
                               int orientation = 0);

// Top-left corner that centres a picture in a frame (halves rounded).
QPoint CentredOrigin(const QSize &frame, const QSize &picture);

// Scroll range of a list box from its widest entry measured in twips.
int HorizontalExtentPixels(double widestTwips, double twipsPerPixel);
// What a list entry is measured as: its check box stands in as six spaces.
QString ExtentText(const QString &entry);

// The file a double-click opens: folder and name joined with one separator,
// doubled separators collapsed.
QString OpenImagePath(const QString &folder, const QString &name);

} // namespace varnholt
