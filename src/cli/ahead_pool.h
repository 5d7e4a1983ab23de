#pragma once

// Worker processes running ahead of a window's run: this executable again,
// as the batch mode's workers, one per core unless capped.
#include "cli/batch_run.h"
#include "cli/process_pool.h"
#include "processing/run.h"

#include <csignal>
#include <optional>
#include <vector>

namespace varnholt {

// How many processes a run uses when nobody says: one per core, at most
// VARNHOLT_JOBS when that is set (for people sharing a machine).
int DefaultJobs();

class AheadPool : public RunAhead {
public:
  // With fewer than two jobs nothing is done ahead.
  AheadPool(int jobs, QString executable);
  ~AheadPool() override;
  AheadPool(const AheadPool &) = delete;
  AheadPool &operator=(const AheadPool &) = delete;

  bool begin(const Job &job) override;
  std::optional<Result> take(size_t n, bool suppress, RunView &view) override;
  void end() override;

private:
  struct Worker {
    batch::WorkerProcess process;
    QByteArray buffer;
    int image = -1; // being worked on, or -1
    int next = 0;   // the operation it answers next
  };
  void spawn(bool sendJob);
  void send(Worker &worker, const QByteArray &payload);
  void dispatch(Worker &worker, int image, int first);
  void feedIdle();
  void read(Worker &worker);
  void reap(Worker &worker);
  void wait(int milliseconds);
  bool anyAlive() const;

  int jobs_;
  QString executable_;
  bool active_ = false;
  BatchJob job_;
  QString outputFolder_;
  int outputHandle_ = -1;
  int operations_ = 0;
  std::vector<Worker> workers_;
  std::vector<std::optional<Result>> results_; // per pair of the job
  std::vector<bool> doneHere_;                 // per pair: nobody will answer it
  int nextImage_ = 0;                          // the first image not handed out
  int currentImage_ = 0;                       // the image the run is at
  bool suppress_ = false;
  struct sigaction oldPipe_ {};
};

} // namespace varnholt
