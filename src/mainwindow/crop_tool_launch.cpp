// Opening the crop tool on the selected image, and taking its corners back
// into the editor.
#include "croptool/frm_crop_tool.h"
#include "desktop/window_placing.h"
#include "geometry/window_math.h"
#include "geometry/window_place.h"
#include "mainwindow/frm_main.h"
#include "mainwindow/image_panel.h"
#include "mainwindow/operation_editor.h"
#include "mainwindow/panel_host.h"
#include "platform/async_toolkit.h"
#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "processing/magick/magick_policy.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QLineEdit>
#include <QListWidget>
#include <QScopeGuard>
#include <QScreen>
#include <QTransform>

#include <exception>
#include <functional>

namespace varnholt {

namespace {
// Pictures up to this many bytes decoded (about 268 megapixels); Qt's own
// default stops at a quarter of it, short of a stitched panorama.
constexpr int kCropViewMegabytes = 1024;

QImage ReadCropView(const QString &file) {
  QImageReader reader(file);
  reader.setAllocationLimit(kCropViewMegabytes);
  QImage picture = reader.read();
  if (picture.isNull())
    throw Failure(kErrToolkit, "Cannot show the crop view " + file + ": " + reader.errorString());
  return picture;
}

// An image of several frames or pages becomes one bitmap per frame
// (name-0.bmp, name-1.bmp, ...): the first is the one the size query measured.
void KeepFirstFrame(const QString &working) {
  if (QFile::exists(working)) return;
  const QFileInfo info(working);
  QDir folder = info.dir();
  const QString stem = info.completeBaseName() + u'-';
  for (const QString &frame : folder.entryList({stem + "*." + info.suffix()}, QDir::Files)) {
    if (frame.mid(stem.size()).section(u'.', 0, 0) == QLatin1String("0"))
      folder.rename(frame, info.fileName());
    else
      folder.remove(frame);
  }
}

// A JPEG read whole by Qt's own decoder (libjpeg-turbo): several times faster
// than through ImageMagick's sixteen-bit pixels and a bitmap on disk, which
// took 24 MP over a second. Only a JPEG, so nothing is decoded that the
// toolkit's policy would refuse; turned as the toolkit turns it (0 or 1: as
// stored). Read off the UI thread, the window painting meanwhile. A null
// picture when it is not a JPEG or cannot be read.
// The orientation the toolkit measured, applied here: Qt reading the tag
// itself could disagree where the size would not tell (a half turn, a mirror).
QImage Oriented(const QImage &picture, int orientation) {
  switch (orientation) {
  case 2: return picture.mirrored(true, false);
  case 3: return picture.transformed(QTransform().rotate(180));
  case 4: return picture.mirrored(false, true);
  case 5: return picture.transformed(QTransform().rotate(90)).mirrored(true, false);
  case 6: return picture.transformed(QTransform().rotate(90));
  case 7: return picture.transformed(QTransform().rotate(270)).mirrored(true, false);
  case 8: return picture.transformed(QTransform().rotate(270));
  default: return picture;
  }
}

QImage ReadWholeJpeg(const QString &image, int orientation) {
  QFile file(image);
  if (!file.open(QIODevice::ReadOnly) || !file.read(3).startsWith("\xFF\xD8\xFF")) return {};
  file.close();
  QImage picture;
  RunAway([&] {
    QImageReader reader(image, QByteArrayLiteral("jpeg"));
    reader.setAutoDetectImageFormat(false);
    reader.setAllocationLimit(kCropViewMegabytes);
    reader.setAutoTransform(false);
    picture = Oriented(reader.read(), orientation);
    // What the tool paints fastest (grey JPEGs come as 8-bit grey).
    if (!picture.isNull() && picture.format() != QImage::Format_RGB32)
      picture.convertTo(QImage::Format_RGB32);
  });
  return picture;
}

// The bitmap the tool shows, written to `cropView` and read back.
QImage MakeCropView(ImageToolkit &toolkit, const QString &image, bool bitmap,
                    const QString &cropView, int orientation, QSize fitted = {}) {
  // The tool keeps the picture in memory; the file, as large as the decoded
  // picture, goes once read (or not), so no copy of it stays in the data folder.
  const auto removeView = qScopeGuard([&] { QFile::remove(cropView); });
  if (bitmap) {
    CopyFileReplacing(image, cropView);
    try {
      return ReadCropView(cropView);
    } catch (const Failure &) {
      // A bitmap variant Qt does not read (an OS/2 one, say) is one
      // ImageMagick can still turn into a plain one.
    }
  }
  // Converted under a name of this process's own, so that another Varnholt
  // converting at the same moment cannot mix its frames into these.
  const QFileInfo target(cropView);
  const QString working = target.dir().filePath(
      target.completeBaseName() + u'-' + QString::number(QCoreApplication::applicationPid()) +
      u'.' + target.suffix());
  try {
    toolkit.convert(CropViewArgs(image, working, orientation, fitted));
    KeepFirstFrame(working);
    RenameReplacing(working, cropView);
  } catch (...) {
    QFile::remove(working);
    throw;
  }
  return ReadCropView(cropView);
}
// The whole picture, asked for once a zoom needs it: a JPEG by Qt, anything
// else (or a JPEG Qt cannot read) through the toolkit; a null picture when
// neither can, and the small one stays, only coarser.
std::function<QImage()> WholePictureLoader(ImageToolkit &toolkit, const QString &image,
                                           const QString &viewFile, int orientation, QSize full) {
  return [&toolkit, image, viewFile, orientation, full]() -> QImage {
    // Qt and the toolkit could read a stored orientation differently: only a
    // picture of the size measured is taken.
    if (QImage whole = ReadWholeJpeg(image, orientation); whole.size() == full) return whole;
    try {
      return MakeCropView(toolkit, image, false, viewFile, orientation);
    } catch (...) {
      return {};
    }
  };
}
} // namespace

// Made on first use, until start-up makes it hidden with the other windows.
frmCropTool *OperationEditor::CropTool() {
  if (cropTool_) return cropTool_;
  cropTool_ = new frmCropTool(services_.settings, services_.prompter, window_);
  // Where the user left it; else as large as the screen allows, leaving a
  // margin, centred.
  if (!RestoreWindowPlace(cropTool_, services_.settings.CropToolPlace)) {
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      cropTool_->resize(QSize(area.width() * 9 / 10, area.height() * 9 / 10)
                            .expandedTo(cropTool_->minimumSize()));
      cropTool_->move(CentredIn(area, cropTool_->size()).topLeft());
    }
  }
  return cropTool_;
}

void OperationEditor::HideCropTool() {
  if (cropTool_) cropTool_->hide();
}

void OperationEditor::TakeCorners(const frmCropTool &tool) {
  SettingControls = true;
  txtTopLeftX->setText(ShortestDecimal(tool.CropTopLeftX()));
  txtTopLeftY->setText(ShortestDecimal(tool.CropTopLeftY()));
  txtBottomRightX->setText(ShortestDecimal(tool.CropBottomRightX()));
  txtBottomRightY->setText(ShortestDecimal(tool.CropBottomRightY()));
  SettingControls = false;
  VerifyCoordinates(txtBottomRightY);
}

QSize OperationEditor::ShowPictureIn(frmCropTool &tool, ImageToolkit &toolkit,
                                     const QString &image) {
  const int orientation = ShownOrientation(toolkit, image, services_.settings.AutoOrient);
  const PictureSize size = ParseSizeText(toolkit.identify(CropSizeArgs(image, orientation)));
  CheckImageWithinLimits(std::int64_t(size.width), std::int64_t(size.height), image);
  // Shown whole first: decoded no larger than the view (a JPEG several times
  // faster), the whole picture only once a zoom needs it. A bitmap is read as
  // it is.
  const bool bitmap = IsBitmapName(image) && orientation <= 1;
  const QSize full(int(size.width), int(size.height));
  const QSize fitted = bitmap ? QSize() : FittedSize(full, tool.ViewPixels());
  const QString viewFile = AddBackslash(images_.WorkFolder()) + kCropViewName;
  QImage picture = MakeCropView(toolkit, image, bitmap, viewFile, orientation,
                                fitted == full ? QSize() : fitted);
  if (fitted.isValid() && fitted != full)
    // Used only while the tool is open, which `toolkit` outlives.
    tool.SetFullPictureLoader(WholePictureLoader(toolkit, image, viewFile, orientation, full));
  tool.SetPicture(std::move(picture), full);
  return full;
}

// Read once the view is made: the boxes stayed editable meanwhile.
void OperationEditor::GiveCorners(frmCropTool &tool, QSize full) const {
  tool.SetCropTopLeftX(CornerForTool(txtTopLeftX->text(), full.width()));
  tool.SetCropTopLeftY(CornerForTool(txtTopLeftY->text(), full.height()));
  tool.SetCropBottomRightX(CornerForTool(txtBottomRightX->text(), full.width()));
  tool.SetCropBottomRightY(CornerForTool(txtBottomRightY->text(), full.height()));
}

void OperationEditor::cmdUseCropTool_Click() {
  const QString name = images_.CurrentName();
  // A second click while the view is being made would open it twice.
  if (name.isEmpty() || launchingCropTool_) return;
  launchingCropTool_ = true;
  const QString image = AddBackslash(images_.Folder()) + name;
  frmCropTool *tool = CropTool();
  window_->setCursor(Qt::WaitCursor);
  const auto fail = [&](int number, const QString &description) {
    window_->unsetCursor();
    services_.prompter.ask(QStringLiteral("Image Display Error"),
                           "Could not load image: \"" + image + "\"!\r\n" +
                               QString::number(number) + " - " + description,
                           Buttons::Ok, Icon::Exclamation);
    tool->ClearPicture();
    tool->hide();
  };
  try {
    AsyncToolkit toolkit(services_.toolkit);
    const QSize full = ShowPictureIn(*tool, toolkit, image);
    GiveCorners(*tool, full);
    host_.ReturningFromDialog();
    tool->setWindowTitle(image);
    window_->unsetCursor();
    tool->exec();
    services_.settings.CropToolPlace = WindowPlaceNow(tool);
    host_.ActivateLater(); // only clears ReturningFromDialog: the preview stays
    // The picture may be a few hundred megabytes; it is not kept between uses.
    tool->ClearPicture();

    if (!tool->GetWasCancelled()) TakeCorners(*tool);
  } catch (const Failure &failure) {
    fail(failure.number(), failure.description());
  } catch (const std::exception &failure) {
    fail(kErrToolkit, QString::fromLocal8Bit(failure.what()));
  }
  launchingCropTool_ = false;
}

} // namespace varnholt
