// The Win32 types, constants and calls that the programs use, declared for
// builds that have no <windows.h>. Only the subset the programs call is here;
// each call keeps the Win32 contract and reports failure through its result
// and GetLastError(), with Win32 error numbers (see posix_errors.cpp for the table).
#ifndef PLATFORM_WIN32_POSIX_H
#define PLATFORM_WIN32_POSIX_H

#include <stddef.h>
#include <stdio.h>
#include <stdint.h>

typedef int BOOL;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef unsigned char BYTE;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef size_t SIZE_T;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;

typedef union _ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  unsigned long long QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_WRITE 0x2u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_WRITE_THROUGH 0x8u
#define LMEM_FIXED 0x0u

#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_DEVICE 0x40u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u

// Win32 error numbers that the POSIX calls can leave in the last-error code.
#define ERROR_SUCCESS 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_NOT_READY 21u
#define ERROR_CRC 23u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_EOF 38u
#define ERROR_HANDLE_DISK_FULL 39u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_FILE_TOO_LARGE 223u
#define ERROR_DIRECTORY 267u
#define ERROR_IO_DEVICE 1117u
#define ERROR_DISK_QUOTA_EXCEEDED 1295u
#define ERROR_CANT_RESOLVE_FILENAME 1921u

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  char cFileName[MAX_PATH];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

// Returns a search handle when an entry matches `path`, whose last component
// may hold the wildcards * ? < > " (matched by Windows' rules, see
// wildcard.h), else INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND, or
// ERROR_PATH_NOT_FOUND when the folder is missing, or ERROR_DIRECTORY when it
// is a file.
HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);

// Opens `path` for writing, and for reading too with GENERIC_READ
// (CREATE_ALWAYS: created or truncated; CREATE_NEW: must not exist;
// OPEN_EXISTING: must exist, and is not truncated). Returns
// INVALID_HANDLE_VALUE on failure. A file without
// owner write permission counts as read-only and is refused with
// ERROR_ACCESS_DENIED, as on Windows. Unlike Windows, a symbolic link in the
// last component is never followed (ERROR_CANT_RESOLVE_FILENAME), and a pipe
// or socket is refused (ERROR_ACCESS_DENIED). With OPEN_EXISTING and
// FILE_FLAG_OPEN_REPARSE_POINT, a link there is opened itself, as Windows
// opens a reparse point: a handle that tells what it is (OsGetHandleIdentity)
// and takes no write.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPVOID security, DWORD disposition,
                   DWORD flags, HANDLE templ);
// Writes all `count` bytes or fails (ERROR_DISK_FULL when the volume is full,
// ERROR_INVALID_HANDLE for a handle that is not open).
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPVOID overlapped);
// Brings the file's content to stable storage (fsync).
BOOL FlushFileBuffers(HANDLE file);
BOOL CloseHandle(HANDLE handle);

// The attribute word: FILE_ATTRIBUTE_DIRECTORY for a directory,
// FILE_ATTRIBUTE_ARCHIVE for a file, with FILE_ATTRIBUTE_READONLY when the
// owner may not write. Its upper bits also carry the permission bits, so that
// setting one file's word on another copies its mode (see posix_attributes.cpp); only
// read-only passes between a file and a directory. A symbolic link is not
// followed: its word is FILE_ATTRIBUTE_REPARSE_POINT with the directory or
// archive bit of what it points to, and setting a word on it changes nothing.
// A pipe, socket or device is FILE_ATTRIBUTE_DEVICE alone.
DWORD GetFileAttributesA(LPCSTR path);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
// Fails with ERROR_ACCESS_DENIED for a read-only file or a directory.
BOOL DeleteFileA(LPCSTR path);
// Fails with ERROR_ALREADY_EXISTS when `to` exists: never overwrites. A move
// of an entry onto itself succeeds.
BOOL MoveFileA(LPCSTR from, LPCSTR to);
// With MOVEFILE_REPLACE_EXISTING, puts `from` in the place of an existing file
// `to` in one step (rename): `to` names the old file or the new one, never
// nothing. As on Windows, a folder or a read-only file at `to` is not
// replaced (ERROR_ACCESS_DENIED). MOVEFILE_WRITE_THROUGH changes nothing on
// one volume. Without MOVEFILE_REPLACE_EXISTING, MoveFileA.
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
// A bare drive root (C:\, c:, D:/) or a lone \ stands for the root file
// system, a null path for the current folder's. The path must name a folder:
// a file gives ERROR_DIRECTORY, a missing path ERROR_PATH_NOT_FOUND.
BOOL GetDiskFreeSpaceExA(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree);

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL block);

DWORD GetLastError(void);
void SetLastError(DWORD code);

LPSTR lstrcpyA(LPSTR to, LPCSTR from);
LPSTR lstrcatA(LPSTR to, LPCSTR from);
int lstrcmpA(LPCSTR a, LPCSTR b);
int lstrcmpiA(LPCSTR a, LPCSTR b);

// The runtime's mode switch; POSIX streams never translate, so binary mode is
// what they already have.
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000
int _setmode(int fd, int mode);
int _fileno(FILE* stream);

#endif  // PLATFORM_WIN32_POSIX_H
