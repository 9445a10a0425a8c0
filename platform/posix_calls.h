// The system calls under the POSIX side of the platform layer, gathered in one
// table so that a test can replace one of them (to fail it, or to record the
// order of calls) and put the original back. The programs never touch it.
#ifndef PLATFORM_POSIX_CALLS_H
#define PLATFORM_POSIX_CALLS_H

#include <dirent.h>
#include <stddef.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/utsname.h>

struct PosixCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, size_t count);
  int (*fsync)(int fd);
  int (*fstat)(int fd, struct stat* st);
  int (*ftruncate)(int fd, off_t length);
  int (*close)(int fd);
  int (*lstat)(const char* path, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*chmod)(const char* path, mode_t mode);
  int (*unlink)(const char* path);
  // Renames without replacing: fails with EEXIST when `to` exists.
  int (*rename_noreplace)(const char* from, const char* to);
  // Renames over an existing `to` in one step (rename(2)).
  int (*rename)(const char* from, const char* to);
  int (*statvfs)(const char* path, struct statvfs* st);
  DIR* (*opendir)(const char* path);
  struct dirent* (*readdir)(DIR* dir);
  int (*closedir)(DIR* dir);
  void* (*malloc)(size_t bytes);
  void (*free)(void* block);
  ssize_t (*copy_file_range)(int in, off_t* inOffset, int out, off_t* outOffset, size_t count,
                             unsigned flags);
  ssize_t (*pread)(int fd, void* data, size_t count, off_t offset);
  int (*syncfs)(int fd);
  // The process boundary and the kernel's version.
  int (*descriptor_flags)(int fd);  // fcntl(fd, F_GETFD)
  int (*dup2)(int from, int to);
  int (*uname)(struct utsname* name);
  int (*ignore_signal)(int signal);  // its disposition set to SIG_IGN
  // fcntl(fd, F_SETPIPE_SZ, bytes): fails for anything but a pipe.
  int (*pipe_size)(int fd, int bytes);
  // What pack calls besides (tool.h).
  ssize_t (*read)(int fd, void* data, size_t count);
  int (*mkdir)(const char* path, mode_t mode);
  // Whether the effective ids may use `path` as `mode` asks (R_OK, W_OK,
  // X_OK): faccessat with AT_EACCESS. W_OK on a read-only volume fails
  // with EROFS.
  int (*access)(const char* path, int mode);
  uid_t (*geteuid)(void);
  // What the direct rewrite needs to put a name back, and a replacement to
  // carry an owner over.
  int (*lchown)(const char* path, uid_t owner, gid_t group);
  // readlinkat(fd, "", ...): the target of the link `fd` is open on
  // (O_PATH | O_NOFOLLOW).
  ssize_t (*readlink_fd)(int fd, char* target, size_t size);
  // Gives the file `fd` is open on the name `path` again (linkat through
  // /proc/self/fd): it needs another name still.
  int (*link_fd)(int fd, const char* path);
  int (*symlink)(const char* target, const char* path);
  // What pack's plan asks beyond stat: a file's flags (immutable, append
  // only) and whether a file system is mounted on it.
  int (*statx)(int dirfd, const char* path, int flags, unsigned mask, struct statx* st);
  // What a group's flush asks: sync_file_range(fd, 0, 0,
  // SYNC_FILE_RANGE_WRITE), which starts the writeback of a file's data
  // without waiting for it; and the bytes the whole system holds written
  // but not yet on disk (Dirty and Writeback of /proc/meminfo), or -1 when
  // that cannot be read.
  int (*start_writeback)(int fd);
  long long (*unwritten_bytes)(void);
};

// The table in use. Tests save a copy, change a member, and restore it.
extern PosixCalls g_posix;

#endif  // PLATFORM_POSIX_CALLS_H
