#ifndef EXTRACTOR_UNPACK_H
#define EXTRACTOR_UNPACK_H

#include <stdio.h>

// Installs every file of the package read from `in`, under the prefix given
// with -destdir; diagnostics go to `log`. Returns the exit status, always 0:
// a caller tells success by the last line, "OK".
int RunUnpack(int argc, char** argv, FILE* in, FILE* log);

#endif  // EXTRACTOR_UNPACK_H
