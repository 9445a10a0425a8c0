// The operating-system calls both programs make, under their Win32 names.
//
// On Windows they are KERNEL32's own. Elsewhere win32_posix.h declares the
// same names and the posix_*.cpp files provide them over POSIX, keeping the
// Win32 contract: results, last-error numbers and text-mode output are the
// same on both builds. Nothing outside this folder knows which one it runs on.
#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

#include <stdio.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// Older mingw-w64 headers lack it.
#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif
#else
#include "platform/win32_posix.h"
#endif

// True when something stands at `path` (a file, a folder, a link), or when
// its last component, read as a pattern, matches an entry: the presence test
// of Vellomar -find.
inline BOOL PathPresent(LPCSTR path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(search);
  return TRUE;
}

// True when something stands at `path`, its name taken as it is: the
// presence test of a package entry. On Windows that is PathPresent, as no
// file name holds a wildcard there; on Linux, where * ? < > " are ordinary
// characters of a name, no pattern is read. A name that ends in a separator
// names nothing, as on Windows.
BOOL EntryPresent(LPCSTR path);

// Makes the process boundary behave as on Windows, before anything else is
// opened: a standard descriptor (0, 1, 2) that is closed is opened on the
// null device, so that no file the program creates takes its number (and
// receives its output), and a write to a pipe whose reader has gone, or
// beyond the file size limit, fails with an error instead of ending the
// process. Nothing to do on Windows.
void PrepareProcess(void);

// Returns a stream that writes to `stream` in text mode: every line feed
// leaves the process preceded by a carriage return, as the Windows runtime
// does for standard output and standard error. On Windows that is `stream`
// itself; elsewhere a translating stream over its file descriptor (line
// buffered). Null when no stream can be made.
FILE* OpenTextStream(FILE* stream);

// The package as a file: when `stream` reads a regular file (not a pipe or a
// terminal), returns its handle and size; otherwise INVALID_HANDLE_VALUE.
HANDLE FileUnderStream(FILE* stream, unsigned long long* size);

// Asks for a larger buffer under a stream that reads a pipe, so that the
// program at the other end and this one take turns less often. Nothing
// happens for a file, or on Windows, where the writer sizes a pipe.
void EnlargePipeBuffer(FILE* stream);

// Reads `size` bytes of `file` (opened with GENERIC_READ) at `offset`.
// Fails with ERROR_HANDLE_EOF when the file is shorter.
BOOL ReadFileAt(HANDLE file, unsigned long long offset, void* data, DWORD size);

// The stream's position in its file, counting what it has buffered, and a
// move to an absolute position (the buffer is dropped). Both work beyond
// 2 GiB on 32-bit Windows too. Return -1 / FALSE on failure.
long long StreamTell(FILE* stream);
BOOL StreamSeek(FILE* stream, long long position);

// Writes `size` bytes of `from`, read at `offset`, to `to` at its position,
// without holding them in memory: the kernel copies them where it can, else a
// bounded buffer does. The position of `from` does not move. Fails like
// WriteFile; a source shorter than asked gives ERROR_HANDLE_EOF.
BOOL CopyFileRange(HANDLE from, unsigned long long offset, HANDLE to, DWORD size);

// Empties a file just opened for writing (nothing written yet), giving its
// room back to the volume.
BOOL TruncateFile(HANDLE file);

// Brings everything the volume that holds `file` has to stable storage, in
// one pass (sorted writes, one journal commit): far cheaper than flushing
// many files one after the other. Returns TRUE only when that is done and
// no write to the volume has failed since `file` was opened, so that every
// file written to it since then is as flushed as FlushFileBuffers would
// leave it. FALSE tells nothing about any one file: flush each to know.
// Windows offers it only to administrators: always FALSE there, and on
// Linux kernels before 5.8, whose syncfs does not report write errors.
BOOL FlushVolumeOf(HANDLE file);

// What makes a file itself, whatever path names it: two paths (through
// "..", "./", links, another letter case or a second hard link) that name the
// same file have the same identity.
struct FileIdentity {
  unsigned long long volume;
  unsigned long long index;
  unsigned long links;  // the names the file has
  BOOL folder;
};
// Of the file `path` names, following links. FALSE when nothing is there.
BOOL GetFileIdentity(LPCSTR path, FileIdentity* id);
// Of an open file.
BOOL GetHandleIdentity(HANDLE file, FileIdentity* id);

#endif  // PLATFORM_PLATFORM_H
