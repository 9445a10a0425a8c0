// An in-memory file system behind the platform's system-call table, so that
// a fuzz target touches no disk: folders, regular files, symbolic links and
// FIFOs under one root, one volume of limited room, and one call failing on
// demand. Paths resolve as on Linux; relative ones start at the root, and
// ".." at the root stays there.
#ifndef TESTS_FUZZ_MEMFS_H
#define TESTS_FUZZ_MEMFS_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <string>

// The calls that can be made to fail.
enum MemCall {
  kMemOpen, kMemWrite, kMemFsync, kMemFstat, kMemFtruncate, kMemClose, kMemLstat,
  kMemStat, kMemChmod, kMemUnlink, kMemRename, kMemOpendir, kMemReaddir, kMemCalls
};

// Puts the in-memory calls into g_posix (malloc and free stay), and puts the
// table that was there before back.
void MemFsInstall();
void MemFsUninstall();

// Empties the tree down to its root: no descriptor open, no failure armed,
// room without limit. A privileged caller may open any file for writing,
// whatever its permission bits, as root may.
void MemFsReset(bool privileged);

// Makes an entry directly. `mode` holds its kind and permission bits; `data`
// is a file's content or a link's target, and any text on a FIFO means that
// a reader holds it open. Returns false, errno set, when it cannot be made.
bool MemFsMake(const char* path, mode_t mode, const char* data, size_t size);

// Leaves `bytes` of room free on the volume.
void MemFsSetFree(uint64_t bytes);

// Makes the `nth` call of `call` from now on (1 is the next) fail once with
// `err`; 0 disarms.
void MemFsFailNth(MemCall call, unsigned nth, int err);

// The content (or link target) of the entry at `path`, its kind and
// permission bits in *mode, looked at without making a call; null when there
// is no entry. `follow` follows a link in the last component.
const std::string* MemFsLook(const char* path, bool follow, mode_t* mode);

// Descriptors and folder streams open.
int MemFsOpenCount();

#endif  // TESTS_FUZZ_MEMFS_H
