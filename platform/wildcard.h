// Search patterns as Windows reads them, for the POSIX FindFirstFileA.
#ifndef PLATFORM_WILDCARD_H
#define PLATFORM_WILDCARD_H

// True when a path component holds a wildcard: * and ?, or <, > and ",
// which Windows takes as wildcards too.
bool HasWildcard(const char* component);

// True when the directory entry `name` matches `pattern`, the last component
// of a search path, by Windows' rules: trailing dots and spaces of the
// pattern are dropped; * stands for any run of characters, dots included; ?
// for any one character, or for nothing at a dot or at the end of the name
// ("ab??" finds ab); a dot before * or ? also matches the end of the name
// ("readme.*" finds readme); a pattern that ended in a dot after a * finds
// only names without an extension ("*." finds readme, not readme.txt).
// Entry ".." matches as "." does. Case counts, as it does in Linux names.
bool MatchesPattern(const char* pattern, const char* name);

#endif  // PLATFORM_WILDCARD_H
