// Where a crop lies and what a resize asks of ImageMagick, and how small a
// JPEG may be decoded for it: the arithmetic of a pair, apart from its steps.
#include "processing/apply_operation.h"

#include "platform/failure.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace varnholt {

namespace {
QString N(qint64 value) { return QString::number(value); }
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

QString CoordinateErrors(const Operation &op, std::int32_t width, std::int32_t height) {
  QString errors;
  if (op.TopLeftX >= width)
    errors += "Top Left X Coordiate (" + N(op.TopLeftX) + ") is greater than image width of " +
              N(width) + kCrLf;
  if (op.TopLeftY >= height)
    errors += "Top Left Y Coordiate (" + N(op.TopLeftY) + ") is greater than image height of " +
              N(height) + kCrLf;
  if (op.BottomRightX >= width)
    errors += "Bottom Right X Coordiate (" + N(op.BottomRightX) +
              ") is greater than image width of " + N(width) + kCrLf;
  if (op.BottomRightY >= height)
    errors += "Bottom Right Y Coordiate (" + N(op.BottomRightY) +
              ") is greater than image height of " + N(height) + kCrLf;
  return errors;
}

bool JpegMayShrink(const QString &inputName, const Settings &settings) {
  return !settings.ExactDecode && FormatName(Extension(inputName)) == QLatin1String("JPEG");
}

QSize ScaledSize(std::int32_t percent, qint64 width, qint64 height) {
  const auto side = [percent](qint64 full) {
    const __int128 scaled = (__int128(2) * percent * full + 100) / 200;
    if (scaled > std::numeric_limits<std::int32_t>::max()) throw Failure(kErrOverflow, "Overflow");
    return std::max(1, int(scaled));
  };
  return QSize(side(width), side(height));
}

Operation CentredCorners(Operation op, qint64 width, qint64 height) {
  const qint64 a = op.AspectWidth, b = op.AspectHeight;
  qint64 w = width, h = height;
  // The side the picture is too long on is cut to the ratio; a ratio of
  // terms up to 10000 keeps these products well inside 64 bits.
  if (width * b > height * a)
    w = std::clamp<qint64>((2 * height * a + b) / (2 * b), 1, width);
  else
    h = std::clamp<qint64>((2 * width * b + a) / (2 * a), 1, height);
  op.TopLeftX = std::int32_t((width - w) / 2);
  op.TopLeftY = std::int32_t((height - h) / 2);
  op.BottomRightX = std::int32_t(op.TopLeftX + w - 1);
  op.BottomRightY = std::int32_t(op.TopLeftY + h - 1);
  return op;
}

QString ResizeGeometry(const Operation &op, bool neverEnlarge, QSize from) {
  // ">" shrinks what is larger and leaves the rest as it is.
  const QString limit = neverEnlarge ? QStringLiteral(">") : QString();
  switch (op.ResizeMethod) {
  case kLimitWidthHeight: return N(op.ResizeWidth) + "x" + N(op.ResizeHeight) + limit;
  case kLimitWidth: return N(op.ResizeWidth) + "x" + limit;
  case kLimitHeight: return "x" + N(op.ResizeHeight) + limit;
  case kScale: {
    const QSize size = ScaledSize(op.ResizeWidth, from.width(), from.height());
    return N(size.width()) + "x" + N(size.height()) + "!";
  }
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
  // A scale is worked out in whole numbers: no halves lost to rounding.
  const QSize result =
      IsScaled(op) ? (op.ResizeWidth < 100 ? ScaledSize(op.ResizeWidth, width, height) : QSize())
      : scale > 0  ? QSize(int(side(width)), int(side(height)))
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
