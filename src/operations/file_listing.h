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

// The image list's order: letter case ignored. With subfolders ("2024/a.jpg")
// a folder's own images come first, then each subfolder's in name order.
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

// A folder's images and those of every subfolder below it, each named by its
// path from `folder` ("2024/IMG_001.jpg"), in the image list's order. Hidden
// folders and links to folders are not entered, nor `skip` (the results'
// folder, when it lies inside the images'), so no folder is listed twice.
// The folder itself that cannot be read or a malformed pattern throws
// Failure; a subfolder that cannot be read is named in unreadableFolders and
// the rest is listed.
struct ImageTree {
  QStringList images;
  QStringList unreadableNames;   // as UnreadableImageNames shows them, with their folder
  QStringList unreadableFolders; // "2024/private: Permission denied"
};
ImageTree ListImageTree(const QString &folder, const QString &pattern, bool inverse,
                        const QString &skip = QString());

// The folder part of an image's name in a listing ("2024/jan" of
// "2024/jan/a.jpg"); empty for an image of the folder itself.
QString ImageSubfolder(const QString &image);

} // namespace varnholt
