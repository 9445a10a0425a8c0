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

#include "platform/windows_calls.h"
// Older mingw-w64 headers lack it.
#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif
// Every KERNEL32 call goes through its slot of g_win32, where a test build
// can fail it. Only a call is redirected (a name followed by "("), so the
// table's members and the system's declarations keep their plain names.
#define CreateFileA(...) g_win32.CreateFileA(__VA_ARGS__)
#define WriteFile(...) g_win32.WriteFile(__VA_ARGS__)
#define ReadFile(...) g_win32.ReadFile(__VA_ARGS__)
#define FlushFileBuffers(...) g_win32.FlushFileBuffers(__VA_ARGS__)
#define CloseHandle(...) g_win32.CloseHandle(__VA_ARGS__)
#define SetFilePointerEx(...) g_win32.SetFilePointerEx(__VA_ARGS__)
#define SetEndOfFile(...) g_win32.SetEndOfFile(__VA_ARGS__)
#define GetFileType(...) g_win32.GetFileType(__VA_ARGS__)
#define GetFileSizeEx(...) g_win32.GetFileSizeEx(__VA_ARGS__)
#define GetFileInformationByHandle(...) g_win32.GetFileInformationByHandle(__VA_ARGS__)
#define FindFirstFileA(...) g_win32.FindFirstFileA(__VA_ARGS__)
#define FindClose(...) g_win32.FindClose(__VA_ARGS__)
#define GetFileAttributesA(...) g_win32.GetFileAttributesA(__VA_ARGS__)
#define SetFileAttributesA(...) g_win32.SetFileAttributesA(__VA_ARGS__)
#define DeleteFileA(...) g_win32.DeleteFileA(__VA_ARGS__)
#define MoveFileA(...) g_win32.MoveFileA(__VA_ARGS__)
#define MoveFileExA(...) g_win32.MoveFileExA(__VA_ARGS__)
#define GetDiskFreeSpaceExA(...) g_win32.GetDiskFreeSpaceExA(__VA_ARGS__)
#define LocalAlloc(...) g_win32.LocalAlloc(__VA_ARGS__)
#define LocalFree(...) g_win32.LocalFree(__VA_ARGS__)
#define GetLastError(...) g_win32.GetLastError(__VA_ARGS__)
#define SetLastError(...) g_win32.SetLastError(__VA_ARGS__)
#define lstrcpyA(...) g_win32.lstrcpyA(__VA_ARGS__)
#define lstrcatA(...) g_win32.lstrcatA(__VA_ARGS__)
#define lstrcmpA(...) g_win32.lstrcmpA(__VA_ARGS__)
#define lstrcmpiA(...) g_win32.lstrcmpiA(__VA_ARGS__)
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
// characters of a name, no pattern is read. The empty name, and a name that
// ends in a separator, name nothing, as on Windows, on both builds whatever
// the layer underneath answers.
BOOL EntryPresent(LPCSTR path);

// Writes all `size` bytes of `data` to `file` at its position. A write that
// stores fewer bytes than asked is followed by another for the rest, so that
// only the volume's own failure ends it, with that failure's code (a write
// that stores nothing at all is a full volume, ERROR_DISK_FULL). Calls
// WriteFile at least once, so that an invalid handle fails even for no data.
inline BOOL WriteAll(HANDLE file, const void* data, DWORD size) {
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

// Removes the file `path` names, never what a link there points to: a link
// goes itself, and a read-only file loses read-only first (on Windows, as a
// handle opened on the name as it stands, never through a reparse point,
// tells). Fails as DeleteFileA does: a folder stays, ERROR_ACCESS_DENIED.
BOOL RemoveLeftover(LPCSTR path);

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

// Ends `file` (open for writing) after its first `length` bytes, giving the
// room beyond them back to the volume: after a write over an old file,
// the old file's tail goes.
BOOL CutFileAt(HANDLE file, unsigned long long length);

// Puts the staged copy `from` in the place of the existing file `to` in one
// step: the name holds the old file or the new one at every moment, never
// nothing. Windows replaces no read-only file: there `to` loses read-only
// first, and its other names with it. Linux's rename does not look at the
// mode, and the old file keeps it. Fails as MoveFileExA does
// (ERROR_ACCESS_DENIED for a folder at `to`).
BOOL PutInPlace(LPCSTR from, LPCSTR to);

// Gives `to` the owner and group of `from` where this process may (on Linux,
// as root), and takes out of `*attributes`, a word read from `from`, the
// setuid and setgid bits of an owner or a group that `to` did not get, so
// that no file runs as someone it does not belong to. Windows keeps no owner
// in the word: nothing changes there.
void CarryOwner(LPCSTR from, LPCSTR to, DWORD* attributes);

// Gives the name `path` a new empty file, returned open for writing, in the
// place of what `*held` is open on (with FILE_FLAG_OPEN_REPARSE_POINT): a
// link, or a file of several names, whose other names keep the old content.
// When the new file cannot be made, the name is put back (PutNameBack) and
// the call fails with the creation's error; `*held` stays open, for a later
// PutNameBack. Windows cannot give a removed name back to a file from its
// handle: there the name is never removed, `*held` is closed and set to
// INVALID_HANDLE_VALUE, and the call fails with ERROR_NOT_SUPPORTED.
HANDLE RenewName(LPCSTR path, HANDLE* held);

// Gives the name `path` back to what `held` is open on, as RenewName found
// it (the same file, or a link to the same place), in the place of what
// stands there now.
BOOL PutNameBack(LPCSTR path, HANDLE held);

// Brings everything the volume that holds `file` has to stable storage, in
// one pass (sorted writes, one journal commit): far cheaper than flushing
// many files one after the other, as long as the volume holds little that
// others wrote. `own` is what the caller wrote and means to flush: when the
// system holds more than 16 MiB beyond it not yet on disk (another
// program's work, which such a flush would wait for too), or cannot tell,
// nothing is done and the call fails. Returns TRUE only when the flush is
// done and no write to the volume has failed since `file` was opened, so
// that every file written to it since then is as flushed as
// FlushFileBuffers would leave it. FALSE tells nothing about any one file:
// flush each to know. Windows offers it only to administrators: always
// FALSE there, and on Linux kernels before 5.8, whose syncfs does not
// report write errors.
BOOL FlushVolumeOf(HANDLE file, unsigned long long own);

// Starts writing the data of `file` to the disk, without waiting for it:
// the writes of many files then go out together, and the FlushFileBuffers
// of each that follows waits for its own. Nothing to do on Windows; a
// failure changes nothing (the flush still writes what is left).
void StartWriteback(HANDLE file);

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
// Of the file `path` names, following links. FALSE when nothing is there.
BOOL GetFileIdentity(LPCSTR path, FileIdentity* id);
// Of an open file: of a link itself when it was opened with
// FILE_FLAG_OPEN_REPARSE_POINT.
BOOL GetHandleIdentity(HANDLE file, FileIdentity* id);

#endif  // PLATFORM_PLATFORM_H
