// The system calls under the POSIX side of the platform layer: the table
// that tests swap (posix_calls.h), filled with the real calls.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <dirent.h>

#include "platform/posix_calls.h"

namespace {

// open is variadic: the table holds a function with a fixed signature.
int OpenFile(const char* path, int flags, mode_t mode) { return open(path, flags, mode); }

int DescriptorFlags(int fd) { return fcntl(fd, F_GETFD); }

int IgnoreSignal(int number) { return signal(number, SIG_IGN) == SIG_ERR ? -1 : 0; }

int PipeSize(int fd, int bytes) { return fcntl(fd, F_SETPIPE_SZ, bytes); }

int EffectiveAccess(const char* path, int mode) { return faccessat(AT_FDCWD, path, mode, AT_EACCESS); }

ssize_t ReadLinkOf(int fd, char* target, size_t size) { return readlinkat(fd, "", target, size); }

int LinkAgain(int fd, const char* path) {
  char self[64];
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW);
}

int RenameNoReplace(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // The file system cannot rename without replacing: a hard link cannot
  // replace either, so link the new name and drop the old one.
  if (link(from, to) != 0) return -1;
  return unlink(from);
}

// Large blocks are aligned to the huge-page size and offered huge pages:
// filling a block of hundreds of megabytes then takes a few hundred page
// faults instead of a few hundred thousand. free() releases either kind.
void* AllocateBlock(size_t bytes) {
  const size_t kHugePage = 2u << 20;
  if (bytes < 2 * kHugePage) return malloc(bytes);
  void* block = nullptr;
  if (posix_memalign(&block, kHugePage, bytes) != 0) {
    errno = ENOMEM;
    return nullptr;
  }
  madvise(block, bytes & ~(size_t)4095, MADV_HUGEPAGE);
  return block;
}

int StartWriteback(int fd) { return sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

long long UnwrittenBytes() {
  const int fd = open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[8192];
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return -1;
  text[n] = '\0';
  long long total = 0;
  int found = 0;
  static const char* const kKeys[] = {"\nDirty:", "\nWriteback:"};
  for (const char* key : kKeys) {
    const char* at = strstr(text, key);
    long long kib = 0;
    if (at && sscanf(at + strlen(key), "%lld", &kib) == 1) total += kib << 10, ++found;
  }
  return found == 2 ? total : -1;
}

}  // namespace

// Each slot named, in the order of the declaration: several share a type,
// and a slot filled by position could take its neighbour's call unnoticed.
PosixCalls g_posix = {
    .open = OpenFile,
    .write = write,
    .fsync = fsync,
    .fstat = fstat,
    .ftruncate = ftruncate,
    .close = close,
    .lstat = lstat,
    .stat = stat,
    .chmod = chmod,
    .unlink = unlink,
    .rename_noreplace = RenameNoReplace,
    .rename = rename,
    .statvfs = statvfs,
    .opendir = opendir,
    .readdir = readdir,
    .closedir = closedir,
    .malloc = AllocateBlock,
    .free = free,
    .copy_file_range = copy_file_range,
    .pread = pread,
    .syncfs = syncfs,
    .descriptor_flags = DescriptorFlags,
    .dup2 = dup2,
    .uname = uname,
    .ignore_signal = IgnoreSignal,
    .pipe_size = PipeSize,
    .read = read,
    .mkdir = mkdir,
    .access = EffectiveAccess,
    .geteuid = geteuid,
    .lchown = lchown,
    .readlink_fd = ReadLinkOf,
    .link_fd = LinkAgain,
    .symlink = symlink,
    .statx = statx,
    .start_writeback = StartWriteback,
    .unwritten_bytes = UnwrittenBytes,
};
