// pack: writes package streams from files on disk, and checks them.
#ifndef PACK_PACK_H
#define PACK_PACK_H

#include <stdio.h>

// The main routine of pack. `in` is read by -t, the package or the listing
// goes to `out` (unless -o names a file), messages to `err`. Returns the exit
// status: 0 on success, 2 for a usage error, 1 for any other failure (and for
// a package that -t finds malformed, or an install --plan says would stop).
int RunPack(int argc, char** argv, FILE* in, FILE* out, FILE* err);

#endif  // PACK_PACK_H
