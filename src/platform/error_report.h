#pragma once

#include "platform/error_reporter.h"

#include <QString>

namespace varnholt {

// Percent-encodes the blank and the ASCII punctuation except "%" itself, then
// turns each CR LF into "%0D". Letters, digits, "%", other control characters
// and everything above 127 pass unchanged. The bug-report page decodes
// exactly this form, so it stays as it is even though it is not RFC 3986.
QString EncodeForURL(const QString &text);

// The report shown under "Details:" and sent with a bug report, one item a
// line (CR LF between lines).
QString ErrorReportText(const ErrorReport &report);

// The bug-report page with its query; every value is already encoded.
QString BugReportAddress(const QString &programId, const QString &programVersion,
                         const QString &window, const QString &report);

} // namespace varnholt
