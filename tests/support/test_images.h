#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace varnholt::test {

// A fresh folder per test; its path has no trailing separator.
class TempFolder {
public:
  TempFolder();
  QString path() const { return folder_.path(); }
  QString file(const QString &name) const { return folder_.path() + '/' + name; }

private:
  QTemporaryDir folder_;
};

// A small picture with a different colour in each quarter, so crops and
// scales are told apart by their pixels. Written by Qt for PNG/JPG/BMP and by
// ImageMagick (through the program's own toolkit) for every other extension.
void MakeImage(const QString &path, int width, int height);
QImage TestPattern(int width, int height);

// A JPEG that says, in an EXIF block of its own, how it is to be turned to be
// seen upright (orientation 1 to 8), as cameras and phones write them.
void MakeOrientedJpeg(const QString &path, int width, int height, int orientation);

// Width and height as ImageMagick reads them (any format), or an empty size.
QSize ImageSize(const QString &path);

void WriteBytes(const QString &path, const QByteArray &bytes);
QByteArray ReadBytes(const QString &path);

// The processes a process started that are still there (worker processes).
QList<qint64> ChildrenOf(qint64 pid);

// Every file below a folder, hidden ones too, by its path from it, sorted.
QStringList FilesBelow(const QString &folder);

} // namespace varnholt::test
