// pack's calls over POSIX (tool.h), each through the table.
#include "platform/tool.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix_calls.h"
#include "platform/paths.h"

namespace {

void FactsOf(const struct stat& st, PathFacts* facts) {
  facts->mode = st.st_mode;
  facts->owner = st.st_uid;
  facts->size = (unsigned long long)st.st_size;
  facts->allocated = (unsigned long long)st.st_blocks * 512;
  facts->links = (unsigned long)st.st_nlink;
  facts->volume = (unsigned long long)st.st_dev;
  facts->index = (unsigned long long)st.st_ino;
}

}  // namespace

bool OsLookAtPath(const char* path, bool follow, PathFacts* facts) {
  struct stat st;
  if ((follow ? g_posix.stat : g_posix.lstat)(path, &st) != 0) return false;
  FactsOf(st, facts);
  return true;
}

bool OsLookAtFlags(const char* path, PathFlags* flags) {
  struct statx st;
  if (g_posix.statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &st) != 0) return false;
  flags->immutable = (st.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
  flags->appendOnly = (st.stx_attributes & STATX_ATTR_APPEND) != 0;
  if (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) {
    flags->mountPoint = (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return true;
  }
  struct stat folder;
  flags->mountPoint = g_posix.stat(OsFolderOf(path).c_str(), &folder) == 0 &&
                      makedev(st.stx_dev_major, st.stx_dev_minor) != folder.st_dev;
  return true;
}

bool OsLookAtFile(int fd, PathFacts* facts) {
  struct stat st;
  if (g_posix.fstat(fd, &st) != 0) return false;
  FactsOf(st, facts);
  return true;
}

bool OsListFolder(const char* path, std::vector<std::string>* names) {
  DIR* dir = g_posix.opendir(path);
  if (!dir) return false;
  for (;;) {
    errno = 0;
    const struct dirent* e = g_posix.readdir(dir);
    if (!e) break;
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names->push_back(e->d_name);
  }
  const int readError = errno;
  g_posix.closedir(dir);
  errno = readError;
  return readError == 0;
}

int OsOpenToRead(const char* path) { return g_posix.open(path, O_RDONLY | O_CLOEXEC, 0); }

int OsCreateToWrite(const char* path) {
  return g_posix.open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

long OsReadSome(int fd, void* data, size_t n) {
  for (;;) {
    const ssize_t got = g_posix.read(fd, data, n);
    if (got >= 0 || errno != EINTR) return (long)got;
  }
}

int OsDescriptorOf(FILE* stream) { return fileno(stream); }

bool OsWriteAll(int fd, const void* data, size_t n) {
  for (size_t done = 0; done < n;) {
    const ssize_t w = g_posix.write(fd, (const char*)data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    // A write that stores nothing would be asked again for ever: the
    // volume is full.
    if (w == 0) errno = ENOSPC;
    if (w <= 0) return false;
    done += (size_t)w;
  }
  return true;
}

bool OsFlushFile(int fd) { return g_posix.fsync(fd) == 0; }

bool OsCloseFile(int fd) { return g_posix.close(fd) == 0; }

bool OsRenameFile(const char* from, const char* to) { return g_posix.rename(from, to) == 0; }

bool OsRemoveFile(const char* path) { return g_posix.unlink(path) == 0; }

bool OsMakeFolder(const char* path) { return g_posix.mkdir(path, 0777) == 0; }

bool OsMayCreateIn(const char* folder) { return g_posix.access(folder, W_OK | X_OK) == 0; }

bool OsMayWrite(const char* path) { return g_posix.access(path, W_OK) == 0; }

bool OsMayRemove(const char* path) {
  const std::string folder = OsFolderOf(path);
  struct stat in, file;
  if (!OsMayCreateIn(folder.c_str()) || g_posix.stat(folder.c_str(), &in) != 0 ||
      g_posix.lstat(path, &file) != 0)
    return false;
  const uid_t self = g_posix.geteuid();
  if ((in.st_mode & S_ISVTX) && self != 0 && self != file.st_uid && self != in.st_uid) {
    errno = EPERM;
    return false;
  }
  return true;
}

bool OsLookAtVolume(const char* path, VolumeFacts* facts) {
  struct statvfs st;
  if (g_posix.statvfs(path, &st) != 0) return false;
  facts->readOnly = (st.f_flag & ST_RDONLY) != 0;
  facts->blockSize = st.f_frsize ? st.f_frsize : st.f_bsize;
  facts->nameMax = st.f_namemax;
  facts->free = (unsigned long long)st.f_bfree * st.f_frsize;
  facts->available = (unsigned long long)st.f_bavail * st.f_frsize;
  facts->inodes = (unsigned long long)st.f_files;
  facts->freeInodes = (unsigned long long)st.f_ffree;
  facts->noDevices = (st.f_flag & ST_NODEV) != 0;
  return true;
}

bool OsPrivileged() { return g_posix.geteuid() == 0; }

double OsMonotonicSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

void OsUseBinaryStandardStreams() {}
