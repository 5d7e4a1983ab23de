#pragma once

// The run in worker processes: spawning them, feeding them images, reading
// their answers and reaping them, with what each one left.
#include "cli/progress.h"

namespace varnholt::batch {

BatchTotals RunInProcesses(const BatchJob &job, int jobs, Reporter &reporter, RunControl &control);

} // namespace varnholt::batch
