#include "platform/wildcard.h"

#include <string.h>

namespace {

// The pattern rewritten with Windows' own wildcards for the rules that depend
// on the name's dots: < is a * that stops at the name's last dot (it may take
// the dot itself), > is a ? that matches nothing at a dot or at the end, and
// " is a dot that also matches the end of the name.
const char kStarToLastDot = '<';
const char kOneOrNothing = '>';
const char kDotOrEnd = '"';

bool MatchesNothing(const char* expression) {
  while (*expression == '*' || *expression == kStarToLastDot || *expression == kOneOrNothing ||
         *expression == kDotOrEnd)
    ++expression;
  return *expression == '\0';
}

// Names are at most 255 bytes and patterns hold few wildcards, so trying
// each way a wildcard can match is quick enough.
bool Match(const char* e, const char* n) {
  for (;;) {
    if (*n == '\0') return MatchesNothing(e);
    if (*e == '*') {
      for (const char* p = n;; ++p) {
        if (Match(e + 1, p)) return true;
        if (*p == '\0') return false;
      }
    }
    if (*e == kStarToLastDot) {
      const char* lastDot = strrchr(n, '.');
      const char* limit = lastDot ? lastDot + 1 : n + strlen(n);
      for (const char* p = n; p <= limit; ++p)
        if (Match(e + 1, p)) return true;
      return false;
    }
    if (*e == kOneOrNothing && *n == '.') {
      // At a dot the run of ? ends; the last ? of the pattern takes the dot.
      while (*e == kOneOrNothing) ++e;
      if (*e == '\0') ++n;
      continue;
    }
    const bool matches = *e == kOneOrNothing || *e == *n || (*e == kDotOrEnd && *n == '.');
    if (!matches) return false;
    ++e;
    ++n;
  }
}

}  // namespace

bool HasWildcard(const char* component) { return strpbrk(component, "*?<>\"") != nullptr; }

bool MatchesPattern(const char* pattern, const char* name) {
  char expression[1024];
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
  expression[length] = '\0';
  return Match(expression, strcmp(name, "..") == 0 ? "." : name);
}
