#ifndef EXTRACTOR_UNPACK_H
#define EXTRACTOR_UNPACK_H

#include <stdio.h>

struct GroupLimits;

// Installs every file of the package read from `in`, under the prefix given
// with -destdir; diagnostics go to `log`. Returns the exit status, always 0:
// a caller tells success by the last line, "OK". Replacements are committed
// in groups within `limits` (the defaults when null; one entry for the
// one-at-a-time order), which changes the run's speed, not its outcome.
int RunUnpack(int argc, char** argv, FILE* in, FILE* log, const GroupLimits* limits = nullptr);

#endif  // EXTRACTOR_UNPACK_H
