// The run window's whole run over a folder, as a user starts it: every image
// times every ticked operation of a list, written to an output folder, with
// the real ImageMagick on the offscreen platform. A 10 ms timer ticks
// throughout; the longest gap between two ticks is how long Stop could wait.
//
//   varnholt_bench_window_run FOLDER LIST.vop OUTPUT JOBS WORKER
//
// JOBS 1 is the window working alone; more run that many worker processes
// (WORKER: the varnholt executable) ahead of it.

#include "dialogs/frm_go.h"
#include "operations/file_listing.h"
#include "operations/operation_list_file.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"
#include "workers/ahead_pool.h"

#include "bench_seams.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace varnholt;

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s FOLDER LIST.vop OUTPUT JOBS WORKER\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  ListRunSource source;
  source.folder = folder;
  for (const QString &image : ListImageFiles(folder, QStringLiteral("*"), false))
    source.images.push_back({image});
  QFile list(QString::fromLocal8Bit(argv[2]));
  if (!list.open(QIODevice::ReadOnly)) return 2;
  for (const QString &line : KeptOperationLines(list.readAll())) {
    const OperationListItem item = SplitListLine(line);
    source.operations.push_back({item.text, item.ticked});
  }
  Settings settings;
  settings.OutputInDiffDir = true;
  settings.OutputDir = QString::fromLocal8Bit(argv[3]);
  const int jobs = std::atoi(argv[4]);

  MagickToolkit toolkit;
  bench::CountingPrompter prompter;
  bench::PrintErrors errors;
  AheadPool ahead(jobs, QString::fromLocal8Bit(argv[5]));
  frmGo window(source, settings, toolkit, prompter, errors, nullptr, jobs > 1 ? &ahead : nullptr);

  QTimer timer;
  QElapsedTimer clock, total;
  qint64 longest = 0;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] { longest = std::max(longest, clock.restart()); });
  clock.start();
  timer.start();
  total.start();
  window.exec();
  std::printf("window run, %d job(s): %zu images x %zu operations in %.2f s, longest event-loop "
              "stall %lld ms, %d message box(es)\n",
              jobs, source.images.size(), source.operations.size(), total.elapsed() / 1000.0,
              longest, prompter.asked);
  return errors.failed || window.ProcessAborted() ? 1 : 0;
}
