// Writing a package of the files the PATHs name.
#ifndef PACK_WRITER_H
#define PACK_WRITER_H

#include <stdio.h>

#include "pack/options.h"

// Finds and checks every file, then writes the package: to standard output
// (`out`), or to the file -o names; `in` serves -T -. Returns the exit
// status.
int PackFiles(const Options& o, FILE* in, FILE* out, FILE* err);

#endif  // PACK_WRITER_H
