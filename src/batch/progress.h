#pragma once

// The progress bar and the report of results in image order.
#include "batch/batch_internal.h"

#include <QElapsedTimer>

#include <cstdio>
#include <vector>

namespace varnholt::batch {

QString ClockText(double seconds);

class ProgressBar {
public:
  ProgressBar(std::FILE *stream, bool shown, int total)
      : stream_(stream), shown_(shown), total_(total) {
    clock_.start();
  }
  void draw(int done);
  // Lines printed while the bar shows go above it.
  void clear() {
    if (drawn_) Print(stream_, QStringLiteral("\r\033[K"));
    drawn_ = false;
  }

private:
  std::FILE *stream_;
  bool shown_;
  int total_;
  bool drawn_ = false;
  QElapsedTimer clock_;
};

// Results arrive in any order; they are printed in image order, above the
// progress bar.
class Reporter {
public:
  Reporter(const BatchPlan &job, const BatchConsole &console, bool showProgress)
      : results_(static_cast<size_t>(job.images.size())), console_(console),
        bar_(console.err, showProgress, int(job.images.size())),
        operationCount_(int(job.operations.size())) {
    totals_.skipped = job.unreadableImages * operationCount_;
    bar_.draw(0);
  }

  void add(int image, ImageResult result) {
    result.done = true;
    results_[size_t(image)] = std::move(result);
    ++finished_;
  }

  void flush();

  void printTotals(const BatchTotals &t) const;

  // Images a stopped run never started count as skipped.
  BatchTotals finish(const RunControl &control);

private:
  std::vector<ImageResult> results_;
  const BatchConsole &console_;
  ProgressBar bar_;
  int operationCount_;
  size_t reported_ = 0;
  int finished_ = 0;
  BatchTotals totals_;
};

} // namespace varnholt::batch
