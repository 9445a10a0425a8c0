#include "extractor/flush.h"

#include "platform/os.h"

void FlushStagedCopy(Replacement* r) {
  if (r->flushed) return;
  r->flushed = TRUE;
  r->flushError = FlushFileBuffers(r->file) ? ERROR_SUCCESS : GetLastError();
}

void FlushGroup(PendingGroup* group) {
  // A whole volume's flush is far cheaper than one file after the other.
  const bool large = group->staged > group->limits.ownFlushes;
  bool tried = false, whole = false;
  unsigned long long volume = 0;
  for (DWORD i = 0; i < group->count; ++i) {
    GroupEntry* e = &group->entries[i];
    if (!e->staged) continue;
    if (large && (!tried || e->stagedId.volume != volume)) {
      tried = true;
      volume = e->stagedId.volume;
      whole = OsFlushVolumeOf(e->r.file, group->bytes) != FALSE;
    }
    e->r.flushed = large && whole;
    e->r.flushError = ERROR_SUCCESS;
    if (!e->r.flushed && group->staged > 1) OsStartWriteback(e->r.file);
  }
  for (DWORD i = 0; i < group->count; ++i) {
    GroupEntry* e = &group->entries[i];
    if (e->staged) FlushStagedCopy(&e->r);
  }
}
