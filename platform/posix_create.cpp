// Creating and opening files over POSIX: CreateFileA.
//
// Paths are used verbatim: a backslash is an ordinary character, nothing is
// normalised.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/posix_internal.h"

using namespace posix_layer;

namespace {

// The symbolic link `path` itself, for a caller that asked to open a link as
// it stands: a handle that fstat describes, and no write goes through.
HANDLE OpenLinkItself(LPCSTR path) {
  const int fd = g_posix.open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  const int err = g_posix.fstat(fd, &st) != 0 ? errno : S_ISLNK(st.st_mode) ? 0 : ELOOP;
  if (err == 0) return HandleOf(fd);
  g_posix.close(fd);
  Fail(err, path);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPVOID security, DWORD disposition,
                   DWORD flags, HANDLE templ) {
  (void)share, (void)security, (void)templ;
  if (!(access & GENERIC_WRITE) ||
      (disposition != CREATE_ALWAYS && disposition != CREATE_NEW && disposition != OPEN_EXISTING)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const int mode = access & GENERIC_READ ? O_RDWR : O_WRONLY;
  struct stat st;
  if (disposition != OPEN_EXISTING) {
    // A new file costs one call. O_EXCL makes a new file or fails: it never
    // follows a symbolic link, dangling or not.
    int fd = g_posix.open(path, mode | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      SetLastError(ERROR_SUCCESS);
      return HandleOf(fd);
    }
    if (errno != EEXIST) {
      FailCreating(errno, path);
      return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW) {
      const bool folder = g_posix.lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
      SetLastError(folder ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
  }
  // An existing entry is opened as it stands, never through a link in the
  // last component (ELOOP) and never waiting for a pipe's reader, then
  // looked at through the descriptor, so that nothing can be swapped in
  // between the look and the truncation. Only a writable regular file is
  // truncated, and only for CREATE_ALWAYS; a device is written as it is; a
  // pipe or a socket is refused.
  int fd = g_posix.open(path, mode | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0 && errno == ELOOP && disposition == OPEN_EXISTING && (flags & FILE_FLAG_OPEN_REPARSE_POINT))
    return OpenLinkItself(path);
  if (fd < 0) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  int err = 0;
  if (g_posix.fstat(fd, &st) != 0)
    err = errno;
  else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || IsReadOnly(st.st_mode))
    err = EACCES;
  else if (S_ISREG(st.st_mode) && disposition == CREATE_ALWAYS && g_posix.ftruncate(fd, 0) != 0)
    err = errno;
  if (err) {
    g_posix.close(fd);
    Fail(err, path);
    return INVALID_HANDLE_VALUE;
  }
  // As on Windows, a file created over an existing one says so.
  SetLastError(disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return HandleOf(fd);
}
