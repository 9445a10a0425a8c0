// The operating-system calls both programs make, under their Win32 names.
//
// On Windows they are KERNEL32's own. Elsewhere win32_posix.h declares the
// same names and posix.cpp provides them over POSIX, keeping the Win32
// contract: results, last-error numbers and text-mode output are the same on
// both builds. Nothing outside this folder knows which one it runs on.
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

#endif  // PLATFORM_PLATFORM_H
