// The KERNEL32 calls of the Windows build, gathered in one table of named
// slots, so that a test build can put a wrapper in any slot (to fail its Nth
// call, or to count the calls) and put the original back. The programs never
// touch it: win32.h turns each call written with its Win32 name into a
// call through its slot, in every file of the Windows build.
#ifndef PLATFORM_WINDOWS_CALLS_H
#define PLATFORM_WINDOWS_CALLS_H

#include <windows.h>

// Every slot, once: the calls the programs and the platform layer make.
#define WINDOWS_CALL_SLOTS(SLOT)                                                             \
  SLOT(CreateFileA) SLOT(WriteFile) SLOT(ReadFile) SLOT(FlushFileBuffers) SLOT(CloseHandle)  \
  SLOT(SetFilePointerEx) SLOT(SetEndOfFile) SLOT(GetFileType) SLOT(GetFileSizeEx)            \
  SLOT(GetFileInformationByHandle) SLOT(FindFirstFileA) SLOT(FindClose)                      \
  SLOT(GetFileAttributesA) SLOT(SetFileAttributesA) SLOT(DeleteFileA) SLOT(MoveFileA)        \
  SLOT(MoveFileExA) SLOT(GetDiskFreeSpaceExA) SLOT(LocalAlloc) SLOT(LocalFree)               \
  SLOT(GetLastError) SLOT(SetLastError) SLOT(lstrcpyA) SLOT(lstrcatA) SLOT(lstrcmpA)         \
  SLOT(lstrcmpiA) SLOT(FindNextFileA) SLOT(CreateDirectoryA) SLOT(GetTickCount64)          \
  SLOT(GetVolumePathNameA) SLOT(GetVolumeInformationA) SLOT(GetDiskFreeSpaceA)            \
  SLOT(GetFileInformationByHandleEx)

// One member per slot, named and typed as the call it holds.
struct WindowsCalls {
#define WINDOWS_CALL_MEMBER(name) decltype(&::name) name;
  WINDOWS_CALL_SLOTS(WINDOWS_CALL_MEMBER)
#undef WINDOWS_CALL_MEMBER
};

// The table in use, filled with KERNEL32's own calls. Tests save a copy,
// change a member, and restore it.
extern WindowsCalls g_win32;

#endif  // PLATFORM_WINDOWS_CALLS_H
