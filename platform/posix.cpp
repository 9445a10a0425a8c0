// The Win32 calls of win32_posix.h over POSIX.
//
// Each call keeps the Win32 contract the programs rely on, so that the same
// input leaves the same bytes on the output streams as on Windows: results,
// Win32 error numbers (mapped from errno once, here, through one table) and
// text-mode output. Paths are used verbatim: a backslash is an ordinary
// character, nothing is normalised.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix_calls.h"
#include "platform/wildcard.h"

namespace {

int OpenFile(const char* path, int flags, mode_t mode) { return open(path, flags, mode); }

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

}  // namespace

PosixCalls g_posix = {OpenFile, write,   fsync,   fstat,         ftruncate, close,
                      lstat,    stat,    chmod,   unlink,        RenameNoReplace, statvfs,
                      opendir,  readdir, closedir, AllocateBlock, free,
                      copy_file_range, pread, syncfs};

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
// A missing path is ERROR_FILE_NOT_FOUND or, when a folder on the way is
// missing, ERROR_PATH_NOT_FOUND. Telling them apart costs a stat of the
// parent, which is paid only when the code is asked for: a presence test of
// a new file stays one lstat.
thread_local bool t_missingPending = false;
thread_local char t_missingPath[4096];

// errno to Win32 error number, one row per code. Anything not listed maps to
// ERROR_GEN_FAILURE.
const struct {
  int err;
  DWORD code;
} kErrnoTable[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},     {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},      {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},      {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},  {EROFS, ERROR_WRITE_PROTECT},
    {EBUSY, ERROR_SHARING_VIOLATION},   {ETXTBSY, ERROR_SHARING_VIOLATION},
    {ENOSPC, ERROR_DISK_FULL},          {EEXIST, ERROR_ALREADY_EXISTS},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EFBIG, ERROR_FILE_TOO_LARGE},      {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EINVAL, ERROR_INVALID_PARAMETER},  {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EIO, ERROR_IO_DEVICE},             {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
};

BOOL Fail(int err, const char* path = nullptr) {
  if (err == ENOENT && path && strlen(path) < sizeof t_missingPath) {
    strcpy(t_missingPath, path);
    t_missingPending = true;
    t_lastError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  SetLastError(MapErrno(err, path));
  return FALSE;
}

// File handles carry the descriptor plus one, so that descriptor 0 is not a
// null handle and none equals INVALID_HANDLE_VALUE.
HANDLE HandleOf(int fd) { return (HANDLE)(intptr_t)(fd + 1); }
int FdOf(HANDLE h) {
  intptr_t v = (intptr_t)h;
  return v >= 1 && v <= INT32_MAX ? (int)(v - 1) : -1;
}

// Search handles hold no state (the programs never ask for a next match), so
// every successful search returns this one.
char g_searchHandle;

const char* LastComponent(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

HANDLE FoundEntry(LPWIN32_FIND_DATAA data, const char* name, mode_t mode) {
  if (data) {
    data->dwFileAttributes = S_ISDIR(mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    snprintf(data->cFileName, sizeof data->cFileName, "%s", name);
  }
  return (HANDLE)&g_searchHandle;
}

// Copies the folder of `path`, whose last component starts at `last`, into
// `dir` without its trailing separators ("/" stays, "" becomes "."). Fails
// with ERROR_FILENAME_EXCED_RANGE when it does not fit.
bool FolderOf(const char* path, const char* last, char dir[MAX_PATH + 1]) {
  size_t n = (size_t)(last - path);
  while (n > 1 && path[n - 1] == '/') --n;
  if (n > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (n == 0)
    strcpy(dir, ".");
  else
    snprintf(dir, MAX_PATH + 1, "%.*s", (int)n, path);
  return true;
}

HANDLE SearchDirectory(const char* path, const char* pattern, LPWIN32_FIND_DATAA data) {
  char dir[MAX_PATH + 1];
  if (!FolderOf(path, pattern, dir)) return INVALID_HANDLE_VALUE;
  DIR* d = g_posix.opendir(dir);
  if (!d) {
    // A file where the folder should be is ERROR_DIRECTORY; a folder that
    // is missing, ERROR_PATH_NOT_FOUND.
    struct stat st;
    if (errno == ENOTDIR && g_posix.stat(dir, &st) == 0 && !S_ISDIR(st.st_mode))
      SetLastError(ERROR_DIRECTORY);
    else
      SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : MapErrno(errno, dir));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE found = INVALID_HANDLE_VALUE;
  SearchPattern compiled;
  const bool valid = ReadPattern(pattern, &compiled);
  while (struct dirent* e = valid ? g_posix.readdir(d) : nullptr) {
    if (MatchesPattern(compiled, e->d_name)) {
      found = FoundEntry(data, e->d_name, e->d_type == DT_DIR ? S_IFDIR : S_IFREG);
      break;
    }
  }
  g_posix.closedir(d);
  if (found == INVALID_HANDLE_VALUE) SetLastError(ERROR_FILE_NOT_FOUND);
  return found;
}

// The upper bits of the attribute word carry the permission bits: the marker
// says they are there, the twelve bits below it hold st_mode & 07777. Bits 28
// to 30 are never set in a word of ours.
const DWORD kModeMarker = 0x80000000u;
const int kModeShift = 16;
const DWORD kForeignBits = 0x70000000u;

}  // namespace

unsigned MapErrno(int err, const char* path) {
  // An empty path names nothing at all, as on Windows.
  if (err == ENOENT && path && *path == '\0') return ERROR_PATH_NOT_FOUND;
  if (err == ENOENT && path) {
    // A missing directory on the way is ERROR_PATH_NOT_FOUND, as on Windows.
    const char* last = LastComponent(path);
    if (last > path + 1) {
      char parent[4096];
      size_t n = (size_t)(last - path - 1);
      if (n < sizeof parent) {
        memcpy(parent, path, n);
        parent[n] = '\0';
        struct stat st;
        if (g_posix.stat(parent, &st) != 0) return ERROR_PATH_NOT_FOUND;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  }
  for (const auto& row : kErrnoTable)
    if (row.err == err) return row.code;
  return ERROR_GEN_FAILURE;
}

DWORD GetLastError(void) {
  if (t_missingPending) {
    t_lastError = MapErrno(ENOENT, t_missingPath);
    t_missingPending = false;
  }
  return t_lastError;
}

void SetLastError(DWORD code) {
  t_lastError = code;
  t_missingPending = false;
}

HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) {
  if (*path == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const char* last = LastComponent(path);
  struct stat st;
  if (HasWildcard(last)) {
    // Windows forbids these characters in names; Linux does not, and an
    // entry named exactly so is found as itself, whatever the pattern says.
    if (g_posix.lstat(path, &st) == 0) return FoundEntry(data, last, st.st_mode);
    return SearchDirectory(path, last, data);
  }
  if (*last == '\0') {
    // A name ending in a separator names no entry, as on Windows: not found
    // when the folder is there, its path not found when it is not.
    char folder[MAX_PATH + 1];
    const bool there = FolderOf(path, last, folder) && g_posix.lstat(folder, &st) == 0;
    SetLastError(there ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A plain name: one lstat.
  if (g_posix.lstat(path, &st) != 0) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  return FoundEntry(data, last, st.st_mode);
}

BOOL FindClose(HANDLE find) {
  if (find != (HANDLE)&g_searchHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPVOID security, DWORD disposition,
                   DWORD flags, HANDLE templ) {
  (void)share, (void)security, (void)flags, (void)templ;
  if (!(access & GENERIC_WRITE) || (disposition != CREATE_ALWAYS && disposition != CREATE_NEW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // A new file costs one call. O_EXCL makes a new file or fails: it never
  // follows a symbolic link, dangling or not.
  int fd = g_posix.open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    SetLastError(ERROR_SUCCESS);
    return HandleOf(fd);
  }
  if (errno != EEXIST) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (disposition == CREATE_NEW) {
    const bool folder = g_posix.lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
    SetLastError(folder ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  // An existing entry is opened as it stands, never through a link in the
  // last component (ELOOP) and never waiting for a pipe's reader, then
  // looked at through the descriptor, so that nothing can be swapped in
  // between the look and the truncation. Only a writable regular file is
  // truncated; a device is written as it is; a pipe or a socket is refused.
  fd = g_posix.open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) {
    Fail(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  int err = 0;
  if (g_posix.fstat(fd, &st) != 0)
    err = errno;
  else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)))
    err = EACCES;
  else if (S_ISREG(st.st_mode) && g_posix.ftruncate(fd, 0) != 0)
    err = errno;
  if (err) {
    g_posix.close(fd);
    Fail(err, path);
    return INVALID_HANDLE_VALUE;
  }
  // As on Windows, a success over an existing file says so.
  SetLastError(ERROR_ALREADY_EXISTS);
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

BOOL GetDiskFreeSpaceExA(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree) {
  // Linux has no drive letters: a bare drive root, or a lone separator,
  // names the root file system; no path at all, the current folder's.
  const char* volume = path ? path : ".";
  bool driveRoot = isalpha((unsigned char)volume[0]) && volume[1] == ':' &&
                   (volume[2] == '\0' || ((volume[2] == '\\' || volume[2] == '/') && volume[3] == '\0'));
  if (driveRoot || strcmp(volume, "\\") == 0) volume = "/";
  // As on Windows, the path names a folder on the volume: a file does not,
  // and a path that is not there is "path not found", whichever part is
  // missing.
  struct stat st;
  if (g_posix.stat(volume, &st) != 0) {
    if (errno != ENOENT) return Fail(errno, volume);
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  struct statvfs vfs;
  if (g_posix.statvfs(volume, &vfs) != 0) return Fail(errno, volume);
  if (available) available->QuadPart = (unsigned long long)vfs.f_bavail * vfs.f_frsize;
  if (total) total->QuadPart = (unsigned long long)vfs.f_blocks * vfs.f_frsize;
  if (totalFree) totalFree->QuadPart = (unsigned long long)vfs.f_bfree * vfs.f_frsize;
  return TRUE;
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
    return uname(&u) == 0 && sscanf(u.release, "%d.%d", &major, &minor) == 2 &&
           (major > 5 || (major == 5 && minor >= 8));
  }();
  return reports;
}

}  // namespace

BOOL FlushVolumeOf(HANDLE file) {
  const int fd = FdOf(file);
  return fd >= 0 && SyncfsReportsErrors() && g_posix.syncfs(fd) == 0;
}

namespace {

void IdentityOf(const struct stat& st, FileIdentity* id) {
  id->volume = (unsigned long long)st.st_dev;
  id->index = (unsigned long long)st.st_ino;
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

int _setmode(int fd, int mode) {
  (void)mode;
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  return _O_BINARY;
}

int _fileno(FILE* stream) { return fileno(stream); }

void PrepareProcess(void) {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is taken: this one, as the ones below are open.
    int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  // Nor does a file size limit end the process: the write fails
  // (ERROR_FILE_TOO_LARGE), as a write beyond what a volume takes does.
  signal(SIGXFSZ, SIG_IGN);
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
      ssize_t w = write(fd, out + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return 0;
      done += (size_t)w;
    }
  }
  return (ssize_t)count;
}

}  // namespace

FILE* OpenTextStream(FILE* stream) {
  int fd = fileno(stream);
  if (fd < 0) return nullptr;
  fflush(stream);
  cookie_io_functions_t io = {nullptr, WriteTranslated, nullptr, nullptr};
  FILE* text = fopencookie((void*)(intptr_t)fd, "w", io);
  if (text) setvbuf(text, nullptr, _IOLBF, BUFSIZ);
  return text;
}
