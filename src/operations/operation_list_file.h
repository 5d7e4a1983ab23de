#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace varnholt {

struct Settings;

// One entry of the operation list: its operation text and its tick.
struct OperationListItem {
  QString text;
  bool ticked = true;

  bool operator==(const OperationListItem &) const = default;
};

// Writes one line per item, "1" or "0", ">", the text, CR LF, as UTF-8. The
// new contents go to a hidden file beside the old one and are renamed over
// it, so a failed save leaves the previous list whole. On success
// settings.LoadedFile becomes fileName; on failure errorText is
// "number - description" and nothing else changes. `keptLines`, lines the
// list could not read from this file, go after the items as they were.
bool SaveOperationsFile(const QString &fileName, const QList<OperationListItem> &items,
                        Settings &settings, QString &errorText, const QStringList &keptLines = {});

// The lines worth keeping, whole and in file order: those with a ">" whose
// text reads as a valid operation. Lines end at CR, LF or CR LF; a file that
// is not valid UTF-8 is read as Windows-1252. On success loadedFile becomes
// fileName, the file the list now belongs to; a file that cannot be read
// gives no lines, errorText "number - description", and loadedFile as it was.
QStringList LoadOperationsFile(const QString &fileName, QString &loadedFile, QString &errorText);

// What the two above write and read, without the file: the bytes of a list
// and the lines of a list's bytes that loading keeps.
QByteArray OperationsFileBytes(const QList<OperationListItem> &items);
QStringList KeptOperationLines(const QByteArray &bytes);

// A line of a list that loading leaves out (not blank), numbered from 1 as
// the file's lines are, with why it is left out.
struct DroppedListLine {
  int number = 0;
  QString text;
  QString reason = {};
};
QList<DroppedListLine> DroppedOperationLines(const QByteArray &bytes);
// The same for a file; a file that cannot be read gives none.
QList<DroppedListLine> DroppedOperationLinesOfFile(const QString &fileName);
// Those lines for a message: "Line 3: text", at most `shown` of them, each
// cut short past 100 characters, then how many more there are.
QString DroppedLinesText(const QList<DroppedListLine> &dropped, int shown = 10);

// A kept line as a list entry: the text between the first and second ">",
// ticked when the part before the first ">" reads as true ("1", any other
// non-zero number, "True"). A part that reads as neither throws Failure 13.
OperationListItem SplitListLine(const QString &line);

// The bytes of a text file in the system's older 8-bit code page.
QString DecodeWindows1252(const QByteArray &bytes);

} // namespace varnholt
