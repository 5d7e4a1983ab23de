#pragma once

// The text arithmetic that operation texts are read with: 1-based positions,
// case-insensitive searches, and the "leading number" reading of a piece.
#include <QString>
#include <QStringList>

#include <cstdint>

namespace varnholt {

// Position (from 1) of the first case-insensitive occurrence of needle at or
// after start; 0 when there is none or start lies past the end.
int InStr(int start, const QString &text, const QString &needle);

// length characters from position start (1-based). A negative length or a
// start below 1 is a failure (kErrInvalidCall); a start past the end gives "".
QString Mid(const QString &text, int start, int length);

// The leading decimal number of a text: blanks, tabs and line feeds are passed
// over, reading stops at the first character that cannot continue the number,
// and no number at all reads as 0.
double Val(const QString &text);

// Nearest whole number, halves to the even neighbour; kErrOverflow outside
// the target type.
std::int32_t ToLong(double value);
std::uint8_t ToByte(double value);

// Piece i of a split text; kErrSubscript when there are too few pieces.
const QString &Piece(const QStringList &pieces, int i);

} // namespace varnholt
