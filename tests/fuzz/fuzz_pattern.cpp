// The image list's pattern matcher against a plain reference.
//
// The reference reads the pattern as it goes and matches by dynamic
// programming over (pattern position, text position), so it shares nothing
// with the matcher but the rules: ? any one character, * any run, # one
// digit, [list] and [!list] one character in or not in the list with ranges
// low-high, "[]" nothing at all; an unclosed "[" or a backward range is
// malformed.
#include "common.h"
#include "operations/file_listing.h"
#include "platform/failure.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <vector>

using namespace varnholt;
using varnholt::fuzz::Check;

namespace {

// One pattern element as the reference sees it: the pattern positions it
// covers, and whether it is a "*" or a "[]", which stands for nothing.
struct Token {
  qsizetype start, end; // pattern[start, end)
  bool star = false;
  bool empty = false; // "[]"
};

// Reads the element at i; nullopt when the pattern is malformed there.
std::optional<Token> Read(const QString &p, qsizetype i) {
  if (p[i] == u'*') return Token{i, i + 1, true};
  if (p[i] != u'[') return Token{i, i + 1};
  const qsizetype close = p.indexOf(u']', i + 1);
  if (close < 0) return std::nullopt;
  qsizetype k = i + 1;
  if (k < close && p[k] == u'!') ++k;
  for (; k < close; ++k)
    if (k + 2 < close && p[k + 1] == u'-') {
      if (p[k] > p[k + 2]) return std::nullopt;
      k += 2;
    }
  return Token{i, close + 1, false, close == i + 1};
}

bool Accepts(const QString &p, const Token &token, QChar c) {
  const qsizetype i = token.start, close = token.end - 1;
  if (p[i] == u'?') return true;
  if (p[i] == u'#') return c.unicode() >= '0' && c.unicode() <= '9';
  if (p[i] != u'[') return p[i] == c;
  qsizetype k = i + 1;
  const bool negate = k < close && p[k] == u'!';
  if (negate) ++k;
  bool in = false;
  for (; k < close; ++k) {
    if (k + 2 < close && p[k + 1] == u'-') {
      in = in || (c >= p[k] && c <= p[k + 2]);
      k += 2;
    } else {
      in = in || c == p[k];
    }
  }
  return in != negate;
}

// nullopt for a malformed pattern.
std::optional<bool> Reference(const QString &text, const QString &pattern) {
  std::vector<Token> tokens;
  for (qsizetype i = 0; i < pattern.size();) {
    const std::optional<Token> t = Read(pattern, i);
    if (!t) return std::nullopt;
    if (!t->empty) tokens.push_back(*t);
    i = t->end;
  }
  const size_t m = tokens.size();
  const qsizetype n = text.size();
  // can[j][t]: tokens j.. match text t..
  std::vector<std::vector<char>> can(m + 1, std::vector<char>(size_t(n) + 1, 0));
  can[m][size_t(n)] = 1;
  for (size_t j = m; j-- > 0;)
    for (qsizetype t = n; t >= 0; --t) {
      const size_t u = size_t(t);
      if (tokens[j].star)
        can[j][u] = can[j + 1][u] || (t < n && can[j][u + 1]);
      else
        can[j][u] = t < n && Accepts(pattern, tokens[j], text[t]) && can[j + 1][u + 1];
    }
  return can[0][0] != 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, size_t size) {
  if (size > 2048) return -1;
  FuzzedDataProvider data(bytes, size);
  const std::string p = data.ConsumeRandomLengthString(256);
  const std::string t = data.ConsumeRemainingBytesAsString();
  const QString pattern = QString::fromUtf8(p.data(), qsizetype(p.size()));
  const QString text = QString::fromUtf8(t.data(), qsizetype(t.size()));

  const std::optional<bool> expected = Reference(text, pattern);
  std::optional<bool> got;
  try {
    got = MatchesPattern(text, pattern);
  } catch (const Failure &failure) {
    Check(failure.number() == 93, "a malformed pattern is failure 93", failure.text());
  }
  Check(got == expected, "the matcher agrees with the reference",
        "pattern [" + pattern + "] text [" + text + "] matcher " +
            (got ? (*got ? "yes" : "no") : "malformed") + " reference " +
            (expected ? (*expected ? "yes" : "no") : "malformed"));
  return 0;
}
