// What a resize asks of ImageMagick, and how small a JPEG may be decoded for
// it: the arithmetic of a pair's resize, apart from its steps.
#include "processing/apply_operation.h"

#include "platform/paths.h"
#include "settings/settings.h"

#include <algorithm>
#include <cmath>

namespace varnholt {

namespace {
QString N(qint64 value) { return QString::number(value); }
} // namespace

bool JpegMayShrink(const QString &inputName, const Settings &settings) {
  return !settings.ExactDecode && FormatName(Extension(inputName)) == QLatin1String("JPEG");
}

QString ResizeGeometry(const Operation &op, bool neverEnlarge) {
  // ">" shrinks what is larger and leaves the rest as it is.
  const QString limit = neverEnlarge ? QStringLiteral(">") : QString();
  switch (op.ResizeMethod) {
  case kLimitWidthHeight: return N(op.ResizeWidth) + "x" + N(op.ResizeHeight) + limit;
  case kLimitWidth: return N(op.ResizeWidth) + "x" + limit;
  case kLimitHeight: return "x" + N(op.ResizeHeight) + limit;
  default: return N(op.ResizeWidth) + "x" + N(op.ResizeHeight) + "!";
  }
}

namespace {
// The size a resize gives a picture of width x height, when it shrinks it
// on both sides.
std::optional<QSize> ShrunkSize(const Operation &op, qint64 width, qint64 height) {
  if (!op.Resize || width < 1 || height < 1) return std::nullopt;
  const double w = op.ResizeWidth, h = op.ResizeHeight;
  // The result's size as ImageMagick works it out for the whole picture:
  // the sides scaled alike and rounded to the nearest pixel.
  double scale = 0;
  switch (op.ResizeMethod) {
  case kLimitWidthHeight: scale = std::min(w / double(width), h / double(height)); break;
  case kLimitWidth: scale = w / double(width); break;
  case kLimitHeight: scale = h / double(height); break;
  default: break;
  }
  const auto side = [scale](qint64 full) {
    return std::max<qint64>(1, qint64(std::floor(scale * double(full) + 0.5)));
  };
  const QSize result = scale > 0 ? QSize(int(side(width)), int(side(height)))
                                 : QSize(op.ResizeWidth, op.ResizeHeight);
  // Only a picture larger than its result on both sides gets smaller; the
  // Limit methods leave the rest alone or, allowed to, enlarge it.
  if (result.width() >= width || result.height() >= height || result.isEmpty()) return std::nullopt;
  return result;
}
} // namespace

std::optional<ShrinkOnLoad> ShrinkOnLoadSize(const Operation &op, qint64 width, qint64 height) {
  if (op.Extract) return std::nullopt;
  const std::optional<QSize> result = ShrunkSize(op, width, height);
  if (!result) return std::nullopt;
  return ShrinkOnLoad{*result};
}

QStringList SharpeningAfterShrinking(const Operation &op, qint64 width, qint64 height) {
  const std::optional<QSize> result = ShrunkSize(op, width, height);
  if (!result) return {};
  // How many times smaller, by the side that shrank the most, in halvings:
  // 0.5 for a third off, 1 for half size, 3 and more for an eighth.
  const double shrink =
      std::max(double(width) / result->width(), double(height) / result->height());
  const double halvings = std::clamp(std::log2(shrink), 0.0, 3.0);
  // Radius 0: ImageMagick picks it from sigma. A sigma under a pixel sharpens
  // the result's own finest detail; the threshold leaves flat areas and
  // their noise alone.
  const double sigma = 0.5 + halvings / 6, amount = 0.4 + halvings / 5;
  return {QStringLiteral("-unsharp"),
          QStringLiteral("0x%1+%2+0.02")
              .arg(QString::number(sigma, 'f', 2), QString::number(amount, 'f', 2))};
}

std::optional<CropShrinkOnLoad> CropShrinkOnLoadSize(const Operation &op, const QRect &rect,
                                                     qint64 width, qint64 height, bool turned) {
  const std::optional<QSize> result = ShrunkSize(op, rect.width(), rect.height());
  if (!result || rect.isEmpty() || rect.x() < 0 || rect.y() < 0 ||
      rect.x() + qint64(rect.width()) > width || rect.y() + qint64(rect.height()) > height)
    return std::nullopt;
  for (const int d : {8, 4, 2}) {
    // The reduced picture's pixel x/d covers the full one's x to x+d-1 from
    // the left edge: a rectangle on that grid is cut exactly. A picture
    // turned or mirrored counts from the other edge too, so its sides must
    // be on the grid as well. Below 8 reduced pixels a side, libjpeg's
    // choice of scale is not d's.
    const bool onGrid = rect.x() % d == 0 && rect.y() % d == 0 && rect.width() % d == 0 &&
                        rect.height() % d == 0 && (!turned || (width % d == 0 && height % d == 0));
    if (onGrid && width / d >= 8 && height / d >= 8 && rect.width() / d >= result->width() &&
        rect.height() / d >= result->height())
      return CropShrinkOnLoad{d, *result};
  }
  return std::nullopt;
}

} // namespace varnholt
