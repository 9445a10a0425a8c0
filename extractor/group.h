// Replacements committed in groups, so that one wait for the disk covers the
// staged copies of many entries.
//
// One at a time, a replacement costs a flush of its staged copy, a wait of a
// few hundred microseconds that dwarfs the rest of its work. Here a staged
// copy is written and the entry waits in a group; the group is committed in
// entry order (every staged copy flushed, then each entry's attributes,
// and rename, as one at a time) when it is full, when the next entry's
// target, or a folder on its way, is a file of the group, when anything on
// the next entry's road fails, and at the end of the stream. A failed road is taken
// again one at a time after the commit, so that a run prints and leaves
// exactly what the one-at-a-time order prints and leaves; a commit that ends
// the run removes what later entries of the group made.
#ifndef EXTRACTOR_GROUP_H
#define EXTRACTOR_GROUP_H

#include <stdio.h>

#include "extractor/install.h"
#include "platform/os.h"
#include "platform/win32.h"

// How large a group may grow. One entry means the one-at-a-time order.
struct GroupLimits {
  DWORD entries;           // entries, and so open staged copies
  unsigned long long bytes;  // content of the staged copies
  // Up to this many staged copies, each is flushed on its own; a larger
  // group flushes its volume whole where the volume holds little else.
  DWORD ownFlushes;
};
extern const GroupLimits kDefaultGroupLimits;

// One entry since the group's first replacement: a replacement waiting for
// its commit, or a new file already in place (removed if the run ends first).
struct GroupEntry {
  BOOL staged;
  Replacement r;       // for a new file, only r.target
  BYTE* owned;         // content held for the commit (a pipe), or null
  FileIdentity targetId;  // the old file at the target
  FileIdentity stagedId;  // the staged copy
};

struct PendingGroup {
  GroupLimits limits;
  GroupEntry* entries;
  DWORD count;
  DWORD staged;
  DWORD folders;  // waiting targets that are (links to) folders
  unsigned long long bytes;
};

// Returns false, with ERROR_NOT_ENOUGH_MEMORY, when the group's table cannot
// be allocated.
BOOL OpenGroup(PendingGroup* group, const GroupLimits& limits);
void CloseGroup(PendingGroup* group);

// Installs one entry as InstallEntry does, its commit possibly later. The
// group takes `owned` (the memory holding the content, or null) and frees it.
// Returns false when the run must end; the reason has been written to `log`.
BOOL InstallGrouped(PendingGroup* group, LPCSTR target, const Content& content, BYTE* owned,
                    FILE* log);

// Commits every waiting entry in order. Returns false when one fails: its
// line is written, and what later entries made is removed.
BOOL CommitGroup(PendingGroup* group, FILE* log);

#endif  // EXTRACTOR_GROUP_H
