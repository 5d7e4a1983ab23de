#include "operations/vb_text.h"

#include "platform/failure.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

namespace {
// from_chars leaves the value alone when it is out of range; strtod's answer
// then was ±HUGE_VAL or 0, which the callers turn into an overflow or a 0.
// The decimal exponent of the leading digit tells the two apart.
double OutOfRange(const std::string &number) {
  const bool negative = number[0] == '-';
  const std::size_t e = number.find('e');
  const std::string mantissa = number.substr(0, e);
  long long exponent = 0;
  if (e != std::string::npos) {
    std::size_t i = e + 1;
    const bool down = number[i] == '-';
    if (number[i] == '-' || number[i] == '+') ++i;
    for (; i < number.size(); ++i)
      exponent = std::min(exponent * 10 + (number[i] - '0'), 1000000LL);
    if (down) exponent = -exponent;
  }
  const std::size_t dot = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string::npos) return 0.0;
  const long long lead =
      first < dot ? static_cast<long long>(dot - first) - 1 : -static_cast<long long>(first - dot);
  const double magnitude = lead + exponent > 0 ? HUGE_VAL : 0.0;
  return negative ? -magnitude : magnitude;
}
} // namespace

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
      if (ch == '-') {
        number += ch;
        continue;
      }
      if (ch == '+') continue; // from_chars takes no plus sign
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
        pendingExponent.assign(1, 'e');
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
  if (number.find_first_of("0123456789") == std::string::npos) return 0.0;
  // Qt sets the C library's locale from the environment, where the decimal
  // sign may be a comma; from_chars always reads a point.
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range) return OutOfRange(number);
  if (error != std::errc()) return 0.0;
  return value;
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
