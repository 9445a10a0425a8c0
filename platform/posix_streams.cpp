// The package's stream over POSIX: the file under it, the buffer of the
// pipe under it, and its position.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include "platform/posix_internal.h"

using namespace posix_layer;

HANDLE OsFileUnderStream(FILE* stream, unsigned long long* size) {
  struct stat st;
  const int fd = stream ? fileno(stream) : -1;
  if (fd < 0 || g_posix.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return INVALID_HANDLE_VALUE;
  *size = (unsigned long long)st.st_size;
  return HandleOf(fd);
}

void OsEnlargePipeBuffer(FILE* stream) {
  const int fd = stream ? fileno(stream) : -1;
  if (fd >= 0) g_posix.pipe_size(fd, 1 << 20);
}

long long OsStreamTell(FILE* stream) { return (long long)ftello(stream); }

BOOL OsStreamSeek(FILE* stream, long long position) {
  return fseeko(stream, (off_t)position, SEEK_SET) == 0 ? TRUE : Fail(errno);
}
