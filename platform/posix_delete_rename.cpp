// Deleting and renaming over POSIX: DeleteFileA, MoveFileA and
// MoveFileExA as Windows has them, and the project's own OsRemoveLeftover,
// OsPutInPlace, OsRenewName and OsPutNameBack.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix_internal.h"

using namespace posix_layer;

BOOL OsRemoveLeftover(LPCSTR path) {
  // unlink(2) removes a name whatever the file's mode: a read-only leftover
  // keeps its mode, and so do its other names; a link goes itself.
  struct stat st;
  if (g_posix.lstat(path, &st) != 0) return Fail(errno, path);
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return g_posix.unlink(path) == 0 ? TRUE : Fail(errno, path);
}

BOOL DeleteFileA(LPCSTR path) {
  struct stat st;
  if (g_posix.lstat(path, &st) != 0) return Fail(errno, path);
  if (S_ISDIR(st.st_mode) || IsReadOnly(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return g_posix.unlink(path) == 0 ? TRUE : Fail(errno, path);
}

BOOL MoveFileA(LPCSTR from, LPCSTR to) {
  if (g_posix.rename_noreplace(from, to) == 0) return TRUE;
  const int err = errno;
  struct stat a, b;
  const bool fromThere = g_posix.lstat(from, &a) == 0;
  // A move onto itself succeeds, as on Windows.
  if (err == EEXIST && fromThere && g_posix.lstat(to, &b) == 0 && a.st_dev == b.st_dev &&
      a.st_ino == b.st_ino)
    return TRUE;
  // A missing source is not found; a source that is there names the folder
  // of the destination as the one missing.
  return Fail(err, err == ENOENT && !fromThere ? from : to);
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (!(flags & MOVEFILE_REPLACE_EXISTING)) return MoveFileA(from, to);
  // Windows replaces neither a folder nor a read-only file; rename(2) would
  // replace an empty folder with a folder, and any file.
  struct stat st;
  if (g_posix.lstat(to, &st) == 0 &&
      (S_ISDIR(st.st_mode) || IsReadOnly(st.st_mode))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (g_posix.rename(from, to) == 0) return TRUE;
  const int err = errno;
  return Fail(err, err == ENOENT && g_posix.lstat(from, &st) != 0 ? from : to);
}

BOOL OsPutInPlace(LPCSTR from, LPCSTR to) {
  // rename(2) replaces a file of any mode, and refuses a folder (EISDIR).
  if (g_posix.rename(from, to) == 0) return TRUE;
  const int err = errno;
  struct stat st;
  return Fail(err, err == ENOENT && g_posix.lstat(from, &st) != 0 ? from : to);
}

BOOL OsPutNameBack(LPCSTR path, HANDLE held) {
  const int fd = FdOf(held);
  struct stat st;
  if (fd < 0 || g_posix.fstat(fd, &st) != 0) return Fail(fd < 0 ? EBADF : errno);
  char target[4096];
  ssize_t length = 0;
  if (S_ISLNK(st.st_mode) && (length = g_posix.readlink_fd(fd, target, sizeof target - 1)) < 0)
    return Fail(errno);
  target[length] = '\0';
  if (g_posix.unlink(path) != 0 && errno != ENOENT) return Fail(errno, path);
  // A link is made again with its target; a file, which its other names
  // still hold, is given this name again.
  const int done = S_ISLNK(st.st_mode) ? g_posix.symlink(target, path) : g_posix.link_fd(fd, path);
  return done == 0 ? TRUE : Fail(errno, path);
}

HANDLE OsRenewName(LPCSTR path, HANDLE* held) {
  if (g_posix.unlink(path) != 0) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    OsPutNameBack(path, *held);
    SetLastError(error);
  }
  return file;
}
