// Where staged copies are flushed: every staged copy reaches stable storage
// before it takes the place of an old file, one at a time or a group at once.
#ifndef EXTRACTOR_FLUSH_H
#define EXTRACTOR_FLUSH_H

#include "extractor/group.h"
#include "extractor/install.h"

// Flushes the staged copy of `r` unless that is done, and keeps the result
// in `r` (flushed, flushError); cannot fail otherwise.
void FlushStagedCopy(Replacement* r);

// Flushes every staged copy of the group, each result kept in its entry as
// FlushStagedCopy keeps it; cannot fail otherwise. A large group flushes
// each of its volumes whole where the volume holds little else unwritten;
// other copies have their writes started together, then are flushed each
// in turn, which waits for the group's own files alone.
void FlushGroup(PendingGroup* group);

#endif  // EXTRACTOR_FLUSH_H
