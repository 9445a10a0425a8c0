// pack --plan: what `unpack -destdir PREFIX` would do here, now, with each
// entry of a package, told before anything is written.
#ifndef PACK_PLAN_H
#define PACK_PLAN_H

#include <stdio.h>

#include "pack/listing.h"

// Reads the package, then prints one line per entry (and one after it for
// the file its install removes at the name of its staged copy), the folders
// to make (parents first, once each; with `mkdirs`, those made and those
// that could not be), the most free space the install needs at any moment,
// the entries a later entry takes away, and a verdict. Returns 0 when
// unpack would end with OK, every folder was made and no entry is taken
// away; 1 otherwise, and when only trying can tell.
int PlanPackage(const char* prefix, bool mkdirs, PackageIn* in, FILE* out, FILE* err);

#endif  // PACK_PLAN_H
