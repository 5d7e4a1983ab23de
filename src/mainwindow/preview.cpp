// The preview of the current image and opening it with a double-click.
#include "mainwindow/image_panel.h"

#include "mainwindow/frm_main.h"

#include "platform/async_toolkit.h"
#include "platform/desktop.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "processing/magick/magick_policy.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <exception>

namespace varnholt {

namespace {
// An image of several frames or pages becomes one file per frame
// (preview-7-1-0.png, preview-7-1-1.png, ...): the first is the preview.
void TakeFirstFrame(const QString &working) {
  if (QFile::exists(working)) return;
  const QFileInfo info(working);
  QDir folder = info.dir();
  const QString stem = info.completeBaseName() + u'-';
  const QStringList frames =
      folder.entryList({stem + "*." + info.suffix()}, QDir::Files, QDir::Name);
  for (const QString &frame : frames) {
    const QString number = frame.mid(stem.size()).section(u'.', 0, 0);
    if (number == QLatin1String("0"))
      folder.rename(frame, info.fileName());
    else
      folder.remove(frame);
  }
}
} // namespace

QString ImagePanel::WorkFolder() const {
  return services_.workFolder.isEmpty() ? AppDataFolder() : services_.workFolder;
}

QString ImagePanel::CurrentName() const {
  const QListWidgetItem *current = lstImages->currentItem();
  return current ? current->text() : QString();
}

void ImagePanel::ShowPreviewFailure(const QString &name, const QString &description) {
  emit previewShown(false);
  imgPreview->hide();
  imgPreview->clear();
  lblLoading->hide();
  LoadingPreview_ = false;
  previewedFile_.clear();
  lblViewPictureError->setText("Error Loading: " + name + "\n" + description);
  lblViewPictureError->show();
  lblViewPictureError->raise();
  Window()->unsetCursor();
  lblImageDimensions->hide();
}

void ImagePanel::ShowNoPreview() {
  imgPreview->hide();
  imgPreview->clear();
  previewedFile_.clear();
  lblLoading->setText(QStringLiteral("No Image Selected."));
  lblLoading->show();
  lblImageDimensions->hide();
  emit previewShown(false);
  LoadingPreview_ = false;
  Window()->unsetCursor();
}

void ImagePanel::ShowPreview(const QImage &picture, const QString &image) {
  imgPreview->setPixmap(QPixmap::fromImage(picture));
  imgPreview->resize(picture.size());
  LoadingPreview_ = false;
  imgPreview->move(CentredOrigin(fraViewPicture->size(), picture.size()));
  lblLoading->hide();
  lblViewPictureError->hide();
  imgPreview->show();
  Window()->unsetCursor();
  previewedFile_ = image;
  emit previewShown(true);
  lblLoading->lower();
}

void ImagePanel::lstImages_Click() {
  if (RefreshingList || !Window()->isVisible()) return;
  // Every load gets a number; one that finds a later number when its toolkit
  // call returns was overtaken by another click and leaves the frame alone.
  const quint64 generation = ++previewGeneration_;

  QListWidgetItem *current = lstImages->currentItem();
  if (!current) {
    ShowNoPreview();
    return;
  }
  // A row made current without being highlighted (the list taking focus)
  // would show a preview of an entry the user cannot see chosen.
  if (!current->isSelected()) current->setSelected(true);

  const QString name = current->text();
  emit previewStarting(name);
  LoadingPreview_ = true;
  lblLoading->setText(QStringLiteral("Loading..."));
  imgPreview->hide();
  lblViewPictureError->hide();
  lblLoading->show();
  lblImageDimensions->show();
  Window()->setCursor(Qt::WaitCursor);
  LoadPreview(name, generation);
}

void ImagePanel::LoadPreview(const QString &name, quint64 generation) {
  const auto overtaken = [this, generation] { return generation != previewGeneration_; };
  const QString image = AddBackslash(folder_) + name;
  // Each load writes its own file: a load that was overtaken may still be
  // writing while the next one reads, and so may another Varnholt window.
  const QString folder = AddBackslash(WorkFolder());
  const QString preview = folder + QStringLiteral("preview.") + kPreviewFormat;
  const QString working = folder + QStringLiteral("preview-") +
                          QString::number(QCoreApplication::applicationPid()) + u'-' +
                          QString::number(generation) + u'.' + kPreviewFormat;
  AsyncToolkit toolkit(services_.toolkit);
  try {
    const int orientation = ShownOrientation(toolkit, image, services_.settings.AutoOrient);
    if (overtaken()) return;
    const QString size = toolkit.identify(PreviewSizeArgs(image, orientation));
    if (overtaken()) return;
    lblImageDimensions->setText(size);
    static const QRegularExpression sides(QStringLiteral("(\\d+)x(\\d+)"));
    if (const QRegularExpressionMatch m = sides.match(size); m.hasMatch())
      CheckImageWithinLimits(m.captured(1).toLongLong(), m.captured(2).toLongLong(), image);

    try {
      toolkit.convert(PreviewConvertArgs(image, working, previewBox_, orientation));
      TakeFirstFrame(working);
    } catch (...) {
      QFile::remove(working);
      throw;
    }
    if (overtaken()) {
      QFile::remove(working);
      return;
    }
    QImageReader reader(working);
    const QImage picture = reader.read();
    if (picture.isNull()) {
      const QString why = reader.errorString();
      QFile::remove(working);
      throw Failure(kErrToolkit, "Cannot show the preview " + working + ": " + why);
    }
    // The newest preview keeps the working file's usual name.
    QFile::remove(preview);
    if (!QFile::rename(working, preview)) QFile::remove(working);

    ShowPreview(picture, image);
  } catch (const Failure &failure) {
    if (!overtaken()) ShowPreviewFailure(name, failure.description());
  } catch (const std::exception &failure) {
    if (!overtaken()) ShowPreviewFailure(name, QString::fromLocal8Bit(failure.what()));
  }
}

void ImagePanel::SetPreviewRoom(QSize extra) {
  const PreviewBox box = PreviewBoxFromTwips(2085, 1725, twipsPerPixelX_, twipsPerPixelY_);
  const PreviewBox grown{box.width + extra.width(), box.height + extra.height()};
  if (imgPreview->isVisible())
    imgPreview->move(CentredOrigin(fraViewPicture->size(), imgPreview->size()));
  if (grown.width == previewBox_.width && grown.height == previewBox_.height) return;
  previewBox_ = grown;
  // Nothing on show (the window taking its first size): the next load
  // uses the new box.
  if (previewedFile_.isEmpty() && !LoadingPreview_) return;
  if (!previewResize_) {
    // A drag of the window's edge sends many sizes; ImageMagick is asked once
    // it rests.
    previewResize_ = new QTimer(this);
    previewResize_->setSingleShot(true);
    previewResize_->setInterval(200);
    connect(previewResize_, &QTimer::timeout, this, [this] {
      if (!previewedFile_.isEmpty() && !LoadingPreview_) lstImages_Click();
    });
  }
  previewResize_->start();
}

void ImagePanel::lstImages_DblClick() {
  const int row = lstImages->currentRow();
  if (row < 0 || row >= images_.count()) return;
  images_.setTicked(row, !images_.ticked(row));
  services_.shell.open(OpenImagePath(folder_, images_.text(row)));
}

} // namespace varnholt
