#include "geometry/crop_rules.h"

#include "geometry/window_math.h"
#include "operations/vb_text.h"
#include "platform/failure.h"
#include "platform/image_toolkit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace varnholt {

std::int32_t PixelAt(double position) {
  // A drag can carry the mouse far outside the picture; clamping happens
  // later, but the number has to fit first.
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  if (std::isnan(position)) return 0;
  return static_cast<std::int32_t>(std::clamp(std::nearbyint(position), lo, hi));
}

namespace {
float Inside(std::int32_t pixel, float size) {
  if (pixel < 0) return 0;
  if (static_cast<float>(pixel) >= size) return size - 1;
  return static_cast<float>(pixel);
}
} // namespace

float PlaceTopLeft(std::int32_t pixel, float size, float bottomRight) {
  const float p = Inside(pixel, size);
  return bottomRight < p ? bottomRight : p;
}

float PlaceBottomRight(std::int32_t pixel, float size, float topLeft) {
  const float p = Inside(pixel, size);
  return topLeft > p ? topLeft : p;
}

QString CheckCornersAgainstImage(CropCorners &c, float width, float height,
                                 bool allowOutOfBoundry) {
  const QString w = ShortestDecimal(width), h = ShortestDecimal(height);
  QString problems;
  const auto line = [&](bool holds, const char *corner, float value, const char *side,
                        const QString &size) {
    if (holds)
      problems += QString::fromLatin1(corner) + " Coordiate (" + ShortestDecimal(value) +
                  ") is greater than image " + QString::fromLatin1(side) + " of " + size + "\r\n";
  };
  line(c.TopLeftX >= width, "Top Left X", c.TopLeftX, "width", w);
  line(c.TopLeftY >= height, "Top Left Y", c.TopLeftY, "height", h);
  line(c.BottomRightX >= width, "Bottom Right X", c.BottomRightX, "width", w);
  line(c.BottomRightY >= height, "Bottom Right Y", c.BottomRightY, "height", h);
  if (problems.isEmpty()) return {};
  if (c.TopLeftX > width - 1 || c.TopLeftY > height - 1 || !allowOutOfBoundry) {
    c = CropCorners{};
    return "Selected operation has coorodinates outside this image's boundrys:\r\n\r\n" + problems;
  }
  c.BottomRightX = width - 1;
  c.BottomRightY = height - 1;
  return {};
}

QString ExtractionSizeText(const CropCorners &c) {
  return ShortestDecimal(c.BottomRightX - c.TopLeftX + 1) + u'x' +
         ShortestDecimal(c.BottomRightY - c.TopLeftY + 1);
}

QString CornerTagText(float x, float y) {
  return u'(' + ShortestDecimal(x) + QStringLiteral(", ") + ShortestDecimal(y) + u')';
}

int TopLeftTagPosition(double line, int extent, double gap) {
  const double before = line - extent - gap;
  return static_cast<int>(std::lround(before < 0 ? line + gap : before));
}

int BottomRightTagPosition(double line, int extent, double gap, int limit) {
  return static_cast<int>(
      std::lround(line + extent + gap > limit ? line - extent - gap : line + gap));
}

int NextPulseOffset(int pulseOffset) {
  const int next = pulseOffset + 20;
  return next >= 60 ? 0 : next;
}

ScrollSettings ScrollSettingsFor(int content, int view) {
  const int beyond = content - view;
  if (beyond <= 0) return {};
  return {true, beyond, static_cast<int>(std::lround(view / 5.0)), view};
}

BarsShown ScrollBarsShown(QSize picture, QSize area, QSize bars) {
  BarsShown shown;
  // Twice: a bar that the first round shows can make the other one needed.
  for (int round = 0; round < 2; ++round) {
    shown.horizontal = picture.width() > area.width() - (shown.vertical ? bars.width() : 0);
    shown.vertical = picture.height() > area.height() - (shown.horizontal ? bars.height() : 0);
  }
  return shown;
}

QStringList CropSizeArgs(const QString &image, int orientation) {
  // "-ping" after "-format": any option before it would switch pinging off.
  return {QStringLiteral("-format"),
          orientation >= 5 ? QStringLiteral("%hx%w") : QStringLiteral("%wx%h"),
          QStringLiteral("-ping"), image};
}

QStringList CropViewArgs(const QString &image, const QString &cropView, int orientation,
                         QSize fitted) {
  QStringList args;
  if (fitted.isValid()) {
    const QSize stored = orientation >= 5 ? fitted.transposed() : fitted;
    args << QStringLiteral("-define")
         << QStringLiteral("jpeg:size=%1x%2").arg(stored.width()).arg(stored.height());
  }
  args << QStringLiteral("-format") << QStringLiteral("bmp");
  if (orientation > 1) args << UprightOperators(orientation) << QStringLiteral("+repage");
  // Before the input, as ImageMagick 6 takes it, applied once the picture is
  // read and turned: the input and the view stay the last two arguments.
  if (fitted.isValid())
    args << QStringLiteral("-resize")
         << QStringLiteral("%1x%2").arg(fitted.width()).arg(fitted.height());
  return args << image << cropView;
}

QSize FittedSize(QSize full, QSize view) {
  if (full.width() <= view.width() && full.height() <= view.height()) return full;
  const double scale =
      std::min(double(view.width()) / full.width(), double(view.height()) / full.height());
  return QSize(std::max(1, int(full.width() * scale)), std::max(1, int(full.height() * scale)));
}

bool IsBitmapName(const QString &name) {
  return name.mid(name.lastIndexOf(u'.') + 1).compare(QLatin1String("bmp"), Qt::CaseInsensitive) ==
         0;
}

PictureSize ParseSizeText(const QString &text) {
  const QStringList pieces = text.split(u'x');
  PictureSize size;
  if (pieces.size() >= 2) {
    size.width = static_cast<float>(Val(pieces[0]));
    size.height = static_cast<float>(Val(pieces[1]));
  }
  if (!(size.width >= 1 && size.height >= 1))
    throw Failure(kErrNoImageSize, "ImageMagick gave no image size: \"" + text + "\"");
  return size;
}

float CornerForTool(const QString &box, float size) {
  const float v = static_cast<float>(Val(box));
  return v >= 0 && v < size ? v : 0;
}

} // namespace varnholt
