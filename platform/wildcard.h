// Search patterns as Windows reads them, for the POSIX FindFirstFileA.
#ifndef PLATFORM_WILDCARD_H
#define PLATFORM_WILDCARD_H

#include <stddef.h>

// True when a path component holds a wildcard: * and ?, or <, > and ",
// which Windows takes as wildcards too.
bool HasWildcard(const char* component);

// A search pattern, the last component of a search path, rewritten for
// matching by Windows' rules: trailing dots and spaces are dropped; * stands
// for any run of characters, dots included; ? for any one character, or for
// nothing at a dot or at the end of the name ("ab??" finds ab); a dot before
// * or ? also matches the end of the name ("readme.*" finds readme); a
// pattern that ended in a dot after a * finds only names without an
// extension ("*." finds readme, not readme.txt). Entry ".." matches as "."
// does. Case counts, as it does in Linux names.
struct SearchPattern {
  char expression[260];
  size_t length;
};

// Rewrites `text`; false when it is too long to be a Windows pattern.
bool ReadPattern(const char* text, SearchPattern* pattern);

// True when the directory entry `name` matches the pattern, in time that
// grows with the product of their lengths at most.
bool MatchesPattern(const SearchPattern& pattern, const char* name);

// True when the pattern character `p`, as ReadPattern writes it, matches
// the name character `c` where it stands for exactly one character.
bool CharacterMatches(char p, char c);

// MatchesPattern, each comparison of a pattern character with a name
// character made by `compare`: CharacterMatches, or a wrapper around it
// that counts the comparisons (each pair of positions is compared once at
// most, so that the count bounds the work).
bool MatchesPatternWith(const SearchPattern& pattern, const char* name,
                        bool (*compare)(char p, char c));

#endif  // PLATFORM_WILDCARD_H
