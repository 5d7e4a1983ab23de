#pragma once

// Pictures of the run window, each written to `path`; false when it could
// not be taken.

#include <QString>

namespace varnholt::shots {

// The run window while the sixth toolkit call of a run is under way.
bool RunWindowMidRun(const QString &path);
// The run window after the run itself failed: it waits to be closed.
bool RunWindowAfterFailure(const QString &path);
// The error window with a failure's report.
bool ErrorDialog(const QString &path);
// The run's question after a failed pair, its details opened.
bool RunErrorQuestion(const QString &path);

} // namespace varnholt::shots
