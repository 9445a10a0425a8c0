// Win32 error numbers over POSIX: errno mapped once, here, through one
// table, and the thread's last-error code.
#include <errno.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/posix_internal.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
// A missing path is ERROR_FILE_NOT_FOUND or, when a folder on the way is
// missing, ERROR_PATH_NOT_FOUND. Telling them apart costs a stat of the
// parent, which is paid only when the code is asked for: a presence test of
// a new file stays one lstat.
thread_local bool t_missingPending = false;
thread_local char t_missingPath[4096];

// errno to Win32 error number, one row per code. Anything not listed maps to
// ERROR_GEN_FAILURE.
const struct {
  int err;
  DWORD code;
} kErrnoTable[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},     {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},      {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},      {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},  {EROFS, ERROR_WRITE_PROTECT},
    {EBUSY, ERROR_SHARING_VIOLATION},   {ETXTBSY, ERROR_SHARING_VIOLATION},
    {ENOSPC, ERROR_DISK_FULL},          {EEXIST, ERROR_ALREADY_EXISTS},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EFBIG, ERROR_FILE_TOO_LARGE},      {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EINVAL, ERROR_INVALID_PARAMETER},  {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EIO, ERROR_IO_DEVICE},             {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
};

}  // namespace

namespace posix_layer {

BOOL Fail(int err, const char* path) {
  if (err == ENOENT && path && strlen(path) < sizeof t_missingPath) {
    strcpy(t_missingPath, path);
    t_missingPending = true;
    t_lastError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  SetLastError(MapErrno(err, path));
  return FALSE;
}

HANDLE HandleOf(int fd) { return (HANDLE)(intptr_t)(fd + 1); }
int FdOf(HANDLE h) {
  intptr_t v = (intptr_t)h;
  return v >= 1 && v <= INT32_MAX ? (int)(v - 1) : -1;
}

const char* LastComponent(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace posix_layer

unsigned MapErrno(int err, const char* path) {
  // An empty path names nothing at all, as on Windows.
  if (err == ENOENT && path && *path == '\0') return ERROR_PATH_NOT_FOUND;
  if (err == ENOENT && path) {
    // A missing directory on the way is ERROR_PATH_NOT_FOUND, as on Windows.
    const char* last = posix_layer::LastComponent(path);
    if (last > path + 1) {
      char parent[4096];
      size_t n = (size_t)(last - path - 1);
      if (n < sizeof parent) {
        memcpy(parent, path, n);
        parent[n] = '\0';
        struct stat st;
        if (g_posix.stat(parent, &st) != 0) return ERROR_PATH_NOT_FOUND;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  }
  for (const auto& row : kErrnoTable)
    if (row.err == err) return row.code;
  return ERROR_GEN_FAILURE;
}

DWORD GetLastError(void) {
  if (t_missingPending) {
    t_lastError = MapErrno(ENOENT, t_missingPath);
    t_missingPending = false;
  }
  return t_lastError;
}

void SetLastError(DWORD code) {
  t_lastError = code;
  t_missingPending = false;
}

