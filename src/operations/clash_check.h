#pragma once

#include "operations/operation_list_file.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace varnholt {

// Ticked operations whose prefix and suffix (letter case ignored) equal those
// of an earlier ticked operation would write the same file names. One line
// per such operation, without its line break:
//   Prefix: "th_", Suffix: "" at position 3
// where the position counts every entry from 1, unticked ones too. The first
// operation with a pair is never reported. Texts that cannot be read take
// part with whatever prefix and suffix were read before the failure.
QStringList ClashReportLines(const QList<OperationListItem> &items);

// The text of the "Clashes Detected" message for those lines.
QString ClashMessageText(const QStringList &lines);

} // namespace varnholt
