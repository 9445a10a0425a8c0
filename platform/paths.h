// Paths as the build takes them apart.
#ifndef PLATFORM_PATHS_H
#define PLATFORM_PATHS_H

#include <string>

// Returns the folder that holds the last component of `path`: all before
// its last separator (kOsSeparators), the separator itself for a name at
// the root (and "C:\\" for one at the root of a drive on Windows), "."
// for a name without a folder; cannot fail. Separators are kept as they stand ("a//b" gives
// "a/").
std::string OsFolderOf(const std::string& path);

// The characters that separate folders in a path: "/" on Linux, "/\\" on
// Windows.
extern const char kOsSeparators[];
inline bool OsIsSeparator(char c) {
  for (const char* s = kOsSeparators; *s; ++s)
    if (*s == c) return true;
  return false;
}

// True where pack writes \ between folders in the names of a package unless
// asked otherwise (on Windows), false where it writes / (on Linux).
extern const bool kOsBackslashNames;

#endif  // PLATFORM_PATHS_H
