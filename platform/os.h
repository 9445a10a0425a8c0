// The routines this project adds to the Win32 calls (win32.h): the second of
// the platform's two layers, on both builds.
//
// Each name starts with "Os", a prefix that no KERNEL32 call has, so that a
// reader tells at a glance a call of ours from one of Windows, and a search
// for "Os" finds every one of them: OsCopyFileRange is ours, CopyFileA is
// Windows'. (Lower-case names with underscores were the other choice; they
// would read like the POSIX slots of posix_calls.h, g_posix.rename_noreplace
// and the like, which are not these.) Each reports failure as a Win32 call
// does, through its result and the last-error code, unless its comment says
// otherwise; the first sentence of each comment says what it returns on
// failure.
#ifndef PLATFORM_OS_H
#define PLATFORM_OS_H

#include <stdio.h>

#include "platform/win32.h"

// The last-error code of content that cannot be read: a package file
// shorter than its entries say, a stream that ends or fails inside an entry.
// It keeps the number of ERROR_HANDLE_EOF, which Windows gives for a read at
// the end of a file.
const DWORD kContentUnreadable = ERROR_HANDLE_EOF;

// Makes the process boundary behave as on Windows, before anything else is
// opened; cannot fail. A standard descriptor (0, 1, 2) that is closed is
// opened on the null device, so that no file the program creates takes its
// number (and receives its output), and a write to a pipe whose reader has
// gone, or beyond the file size limit, fails with an error instead of ending
// the process. Nothing to do on Windows.
void OsPrepareProcess(void);

// Returns a stream that writes to `stream` in text mode, or null when none
// can be made. Every line feed leaves the process preceded by a carriage
// return, as the Windows runtime does for standard output and standard
// error. On Windows that is `stream` itself; elsewhere a translating stream
// over its file descriptor (line buffered).
FILE* OsOpenTextStream(FILE* stream);

// Returns the handle and size of the regular file `stream` reads, or
// INVALID_HANDLE_VALUE when it reads a pipe or a terminal: the package as a
// file.
HANDLE OsFileUnderStream(FILE* stream, unsigned long long* size);

// Asks for a larger buffer under a stream that reads a pipe; a failure
// changes nothing. The program at the other end and this one then take
// turns less often. Nothing happens for a file, or on Windows, where the
// writer sizes a pipe.
void OsEnlargePipeBuffer(FILE* stream);

// Returns the stream's position in its file, counting what it has buffered,
// or -1 on failure. Works beyond 2 GiB on 32-bit Windows too.
long long OsStreamTell(FILE* stream);
// Moves the stream to an absolute position (its buffer is dropped); FALSE
// on failure. Works beyond 2 GiB on 32-bit Windows too.
BOOL OsStreamSeek(FILE* stream, long long position);

// True when something stands at `path` (a file, a folder, a link), or when
// its last component, read as a pattern, matches an entry; FALSE otherwise,
// and when it cannot be looked at: the presence test of Vellomar -find. On
// Linux a name without wildcards whose folder is missing leaves
// ERROR_FILE_NOT_FOUND, as a missing last component does: telling them
// apart would cost a look at the folder, and a presence test has no use for
// the code.
BOOL OsPathPresent(LPCSTR path);

// True when something stands at `path`, its name taken as it is; FALSE
// otherwise, and when it cannot be looked at (with the codes of
// OsPathPresent): the presence test of a package entry. On Windows that is
// OsPathPresent, as no file name holds a wildcard there; on Linux, where
// * ? < > " are ordinary characters of a name, no pattern is read. The empty
// name, and a name that ends in a separator, name nothing, as on Windows, on
// both builds whatever the layer underneath answers.
BOOL OsEntryPresent(LPCSTR path);

// Writes all `size` bytes of `data` to `file` at its position; FALSE with
// the volume's own failure, ERROR_DISK_FULL for a write that stores nothing.
// A write that stores fewer bytes than asked is followed by another for the
// rest. Calls WriteFile at least once, so that an invalid handle fails even
// for no data.
inline BOOL OsWriteAll(HANDLE file, const void* data, DWORD size) {
  const BYTE* from = (const BYTE*)data;
  DWORD left = size;
  do {
    DWORD written = 0;
    if (!WriteFile(file, from, left, &written, NULL)) return FALSE;
    if (written == 0 && left > 0) {
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    from += written;
    left -= written;
  } while (left > 0);
  return TRUE;
}

// Reads `size` bytes of `file` (opened with GENERIC_READ) at `offset`;
// FALSE as ReadFile fails, or with kContentUnreadable when the file is
// shorter.
BOOL OsReadFileAt(HANDLE file, unsigned long long offset, void* data, DWORD size);

// Writes `size` bytes of `from`, read at `offset`, to `to` at its position;
// FALSE as WriteFile fails, or with kContentUnreadable when the source is
// shorter than asked. The bytes are not held in memory: the kernel copies
// them where it can, else a bounded buffer does. The position of `from`
// does not move.
BOOL OsCopyFileRange(HANDLE from, unsigned long long offset, HANDLE to, DWORD size);

// Ends `file` (open for writing) after its first `length` bytes, giving the
// room beyond them back to the volume; FALSE as SetEndOfFile fails. After a
// write over an old file, the old file's tail goes.
BOOL OsCutFileAt(HANDLE file, unsigned long long length);

// Removes the file `path` names, never what a link there points to; FALSE
// as DeleteFileA fails (a folder stays, ERROR_ACCESS_DENIED). A link goes
// itself, and a read-only file loses read-only first (on Windows, as a
// handle opened on the name as it stands, never through a reparse point,
// tells).
BOOL OsRemoveLeftover(LPCSTR path);

// Puts the staged copy `from` in the place of the existing file `to` in one
// step; FALSE as MoveFileExA fails (ERROR_ACCESS_DENIED for a folder at
// `to`). The name holds the old file or the new one at every moment, never
// nothing. Windows replaces no read-only file: there `to` loses read-only
// first, and its other names with it. Linux's rename does not look at the
// mode, and the old file keeps it.
BOOL OsPutInPlace(LPCSTR from, LPCSTR to);

// Gives `to` the owner and group of `from` where this process may (on Linux,
// as root), and takes out of `*attributes`, a word read from `from`, the
// setuid and setgid bits of an owner or a group that `to` did not get;
// cannot fail (what cannot be given is not given). No file then runs as
// someone it does not belong to. Windows keeps no owner in the word: nothing
// changes there.
void OsCarryOwner(LPCSTR from, LPCSTR to, DWORD* attributes);

// Gives the name `path` a new empty file, returned open for writing, in the
// place of what `*held` is open on (with FILE_FLAG_OPEN_REPARSE_POINT);
// INVALID_HANDLE_VALUE with the creation's error when the new file cannot
// be made, the name then put back (OsPutNameBack). `*held` is a link, or a
// file of several names, whose other names keep the old content; it stays
// open, for a later OsPutNameBack. Windows cannot give a removed name back
// to a file from its handle: there the name is never removed, `*held` is
// closed and set to INVALID_HANDLE_VALUE, and the call fails with
// ERROR_NOT_SUPPORTED.
HANDLE OsRenewName(LPCSTR path, HANDLE* held);

// Gives the name `path` back to what `held` is open on, as OsRenewName found
// it (the same file, or a link to the same place), in the place of what
// stands there now; FALSE as the removal or the new name fails
// (ERROR_NOT_SUPPORTED on Windows).
BOOL OsPutNameBack(LPCSTR path, HANDLE held);

// Brings everything the volume that holds `file` has to stable storage, in
// one pass; FALSE when it was not done, or a write to the volume has failed
// since `file` was opened, and always on Windows. A pass sorts the writes
// and commits the journal once: far cheaper than flushing many files one
// after the other, as long as the volume holds little that others wrote.
// `own` is what the caller wrote and means to flush: when the system holds
// more than 16 MiB beyond it not yet on disk (another program's work, which
// such a flush would wait for too), or cannot tell, nothing is done. TRUE
// means that every file written to the volume since `file` was opened is as
// flushed as FlushFileBuffers would leave it. FALSE tells nothing about any
// one file: flush each to know. Windows offers it only to administrators;
// Linux kernels before 5.8, whose syncfs does not report write errors, get
// FALSE too.
BOOL OsFlushVolumeOf(HANDLE file, unsigned long long own);

// Starts writing the data of `file` to the disk, without waiting for it; a
// failure changes nothing (the flush still writes what is left). The writes
// of many files then go out together, and the FlushFileBuffers of each that
// follows waits for its own. Nothing to do on Windows.
void OsStartWriteback(HANDLE file);

// What makes a file itself, whatever path names it: two paths (through
// "..", "./", links, another letter case or a second hard link) that name the
// same file have the same identity.
struct FileIdentity {
  unsigned long long volume;
  unsigned long long index;
  unsigned long links;  // the names the file has
  BOOL folder;
  BOOL link;  // a link itself (a reparse point), opened as it stands
};
// Fills `id` for the file `path` names, following links; FALSE when nothing
// is there or it cannot be opened.
BOOL OsGetFileIdentity(LPCSTR path, FileIdentity* id);
// Fills `id` for an open file (for a link itself when it was opened with
// FILE_FLAG_OPEN_REPARSE_POINT); FALSE for a handle that is none.
BOOL OsGetHandleIdentity(HANDLE file, FileIdentity* id);

#endif  // PLATFORM_OS_H
