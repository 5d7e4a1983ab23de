#pragma once

// The operation editor's arithmetic, kept apart from its boxes so that it can
// be checked row by row: digits only, the rectangle's corners and size kept
// in step, and the 20000-pixel limits.
#include <QString>
#include <QStringList>

namespace varnholt {

inline constexpr int kMaximumSize = 20000;

// Only the ten ASCII digits survive. Without zeroAllowed a non-empty value
// of 0 ("0", "000") becomes "1". An empty text stays empty.
QString RemoveNonNumbers(const QString &text, bool zeroAllowed);

// The numeric value of a box: its leading decimal number, 0 when empty.
double BoxValue(const QString &text);

// The six boxes of the rectangle.
struct RectangleBoxes {
  QString TopLeftX, TopLeftY, BottomRightX, BottomRightY, ExtractWidth, ExtractHeight;
  bool operator==(const RectangleBoxes &) const = default;
};

enum class RectangleBox {
  TopLeftX,
  TopLeftY,
  BottomRightX,
  BottomRightY,
  ExtractWidth,
  ExtractHeight
};

enum class SizeLimit { ExtractWidth, ExtractHeight };

// Brings the boxes back in step after `changed` was edited: a size box moves
// the bottom-right corner, a corner box sets both sizes. Returns the limit
// messages due, in the order they are shown (each at most once).
QList<SizeLimit> VerifyCoordinates(RectangleBoxes &boxes, RectangleBox changed);

// The message boxes of the limits: title and text.
QString SizeLimitTitle();
QString SizeLimitText(SizeLimit limit);
QString ResizeLimitText(bool width);

// The resize boxes on leaving: empty becomes "1"; above the limit becomes
// "20000" (and the caller shows the message when this returns true).
bool CheckResizeLimit(QString &box);

// "Varnholt 1.00", then " (name)" or " (name*)" when a list file is loaded.
QString WindowTitle(const QString &programTitle, const QString &loadedFile, bool listChanged);

} // namespace varnholt
