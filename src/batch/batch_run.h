#pragma once

// The batch mode's run, shared by the process that plans it and the worker
// processes that carry it out.
#include "batch/batch.h"
#include "operations/operation.h"
#include "processing/run_plan.h"
#include "settings/settings.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <vector>

namespace varnholt {

// A run of the batch mode: its plan, and what it tells the user before it starts.
struct BatchPlan : RunPlan {
  QStringList notes;         // warnings for before the run
  int unreadableImages = 0;  // images whose names Qt cannot carry: skipped
  int leftOutLines = 0;      // ticked lines of the list it cannot run: not all was done
  int unreadableFolders = 0; // subfolders that could not be read: not all was done
};

struct BatchTotals {
  int written = 0, skipped = 0, failed = 0;
  bool stopped = false; // by Ctrl-C, or by an output folder that went away
};

void Print(std::FILE *stream, const QString &text);

// Every pair of the job, image by image: in this process with one job, in
// that many worker processes otherwise. Warnings, errors and the progress bar
// go to console.err; Ctrl-C stops after the pairs under way.
BatchTotals RunBatchPlan(const BatchPlan &job, int jobs, const BatchConsole &console,
                         bool showProgress);

} // namespace varnholt
