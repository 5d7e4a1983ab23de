// ParseOperation on any text, and OperationDescription on any record.
//
// The bytes are read twice: once as an operation text, once as the fields of
// a record. A text that reads without error as a valid record must give the
// same text again after a round trip; a valid record must come back from its
// own text with every field the text carries.
#include "common.h"
#include "operations/operation.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

using namespace varnholt;
using varnholt::fuzz::Check;

namespace {

QString Show(const Operation &op) {
  return QString::asprintf("extract %d (%d,%d)-(%d,%d) resize %d method %d %d*%d format [%s] "
                           "quality %d prefix [%s] suffix [%s]",
                           op.Extract, op.TopLeftX, op.TopLeftY, op.BottomRightX, op.BottomRightY,
                           op.Resize, op.ResizeMethod, op.ResizeWidth, op.ResizeHeight,
                           qUtf8Printable(op.OutputFormat), op.JpgQuality,
                           qUtf8Printable(op.Prefix), qUtf8Printable(op.Suffix));
}

// The record as its text brings it back: fields the text does not carry
// return as their defaults.
Operation Carried(Operation op) {
  const Operation defaults = OperationDefaults();
  if (!op.Extract) op.TopLeftX = op.TopLeftY = op.BottomRightX = op.BottomRightY = 0;
  if (!op.Resize) {
    op.ResizeMethod = defaults.ResizeMethod;
    op.ResizeWidth = defaults.ResizeWidth;
    op.ResizeHeight = defaults.ResizeHeight;
  } else if (op.ResizeMethod == kLimitWidth) {
    op.ResizeHeight = 1;
  } else if (op.ResizeMethod == kLimitHeight) {
    op.ResizeWidth = 1;
  } else if (op.ResizeMethod != kLimitWidthHeight) {
    op.ResizeMethod = kFixToSize;
  }
  if (op.OutputFormat.isEmpty()) op.OutputFormat = kDontChange;
  return op;
}

void TextRoundTrip(const QString &text) {
  QString error;
  const Operation op = ParseOperation(text, error);
  QString described;
  const QString first = OperationDescription(op, described);
  if (!IsOperationValid(op)) {
    Check(first.isEmpty() && described == QStringLiteral("Invalid Operation!"),
          "an invalid record has no text", text);
    return;
  }
  Check(described.isEmpty(), "a valid record has a text", text);
  if (!error.isEmpty()) return;
  QString again;
  const Operation back = ParseOperation(first, again);
  Check(again.isEmpty(), "a written text reads without error", first);
  Check(back == Carried(op), "a written text reads as its record",
        text + "\n" + first + "\n" + Show(Carried(op)) + "\n" + Show(back));
}

QString Name(FuzzedDataProvider &data) {
  // Mostly the characters that matter to the reader, sometimes anything.
  static const char16_t alphabet[] = u"aZ_ .,-()*\"':>|\t\n\x7f\u00e9\u65e5";
  QString name;
  const int length = data.ConsumeIntegralInRange(0, 24);
  for (int i = 0; i < length; ++i) {
    if (data.ConsumeBool()) {
      name += QChar(alphabet[data.ConsumeIntegralInRange<size_t>(0, std::size(alphabet) - 2)]);
    } else {
      static const char *const words[] = {"LimitWidth (", "LimitHeight (",
                                          "FixToSize (",  "LimitWidthHeight (",
                                          "Extract (",    "Prefix: ",
                                          "Quality",      "Whole Image",
                                          ")-(",          "5"};
      name += QString::fromLatin1(words[data.ConsumeIntegralInRange<size_t>(0, 9)]);
    }
  }
  return name;
}

void RecordRoundTrip(FuzzedDataProvider &data) {
  static const char *const formats[] = {"",     "Don't Change", "BMP", "GIF", "JPG", "PNG",
                                        "TIFF", "MIFF",         "TGA", "jpg", "tga", "JPEG"};
  Operation op;
  op.Extract = data.ConsumeBool();
  op.TopLeftX = data.ConsumeIntegral<std::int32_t>();
  op.TopLeftY = data.ConsumeIntegral<std::int32_t>();
  op.BottomRightX = data.ConsumeIntegral<std::int32_t>();
  op.BottomRightY = data.ConsumeIntegral<std::int32_t>();
  op.Resize = data.ConsumeBool();
  op.ResizeMethod = data.ConsumeIntegralInRange<std::int32_t>(-1, 5);
  op.ResizeWidth = data.ConsumeIntegral<std::int32_t>();
  op.ResizeHeight = data.ConsumeIntegral<std::int32_t>();
  op.OutputFormat = QString::fromLatin1(formats[data.ConsumeIntegralInRange<size_t>(0, 11)]);
  op.JpgQuality = data.ConsumeIntegral<std::uint8_t>();
  op.Prefix = Name(data);
  op.Suffix = Name(data);

  QString error;
  const QString text = OperationDescription(op, error);
  if (!IsOperationValid(op)) {
    Check(text.isEmpty(), "an invalid record has no text", Show(op));
    return;
  }
  QString again;
  const Operation back = ParseOperation(text, again);
  Check(again.isEmpty(), "a written text reads without error", text);
  Check(back == Carried(op), "a valid record survives its text",
        text + "\n" + Show(Carried(op)) + "\n" + Show(back));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, size_t size) {
  if (size > 4096) return -1;
  TextRoundTrip(QString::fromUtf8(reinterpret_cast<const char *>(bytes), qsizetype(size)));
  FuzzedDataProvider data(bytes, size);
  RecordRoundTrip(data);
  return 0;
}
