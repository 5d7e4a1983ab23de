#pragma once

// What the batch run's pieces share: the interrupt flags, one image's result
// and the run's stop control.
#include "batch/batch_run.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace varnholt::batch {

// Set by Ctrl-C (or SIGTERM): the first asks to stop after the pairs under
// way, a second to stop at once.
extern std::atomic<bool> gInterrupted;
extern std::atomic<bool> gAtOnce;

// What one image's pairs came to, printed in image order.
struct ImageResult {
  bool done = false;
  int written = 0, skipped = 0, failed = 0;
  QStringList lines; // for stderr, each ending in a line break
};

// Shared by the workers and the thread that reports.
struct RunControl {
  std::atomic<bool> stop{false};
  std::mutex mutex;
  QString stopReason; // under the mutex

  bool stopping() const { return stop || gInterrupted; }
};

} // namespace varnholt::batch
