// The process boundary and the text stream over POSIX: standard
// descriptors and signals made to behave as on Windows, and the text mode of
// the Windows runtime (CR before every LF).
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include "platform/posix_internal.h"

int _setmode(int fd, int mode) {
  (void)mode;
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  return _O_BINARY;
}

int _fileno(FILE* stream) { return fileno(stream); }

void OsPrepareProcess(void) {
  for (int fd = 0; fd <= 2; ++fd) {
    if (g_posix.descriptor_flags(fd) != -1 || errno != EBADF) continue;
    // The lowest free number is taken: this one, as the ones below are open.
    int null = g_posix.open("/dev/null", O_RDWR, 0);
    if (null >= 0 && null != fd) {
      g_posix.dup2(null, fd);
      g_posix.close(null);
    }
  }
  g_posix.ignore_signal(SIGPIPE);
  // Nor does a file size limit end the process: the write fails
  // (ERROR_FILE_TOO_LARGE), as a write beyond what a volume takes does.
  g_posix.ignore_signal(SIGXFSZ);
}

namespace {

// Writes `count` bytes to the descriptor held in the cookie, each line feed
// preceded by a carriage return. Returns `count`, or 0 on failure.
ssize_t WriteTranslated(void* cookie, const char* data, size_t count) {
  int fd = (int)(intptr_t)cookie;
  char out[8192];
  size_t i = 0;
  while (i < count) {
    size_t n = 0;
    while (i < count && n + 2 <= sizeof out) {
      if (data[i] == '\n') out[n++] = '\r';
      out[n++] = data[i++];
    }
    for (size_t done = 0; done < n;) {
      ssize_t w = g_posix.write(fd, out + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return 0;
      done += (size_t)w;
    }
  }
  return (ssize_t)count;
}

}  // namespace

FILE* OsOpenTextStream(FILE* stream) {
  int fd = fileno(stream);
  if (fd < 0) return nullptr;
  fflush(stream);
  cookie_io_functions_t io = {nullptr, WriteTranslated, nullptr, nullptr};
  FILE* text = fopencookie((void*)(intptr_t)fd, "w", io);
  if (text) setvbuf(text, nullptr, _IOLBF, BUFSIZ);
  return text;
}
