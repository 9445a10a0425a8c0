// pack --plan: what `unpack -destdir PREFIX` would do here, now, with each
// entry of a package, told before anything is written.
#ifndef PACK_PLAN_H
#define PACK_PLAN_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

struct PlanEntry {
  std::string name;
  uint32_t size;
};

// Prints one line per entry, the folders to make (parents first, once
// each), the most free space the install needs at any moment, and a
// verdict. Makes the missing folders when `mkdirs`. Returns 0 when unpack
// would end with OK, 1 otherwise.
int RunPlan(const char* prefix, bool mkdirs, const std::vector<PlanEntry>& entries, FILE* out,
            FILE* err);

#endif  // PACK_PLAN_H
