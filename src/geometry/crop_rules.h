#pragma once

// The crop tool's arithmetic, kept apart from its window so that it can be
// checked row by row: which pixel a click means, how far a corner may go,
// what activation does with corners outside the picture, where the tags go,
// the scroll ranges, and what the launch hands over.
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace varnholt {

// The two corners, inclusive pixel indexes. Kept in single precision, like
// the numbers the tool prints.
struct CropCorners {
  float TopLeftX = 0, TopLeftY = 0, BottomRightX = 0, BottomRightY = 0;
  bool operator==(const CropCorners &) const = default;
};

// The pixel under a mouse position given in image pixels: the nearest whole
// number, halves to the even neighbour.
std::int32_t PixelAt(double position);

// One axis of a click or drag with the left button (top-left corner) or the
// right button (bottom-right corner): the pixel is kept inside the picture,
// and the corner stops on the other corner rather than pass it.
float PlaceTopLeft(std::int32_t pixel, float size, float bottomRight);
float PlaceBottomRight(std::int32_t pixel, float size, float topLeft);

// Activation's check of the corners it was given against the picture. Fixes
// the corners and returns the message to show, empty when none is due: a
// corner outside the picture resets the rectangle to the pixel (0, 0) after
// the message, unless allowOutOfBoundry is on and only the bottom-right
// corner is out, which moves it to the last pixel silently.
QString CheckCornersAgainstImage(CropCorners &corners, float width, float height,
                                 bool allowOutOfBoundry);
inline const QString kImageTooSmallTitle = QStringLiteral("Image too small");

// "91x61": the rectangle's size, both corners counted.
QString ExtractionSizeText(const CropCorners &corners);
// "(10, 20)"
QString CornerTagText(float x, float y);

// A tag's position on one axis, `gap` off the corner's line. The top-left tag
// sits before the line unless it would leave the picture; the bottom-right
// tag after it unless it would pass `limit` (the picture's extent).
int TopLeftTagPosition(double line, int extent, double gap);
int BottomRightTagPosition(double line, int extent, double gap, int limit);

// The crawling lines: 20, 40, 0, 20, ...
int NextPulseOffset(int pulseOffset);

// A scroll bar's settings for a picture `content` long in a view `view`
// long: the range beyond the view, a fifth of the view for a click beside
// the thumb and the whole view for an arrow. Nothing to scroll: disabled.
struct ScrollSettings {
  bool enabled = false;
  int maximum = 0, pageStep = 0, singleStep = 0;
  bool operator==(const ScrollSettings &) const = default;
};
ScrollSettings ScrollSettingsFor(int content, int view);

// Which scroll bars show for a picture `picture` big in an `area` that holds
// the view and its bars (`bars`: the vertical bar's width, the horizontal
// bar's height): a bar only along a side the picture does not fit, the view
// losing the other bar's room when that one shows.
struct BarsShown {
  bool horizontal = false, vertical = false;
  bool operator==(const BarsShown &) const = default;
};
BarsShown ScrollBarsShown(QSize picture, QSize area, QSize bars);

// --- The launch from the main window

// Size query of the picture (pinged: no pixel is decoded) and its bitmap view.
// Given the EXIF orientation, both are of the upright picture, so corners
// picked on it are corners of what a run crops.
QStringList CropSizeArgs(const QString &image, int orientation = 0);
// With `fitted` (the upright picture's size in the tool's view), the JPEG
// decoder is asked for no more than that (the hint speaks of the picture as
// stored: on its side, width and height swap) and the view is resized to it.
QStringList CropViewArgs(const QString &image, const QString &cropView, int orientation = 0,
                         QSize fitted = {});
// The size a picture of `full` pixels is shown at to fit `view`: never
// enlarged, at least a pixel each way. `full` itself when it fits.
QSize FittedSize(QSize full, QSize view);
inline const QString kCropViewName = QStringLiteral("cropview.bmp");
// A bitmap already: the name's part after its last "." (or the whole name)
// is "bmp" in any letter case.
bool IsBitmapName(const QString &name);
struct PictureSize {
  float width = 0, height = 0;
};
// "640x480" from the size query; a text without a positive width and height
// is a failure (kErrNoImageSize).
PictureSize ParseSizeText(const QString &text);
// The numeric value of an editor box as the tool gets it: a coordinate that
// lies outside the picture (at or beyond its size, or below 0) becomes 0.
float CornerForTool(const QString &box, float size);

} // namespace varnholt
