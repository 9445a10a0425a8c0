// The calls of pack, the tool that makes, checks and plans packages: POSIX
// in shape, each failure left in errno, and every one made through the
// system-call table of its build (posix_calls.h on Linux, windows_calls.h
// on Windows), so that the tests that swap the table reach pack as they
// reach unpack. posix_tool.cpp and windows_tool.cpp implement them. They
// are this project's own, named with the prefix Os as those of os.h are.
#ifndef PLATFORM_TOOL_H
#define PLATFORM_TOOL_H

#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
// The types of file that Windows' runtime leaves out, so that a PathFacts
// reads the same on both builds. A link is a reparse point looked at as it
// stands; nothing on Windows is a socket.
#ifndef S_IFLNK
#define S_IFLNK 0xA000
#endif
#ifndef S_IFSOCK
#define S_IFSOCK 0xC000
#endif
#define S_ISLNK(m) (((m) & S_IFMT) == S_IFLNK)
#define S_ISSOCK(m) (((m) & S_IFMT) == S_IFSOCK)
typedef unsigned int uid_t;
#endif

#include <string>
#include <vector>

// What stands at a path.
struct PathFacts {
  mode_t mode;  // its type and permission bits
  uid_t owner;
  unsigned long long size;
  unsigned long long allocated;  // the bytes its blocks take on the volume
  unsigned long links;           // its names: 1 but for a file given more with ln
  // Its identity: the same for every path that names the same file.
  unsigned long long volume;
  unsigned long long index;
};

// Looks at `path`, through a symbolic link in its last component when
// `follow`. False, with errno, when nothing can be seen there.
bool OsLookAtPath(const char* path, bool follow, PathFacts* facts);

// What forbids a change at a path whatever its permission bits, root's
// too, as statx tells it (a link in its last component is not followed).
struct PathFlags {
  bool immutable;   // chattr +i: neither written, renamed over nor removed
  bool appendOnly;  // chattr +a: a file written only at its end; a folder none of whose
                    // entries may be removed or renamed over
  bool mountPoint;  // a file system is mounted on it: it may not be replaced or removed
};
// False, with errno, when nothing can be seen there. A file system that
// does not report the flags has none set. A kernel older than 5.8 does not
// report mount points: `path` is then taken for one when it lies on another
// volume than its folder, and a file mounted from its own volume is missed.
bool OsLookAtFlags(const char* path, PathFlags* flags);
// Looks at an open file; false, with errno, when it cannot be looked at.
bool OsLookAtFile(int fd, PathFacts* facts);

// Adds the names in the folder `path` but "." and ".." to `names`, in the
// order the folder gives them. False, with errno, when it cannot be read.
bool OsListFolder(const char* path, std::vector<std::string>* names);

// A descriptor: a file descriptor on Linux, a handle on Windows, -1 for
// none. Those these calls open are closed with OsCloseFile.

// Open a file for reading, or create one (or empty an existing one) for
// writing. -1, with errno, on failure.
int OsOpenToRead(const char* path);
int OsCreateToWrite(const char* path);
// The descriptor under a stdio stream (standard input or output), which
// stays the stream's; -1, with errno, when it has none.
int OsDescriptorOf(FILE* stream);
// Reads up to `n` bytes (again when a signal interrupts): the number read,
// 0 at the end (on Windows also when the writer of a pipe has closed it),
// -1 with errno.
long OsReadSome(int fd, void* data, size_t n);
// Writes all `n` bytes, continuing a write that stores fewer; false, with
// errno, on failure (ENOSPC for a write that stores nothing).
bool OsWriteAll(int fd, const void* data, size_t n);
// Brings the file's content to stable storage (fsync); false, with errno,
// when it cannot.
bool OsFlushFile(int fd);
// Closes `fd`; false, with errno, when the close reports a failure.
bool OsCloseFile(int fd);

// Renames `from` to `to`, replacing a file that stands at `to`; false, with
// errno, on failure.
bool OsRenameFile(const char* from, const char* to);
// Removes the name `path` (unlink); false, with errno, on failure.
bool OsRemoveFile(const char* path);
// Makes the folder `path`; false, with errno, on failure.
bool OsMakeFolder(const char* path);

// What unpack will meet, asked before it runs. Each answers for this
// process's effective ids and false, with errno, for "no".

// This process may create and remove entries in `folder`: it may write and
// search there, on a volume mounted for writing (EROFS when it is not).
bool OsMayCreateIn(const char* folder);
// It may open the existing `path` for writing.
bool OsMayWrite(const char* path);
// It may remove `path`, or rename another file over it: it may create in
// the folder, and in a folder with the sticky bit (/tmp) it owns the file
// or the folder, or is root (EPERM otherwise).
bool OsMayRemove(const char* path);

// The volume that holds `path`, as OsLookAtVolume tells it.
struct VolumeFacts {
  bool readOnly;
  unsigned long blockSize;
  unsigned long nameMax;  // the longest name a folder entry may have
  unsigned long long free;       // every free byte, those kept for root too
  unsigned long long available;  // the free bytes a process without privilege may use
  unsigned long long inodes;     // the files it may hold in all; 0 when it sets no number
  unsigned long long freeInodes;
  bool noDevices;                // mounted nodev: no device on it may be opened
};
// Looks at the volume that holds `path`; false, with errno, when it cannot.
bool OsLookAtVolume(const char* path, VolumeFacts* facts);

// True when this process is root, false otherwise (always on Windows, where
// an administrator is still stopped by a file's rights); cannot fail. Root
// may use the bytes a volume keeps for root, and permission bits do not stop
// it.
bool OsPrivileged();

// Seconds on a clock that only goes forward; cannot fail.
double OsMonotonicSeconds();

// Puts standard input, output and error in binary mode, so that pack reads
// and writes the same bytes on both builds; cannot fail. Nothing to do on
// Linux.
void OsUseBinaryStandardStreams();

#endif  // PLATFORM_TOOL_H
