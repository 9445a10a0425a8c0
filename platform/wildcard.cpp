#include "platform/wildcard.h"

#include <string.h>

#include "platform/platform.h"

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

// Whether the expression matches the name, by a table of which suffix of the
// one matches which suffix of the other: time and space grow with the product
// of their lengths, whatever the wildcards (trying each way a run of them
// can match would take exponential time on a name of a package's choosing).
bool Match(const char* e, size_t eLength, const char* n) {
  const size_t nLength = strlen(n);
  if (eLength >= MAX_PATH || nLength >= kNameMax) return false;
  // matches[i][j]: e from i matches n from j.
  static thread_local bool matches[MAX_PATH + 1][kNameMax + 1];
  const char* lastDot = strrchr(n, '.');
  for (size_t j = 0; j <= nLength; ++j) matches[eLength][j] = j == nLength;
  for (size_t i = eLength; i-- > 0;) {
    bool* row = matches[i];
    const bool* next = matches[i + 1];
    row[nLength] = CanMatchNothing(e[i]) && next[nLength];
    // For <: the nearest k >= j where `next` holds (nLength + 1 for none).
    size_t reachable = next[nLength] ? nLength : nLength + 1;
    for (size_t j = nLength; j-- > 0;) {
      if (next[j]) reachable = j;
      const char c = n[j];
      switch (e[i]) {
        case '*':
          row[j] = next[j] || row[j + 1];
          break;
        case kStarToLastDot: {
          const size_t limit = lastDot && (size_t)(lastDot - n) >= j ? (size_t)(lastDot - n) + 1 : nLength;
          row[j] = reachable <= limit;
          break;
        }
        case kOneOrNothing:
          if (c == '.') {
            // At a dot the run of ? ends; the last ? of the pattern takes the dot.
            size_t after = i;
            while (after < eLength && e[after] == kOneOrNothing) ++after;
            row[j] = after == eLength ? j + 1 == nLength : matches[after][j];
          } else {
            row[j] = next[j + 1];
          }
          break;
        case kDotOrEnd:
          row[j] = c == '.' && next[j + 1];
          break;
        default:
          row[j] = c == e[i] && next[j + 1];
      }
    }
  }
  return matches[0][0];
}

}  // namespace

bool HasWildcard(const char* component) { return strpbrk(component, "*?<>\"") != nullptr; }

bool MatchesPattern(const char* pattern, const char* name) {
  char expression[MAX_PATH];
  size_t length = strlen(pattern);
  if (length >= sizeof expression) return false;
  const bool noExtension = length > 0 && pattern[length - 1] == '.';
  while (length > 0 && (pattern[length - 1] == '.' || pattern[length - 1] == ' ')) --length;
  for (size_t i = 0; i < length; ++i) {
    const char next = i + 1 < length ? pattern[i + 1] : '\0';
    if (pattern[i] == '?')
      expression[i] = kOneOrNothing;
    else if (pattern[i] == '.' && (next == '*' || next == '?'))
      expression[i] = kDotOrEnd;
    else
      expression[i] = pattern[i];
  }
  if (noExtension && length > 0 && expression[length - 1] == '*')
    expression[length - 1] = kStarToLastDot;
  return Match(expression, length, strcmp(name, "..") == 0 ? "." : name);
}
