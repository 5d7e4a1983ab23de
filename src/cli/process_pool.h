#pragma once

// The run in worker processes: spawning them, feeding them images, reading
// their answers and reaping them, with what each one left.
#include "cli/progress.h"

#include <sys/types.h>

namespace varnholt::batch {

// A worker process and the two pipes to it.
struct WorkerProcess {
  pid_t pid = -1;
  int toChild = -1, fromChild = -1;
};
// Starts this executable as a worker, with `folder` (a handle) as its
// kInheritedFolder when given; throws Failure.
constexpr int kInheritedFolder = 3;
WorkerProcess SpawnWorker(const QString &executable, int folder = -1);
void CloseFd(int &fd);
// How a reaped worker ended, for the user.
QString ExitText(int status);

BatchTotals RunInProcesses(const BatchJob &job, int jobs, Reporter &reporter, RunControl &control);

} // namespace varnholt::batch
