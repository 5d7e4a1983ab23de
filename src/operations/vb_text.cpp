#include "operations/vb_text.h"

#include "platform/failure.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace varnholt {

int InStr(int start, const QString &text, const QString &needle) {
  if (start < 1) throw Failure(kErrInvalidCall, "Invalid procedure call or argument");
  if (start > text.size()) return 0;
  const qsizetype at = text.indexOf(needle, start - 1, Qt::CaseInsensitive);
  return at < 0 ? 0 : static_cast<int>(at) + 1;
}

QString Mid(const QString &text, int start, int length) {
  if (start < 1 || length < 0) throw Failure(kErrInvalidCall, "Invalid procedure call or argument");
  if (start > text.size()) return QString();
  return text.mid(start - 1, length);
}

double Val(const QString &text) {
  std::string number;
  enum class State { Sign, Integer, Fraction, ExponentSign, Exponent } state = State::Sign;
  std::string pendingExponent; // "e" or "e-" waits for a digit before it counts
  for (const QChar c : text) {
    if (c == ' ' || c == '\t' || c == '\n') continue;
    const char ch = c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\0';
    const bool digit = ch >= '0' && ch <= '9';
    if (state == State::Sign) {
      state = State::Integer;
      if (ch == '-' || ch == '+') {
        number += ch;
        continue;
      }
    }
    if (state == State::Integer || state == State::Fraction) {
      if (digit) {
        number += ch;
        continue;
      }
      if (ch == '.' && state == State::Integer) {
        number += ch;
        state = State::Fraction;
        continue;
      }
      if (ch == 'e' || ch == 'E' || ch == 'd' || ch == 'D') {
        pendingExponent = "e";
        state = State::ExponentSign;
        continue;
      }
      break;
    }
    if (state == State::ExponentSign) {
      state = State::Exponent;
      if (ch == '-' || ch == '+') {
        pendingExponent += ch;
        continue;
      }
    }
    if (state == State::Exponent) {
      if (!digit) break;
      number += pendingExponent;
      pendingExponent.clear();
      number += ch;
    }
  }
  if (number.empty() || number == "-" || number == "+" || number == "." || number == "-." ||
      number == "+.")
    return 0.0;
  return std::strtod(number.c_str(), nullptr);
}

namespace {
template <typename T> T RoundTo(double value) {
  const double rounded = std::nearbyint(value); // the default mode rounds halves to even
  if (!std::isfinite(rounded) || rounded < static_cast<double>(std::numeric_limits<T>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<T>::max()))
    throw Failure(kErrOverflow, "Overflow");
  return static_cast<T>(rounded);
}
} // namespace

std::int32_t ToLong(double value) { return RoundTo<std::int32_t>(value); }
std::uint8_t ToByte(double value) { return RoundTo<std::uint8_t>(value); }

const QString &Piece(const QStringList &pieces, int i) {
  if (i < 0 || i >= pieces.size()) throw Failure(kErrSubscript, "Subscript out of range");
  return pieces[i];
}

} // namespace varnholt
