// pack's calls on Windows (tool.h), over KERNEL32 through the call table
// (win32.h routes every call through g_win32). A failure's last-error code
// is turned into the errno pack reads, once, where the call fails.
//
// A descriptor is a handle, opened and closed here and read and written
// through the table; that of a standard stream is the handle under the C
// runtime's descriptor. Only the text of messages and listings passes
// through the runtime's streams.
#include "platform/tool.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <string.h>

#include "platform/paths.h"
#include "platform/win32.h"

const char kOsSeparators[] = "/\\";
const bool kOsBackslashNames = true;

namespace {

// One row per last-error code; any other is EIO.
const struct {
  DWORD code;
  int error;
} kErrnoOf[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},     {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_NAME, ENOENT},       {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},      {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EBUSY},   {ERROR_LOCK_VIOLATION, EBUSY},
    {ERROR_ALREADY_EXISTS, EEXIST},     {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_DISK_FULL, ENOSPC},          {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_WRITE_PROTECT, EROFS},       {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG}, {ERROR_BUFFER_OVERFLOW, ENAMETOOLONG},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},  {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_INVALID_HANDLE, EBADF},      {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
};

// Sets errno from the last-error code; returns `result`.
template <typename T>
T Failed(T result) {
  const DWORD code = GetLastError();
  errno = EIO;
  for (const auto& row : kErrnoOf)
    if (row.code == code) errno = row.error;
  return result;
}

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE HandleOf(int fd) { return (HANDLE)(intptr_t)fd; }

// The descriptor of a handle just opened; -1 with errno when none was.
int DescriptorOf(HANDLE file) { return file == INVALID_HANDLE_VALUE ? Failed(-1) : (int)(intptr_t)file; }

// The facts of an open handle, `attributes` read where it was opened.
bool FactsOf(HANDLE file, PathFacts* facts) {
  *facts = PathFacts();
  const DWORD type = GetFileType(file);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
    facts->mode = type == FILE_TYPE_CHAR ? S_IFCHR | 0666 : S_IFIFO | 0666;
    facts->links = 1;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  FILE_STANDARD_INFO standard;  // for the bytes its clusters take
  if (!GetFileInformationByHandle(file, &info) ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
    return Failed(false);
  const DWORD a = info.dwFileAttributes;
  const mode_t rights = (a & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  facts->mode = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? S_IFLNK | 0777
                : (a & FILE_ATTRIBUTE_DIRECTORY)   ? S_IFDIR | 0777
                                                   : S_IFREG | rights;
  facts->size = ((unsigned long long)info.nFileSizeHigh << 32) | info.nFileSizeLow;
  facts->allocated = (unsigned long long)standard.AllocationSize.QuadPart;
  facts->links = info.nNumberOfLinks;
  facts->volume = info.dwVolumeSerialNumber;
  facts->index = ((unsigned long long)info.nFileIndexHigh << 32) | info.nFileIndexLow;
  return true;
}

// Opens `path` with `access` and closes it again: whether this user may.
bool MayOpen(const char* path, DWORD access, DWORD flags) {
  const HANDLE h = CreateFileA(path, access, kShareAll, NULL, OPEN_EXISTING, flags, NULL);
  if (h == INVALID_HANDLE_VALUE) return Failed(false);
  CloseHandle(h);
  return true;
}

}  // namespace

bool OsLookAtPath(const char* path, bool follow, PathFacts* facts) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE h = CreateFileA(path, 0, kShareAll, NULL, OPEN_EXISTING, flags, NULL);
  if (h == INVALID_HANDLE_VALUE) return Failed(false);
  const bool ok = FactsOf(h, facts);
  const int error = errno;
  CloseHandle(h);
  errno = error;
  return ok;
}

bool OsLookAtFlags(const char* path, PathFlags* flags) {
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return Failed(false);
  *flags = PathFlags();
  return true;
}

bool OsLookAtFile(int fd, PathFacts* facts) {
  const HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  return FactsOf(h, facts);
}

bool OsListFolder(const char* path, std::vector<std::string>* names) {
  std::string pattern = path;
  if (!pattern.empty() && !strchr(kOsSeparators, pattern.back()) && pattern.back() != ':')
    pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found;
  const HANDLE find = FindFirstFileA(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return Failed(false);
  do {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
      names->push_back(found.cFileName);
  } while (FindNextFileA(find, &found));
  const DWORD code = GetLastError();
  FindClose(find);
  if (code == ERROR_NO_MORE_FILES) return true;
  SetLastError(code);
  return Failed(false);
}

int OsOpenToRead(const char* path) {
  return DescriptorOf(
      CreateFileA(path, GENERIC_READ, kShareAll, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
}

// Removal is shared, so that a file whose close failed can still be
// removed: it goes once its handle does.
int OsCreateToWrite(const char* path) {
  return DescriptorOf(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL));
}

int OsDescriptorOf(FILE* stream) {
  const intptr_t handle = _get_osfhandle(_fileno(stream));
  if (handle == -1) errno = EBADF;
  return (int)handle;
}

long OsReadSome(int fd, void* data, size_t n) {
  DWORD got = 0;
  if (ReadFile(HandleOf(fd), data, (DWORD)n, &got, NULL)) return (long)got;
  // The writer of a pipe has closed it: the end.
  if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
  return Failed(-1L);
}

bool OsWriteAll(int fd, const void* data, size_t n) {
  for (size_t done = 0; done < n;) {
    DWORD wrote = 0;
    if (!WriteFile(HandleOf(fd), (const char*)data + done, (DWORD)(n - done), &wrote, NULL))
      return Failed(false);
    // A write that stores nothing would be asked again for ever: the
    // volume is full.
    if (wrote == 0) {
      errno = ENOSPC;
      return false;
    }
    done += wrote;
  }
  return true;
}

bool OsFlushFile(int fd) { return FlushFileBuffers(HandleOf(fd)) ? true : Failed(false); }

bool OsCloseFile(int fd) { return CloseHandle(HandleOf(fd)) ? true : Failed(false); }

bool OsRenameFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? true : Failed(false);
}

bool OsRemoveFile(const char* path) { return DeleteFileA(path) ? true : Failed(false); }

bool OsMakeFolder(const char* path) { return CreateDirectoryA(path, NULL) ? true : Failed(false); }

bool OsMayCreateIn(const char* folder) {
  return MayOpen(folder, FILE_ADD_FILE, FILE_FLAG_BACKUP_SEMANTICS);
}

bool OsMayWrite(const char* path) { return MayOpen(path, GENERIC_WRITE, 0); }

bool OsMayRemove(const char* path) {
  return OsMayCreateIn(OsFolderOf(path).c_str()) &&
         MayOpen(path, DELETE, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

bool OsLookAtVolume(const char* path, VolumeFacts* facts) {
  ULARGE_INTEGER available, total, free;
  // GetDiskFreeSpaceExA takes a folder: a file stands for its own.
  const DWORD a = GetFileAttributesA(path);
  const std::string folder =
      a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) ? OsFolderOf(path) : path;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, &total, &free)) return Failed(false);
  // The rest is told at the volume's root: a drive, or the folder it is
  // mounted on.
  char root[MAX_PATH + 1];
  DWORD nameMax = 0, flags = 0, sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
  if (!GetVolumePathNameA(folder.c_str(), root, sizeof root) ||
      !GetVolumeInformationA(root, NULL, 0, NULL, &nameMax, &flags, NULL, 0) ||
      !GetDiskFreeSpaceA(root, &sectors, &bytes, &freeClusters, &clusters))
    return Failed(false);
  *facts = VolumeFacts();
  facts->readOnly = (flags & FILE_READ_ONLY_VOLUME) != 0;
  facts->blockSize = sectors * bytes;
  facts->nameMax = nameMax;
  facts->free = free.QuadPart;
  facts->available = available.QuadPart;
  return true;
}

bool OsPrivileged() { return false; }

double OsMonotonicSeconds() { return (double)GetTickCount64() / 1000.0; }

void OsUseBinaryStandardStreams() {
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
}

std::string OsFolderOf(const std::string& path) {
  const size_t root = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  const size_t slash = path.find_last_of(kOsSeparators);
  if (slash == std::string::npos || slash < root) return root ? path.substr(0, 2) : ".";
  return slash == root ? path.substr(0, root + 1) : path.substr(0, slash);
}
