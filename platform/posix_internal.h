// What the POSIX files of the platform layer share. Nothing outside this
// folder includes it.
#ifndef PLATFORM_POSIX_INTERNAL_H
#define PLATFORM_POSIX_INTERNAL_H

#include <sys/types.h>

#include "platform/os.h"
#include "platform/posix_calls.h"
#include "platform/posix_errors.h"
#include "platform/win32.h"

namespace posix_layer {

// Stores the last-error code of a failed call, `err` mapped through
// MapErrno, and returns FALSE. The failing call gives its errno value,
// saved before any other call could change it. With `path`, ENOENT costs a
// stat of the path's folder, to tell ERROR_PATH_NOT_FOUND from
// ERROR_FILE_NOT_FOUND; a presence test, which has no use for the code,
// gives no path, and ENOENT is then ERROR_FILE_NOT_FOUND.
BOOL Fail(int err, const char* path = nullptr);
// The same for a call that creates `path` (open with O_CREAT): its ENOENT
// can only mean a missing folder, which needs no stat to tell.
BOOL FailCreating(int err, const char* path);

// File handles carry the descriptor plus one, so that descriptor 0 is not a
// null handle and none equals INVALID_HANDLE_VALUE. FdOf gives -1 for a
// handle that is none of ours.
HANDLE HandleOf(int fd);
int FdOf(HANDLE h);
// FdOf for a call on `h`: -1, with the last error ERROR_INVALID_HANDLE, for
// a handle that is none of ours.
int FdOfOrFail(HANDLE h);

// The last component of `path` (after its last "/").
const char* LastComponent(const char* path);

// True when a file or folder of mode `mode` is read-only as Windows means
// it: its owner may not write it (posix_read_only.cpp).
bool IsReadOnly(mode_t mode);
// `mode` made read-only, or no longer read-only.
mode_t WithReadOnly(mode_t mode, bool readOnly);

}  // namespace posix_layer

#endif  // PLATFORM_POSIX_INTERNAL_H
