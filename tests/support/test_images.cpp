#include "support/test_images.h"

#include "processing/magick/magick_toolkit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <gtest/gtest.h>

namespace varnholt::test {

TempFolder::TempFolder() { EXPECT_TRUE(folder_.isValid()); }

QImage TestPattern(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  const int hw = width / 2, hh = height / 2;
  painter.fillRect(0, 0, hw, hh, Qt::red);
  painter.fillRect(hw, 0, width - hw, hh, Qt::green);
  painter.fillRect(0, hh, hw, height - hh, Qt::blue);
  painter.fillRect(hw, hh, width - hw, height - hh, Qt::yellow);
  return image;
}

void MakeImage(const QString &path, int width, int height) {
  const QString ext = QFileInfo(path).suffix().toLower();
  const QImage image = TestPattern(width, height);
  if (ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "bmp") {
    ASSERT_TRUE(image.save(path, ext == "jpg" ? "JPG" : nullptr, ext == "jpg" ? 95 : -1))
        << path.toStdString();
    return;
  }
  const QString png = path + ".source.png";
  ASSERT_TRUE(image.save(png, "PNG"));
  MagickToolkit toolkit;
  toolkit.convert({png, path});
  QFile::remove(png);
}

void MakeOrientedJpeg(const QString &path, int width, int height, int orientation) {
  MakeImage(path, width, height);
  const QByteArray jpeg = ReadBytes(path);
  // Big-endian TIFF header, one IFD entry: Orientation (0x0112), SHORT, 1.
  QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01", 18);
  tiff += char(0);
  tiff += char(orientation);
  tiff += QByteArray(6, '\0'); // padding, then no next IFD
  const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
  const int length = int(payload.size()) + 2;
  const QByteArray segment =
      QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + payload;
  WriteBytes(path, jpeg.left(2) + segment + jpeg.mid(2));
}

QSize ImageSize(const QString &path) {
  try {
    MagickToolkit toolkit;
    const QStringList wh =
        toolkit.identify({QStringLiteral("-format"), QStringLiteral("%wx%h"), path}).split('x');
    if (wh.size() < 2) return {};
    return {wh[0].toInt(), wh[1].toInt()};
  } catch (...) {
    return {};
  }
}

void WriteBytes(const QString &path, const QByteArray &bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(bytes);
}

QByteArray ReadBytes(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

QList<qint64> ChildrenOf(qint64 pid) {
  QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
  QList<qint64> children;
  if (file.open(QIODevice::ReadOnly))
    for (const QByteArray &word : file.readAll().split(' '))
      if (!word.trimmed().isEmpty()) children << word.trimmed().toLongLong();
  return children;
}

QStringList FilesBelow(const QString &folder) {
  QStringList files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext())
    files << QDir(folder).relativeFilePath(it.next());
  files.sort();
  return files;
}

} // namespace varnholt::test
