// Timings of the crop tool, on this machine and a real X server (Xvfb):
//   from the click on ">" to the first paint of the fitted picture, for
//   6000x4000 and 8000x6000 JPEGs (target for 24 MP: 500 ms), from the key 1
//   on the fitted picture to the whole picture painted at 100 % (targets:
//   24 MP 1 s, 48 MP 2 s), and the fitted view's convert and bitmap read,
//   each alone;
//   the longest event-loop gap while a corner is dragged over a 24 MP picture.
// Run through bench/croptool; the JPEGs are made once in bench/out/croptool/.
#include "croptool/crop_picture.h"
#include "croptool/frm_crop_tool.h"
#include "geometry/crop_rules.h"
#include "mainwindow/frm_main.h"
#include "mainwindow/operation_editor.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"
#include "support/controls.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace varnholt;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Something with the texture of a photograph: smooth shapes and some grain.
void MakePhoto(const QString &path, int width, int height) {
  if (QFileInfo::exists(path)) return;
  std::printf("making %s...\n", qPrintable(path));
  QImage image(width, height, QImage::Format_RGB888);
  quint32 seed = 12345;
  for (int y = 0; y < height; ++y) {
    uchar *line = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int grain = static_cast<int>(seed >> 28) - 8;
      line[3 * x] = static_cast<uchar>(
          std::clamp(int(128 + 100 * std::sin(x * 0.004) * std::cos(y * 0.003)) + grain, 0, 255));
      line[3 * x + 1] = static_cast<uchar>(std::clamp(int(x * 255 / width) + grain, 0, 255));
      line[3 * x + 2] = static_cast<uchar>(std::clamp(int(y * 255 / height) + grain, 0, 255));
    }
  }
  image.save(path, "JPG", 90);
}

// Notes the first paint of the picture after each start.
class FirstPaint : public QObject {
public:
  QElapsedTimer clock;
  qint64 at = -1;
  bool eventFilter(QObject *, QEvent *event) override {
    if (event->type() == QEvent::Paint && at < 0) at = clock.elapsed();
    return false;
  }
};

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const int runs = 5;
  const QString out = QDir::current().absoluteFilePath("bench/out/croptool");
  QDir().mkpath(out);
  MakePhoto(out + "/photo_6000x4000.jpg", 6000, 4000);
  MakePhoto(out + "/photo_8000x6000.jpg", 8000, 6000);

  QTemporaryDir work, fallback;
  Settings settings;
  test::ScriptedPrompter prompter;
  test::FakeFolderBrowser browser;
  test::FakeFileDialogs dialogs;
  test::RecordingShell shell;
  MagickToolkit toolkit;
  test::RecordingErrorReporter errors;
  frmMain window(
      {settings, prompter, browser, dialogs, shell, toolkit, errors, fallback.path(), work.path()});
  window.show();
  const auto box = [&](const char *name) { return test::Control<QLineEdit>(window, name); };
  auto *lstImages = test::Control<QListWidget>(window, "lstImages");
  auto *cmdUseCropTool = test::Control<QPushButton>(window, "cmdUseCropTool");
  box("txtInputDirectory")->setText(out);
  test::Control<QCheckBox>(window, "chkExtract")->setChecked(true);
  frmCropTool *tool = window.Editor().CropTool();
  FirstPaint paint;
  tool->PictureArea()->installEventFilter(&paint);

  std::printf("%-22s %8s %8s %8s %8s   (medians of %d)\n", "", "click to", "fitted to", "convert",
              "read", runs);
  std::printf("%-22s %8s %8s %8s %8s\n", "", "paint", "100 %", "alone", "alone");
  auto *view = static_cast<CropPicture *>(tool->PictureArea());
  for (int row = 0; row < lstImages->count(); ++row) {
    lstImages->setCurrentRow(row);
    const QString name = lstImages->item(row)->text();
    std::vector<double> open, actual, convert, read;
    for (int run = 0; run < runs; ++run) {
      paint.at = -1;
      // Once the fitted picture is on the screen, the key 1; closed from the
      // event loop once the whole picture is painted at 100 %. The key's
      // handler decodes the whole picture in a local event loop, so this
      // timer ticks meanwhile: only a paint after it counts.
      enum { Opening, Zooming, Zoomed } stage = Opening;
      qint64 keyAt = 0;
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stage == Opening && paint.at >= 0) {
          stage = Zooming;
          open.push_back(paint.at);
          keyAt = paint.clock.elapsed();
          QKeyEvent one(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"));
          QCoreApplication::sendEvent(tool, &one);
          if (view->picture().size() != view->fullSize())
            std::printf("  the whole picture was not loaded\n");
          paint.at = -1;
          stage = Zoomed;
        } else if (stage == Zoomed && paint.at >= 0) {
          actual.push_back(paint.at - keyAt);
          tool->cmdCancel_Click();
        }
      });
      poll.start(1);
      paint.clock.start();
      cmdUseCropTool->click();
      poll.stop();

      const QString bmp = work.filePath("alone.bmp");
      QElapsedTimer t;
      t.start();
      const QSize full = QImageReader(out + '/' + name).size();
      toolkit.convert(CropViewArgs(out + '/' + name, bmp, 0, FittedSize(full, tool->ViewPixels())));
      convert.push_back(t.elapsed());
      t.start();
      QImageReader reader(bmp);
      reader.setAllocationLimit(1024);
      if (reader.read().isNull()) std::printf("  read failed\n");
      read.push_back(t.elapsed());
    }
    std::printf("%-22s %5.0f ms %5.0f ms %5.0f ms %5.0f ms\n", qPrintable(name), Median(open),
                Median(actual), Median(convert), Median(read));
  }

  // Dragging: the top-left corner follows the mouse across the 24 MP picture
  // in steps of 3 pixels every 4 ms, with the crawl running, for two seconds.
  lstImages->setCurrentRow(0);
  box("txtTopLeftX")->setText("0");
  box("txtTopLeftY")->setText("0");
  box("txtBottomRightX")->setText("5999");
  box("txtBottomRightY")->setText("3999");
  tool->resize(1500, 950);
  qint64 worst = 0;
  int moves = 0, paints = 0;
  QTimer drive, tick;
  QElapsedTimer clock;
  qint64 last = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    worst = std::max(worst, now - last);
    last = now;
  });
  QObject::connect(&drive, &QTimer::timeout, [&] {
    if (!tool->isVisible()) return;
    if (moves == 0) {
      QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(tool->PictureArea(), &press);
      clock.start();
      last = 0;
      tick.start(1);
    }
    if (clock.isValid() && clock.elapsed() > 2000) {
      tick.stop();
      drive.stop();
      tool->cmdOK_Click();
      return;
    }
    ++moves;
    const QPointF at(10 + (moves * 3) % 1400, 10 + (moves * 2) % 900);
    QMouseEvent move(QEvent::MouseMove, at, at, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(tool->PictureArea(), &move);
  });
  struct CountPaints : QObject {
    int &n;
    explicit CountPaints(int &count) : n(count) {}
    bool eventFilter(QObject *, QEvent *e) override {
      n += e->type() == QEvent::Paint;
      return false;
    }
  } counter(paints);
  tool->PictureArea()->installEventFilter(&counter);
  drive.start(4);
  cmdUseCropTool->click();
  std::printf("dragging a corner over %s for 2 s: %d moves, %d paints, longest event-loop "
              "gap %lld ms; corner now (%s, %s)\n",
              qPrintable(lstImages->item(0)->text()), moves, paints, worst,
              qPrintable(box("txtTopLeftX")->text()), qPrintable(box("txtTopLeftY")->text()));
  return 0;
}
