#pragma once

#include <QString>

#include <functional>
#include <utility>
#include <vector>

#include <cstdint>

namespace varnholt {

// Every format the editor offers, as one text; an entry is "|" NAME "|".
// New ones go at the end, so the earlier ones keep their places in the box.
inline const QString kFormatList =
    QStringLiteral("|Don't Change|BMP|GIF|JPG|PNG|TIFF|MIFF|TGA|WEBP|AVIF|");
inline const QString kDontChange = QStringLiteral("Don't Change");

enum ResizeMethodCode : std::int32_t {
  kLimitWidthHeight = 0,
  kLimitWidth = 1,
  kLimitHeight = 2,
  kFixToSize = 3, // any other code but kScale is applied like this one
  // Both sides by ResizeWidth percent (ResizeHeight holds the same); last in
  // the method box, so the codes before it keep their entries.
  kScale = 4,
};

// The terms of a centred crop's aspect ratio run from 1 to this.
constexpr std::int32_t kMaxAspectTerm = 10000;

// One operation on one image. Corners are 0-based and inclusive.
struct Operation {
  bool Extract = false;
  std::int32_t TopLeftX = 0;
  std::int32_t TopLeftY = 0;
  std::int32_t BottomRightX = 0;
  std::int32_t BottomRightY = 0;
  bool Resize = false;
  std::int32_t ResizeMethod = kLimitWidthHeight;
  std::int32_t ResizeWidth = 100;
  std::int32_t ResizeHeight = 100;
  QString OutputFormat = kDontChange;
  std::uint8_t JpgQuality = 75;
  QString Prefix;
  QString Suffix;
  // With Extract and both set: instead of the corners, the largest rectangle
  // of AspectWidth:AspectHeight from the centre of the (upright) picture.
  std::int32_t AspectWidth = 0;
  std::int32_t AspectHeight = 0;

  bool operator==(const Operation &) const = default;
};

Operation OperationDefaults();
// Extract takes the centred rectangle of an aspect ratio, not the corners.
inline bool IsCentredCrop(const Operation &op) {
  return op.Extract && (op.AspectWidth != 0 || op.AspectHeight != 0);
}
inline bool IsScaled(const Operation &op) { return op.Resize && op.ResizeMethod == kScale; }
// Why an operation can be neither described nor run, in words ("a corner is
// below 0"); empty when it is valid.
QString InvalidReason(const Operation &op);
inline bool IsOperationValid(const Operation &op) { return InvalidReason(op).isEmpty(); }

// The one-line operation text. An invalid record gives "" and sets errorText
// to "Invalid Operation!"; on success errorText is left as it was.
QString OperationDescription(const Operation &op, QString &errorText);

// Reads an operation text back. On a failure part-way errorText becomes
// "number - description" and the fields read so far are kept; on success
// errorText is left as it was, so callers clear it first.
Operation ParseOperation(const QString &text, QString &errorText);
// What a Varnholt from before the centred crops and the scale makes of a
// text (the forms it knew read as they always did), so that a newer text can
// be shown to be left out there rather than run as something else.
Operation ParseOperationAsOlderVersions(const QString &text, QString &errorText);
// An entry of an operation list that reads as an operation: its place in
// the list (from 1, unticked entries counted), its text, what it reads as.
struct ListedOperation {
  int position = 0;
  QString text;
  Operation op;
};
// Of a list's entries (text and tick), the ticked ones that read as
// operations, in list order. `unread`, when given, hears of each ticked
// entry that does not: its position and why ("number - description").
std::vector<ListedOperation>
TickedOperations(const QList<std::pair<QString, bool>> &entries,
                 const std::function<void(int position, const QString &why)> &unread = {});

// Empty text and "Don't Change" (in any letter case) both keep the format.
bool KeepsFormat(const QString &outputFormat);
// The ImageMagick format an extension or a format of the list names, in
// capitals: "jpg", "JPEG" and "jpe" are all "JPEG", "tif" is "TIFF".
QString FormatName(const QString &extensionOrFormat);

bool IsValidFilenamePart(const QString &text);
QString RemoveInvalidFilenameChars(const QString &text);

} // namespace varnholt
