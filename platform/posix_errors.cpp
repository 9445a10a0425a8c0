// Win32 error numbers over POSIX: errno mapped once, through one table, by
// the call that fails (see Fail), and the thread's last-error code, which
// holds the mapped number.
#include <errno.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/posix_internal.h"

namespace {

// The code as the failing call stored it, already mapped.
thread_local DWORD t_lastError = ERROR_SUCCESS;

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

// True when `path` has a folder part (not a name at the root, nor a name
// without a folder) and that folder is missing: a stat of it tells.
bool FolderMissing(const char* path) {
  const char* last = posix_layer::LastComponent(path);
  if (last <= path + 1) return false;
  char parent[4096];
  const size_t n = (size_t)(last - path - 1);
  if (n >= sizeof parent) return false;
  memcpy(parent, path, n);
  parent[n] = '\0';
  struct stat st;
  return g_posix.stat(parent, &st) != 0;
}

// The code of ENOENT for `path`, a folder on its way missing or not: the
// empty path names nothing at all, and a missing folder is
// ERROR_PATH_NOT_FOUND, as on Windows.
DWORD MissingCode(const char* path, bool folderMissing) {
  if (*path == '\0') return ERROR_PATH_NOT_FOUND;
  const char* last = posix_layer::LastComponent(path);
  return last > path + 1 && folderMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
}

}  // namespace

namespace posix_layer {

BOOL Fail(int err, const char* path) {
  SetLastError(MapErrno(err, path));
  return FALSE;
}

BOOL FailCreating(int err, const char* path) {
  SetLastError(err == ENOENT ? MissingCode(path, true) : MapErrno(err, path));
  return FALSE;
}

HANDLE HandleOf(int fd) { return (HANDLE)(intptr_t)(fd + 1); }
int FdOf(HANDLE h) {
  intptr_t v = (intptr_t)h;
  return v >= 1 && v <= INT32_MAX ? (int)(v - 1) : -1;
}

int FdOfOrFail(HANDLE h) {
  const int fd = FdOf(h);
  if (fd < 0) SetLastError(ERROR_INVALID_HANDLE);
  return fd;
}

const char* LastComponent(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace posix_layer

unsigned MapErrno(int err, const char* path) {
  if (err == ENOENT && path) return MissingCode(path, *path != '\0' && FolderMissing(path));
  for (const auto& row : kErrnoTable)
    if (row.err == err) return row.code;
  return ERROR_GEN_FAILURE;
}

DWORD GetLastError(void) { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }
