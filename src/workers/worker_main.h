#pragma once

// What a worker process does: this executable started again with
// "--batch-worker", by the batch mode or by the window's run.

namespace varnholt {

// A worker's exit status; the same numbers as the batch mode's own.
enum WorkerExit : int {
  kWorkerDone = 0,
  kWorkerCutShort = 1, // its parent went away
  kWorkerRefused = 2,  // no job it could read
};

// A worker process: takes the job and then image numbers on stdin, answers
// each pair's result on stdout; returns its exit status.
int RunWorker();
// The worker's first steps, before anything else runs in it: it ignores
// Ctrl-C, ends with its parent and lets SIGTERM end it.
void PrepareWorker();

} // namespace varnholt
