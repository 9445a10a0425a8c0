// Paths as the Linux build takes them apart.
#ifndef PLATFORM_POSIX_PATHS_H
#define PLATFORM_POSIX_PATHS_H

#include <string>

// Returns the folder that holds the last component of `path`: all before
// its last "/", "/" for a name at the root, "." for a name without a
// folder; cannot fail. Separators are kept as they stand ("a//b" gives
// "a/").
std::string OsFolderOf(const std::string& path);

#endif  // PLATFORM_POSIX_PATHS_H
