// The staging folder's journal, as a sweep reads it after a crash: whatever
// the bytes, a pair it takes as done names only plain names, and the lines
// written for those pairs read back as the same pairs.
#include "common.h"
#include "processing/staging_files.h"

#include <cstdint>

using namespace varnholt;
using namespace varnholt::staging_files;
using varnholt::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
  const Journal journal = ReadJournal(text);
  QByteArray again;
  for (const JournalPair &pair : journal.pending) {
    Check(!pair.names.empty(), "a done pair without names");
    for (const QByteArray &name : pair.names)
      Check(!name.isEmpty() && !name.contains('/') && name != "." && name != "..",
            "a name that is not a plain name", QString::fromLatin1(name));
    again += DoneLine(pair.folder, pair.label, pair.names);
  }
  const Journal read = ReadJournal(again);
  Check(read.pending.size() == journal.pending.size(), "pairs lost in a round trip");
  for (size_t i = 0; i < read.pending.size(); ++i)
    Check(read.pending[i].folder == journal.pending[i].folder &&
              read.pending[i].label == journal.pending[i].label &&
              read.pending[i].names == journal.pending[i].names,
          "a pair changed in a round trip", QString::fromLatin1(read.pending[i].folder));
  return 0;
}
