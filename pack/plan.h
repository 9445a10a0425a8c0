// pack --plan: what `unpack -destdir PREFIX` would do here, now, with each
// entry of a package, told before anything is written.
#ifndef PACK_PLAN_H
#define PACK_PLAN_H

#include <stdio.h>

#include "pack/listing.h"

// Reads the package, then prints one line per entry, the folders to make
// (parents first, once each; with `mkdirs`, those made and those that could
// not be), the most free space the install needs at any moment, and a
// verdict. Returns 0 when unpack would end with OK (and every folder was
// made), 1 otherwise.
int PlanPackage(const char* prefix, bool mkdirs, PackageIn* in, FILE* out, FILE* err);

#endif  // PACK_PLAN_H
