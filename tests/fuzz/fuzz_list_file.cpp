// The operation list reader on any bytes.
//
// Every kept line must hold a ">" and read as a valid operation; the entries
// made of the kept lines, saved and read back, must come back the same.
#include "common.h"
#include "operations/operation.h"
#include "operations/operation_list_file.h"
#include "platform/failure.h"

#include <cstdint>

using namespace varnholt;
using varnholt::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, size_t size) {
  if (size > 16384) return -1;
  const QByteArray input(reinterpret_cast<const char *>(bytes), qsizetype(size));
  const QStringList kept = KeptOperationLines(input);
  Check(kept.size() <= input.count('\r') + input.count('\n') + 1, "no more lines than breaks");

  QList<OperationListItem> items;
  for (const QString &line : kept) {
    Check(line.contains(u'>'), "a kept line holds a \">\"", line);
    Check(!line.contains(u'\r') && !line.contains(u'\n'), "a kept line holds no line break", line);
    try {
      items << SplitListLine(line);
    } catch (const Failure &failure) {
      // A tick that is neither a number nor True or False: the window
      // reports it when it fills its list; it cannot be saved back.
      Check(failure.number() == kErrTypeMismatch, "only the tick can be unreadable",
            line + "\n" + failure.text());
      continue;
    }
    QString error;
    Check(IsOperationValid(ParseOperation(items.back().text, error)), "a kept text is valid", line);
  }

  const QStringList again = KeptOperationLines(OperationsFileBytes(items));
  Check(again.size() == items.size(), "every saved entry is kept on reading",
        QString::number(items.size()) + " saved, " + QString::number(again.size()) + " kept");
  for (qsizetype i = 0; i < items.size(); ++i)
    Check(SplitListLine(again[i]) == items[i], "a saved entry reads back as itself",
          items[i].text + "\n" + again[i]);
  return 0;
}
