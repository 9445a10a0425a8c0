// The Win32 calls the programs make, and nothing else: the first of the
// platform's two layers (os.h holds the second, the routines this project
// adds).
//
// On Windows they are KERNEL32's own, from <windows.h>, each call redirected
// through its slot of the call table (windows_calls.h). Elsewhere
// win32_posix.h declares the same names and the posix_*.cpp files provide
// them over POSIX, keeping the Win32 contract: results, last-error numbers
// and text-mode output are the same on both builds. Nothing outside this
// folder knows which one it runs on.
#ifndef PLATFORM_WIN32_H
#define PLATFORM_WIN32_H

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
#define FindNextFileA(...) g_win32.FindNextFileA(__VA_ARGS__)
#define CreateDirectoryA(...) g_win32.CreateDirectoryA(__VA_ARGS__)
#define GetTickCount64(...) g_win32.GetTickCount64(__VA_ARGS__)
#define GetVolumePathNameA(...) g_win32.GetVolumePathNameA(__VA_ARGS__)
#define GetVolumeInformationA(...) g_win32.GetVolumeInformationA(__VA_ARGS__)
#define GetDiskFreeSpaceA(...) g_win32.GetDiskFreeSpaceA(__VA_ARGS__)
#define GetFileInformationByHandleEx(...) g_win32.GetFileInformationByHandleEx(__VA_ARGS__)
#else
#include "platform/win32_posix.h"
#endif

#endif  // PLATFORM_WIN32_H
