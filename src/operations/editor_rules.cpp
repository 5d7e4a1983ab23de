#include "operations/editor_rules.h"

#include "operations/vb_text.h"
#include "platform/paths.h"

#include <cmath>

namespace varnholt {

namespace {
QString Number(double value) { return QString::number(value, 'f', 0); }

QString &Box(RectangleBoxes &b, RectangleBox which) {
  switch (which) {
  case RectangleBox::TopLeftX: return b.TopLeftX;
  case RectangleBox::TopLeftY: return b.TopLeftY;
  case RectangleBox::BottomRightX: return b.BottomRightX;
  case RectangleBox::BottomRightY: return b.BottomRightY;
  case RectangleBox::ExtractWidth: return b.ExtractWidth;
  case RectangleBox::ExtractHeight: return b.ExtractHeight;
  }
  return b.TopLeftX;
}

void Verify(RectangleBoxes &b, RectangleBox changed, QList<SizeLimit> &messages) {
  for (QString *corner : {&b.TopLeftX, &b.TopLeftY, &b.BottomRightX, &b.BottomRightY})
    *corner = RemoveNonNumbers(*corner, true);
  b.ExtractWidth = RemoveNonNumbers(b.ExtractWidth, false);
  b.ExtractHeight = RemoveNonNumbers(b.ExtractHeight, false);

  if (BoxValue(b.BottomRightX) < BoxValue(b.TopLeftX)) b.BottomRightX = b.TopLeftX;
  if (BoxValue(b.BottomRightY) < BoxValue(b.TopLeftY)) b.BottomRightY = b.TopLeftY;

  if (changed == RectangleBox::ExtractWidth) {
    if (b.ExtractWidth.isEmpty() || BoxValue(b.ExtractWidth) <= 0) b.ExtractWidth = "1";
    b.BottomRightX = Number(BoxValue(b.TopLeftX) + BoxValue(b.ExtractWidth) - 1);
  } else if (changed == RectangleBox::ExtractHeight) {
    if (b.ExtractHeight.isEmpty() || BoxValue(b.ExtractHeight) <= 0) b.ExtractHeight = "1";
    b.BottomRightY = Number(BoxValue(b.TopLeftY) + BoxValue(b.ExtractHeight) - 1);
  } else {
    QString &box = Box(b, changed);
    if (box.isEmpty() || BoxValue(box) < 0) box = "0";
    b.ExtractWidth = Number(BoxValue(b.BottomRightX) - BoxValue(b.TopLeftX) + 1);
    b.ExtractHeight = Number(BoxValue(b.BottomRightY) - BoxValue(b.TopLeftY) + 1);
  }

  if (BoxValue(b.ExtractWidth) > kMaximumSize) {
    messages << SizeLimit::ExtractWidth;
    b.ExtractWidth = QString::number(kMaximumSize);
    Verify(b, RectangleBox::ExtractWidth, messages);
  }
  if (BoxValue(b.ExtractHeight) > kMaximumSize) {
    messages << SizeLimit::ExtractHeight;
    b.ExtractHeight = QString::number(kMaximumSize);
    Verify(b, RectangleBox::ExtractHeight, messages);
  }
}
} // namespace

QString RemoveNonNumbers(const QString &text, bool zeroAllowed) {
  if (text.isEmpty()) return text;
  QString digits;
  for (const QChar c : text)
    if (c >= u'0' && c <= u'9') digits += c;
  if (!zeroAllowed && !digits.isEmpty() && BoxValue(digits) == 0) return QStringLiteral("1");
  return digits;
}

double BoxValue(const QString &text) { return std::nearbyint(Val(text)); }

QList<SizeLimit> VerifyCoordinates(RectangleBoxes &boxes, RectangleBox changed) {
  QList<SizeLimit> messages;
  Verify(boxes, changed, messages);
  return messages;
}

QString SizeLimitTitle() { return QStringLiteral("Maximum Width Exceeded"); }

QString SizeLimitText(SizeLimit limit) {
  return QStringLiteral("Maximum extract ") +
         (limit == SizeLimit::ExtractWidth ? "width" : "height") +
         " allowed is: " + QString::number(kMaximumSize) + " pixels";
}

QString ResizeLimitText(bool width) {
  return QStringLiteral("Maximum ") + (width ? "width" : "height") +
         " allowed is: " + QString::number(kMaximumSize) + " pixels";
}

bool CheckResizeLimit(QString &box) {
  if (box.isEmpty()) {
    box = QStringLiteral("1");
    return false;
  }
  if (BoxValue(box) > kMaximumSize) {
    box = QString::number(kMaximumSize);
    return true;
  }
  return false;
}

QString WindowTitle(const QString &programTitle, const QString &loadedFile, bool listChanged) {
  if (loadedFile.isEmpty()) return programTitle;
  return programTitle + " (" + FileNamePart(loadedFile) + (listChanged ? "*)" : ")");
}

} // namespace varnholt
