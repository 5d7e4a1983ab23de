#pragma once

// Worker processes running ahead of a window's run: this executable again,
// as the batch mode's workers, one per core unless capped.
#include "processing/run.h"
#include "workers/worker_pool.h"

#include <memory>
#include <optional>
#include <vector>

namespace varnholt {

// How many processes a run uses when nobody says: one per core, at most
// VARNHOLT_JOBS when that is set (for people sharing a machine).
int DefaultJobs();

class AheadPool : public RunAhead, public workers::PoolListener {
public:
  // With fewer than two jobs nothing is done ahead.
  AheadPool(int jobs, QString executable);
  ~AheadPool() override;
  AheadPool(const AheadPool &) = delete;
  AheadPool &operator=(const AheadPool &) = delete;

  bool begin(const Setup &ahead) override;
  Taken take(size_t n, bool suppress) override;
  void wait(int milliseconds) override;
  void end() override;

private:
  void answered(int image, int operation, const PairResult &result) override;
  void imageDone(int) override {}
  int lost(int image, int next, const QString &how, const QStringList &completed) override;
  void unassigned(int image, int first, const QString &why) override;
  void feed();

  int jobs_;
  QString executable_;
  std::unique_ptr<workers::WorkerPool> pool_;
  QStringList images_;
  int operations_ = 0;
  std::vector<std::optional<PairResult>> results_; // per pair of the plan
  std::vector<bool> doneHere_;                     // per pair: nobody will answer it
  int currentImage_ = 0;                           // the image the run is at
  // Pairs done ahead that the run has not taken yet; their files wait in the
  // output folder's hidden place. A few hundred photos' worth at most.
  static constexpr int kMostWaitingPairs = 256;
  int waiting_ = 0;
  bool suppress_ = false;
};

} // namespace varnholt
