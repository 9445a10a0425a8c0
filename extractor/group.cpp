#include "extractor/group.h"

#include <string.h>

#include "extractor/flush.h"

// 512 staged copies stay well within the 1,024 descriptors a Linux process
// gets by default, and 64 MiB bounds what one flush waits for. Groups of 128
// and of 2,048 entries measured no better on 20,000 small files. Up to 64
// staged copies, flushing each costs a few milliseconds more than flushing
// the volume, and never waits for what other programs wrote (see
// docs/performance.md).
const GroupLimits kDefaultGroupLimits = {512, 64ull << 20, 64};

namespace {

void Release(GroupEntry* e) {
  if (e->owned) LocalFree(e->owned);
  e->owned = NULL;
}

// Removes what an entry that will not be committed made: its staged copy,
// or the new file that did not exist before the run.
void Undo(GroupEntry* e) {
  if (e->staged)
    DiscardFile(e->r.temp, e->r.file);
  else
    DiscardFile(e->r.target, INVALID_HANDLE_VALUE);
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}

// True when `id` is a file the group will delete or rename.
bool TouchesGroup(const PendingGroup* group, const FileIdentity& id) {
  for (DWORD i = 0; i < group->count; ++i) {
    const GroupEntry& e = group->entries[i];
    if (e.staged && (SameFile(id, e.targetId) || SameFile(id, e.stagedId))) return true;
  }
  return false;
}

// True when a folder on the way to `target` is a waiting target: a link to a
// folder that its replacement turns into a file. One at a time, the entry
// would meet that file. Both separators count: a needless commit changes no
// outcome.
bool PassesThroughGroup(const PendingGroup* group, LPCSTR target) {
  char folder[MAX_PATH];
  for (size_t i = 1; target[i]; ++i) {
    if (target[i] != '/' && target[i] != '\\') continue;
    memcpy(folder, target, i);
    folder[i] = '\0';
    FileIdentity id;
    if (OsGetFileIdentity(folder, &id) && id.folder && TouchesGroup(group, id)) return true;
  }
  return false;
}

// Installs the entry on its own, as one at a time, and frees `owned`.
BOOL InstallUngrouped(LPCSTR target, const Content& content, BYTE* owned, FILE* log) {
  const BOOL ok = InstallEntry(target, content, log);
  if (owned) LocalFree(owned);
  return ok;
}

// Something on the entry's road failed (and the attempt removed what it
// made): commits the entries before it, then installs it again on its own,
// so that its messages and its outcome are those of the one-at-a-time order.
BOOL CommitThenInstallUngrouped(PendingGroup* group, LPCSTR target, const Content& content,
                                BYTE* owned, FILE* log) {
  if (!CommitGroup(group, log)) {
    if (owned) LocalFree(owned);
    return FALSE;
  }
  return InstallUngrouped(target, content, owned, log);
}

}  // namespace

BOOL OpenGroup(PendingGroup* group, const GroupLimits& limits) {
  group->limits = limits;
  group->count = group->staged = group->folders = 0;
  group->bytes = 0;
  group->entries = NULL;
  if (limits.entries <= 1) return TRUE;
  group->entries = (GroupEntry*)LocalAlloc(LMEM_FIXED, limits.entries * sizeof(GroupEntry));
  return group->entries != NULL;
}

void CloseGroup(PendingGroup* group) {
  if (group->entries) LocalFree(group->entries);
  group->entries = NULL;
}

BOOL CommitGroup(PendingGroup* group, FILE* log) {
  // Every staged copy reaches stable storage before any old file goes; the
  // results are acted on in entry order.
  FlushGroup(group);
  BOOL ok = TRUE;
  for (DWORD i = 0; i < group->count; ++i) {
    GroupEntry* e = &group->entries[i];
    if (!ok)
      Undo(e);
    else if (e->staged)
      ok = FinishReplacement(&e->r, log);
    Release(e);
  }
  group->count = group->staged = group->folders = 0;
  group->bytes = 0;
  return ok;
}

BOOL InstallGrouped(PendingGroup* group, LPCSTR target, const Content& content, BYTE* owned,
                    FILE* log) {
  // Content still in the stream is written as it comes, and could not be
  // had again for a rewrite at the commit: such an entry waits alone.
  if (group->limits.entries <= 1) return InstallUngrouped(target, content, owned, log);
  if (content.stream) return CommitThenInstallUngrouped(group, target, content, owned, log);
  if ((group->count == group->limits.entries || group->bytes + content.size > group->limits.bytes) &&
      !CommitGroup(group, log)) {
    if (owned) LocalFree(owned);
    return FALSE;
  }
  if (group->folders > 0 && PassesThroughGroup(group, target))
    return CommitThenInstallUngrouped(group, target, content, owned, log);
  GroupEntry* e = &group->entries[group->count];
  e->owned = owned;
  if (!OsEntryPresent(target)) {
    if (TryWriteNew(target, content)) {
      // Kept only while replacements wait: it goes if one of them ends the run.
      Release(e);
      if (group->staged > 0) {
        e->staged = FALSE;
        lstrcpyA(e->r.target, target);
        ++group->count;
      }
      return TRUE;
    }
    if (GetLastError() != ERROR_FILE_EXISTS || !OsEntryPresent(target))
      return CommitThenInstallUngrouped(group, target, content, owned, log);
  }

  // A replacement waits behind the others only when its target is none of
  // their files, by whatever path; otherwise it goes alone after them, as
  // does one whose file cannot be told, or whose staged copy's name is taken
  // (TryStage fails): a leftover is removed, and could not be put back if the
  // run ended before the commit.
  FileIdentity id;
  if (!OsGetFileIdentity(target, &id) || TouchesGroup(group, id))
    return CommitThenInstallUngrouped(group, target, content, owned, log);
  e->targetId = id;
  if (!TryStage(target, content, &e->r))
    return CommitThenInstallUngrouped(group, target, content, owned, log);
  // A package file holds the content for a direct rewrite at the commit;
  // memory is kept only for a pipe.
  if (content.package != INVALID_HANDLE_VALUE) e->r.content.data = NULL;
  e->staged = TRUE;
  ++group->count;
  ++group->staged;
  if (id.folder) ++group->folders;
  group->bytes += content.size;
  e->stagedId = id;
  if (!OsGetHandleIdentity(e->r.file, &e->stagedId)) return CommitGroup(group, log);
  return TRUE;
}
