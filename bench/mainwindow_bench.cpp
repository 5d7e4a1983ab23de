// Timings of the main window's image list and preview, on this machine:
//   refresh of 10,000 images (+2,000 other files), re-refresh after a change,
//   preview of 12, 24 and 48 MP JPEGs, event-loop latency meanwhile.
// Run through bench/mainwindow.
#include "geometry/window_math.h"
#include "mainwindow/frm_main.h"
#include "mainwindow/image_panel.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"
#include "support/controls.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

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

void Touch(const QString &path) {
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  f.write("x");
}

// Something with the texture of a photograph: smooth shapes and some grain.
void MakePhoto(const QString &path, int width, int height) {
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

struct Latency {
  QElapsedTimer clock;
  qint64 last = 0, worst = 0;
  QTimer timer;
  Latency() {
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      const qint64 now = clock.elapsed();
      worst = std::max(worst, now - last);
      last = now;
    });
  }
  void start() {
    clock.start();
    last = 0;
    worst = 0;
    timer.start();
  }
  qint64 stop() {
    timer.stop();
    return std::max(worst, clock.elapsed() - last);
  }
};

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = 5;

  QTemporaryDir folder, photos, work, fallback;
  std::printf("Creating 10,000 image files and 2,000 others...\n");
  for (int i = 0; i < 10000; ++i)
    Touch(folder.filePath(
        QString("IMG_%1.%2").arg(i * 7919 % 100000, 5, 10, QChar('0')).arg(i % 3 ? "jpg" : "PNG")));
  for (int i = 0; i < 2000; ++i)
    Touch(folder.filePath(QString(i % 2 ? "note_%1.txt" : "IMG_%1.2020.jpg").arg(i)));

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
  auto *txtInputDirectory = test::Control<QLineEdit>(window, "txtInputDirectory");
  auto *lstImages = test::Control<QListWidget>(window, "lstImages");

  std::vector<double> full, again, added;
  for (int run = 0; run < runs; ++run) {
    txtInputDirectory->setText(fallback.path()); // empty: the list starts empty
    QElapsedTimer t;
    t.start();
    txtInputDirectory->setText(folder.path());
    QCoreApplication::processEvents(); // the list's layout and first paint
    full.push_back(t.elapsed());

    Touch(folder.filePath("IMG_00000.jpg")); // changed
    t.start();
    window.Images().RefreshFileList();
    QCoreApplication::processEvents();
    again.push_back(t.elapsed());

    Touch(folder.filePath(QString("AAA_new_%1.jpg").arg(run))); // a file more, sorted first
    QFile::remove(folder.filePath(QString("AAA_new_%1.jpg").arg(run - 1)));
    t.start();
    window.Images().RefreshFileList();
    QCoreApplication::processEvents();
    added.push_back(t.elapsed());
  }
  std::printf("entries listed: %d\n", lstImages->count());
  std::printf("refresh, 10,000 images + 2,000 others, from empty: %6.0f ms (median of %d)\n",
              Median(full), runs);
  std::printf("refresh again after one file changed:               %6.0f ms\n", Median(again));
  std::printf("refresh again after one file added and one removed:  %6.0f ms\n", Median(added));

  std::printf("Creating 4000x3000, 6000x4000 and 8000x6000 JPEGs...\n");
  MakePhoto(photos.filePath("photo_4000x3000.jpg"), 4000, 3000);
  MakePhoto(photos.filePath("photo_6000x4000.jpg"), 6000, 4000);
  MakePhoto(photos.filePath("photo_8000x6000.jpg"), 8000, 6000);
  txtInputDirectory->setText(photos.path());

  for (int row = 0; row < 3; ++row) {
    const QString name = lstImages->item(row)->text();
    const QString path = photos.filePath(name);
    std::vector<double> shown, latency;
    for (int run = 0; run < runs; ++run) {
      lstImages->setCurrentRow(-1);
      Latency watch;
      watch.start();
      QElapsedTimer t;
      t.start();
      lstImages->setCurrentRow(row);
      shown.push_back(t.elapsed());
      latency.push_back(watch.stop());
      if (window.Images().PreviewedFile().isEmpty()) std::printf("  preview failed!\n");
    }
    // The same two calls as they stood before: no ping, no size hint, a GIF.
    const auto timed = [&](const QStringList &size, const QStringList &convert) {
      std::vector<double> times;
      for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        toolkit.identify(size);
        toolkit.convert(convert);
        times.push_back(t.elapsed());
      }
      return Median(times);
    };
    const QString gif = work.filePath("plain.gif");
    const QString geometry = PreviewGeometryText({139, 115});
    const QStringList plainSize = {"-format", "Dimensions: %wx%h Pixels", path};
    const double plain = timed(plainSize, {"-format", "gif", "-geometry", geometry, path, gif});
    const QStringList hintedGif = {"-define",   PreviewConvertArgs(path, gif, {139, 115})[1],
                                   "-format",   "gif",
                                   "-geometry", geometry,
                                   path,        gif};
    const double gifWithHint = timed(PreviewSizeArgs(path), hintedGif);
    std::printf("preview %-22s %5.0f ms, event-loop gap at most %3.0f ms [%s]\n", qPrintable(name),
                Median(shown), Median(latency),
                qPrintable(test::Control<QLabel>(window, "lblImageDimensions")->text()));
    std::printf("    toolkit calls alone: plain argument lists to GIF %5.0f ms, "
                "with -ping and size hint to GIF %5.0f ms\n",
                plain, gifWithHint);
  }
  return 0;
}
