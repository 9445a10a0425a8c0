// The file calls over POSIX: creating, writing, flushing, attributes,
// deleting and renaming, copying from the package, file identity.
//
// Each call keeps the Win32 contract the programs rely on: results and Win32
// error numbers. Paths are used verbatim: a backslash is an ordinary
// character, nothing is normalised.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/posix_internal.h"

using namespace posix_layer;

namespace {

// The upper bits of the attribute word carry the permission bits: the marker
// says they are there, the twelve bits below it hold st_mode & 07777. Bits 28
// to 30 are never set in a word of ours.
const DWORD kModeMarker = 0x80000000u;
const int kModeShift = 16;
const DWORD kForeignBits = 0x70000000u;

}  // namespace

namespace {

// The symbolic link `path` itself, for a caller that asked to open a link as
// it stands: a handle that fstat describes, and no write goes through.
HANDLE OpenLinkItself(LPCSTR path) {
  const int fd = g_posix.open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  const int err = g_posix.fstat(fd, &st) != 0 ? errno : S_ISLNK(st.st_mode) ? 0 : ELOOP;
  if (err == 0) return HandleOf(fd);
  g_posix.close(fd);
  Fail(err, path);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPVOID security, DWORD disposition,
                   DWORD flags, HANDLE templ) {
  (void)share, (void)security, (void)templ;
  if (!(access & GENERIC_WRITE) ||
      (disposition != CREATE_ALWAYS && disposition != CREATE_NEW && disposition != OPEN_EXISTING)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const int mode = access & GENERIC_READ ? O_RDWR : O_WRONLY;
  struct stat st;
  if (disposition != OPEN_EXISTING) {
    // A new file costs one call. O_EXCL makes a new file or fails: it never
    // follows a symbolic link, dangling or not.
    int fd = g_posix.open(path, mode | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      SetLastError(ERROR_SUCCESS);
      return HandleOf(fd);
    }
    if (errno != EEXIST) {
      Fail(errno, path);
      return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW) {
      const bool folder = g_posix.lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
      SetLastError(folder ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
  }
  // An existing entry is opened as it stands, never through a link in the
  // last component (ELOOP) and never waiting for a pipe's reader, then
  // looked at through the descriptor, so that nothing can be swapped in
  // between the look and the truncation. Only a writable regular file is
  // truncated, and only for CREATE_ALWAYS; a device is written as it is; a
  // pipe or a socket is refused.
  int fd = g_posix.open(path, mode | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0 && errno == ELOOP && disposition == OPEN_EXISTING && (flags & FILE_FLAG_OPEN_REPARSE_POINT))
    return OpenLinkItself(path);
  if (fd < 0) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  int err = 0;
  if (g_posix.fstat(fd, &st) != 0)
    err = errno;
  else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)))
    err = EACCES;
  else if (S_ISREG(st.st_mode) && disposition == CREATE_ALWAYS && g_posix.ftruncate(fd, 0) != 0)
    err = errno;
  if (err) {
    g_posix.close(fd);
    Fail(err, path);
    return INVALID_HANDLE_VALUE;
  }
  // As on Windows, a file created over an existing one says so.
  SetLastError(disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return HandleOf(fd);
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPVOID overlapped) {
  (void)overlapped;
  if (written) *written = 0;
  int fd = FdOf(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
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

BOOL FlushFileBuffers(HANDLE file) {
  int fd = FdOf(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return g_posix.fsync(fd) == 0 ? TRUE : Fail(errno);
}

BOOL CloseHandle(HANDLE handle) {
  int fd = FdOf(handle);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return g_posix.close(fd) == 0 ? TRUE : Fail(errno);
}

DWORD GetFileAttributesA(LPCSTR path) {
  // As on Windows, a symbolic link is described, not followed.
  struct stat st;
  if (g_posix.lstat(path, &st) != 0) {
    Fail(errno, path);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISLNK(st.st_mode)) {
    const bool toFolder = g_posix.stat(path, &st) == 0 && S_ISDIR(st.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT | (toFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DEVICE;
  // A file is reported with the archive bit, as Windows reports a file that
  // no one has backed up; Linux has no place to keep it cleared.
  DWORD word = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(st.st_mode & S_IWUSR)) word |= FILE_ATTRIBUTE_READONLY;
  return word | kModeMarker | (DWORD)(st.st_mode & 07777) << kModeShift;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (attributes & kForeignBits) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat st;
  if (g_posix.lstat(path, &st) != 0) return Fail(errno, path);
  // A link has no mode of its own, and the file it points to is not the
  // one named: nothing changes.
  if (S_ISLNK(st.st_mode)) return TRUE;
  mode_t mode = st.st_mode & 07777;
  // A word read from an entry of the other kind carries no mode for this
  // one: Windows ignores the directory bit, so a directory's word set on a
  // file changes no more than read-only.
  const bool sameKind = !(attributes & FILE_ATTRIBUTE_DIRECTORY) == !S_ISDIR(st.st_mode);
  if ((attributes & kModeMarker) && sameKind) mode = (attributes >> kModeShift) & 07777;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    mode &= (mode_t)~0222;
  else
    mode |= S_IWUSR;
  if (mode == (st.st_mode & 07777)) return TRUE;
  return g_posix.chmod(path, mode) == 0 ? TRUE : Fail(errno, path);
}

BOOL RemoveLeftover(LPCSTR path) {
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
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
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
      (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (g_posix.rename(from, to) == 0) return TRUE;
  const int err = errno;
  return Fail(err, err == ENOENT && g_posix.lstat(from, &st) != 0 ? from : to);
}

BOOL ReadFileAt(HANDLE file, unsigned long long offset, void* data, DWORD size) {
  const int fd = FdOf(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  for (DWORD done = 0; done < size;) {
    const ssize_t n = g_posix.pread(fd, (char*)data + done, size - done, (off_t)(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno);
    if (n == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return FALSE;
    }
    done += (DWORD)n;
  }
  return TRUE;
}

BOOL CutFileAt(HANDLE file, unsigned long long length) {
  const int fd = FdOf(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return g_posix.ftruncate(fd, (off_t)length) == 0 ? TRUE : Fail(errno);
}

BOOL PutInPlace(LPCSTR from, LPCSTR to) {
  // rename(2) replaces a file of any mode, and refuses a folder (EISDIR).
  if (g_posix.rename(from, to) == 0) return TRUE;
  const int err = errno;
  struct stat st;
  return Fail(err, err == ENOENT && g_posix.lstat(from, &st) != 0 ? from : to);
}

void CarryOwner(LPCSTR from, LPCSTR to, DWORD* attributes) {
  struct stat old, now;
  if (!(*attributes & kModeMarker) || g_posix.lstat(from, &old) != 0) return;
  bool sameOwner = false, sameGroup = false;
  if (g_posix.lstat(to, &now) == 0) {
    // chown clears the set-id bits: it comes before the mode is set.
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        g_posix.lchown(to, old.st_uid, old.st_gid) == 0)
      now.st_uid = old.st_uid, now.st_gid = old.st_gid;
    sameOwner = now.st_uid == old.st_uid;
    sameGroup = now.st_gid == old.st_gid;
  }
  // An owner or a group the new file did not get is not one it runs as.
  if (!sameOwner) *attributes &= ~((DWORD)S_ISUID << kModeShift);
  if (!sameGroup) *attributes &= ~((DWORD)S_ISGID << kModeShift);
}

BOOL PutNameBack(LPCSTR path, HANDLE held) {
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

HANDLE RenewName(LPCSTR path, HANDLE* held) {
  if (g_posix.unlink(path) != 0) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    PutNameBack(path, *held);
    SetLastError(error);
  }
  return file;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  (void)flags;
  void* block = g_posix.malloc(bytes ? bytes : 1);
  if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL LocalFree(HLOCAL block) {
  g_posix.free(block);
  return nullptr;
}

LPSTR lstrcpyA(LPSTR to, LPCSTR from) { return strcpy(to, from); }
LPSTR lstrcatA(LPSTR to, LPCSTR from) { return strcat(to, from); }
int lstrcmpA(LPCSTR a, LPCSTR b) { return strcmp(a, b); }
int lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }

HANDLE FileUnderStream(FILE* stream, unsigned long long* size) {
  struct stat st;
  const int fd = stream ? fileno(stream) : -1;
  if (fd < 0 || g_posix.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return INVALID_HANDLE_VALUE;
  *size = (unsigned long long)st.st_size;
  return HandleOf(fd);
}

void EnlargePipeBuffer(FILE* stream) {
  const int fd = stream ? fileno(stream) : -1;
  if (fd >= 0) g_posix.pipe_size(fd, 1 << 20);
}

long long StreamTell(FILE* stream) { return (long long)ftello(stream); }

BOOL StreamSeek(FILE* stream, long long position) {
  return fseeko(stream, (off_t)position, SEEK_SET) == 0 ? TRUE : Fail(errno);
}

namespace {

// The package holds fewer bytes than were proven to be there: it shrank.
BOOL SourceEnded() {
  SetLastError(ERROR_HANDLE_EOF);
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
    if (n == 0) return SourceEnded();
    if (!WriteFile(to, buffer, (DWORD)n, nullptr, nullptr)) return FALSE;
    offset += n;
    left -= (size_t)n;
  }
  return TRUE;
}

}  // namespace

BOOL CopyFileRange(HANDLE from, unsigned long long offset, HANDLE to, DWORD size) {
  const int in = FdOf(from), out = FdOf(to);
  if (in < 0 || out < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  off_t at = (off_t)offset;
  size_t left = size;
  while (left > 0) {
    ssize_t n = g_posix.copy_file_range(in, &at, out, nullptr, left, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
      return CopyThroughBuffer(in, at, to, left);
    if (n < 0) return Fail(errno);
    if (n == 0) return SourceEnded();
    left -= (size_t)n;
  }
  return TRUE;
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

BOOL FlushVolumeOf(HANDLE file, unsigned long long own) {
  const long long kOthersAtMost = 16ll << 20;
  const int fd = FdOf(file);
  if (fd < 0 || !SyncfsReportsErrors()) return FALSE;
  const long long unwritten = g_posix.unwritten_bytes();
  if (unwritten < 0 || (unsigned long long)unwritten > own + kOthersAtMost) return FALSE;
  return g_posix.syncfs(fd) == 0;
}

void StartWriteback(HANDLE file) {
  const int fd = FdOf(file);
  if (fd >= 0) g_posix.start_writeback(fd);
}

namespace {

void IdentityOf(const struct stat& st, FileIdentity* id) {
  id->volume = (unsigned long long)st.st_dev;
  id->index = (unsigned long long)st.st_ino;
  id->links = (unsigned long)st.st_nlink;
  id->folder = S_ISDIR(st.st_mode);
  id->link = S_ISLNK(st.st_mode);
}

}  // namespace

BOOL GetFileIdentity(LPCSTR path, FileIdentity* id) {
  struct stat st;
  if (g_posix.stat(path, &st) != 0) return Fail(errno, path);
  IdentityOf(st, id);
  return TRUE;
}

BOOL GetHandleIdentity(HANDLE file, FileIdentity* id) {
  struct stat st;
  const int fd = FdOf(file);
  if (fd < 0 || g_posix.fstat(fd, &st) != 0) return Fail(fd < 0 ? EBADF : errno);
  IdentityOf(st, id);
  return TRUE;
}

