// pack --verify: whether what a package installs under a prefix is still
// there, unchanged.
#ifndef PACK_VERIFY_H
#define PACK_VERIFY_H

#include <stdio.h>

#include "pack/listing.h"

// Compares each entry of the package with the file at prefix + name, as the
// package streams by, and writes one line per entry, a note for each staged
// copy left beside a target, and a summary. Returns 0 when every entry is
// the same and no staged copy is left, 1 otherwise.
int VerifyPackage(const char* prefix, PackageIn* in, FILE* out, FILE* err);

#endif  // PACK_VERIFY_H
