#include "operations/operation.h"

#include "operations/vb_text.h"
#include "platform/failure.h"

#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace varnholt {

namespace {
const QString kInvalidFilenameChars = QStringLiteral("\\/|?\"><*:");
const QChar kDQ = u'"';

// Control characters too: a line break would split the list file's line, and
// none of them belongs in a file name.
bool IsInvalidFilenameChar(QChar c) {
  return kInvalidFilenameChars.contains(c) || c.category() == QChar::Other_Control;
}

QString Quoted(const QString &value) { return kDQ + value + kDQ; }

// The characters from `from` up to the first double quote found from
// `searchFrom` on, the way every quoted field of the text is read.
QString QuotedValue(const QString &text, int from, int searchFrom) {
  const int close = InStr(searchFrom, text, QString(kDQ));
  return Mid(text, from, close - from);
}

// "a,b" between `from` and the first ")" found from `from` + 1 on; returns
// the position of that ")".
int ReadCorner(const QString &text, int from, std::int32_t &x, std::int32_t &y) {
  const int close = InStr(from + 1, text, QStringLiteral(")"));
  const QStringList pieces = Mid(text, from, close - from).split(u',');
  x = ToLong(Val(Piece(pieces, 0)));
  y = ToLong(Val(Piece(pieces, 1)));
  return close;
}

// "W*H)" of the two-size resize keywords; `size` is where W starts.
void ReadTwoSizes(const QString &text, int keywordAt, int size, Operation &op) {
  const int star = InStr(keywordAt + size + 1, text, QStringLiteral("*"));
  op.ResizeWidth = ToLong(Val(Mid(text, keywordAt + size, star - (keywordAt + size))));
  const int close = InStr(star + 2, text, QStringLiteral(")"));
  op.ResizeHeight = ToLong(Val(Mid(text, star + 1, close - star - 1)));
}

int ReadOneSize(const QString &text, int keywordAt, int size) {
  const int close = InStr(keywordAt + size + 1, text, QStringLiteral(")"));
  return ToLong(Val(Mid(text, keywordAt + size, close - (keywordAt + size))));
}

// The length of the text before its first " Prefix: \"", " Suffix: \"",
// " Format: \"" or " Quality: \"" (the whole text without any of them).
qsizetype ResizeKeywordsEnd(const QString &text) {
  qsizetype end = text.size();
  for (const char *marker : {" Prefix: \"", " Suffix: \"", " Format: \"", " Quality: \""}) {
    const qsizetype at = text.indexOf(QLatin1StringView(marker), 0, Qt::CaseInsensitive);
    if (at >= 0) end = std::min(end, at);
  }
  return end;
}

// The newer forms' group right after "Extract ": "(50% Scale)" and
// "(16:9 Centre)", letter case and blanks as in the older keywords.
const QRegularExpression kScaleGroup(QStringLiteral(R"(^Extract \(\s*([0-9]+)\s*%\s*Scale\s*\))"),
                                     QRegularExpression::CaseInsensitiveOption);
const QRegularExpression
    kCentreGroup(QStringLiteral(R"(^Extract \(\s*([0-9]+)\s*:\s*([0-9]+)\s*Cent(?:re|er)\s*\))"),
                 QRegularExpression::CaseInsensitiveOption);
} // namespace

Operation OperationDefaults() { return Operation{}; }

bool KeepsFormat(const QString &outputFormat) {
  return outputFormat.isEmpty() || outputFormat.compare(kDontChange, Qt::CaseInsensitive) == 0;
}

QString FormatName(const QString &extensionOrFormat) {
  const QString upper = extensionOrFormat.toUpper();
  for (const char *jpeg : {"JPG", "JPE", "JFIF"})
    if (upper == QLatin1String(jpeg)) return QStringLiteral("JPEG");
  if (upper == QLatin1String("TIF")) return QStringLiteral("TIFF");
  for (const char *targa : {"ICB", "VDA", "VST"})
    if (upper == QLatin1String(targa)) return QStringLiteral("TGA");
  return upper;
}

bool IsValidFilenamePart(const QString &text) {
  return std::none_of(text.begin(), text.end(), IsInvalidFilenameChar);
}

QString RemoveInvalidFilenameChars(const QString &text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text)
    if (!IsInvalidFilenameChar(c)) out += c;
  return out;
}

QString InvalidReason(const Operation &op) {
  const auto term = [](std::int32_t t) { return t >= 1 && t <= kMaxAspectTerm; };
  if (IsCentredCrop(op) && !(term(op.AspectWidth) && term(op.AspectHeight)))
    return "the aspect ratio's terms are not from 1 to " + QString::number(kMaxAspectTerm);
  if (op.Extract && (op.TopLeftX < 0 || op.TopLeftY < 0))
    return QStringLiteral("a corner is below 0");
  if (op.Extract && (op.TopLeftX > op.BottomRightX || op.TopLeftY > op.BottomRightY))
    return QStringLiteral("the top-left corner is below or right of the bottom-right one");
  if (op.Resize && (op.ResizeWidth < 1 || op.ResizeHeight < 1))
    return QStringLiteral("a size is below 1");
  if (op.JpgQuality < 1 || op.JpgQuality > 100)
    return QStringLiteral("the quality is not from 1 to 100");
  if (!IsValidFilenamePart(op.Prefix) || !IsValidFilenamePart(op.Suffix))
    return QStringLiteral("the prefix or suffix holds characters a file name may not");
  if (!op.OutputFormat.isEmpty() &&
      !kFormatList.contains(u'|' + op.OutputFormat + u'|', Qt::CaseInsensitive))
    return "the format \"" + op.OutputFormat + "\" is not one Varnholt writes";
  return QString();
}

QString OperationDescription(const Operation &op, QString &errorText) {
  if (!IsOperationValid(op)) {
    errorText = QStringLiteral("Invalid Operation!");
    return QString();
  }
  const auto n = [](qint64 v) { return QString::number(v); };
  QString text = QStringLiteral("Extract ");
  // The newer forms open with "Extract (" and a number that no corner pair
  // follows: an older reader takes it for a top-left corner, fails on the
  // missing "," and keeps a record whose corners are the wrong way round, so
  // it leaves the operation out rather than run it as something else.
  if (IsScaled(op)) text += "(" + n(op.ResizeWidth) + "% Scale) ";
  if (IsCentredCrop(op))
    text += "(" + n(op.AspectWidth) + ":" + n(op.AspectHeight) + " Centre)";
  else if (op.Extract)
    text += "(" + n(op.TopLeftX) + "," + n(op.TopLeftY) + ")-(" + n(op.BottomRightX) + "," +
            n(op.BottomRightY) + ")";
  else
    text += QStringLiteral("Whole Image");
  if (op.Resize && !IsScaled(op)) {
    switch (op.ResizeMethod) {
    case kLimitWidthHeight:
      text += " LimitWidthHeight (" + n(op.ResizeWidth) + "*" + n(op.ResizeHeight) + ")";
      break;
    case kLimitWidth: text += " LimitWidth (" + n(op.ResizeWidth) + ")"; break;
    case kLimitHeight: text += " LimitHeight (" + n(op.ResizeHeight) + ")"; break;
    default: text += " FixToSize (" + n(op.ResizeWidth) + "*" + n(op.ResizeHeight) + ")"; break;
    }
  }
  if (!op.Prefix.isEmpty()) text += " Prefix: " + Quoted(op.Prefix);
  if (!op.Suffix.isEmpty()) text += " Suffix: " + Quoted(op.Suffix);
  if (!op.OutputFormat.isEmpty()) text += " Format: " + Quoted(op.OutputFormat);
  text += " Quality: " + Quoted(n(op.JpgQuality));
  return text;
}

namespace {
// The first of the original resize keywords found in `head`, as far as it reads.
void ReadResizeKeyword(const QString &head, Operation &op) {
  if (const int p = InStr(1, head, QStringLiteral("LimitWidthHeight ("))) {
    op.ResizeMethod = kLimitWidthHeight;
    ReadTwoSizes(head, p, 18, op);
    op.Resize = true;
  } else if (const int p = InStr(1, head, QStringLiteral("LimitWidth ("))) {
    op.ResizeMethod = kLimitWidth;
    op.ResizeWidth = ReadOneSize(head, p, 12);
    op.ResizeHeight = 1;
    op.Resize = true;
  } else if (const int p = InStr(1, head, QStringLiteral("LimitHeight ("))) {
    op.ResizeMethod = kLimitHeight;
    op.ResizeHeight = ReadOneSize(head, p, 13);
    op.ResizeWidth = 1;
    op.Resize = true;
  } else if (const int p = InStr(1, head, QStringLiteral("FixToSize ("))) {
    op.ResizeMethod = kFixToSize;
    ReadTwoSizes(head, p, 11, op);
    op.Resize = true;
  }
}

Operation ReadOperation(const QString &whole, QString &errorText, bool newerForms) {
  Operation op = OperationDefaults();
  try {
    QString text = whole;
    std::optional<std::int32_t> percent;
    const auto newer = [newerForms, &text](const QRegularExpression &group) {
      return newerForms ? group.match(text) : QRegularExpressionMatch();
    };
    if (const QRegularExpressionMatch m = newer(kScaleGroup); m.hasMatch()) {
      percent = ToLong(Val(m.captured(1)));
      // The rest reads as a text without the scale.
      text = QStringLiteral("Extract ") + text.mid(m.capturedEnd()).trimmed();
    }
    if (text.startsWith(QStringLiteral("Extract whole image"), Qt::CaseInsensitive)) {
      op.Extract = false;
    } else if (const QRegularExpressionMatch m = newer(kCentreGroup); m.hasMatch()) {
      op.Extract = true;
      op.AspectWidth = ToLong(Val(m.captured(1)));
      op.AspectHeight = ToLong(Val(m.captured(2)));
    } else {
      op.Extract = true;
      // Without "Extract (" the corners are read from position 9 on.
      const int close = ReadCorner(text, InStr(1, text, QStringLiteral("Extract (")) + 9,
                                   op.TopLeftX, op.TopLeftY);
      ReadCorner(text, InStr(close, text, QStringLiteral("-(")) + 2, op.BottomRightX,
                 op.BottomRightY);
    }

    // Resize keywords count only before the first text field, so that a
    // prefix such as "LimitWidth (50) " stays a prefix. Text fields cannot
    // hold a double quote, so the first marker found is a real one.
    const QString head = text.left(ResizeKeywordsEnd(text));
    if (percent) {
      op.ResizeMethod = kScale;
      op.ResizeWidth = op.ResizeHeight = *percent;
      op.Resize = true;
    } else {
      ReadResizeKeyword(head, op);
    }

    // Each keyword is nine characters including its opening quote; the
    // closing quote is searched from the value's second character on.
    if (const int p = InStr(1, text, QStringLiteral("prefix: \"")))
      op.Prefix = QuotedValue(text, p + 9, p + 10);
    if (const int p = InStr(1, text, QStringLiteral("suffix: \"")))
      op.Suffix = QuotedValue(text, p + 9, p + 10);
    if (const int p = InStr(1, text, QStringLiteral("format: \"")))
      op.OutputFormat = QuotedValue(text, p + 9, p + 10);
    if (const int p = InStr(1, text, QStringLiteral("quality: \"")))
      op.JpgQuality = ToByte(Val(QuotedValue(text, p + 10, p + 11)));
  } catch (const Failure &failure) {
    errorText = failure.text();
  }
  return op;
}
} // namespace

Operation ParseOperation(const QString &text, QString &errorText) {
  return ReadOperation(text, errorText, true);
}

Operation ParseOperationAsOlderVersions(const QString &text, QString &errorText) {
  return ReadOperation(text, errorText, false);
}

std::vector<ListedOperation>
TickedOperations(const QList<std::pair<QString, bool>> &entries,
                 const std::function<void(int position, const QString &why)> &unread) {
  std::vector<ListedOperation> ops;
  for (qsizetype i = 0; i < entries.size(); ++i) {
    const auto &[text, ticked] = entries[i];
    if (!ticked) continue;
    QString problem;
    const Operation op = ParseOperation(text, problem);
    if (problem.isEmpty())
      ops.push_back({int(i + 1), text, op});
    else if (unread)
      unread(int(i + 1), problem);
  }
  return ops;
}

} // namespace varnholt
