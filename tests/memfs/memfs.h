// An in-memory file system behind the platform's system-call table, so that
// a test or a fuzz target touches no disk: folders, regular files, symbolic
// links and FIFOs under one root, and one volume of limited room. Its calls
// are failed on demand as the system's are, through tests/seam.h. Paths
// resolve as on Linux; relative ones start at the root, and ".." at the root
// stays there.
#ifndef TESTS_MEMFS_MEMFS_H
#define TESTS_MEMFS_MEMFS_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>

// Puts the in-memory calls into g_posix (malloc and free stay), and puts the
// table that was there before back.
void MemFsInstall();
void MemFsUninstall();

// Empties the tree down to its root: no descriptor open, room without
// limit. A privileged caller may open any file for writing, whatever its
// permission bits, as root may.
void MemFsReset(bool privileged);

// Makes an entry directly. `mode` holds its kind and permission bits; `data`
// is a file's content or a link's target, and any text on a FIFO means that
// a reader holds it open. Returns false, errno set, when it cannot be made.
bool MemFsMake(const char* path, mode_t mode, const char* data, size_t size);

// Leaves `bytes` of room free on the volume.
void MemFsSetFree(uint64_t bytes);

// The content (or link target) of the entry at `path`, its kind and
// permission bits in *mode, looked at without making a call; null when there
// is no entry. `follow` follows a link in the last component.
const std::string* MemFsLook(const char* path, bool follow, mode_t* mode);

// Descriptors and folder streams open.
int MemFsOpenCount();

// Every entry of the tree, by its path from the root ("a/b"): a file's
// content, "<directory>" for a folder, "<symlink> " and its target.
std::map<std::string, std::string> MemFsFiles();

// The power-cut model. MemFsRecord keeps the tree as it stands and, from
// then on, a journal of the calls that change it. MemFsPowerCuts then puts
// in place, one after the other, every tree a power cut during the recorded
// calls may leave, and calls `visit` on each (the journal is no longer
// kept), once for each tree that differs from those before; it returns how
// many there were. What a cut before call k leaves:
// - the changes to the namespace (create, delete, rename, modes) reached the
//   disk in order, up to any call from the last completed flush to k;
// - a file holds what it held at its last completed flush, of the file or
//   of the volume;
// - a file not flushed since it was written holds, of each block, what was
//   written or what it held before (zeros where it grew: a volume may take
//   the room and lose the data), at the length before or after, in five
//   samples: nothing written; the first half written over what was there;
//   all written; the new length with nothing written; the new length with
//   the first half written;
// - a file that stood before the run holds its content until it is written.
void MemFsRecord();
size_t MemFsPowerCuts(const std::function<void()>& visit);

#endif  // TESTS_MEMFS_MEMFS_H
