// Reading the package file over POSIX: OsReadFileAt, and OsCopyFileRange,
// which copies an entry's content from the package to its file.
#include <errno.h>
#include <unistd.h>

#include "platform/posix_internal.h"

using namespace posix_layer;

namespace {

// The file holds fewer bytes than were asked for: the package shrank.
BOOL FailUnreadable() {
  SetLastError(kContentUnreadable);
  return FALSE;
}

// The copy through memory, where the kernel will not copy between the two
// files (another file system, an old kernel): a bounded buffer at a time.
BOOL CopyThroughBuffer(int in, off_t offset, HANDLE to, size_t left) {
  static char buffer[1 << 18];
  while (left > 0) {
    ssize_t n = g_posix.pread(in, buffer, left < sizeof buffer ? left : sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno);
    if (n == 0) return FailUnreadable();
    if (!WriteFile(to, buffer, (DWORD)n, nullptr, nullptr)) return FALSE;
    offset += n;
    left -= (size_t)n;
  }
  return TRUE;
}

}  // namespace

BOOL OsReadFileAt(HANDLE file, unsigned long long offset, void* data, DWORD size) {
  const int fd = FdOfOrFail(file);
  if (fd < 0) return FALSE;
  for (DWORD done = 0; done < size;) {
    const ssize_t n = g_posix.pread(fd, (char*)data + done, size - done, (off_t)(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno);
    if (n == 0) return FailUnreadable();
    done += (DWORD)n;
  }
  return TRUE;
}

BOOL OsCopyFileRange(HANDLE from, unsigned long long offset, HANDLE to, DWORD size) {
  const int in = FdOfOrFail(from), out = FdOfOrFail(to);
  if (in < 0 || out < 0) return FALSE;
  off_t at = (off_t)offset;
  size_t left = size;
  while (left > 0) {
    ssize_t n = g_posix.copy_file_range(in, &at, out, nullptr, left, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
      return CopyThroughBuffer(in, at, to, left);
    if (n < 0) return Fail(errno);
    if (n == 0) return FailUnreadable();
    left -= (size_t)n;
  }
  return TRUE;
}
