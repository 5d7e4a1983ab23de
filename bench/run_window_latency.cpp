// How long the run window's event loop goes unserved while a run resizes a
// 50-megapixel image. A 10 ms timer ticks throughout; the longest gap between
// two ticks is how long a click on Stop (or a repaint) could wait.
//
//   varnholt_bench_run_window [MEGAPIXELS [WORKER]]      (default 50)
//
// It reports the run through the window (each pair on a thread of its own),
// the same with worker processes running ahead (WORKER: the varnholt
// executable) and, for comparison, the run driven on the UI thread alone.

#include "dialogs/frm_go.h"
#include "operations/operation.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"
#include "workers/ahead_pool.h"

#include "bench_seams.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>

using namespace varnholt;

namespace {

class NoView : public RunView {
public:
  void ShowImage(const QString &) override {}
  void ShowOperation(const QString &) override {}
  void ShowProgress(qint64, qint64) override {}
};

// Ticks every 10 ms and remembers the longest wait between two ticks.
struct StallMeter {
  StallMeter() {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      longest = std::max(longest, clock.restart());
      ++ticks;
    });
    clock.start();
    timer.start();
  }
  QTimer timer;
  QElapsedTimer clock;
  qint64 longest = 0;
  int ticks = 0;
};

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const double megapixels = argc > 1 ? std::atof(argv[1]) : 50.0;
  const int width = int(std::sqrt(megapixels * 1e6 * 3 / 2));
  const int height = width * 2 / 3;

  QTemporaryDir dir;
  const QString name = QStringLiteral("big.jpg");
  {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    for (int y = 0; y < height; y += 64)
      painter.fillRect(0, y, width, 64, QColor::fromHsv((y / 64 * 23) % 360, 160, 200));
    painter.end();
    if (!image.save(dir.path() + '/' + name, "JPG", 90)) return 1;
  }

  Operation op = OperationDefaults();
  op.Resize = true;
  op.ResizeWidth = 1600;
  op.ResizeHeight = 1600;
  op.Prefix = QStringLiteral("small_");
  QString error;
  ListRunSource source;
  source.folder = dir.path();
  source.images = {{name}};
  source.operations = {{OperationDescription(op, error)}};

  Settings settings;
  settings.Antialias = true;
  MagickToolkit toolkit;
  bench::CountingPrompter prompter;
  bench::PrintErrors errors;

  // ImageMagick's one-time start-up belongs to neither figure.
  toolkit.identify({QStringLiteral("-format"), QStringLiteral("%wx%h"), QStringLiteral("-ping"),
                    dir.path() + '/' + name});

  std::printf("image: %dx%d (%.1f MP), operation: %s\n", width, height,
              width * double(height) / 1e6, qPrintable(source.operations[0].text));

  // One run through the window, with workers ahead or without.
  const auto windowRun = [&](const char *label, RunAhead *ahead) {
    frmGo window(source, settings, toolkit, prompter, errors, nullptr, ahead);
    StallMeter meter;
    QElapsedTimer total;
    total.start();
    window.exec();
    std::printf("run window (%s): run %lld ms, longest event-loop stall %lld ms, %d ticks\n", label,
                total.elapsed(), meter.longest, meter.ticks);
    QFile::remove(dir.path() + "/small_big.jpg");
  };
  for (int round = 1; round <= 3; ++round) {
    windowRun("worker thread", nullptr);
    if (argc > 2) {
      AheadPool ahead(2, QString::fromLocal8Bit(argv[2]));
      windowRun("workers ahead", &ahead);
    }
    {
      NoView view;
      RunState state;
      StallMeter meter;
      QElapsedTimer total;
      total.start();
      DoOperations(source, view, {settings, toolkit, prompter}, state);
      QCoreApplication::processEvents();
      std::printf("same run on the UI thread:  run %lld ms, longest event-loop stall %lld ms\n",
                  total.elapsed(), std::max(meter.longest, meter.clock.elapsed()));
    }
    QFile::remove(dir.path() + "/small_big.jpg");
  }
  return 0;
}
