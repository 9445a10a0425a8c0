// Writing and closing files over POSIX: WriteFile, CloseHandle, and
// OsCutFileAt, which ends a file after the bytes written over it.
#include <errno.h>
#include <unistd.h>

#include "platform/posix_internal.h"

using namespace posix_layer;

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPVOID overlapped) {
  (void)overlapped;
  if (written) *written = 0;
  const int fd = FdOfOrFail(file);
  if (fd < 0) return FALSE;
  const char* p = (const char*)data;
  size_t left = count;
  do {
    ssize_t n = g_posix.write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno);
    if (n == 0 && left > 0) return Fail(ENOSPC);
    p += n;
    left -= (size_t)n;
    if (written) *written += (DWORD)n;
  } while (left > 0);
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  const int fd = FdOfOrFail(handle);
  if (fd < 0) return FALSE;
  return g_posix.close(fd) == 0 ? TRUE : Fail(errno);
}

BOOL OsCutFileAt(HANDLE file, unsigned long long length) {
  const int fd = FdOfOrFail(file);
  if (fd < 0) return FALSE;
  return g_posix.ftruncate(fd, (off_t)length) == 0 ? TRUE : Fail(errno);
}
