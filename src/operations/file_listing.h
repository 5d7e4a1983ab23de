#pragma once

#include <QString>
#include <QStringList>

namespace varnholt {

// The extensions the image list accepts, compared without regard to case.
inline const QString kImageExtensions =
    QStringLiteral("|png|bmp|jpg|jpeg|gif|tif|tiff|tga|miff|heic|heif|avif|webp|");

// Whole-name match, case-sensitive: ? any one character, * any run, # one
// digit, [list] / [!list] one character in / not in the list (ranges a-f).
// A malformed pattern (an unclosed "[" or a range running backwards) throws
// Failure 93 "Invalid pattern string".
bool MatchesPattern(const QString &text, const QString &pattern);

// The image list's test for one file name (no folder): the part after the
// last dot must be an image extension, and the part before it must match
// the pattern (or, with inverse, must not). An empty pattern matches all.
// Names starting with a dot are hidden and never listed.
bool IsListedImage(const QString &fileName, const QString &pattern, bool inverse);

// The image list's order: letter case ignored.
bool ImageNameLess(const QString &a, const QString &b);

// The files of a folder that the image list shows, in its order. Folders and
// hidden files are never listed. A folder that cannot be read or a malformed
// pattern throws Failure.
QStringList ListImageFiles(const QString &folder, const QString &pattern, bool inverse);

// The image files of a folder that ListImageFiles cannot list because their
// names are not valid UTF-8 (Qt cannot carry such a name), each shown as
// EscapedFileName shows it, in the image list's order. The pattern is tried
// on the name with its bad bytes read as U+FFFD. A folder that cannot be
// read gives none.
QStringList UnreadableImageNames(const QString &folder, const QString &pattern, bool inverse);

} // namespace varnholt
