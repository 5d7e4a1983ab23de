#include "batch/progress.h"

#include "processing/run.h"

namespace varnholt::batch {

QString ClockText(double seconds) {
  if (seconds < 0 || seconds > 1e7) return QStringLiteral("--:--");
  const qint64 s = qRound64(seconds);
  if (s >= 3600)
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QChar(u'0'))
        .arg(s % 60, 2, 10, QChar(u'0'));
  return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar(u'0'));
}

void ProgressBar::draw(int done) {
  if (!shown_) return;
  const double elapsed = clock_.elapsed() / 1000.0;
  const double rate = elapsed > 0 ? done / elapsed : 0;
  const int width = 28;
  const int filled = total_ > 0 ? int(qint64(width) * done / total_) : width;
  const QString bar = QString(filled, u'#') + QString(width - filled, u'.');
  const QString left = done > 0 ? ClockText((total_ - done) / rate) : QStringLiteral("--:--");
  Print(stream_, QStringLiteral("\r[%1] %2/%3 images  %4 images/s  %5 left\033[K")
                     .arg(bar)
                     .arg(done)
                     .arg(total_)
                     .arg(rate, 0, 'f', rate < 10 ? 2 : 1)
                     .arg(left));
  drawn_ = true;
}

void Reporter::flush() {
  QStringList lines;
  while (reported_ < results_.size() && results_[reported_].done) {
    const ImageResult &r = results_[reported_++];
    totals_.written += r.written;
    totals_.skipped += r.skipped;
    totals_.failed += r.failed;
    lines << r.lines;
  }
  if (!lines.isEmpty()) {
    bar_.clear();
    for (const QString &line : lines)
      Print(console_.err, line);
  }
  bar_.draw(finished_);
}

void Reporter::printTotals(const BatchTotals &t) const {
  Print(console_.out, RunCountsText(t.written, t.skipped, t.failed, t.stopped) + "\n");
}

BatchTotals Reporter::finish(const RunControl &control) {
  flush();
  bar_.clear();
  int notStarted = 0;
  for (const ImageResult &r : results_)
    notStarted += r.done ? 0 : 1;
  totals_.skipped += notStarted * operationCount_;
  if (control.stopping())
    Print(console_.err, "varnholt: stopped (" +
                            (gInterrupted ? QStringLiteral("interrupted") : control.stopReason) +
                            "); " + QString::number(notStarted) + " images not processed\n");
  return totals_;
}

} // namespace varnholt::batch
