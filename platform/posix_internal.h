// What the POSIX files of the platform layer share. Nothing outside this
// folder includes it.
#ifndef PLATFORM_POSIX_INTERNAL_H
#define PLATFORM_POSIX_INTERNAL_H

#include <sys/types.h>

#include "platform/os.h"
#include "platform/win32.h"
#include "platform/posix_calls.h"
#include "platform/posix_errors.h"

namespace posix_layer {

// Sets the last-error code for the errno value `err` (see MapErrno) and
// returns FALSE. A missing path's code is worked out only when asked for.
BOOL Fail(int err, const char* path = nullptr);

// File handles carry the descriptor plus one, so that descriptor 0 is not a
// null handle and none equals INVALID_HANDLE_VALUE. FdOf gives -1 for a
// handle that is none of ours.
HANDLE HandleOf(int fd);
int FdOf(HANDLE h);

// The last component of `path` (after its last "/").
const char* LastComponent(const char* path);

// True when a file or folder of mode `mode` is read-only as Windows means
// it: its owner may not write it (posix_read_only.cpp).
bool IsReadOnly(mode_t mode);
// `mode` made read-only, or no longer read-only.
mode_t WithReadOnly(mode_t mode, bool readOnly);

}  // namespace posix_layer

#endif  // PLATFORM_POSIX_INTERNAL_H
