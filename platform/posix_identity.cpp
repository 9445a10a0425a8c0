// File identity over POSIX: OsGetFileIdentity and OsGetHandleIdentity.
#include <errno.h>
#include <sys/stat.h>

#include "platform/posix_internal.h"

using namespace posix_layer;

namespace {

void IdentityOf(const struct stat& st, FileIdentity* id) {
  id->volume = (unsigned long long)st.st_dev;
  id->index = (unsigned long long)st.st_ino;
  id->links = (unsigned long)st.st_nlink;
  id->folder = S_ISDIR(st.st_mode);
  id->link = S_ISLNK(st.st_mode);
}

}  // namespace

BOOL OsGetFileIdentity(LPCSTR path, FileIdentity* id) {
  struct stat st;
  if (g_posix.stat(path, &st) != 0) return Fail(errno, path);
  IdentityOf(st, id);
  return TRUE;
}

BOOL OsGetHandleIdentity(HANDLE file, FileIdentity* id) {
  struct stat st;
  const int fd = FdOf(file);
  if (fd < 0 || g_posix.fstat(fd, &st) != 0) return Fail(fd < 0 ? EBADF : errno);
  IdentityOf(st, id);
  return TRUE;
}
