// Bringing files to stable storage over POSIX: FlushFileBuffers for one
// file, OsFlushVolumeOf for a whole volume, and OsStartWriteback, which
// starts the writes of a file that a flush will wait for.
#include <errno.h>
#include <stdio.h>
#include <sys/utsname.h>

#include "platform/posix_internal.h"

using namespace posix_layer;

BOOL FlushFileBuffers(HANDLE file) {
  const int fd = FdOfOrFail(file);
  if (fd < 0) return FALSE;
  return g_posix.fsync(fd) == 0 ? TRUE : Fail(errno);
}

namespace {

// syncfs reports the write errors of its file system since Linux 5.8.
bool SyncfsReportsErrors() {
  static const bool reports = [] {
    struct utsname u;
    int major = 0, minor = 0;
    return g_posix.uname(&u) == 0 && sscanf(u.release, "%d.%d", &major, &minor) == 2 &&
           (major > 5 || (major == 5 && minor >= 8));
  }();
  return reports;
}

}  // namespace

BOOL OsFlushVolumeOf(HANDLE file, unsigned long long own) {
  const long long kOthersAtMost = 16ll << 20;
  const int fd = FdOf(file);
  if (fd < 0 || !SyncfsReportsErrors()) return FALSE;
  const long long unwritten = g_posix.unwritten_bytes();
  if (unwritten < 0 || (unsigned long long)unwritten > own + kOthersAtMost) return FALSE;
  return g_posix.syncfs(fd) == 0;
}

void OsStartWriteback(HANDLE file) {
  const int fd = FdOf(file);
  if (fd >= 0) g_posix.start_writeback(fd);
}
