#include "platform/wildcard.h"

#include <stdint.h>
#include <string.h>

namespace {

// The pattern rewritten with Windows' own wildcards for the rules that depend
// on the name's dots: < is a * that stops at the name's last dot (it may take
// the dot itself), > is a ? that matches nothing at a dot or at the end, and
// " is a dot that also matches the end of the name.
const char kStarToLastDot = '<';
const char kOneOrNothing = '>';
const char kDotOrEnd = '"';
// A directory entry's name holds at most 255 bytes.
const size_t kNameMax = 256;

bool CanMatchNothing(char c) {
  return c == '*' || c == kStarToLastDot || c == kOneOrNothing || c == kDotOrEnd;
}

// Whether the expression from `i` matches the name from `j`. Each answer is
// kept (stamped with the call it belongs to), so that every pair of
// positions is worked out once: time grows with the product of the lengths
// at most, whatever the wildcards, where trying each way a run of them can
// match would take exponential time on a name of a package's choosing. Most
// names fail at their first characters and cost next to nothing.
struct Matcher {
  const char* e;
  size_t eLength;
  const char* n;
  size_t nLength;
  size_t lastDot;  // nLength when the name has no dot
  bool (*compare)(char p, char c);

  bool At(size_t i, size_t j);
};

// The answers: the call's stamp shifted left, the answer in the low bit.
// The programs search from one thread.
uint32_t g_answers[sizeof(SearchPattern::expression) + 1][kNameMax + 1];
uint32_t g_call;

bool Matcher::At(size_t i, size_t j) {
  if (i == eLength) return j == nLength;
  uint32_t& answer = g_answers[i][j];
  if (answer >> 1 == g_call) return answer & 1;
  bool matches;
  const char c = e[i];
  if (j == nLength) {
    matches = CanMatchNothing(c) && At(i + 1, j);
  } else if (c == '*') {
    matches = At(i + 1, j) || At(i, j + 1);
  } else if (c == kStarToLastDot) {
    // Any run up to the last dot, the dot itself included; past it only
    // when the run starts after it. A run that starts at or before the dot
    // takes one more character while it has not passed the dot, and stops
    // after taking the dot: one step per pair of positions, as for *.
    if (lastDot < nLength && j <= lastDot)
      matches = At(i + 1, j) || (j < lastDot ? At(i, j + 1) : At(i + 1, j + 1));
    else
      matches = At(i + 1, j) || At(i, j + 1);
  } else if (c == kOneOrNothing && n[j] == '.') {
    // At a dot the run of ? ends, each ? matching nothing; the last ? of
    // the pattern takes the dot.
    if (i + 1 < eLength)
      matches = At(i + 1, j);
    else
      matches = j + 1 == nLength;
  } else {
    matches = compare(c, n[j]) && At(i + 1, j + 1);
  }
  answer = g_call << 1 | (matches ? 1 : 0);
  return matches;
}

}  // namespace

bool HasWildcard(const char* component) { return strpbrk(component, "*?<>\"") != nullptr; }

bool ReadPattern(const char* text, SearchPattern* pattern) {
  size_t length = strlen(text);
  if (length >= sizeof pattern->expression) return false;
  const bool noExtension = length > 0 && text[length - 1] == '.';
  while (length > 0 && (text[length - 1] == '.' || text[length - 1] == ' ')) --length;
  char* e = pattern->expression;
  for (size_t i = 0; i < length; ++i) {
    const char next = i + 1 < length ? text[i + 1] : '\0';
    if (text[i] == '?')
      e[i] = kOneOrNothing;
    else if (text[i] == '.' && (next == '*' || next == '?'))
      e[i] = kDotOrEnd;
    else
      e[i] = text[i];
  }
  if (noExtension && length > 0 && e[length - 1] == '*') e[length - 1] = kStarToLastDot;
  pattern->length = length;
  return true;
}

bool CharacterMatches(char p, char c) {
  return p == kOneOrNothing || p == c || (p == kDotOrEnd && c == '.');
}

bool MatchesPattern(const SearchPattern& pattern, const char* name) {
  return MatchesPatternWith(pattern, name, CharacterMatches);
}

bool MatchesPatternWith(const SearchPattern& pattern, const char* name,
                        bool (*compare)(char p, char c)) {
  if (strcmp(name, "..") == 0) name = ".";
  const size_t nLength = strlen(name);
  if (nLength >= kNameMax) return false;
  if (++g_call >> 31) {
    // The stamps ran out: forget every answer.
    memset(g_answers, 0, sizeof g_answers);
    g_call = 1;
  }
  const char* dot = strrchr(name, '.');
  Matcher m = {pattern.expression, pattern.length, name, nLength,
               dot ? (size_t)(dot - name) : nLength, compare};
  return m.At(0, 0);
}
