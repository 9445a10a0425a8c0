// The routines of os.h on the Windows build, over KERNEL32 and the runtime.
#include "platform/os.h"

#include <string.h>

#include "platform/win32.h"

// The runtime's standard streams are in text mode already.
FILE* OsOpenTextStream(FILE* stream) { return stream; }

// Windows has no broken-pipe signal, and a file it opens never takes the
// place of a standard handle.
void OsPrepareProcess(void) {}

HANDLE OsFileUnderStream(FILE* stream, unsigned long long* size) {
  const int fd = stream ? _fileno(stream) : -1;
  HANDLE file = fd < 0 ? INVALID_HANDLE_VALUE : (HANDLE)_get_osfhandle(fd);
  LARGE_INTEGER bytes;
  if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileSizeEx(file, &bytes))
    return INVALID_HANDLE_VALUE;
  *size = (unsigned long long)bytes.QuadPart;
  return file;
}

BOOL OsPathPresent(LPCSTR path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(search);
  return TRUE;
}

// No Windows file name holds a wildcard: the pattern search finds the name.
// The empty name and a folder's name with a separator after it name no file:
// Windows finds nothing there, and neither does this test, whatever a layer
// that stands in for Windows (Wine) answers.
BOOL OsEntryPresent(LPCSTR path) {
  const size_t length = strlen(path);
  if (length == 0 || path[length - 1] == '/' || path[length - 1] == '\\') {
    SetLastError(length == 0 ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  return OsPathPresent(path);
}

BOOL OsRemoveLeftover(LPCSTR path) {
  // Opened as it stands, a link is never followed: the handle gives its own
  // attributes. Only a plain read-only file loses read-only, and
  // SetFileAttributesA and DeleteFileA act on a link itself, never on what
  // it points to.
  HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD kept = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const BOOL plainReadOnly = GetFileInformationByHandle(file, &info) &&
                               (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
                               !(info.dwFileAttributes & kept);
    CloseHandle(file);
    if (plainReadOnly) SetFileAttributesA(path, info.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  }
  return DeleteFileA(path);
}

BOOL OsCutFileAt(HANDLE file, unsigned long long length) {
  // A file no longer than that is left alone (Wine fails SetEndOfFile at
  // the file's own size on a full volume).
  LARGE_INTEGER size, at;
  if (!GetFileSizeEx(file, &size)) return FALSE;
  if ((unsigned long long)size.QuadPart <= length) return TRUE;
  at.QuadPart = (LONGLONG)length;
  return SetFilePointerEx(file, at, NULL, FILE_BEGIN) && SetEndOfFile(file);
}

BOOL OsPutInPlace(LPCSTR from, LPCSTR to) {
  const DWORD attributes = GetFileAttributesA(to);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    SetFileAttributesA(to, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void OsCarryOwner(LPCSTR from, LPCSTR to, DWORD* attributes) { (void)from, (void)to, (void)attributes; }

// Windows cannot give a removed name back to a file from its handle: the
// name is not removed at all, and stays with what it holds.
HANDLE OsRenewName(LPCSTR path, HANDLE* held) {
  (void)path;
  CloseHandle(*held);
  *held = INVALID_HANDLE_VALUE;
  SetLastError(ERROR_NOT_SUPPORTED);
  return INVALID_HANDLE_VALUE;
}

BOOL OsPutNameBack(LPCSTR path, HANDLE held) {
  (void)path, (void)held;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

void OsEnlargePipeBuffer(FILE* stream) { (void)stream; }

BOOL OsReadFileAt(HANDLE file, unsigned long long offset, void* data, DWORD size) {
  for (DWORD done = 0; done < size;) {
    OVERLAPPED at = {};
    at.Offset = (DWORD)(offset + done);
    at.OffsetHigh = (DWORD)((offset + done) >> 32);
    DWORD got = 0;
    if (!ReadFile(file, (BYTE*)data + done, size - done, &got, &at)) return FALSE;
    if (got == 0) {
      SetLastError(kContentUnreadable);
      return FALSE;
    }
    done += got;
  }
  return TRUE;
}

long long OsStreamTell(FILE* stream) { return _ftelli64(stream); }

BOOL OsStreamSeek(FILE* stream, long long position) {
  return _fseeki64(stream, position, SEEK_SET) == 0;
}

BOOL OsCopyFileRange(HANDLE from, unsigned long long offset, HANDLE to, DWORD size) {
  // Windows copies between handles only through memory. The reads move the
  // source's file pointer, which the runtime's stream relies on: it is put
  // back afterwards. A read may bring fewer bytes than asked, and each is
  // written whole before the next read.
  static BYTE buffer[1 << 18];
  LARGE_INTEGER zero, position;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(from, zero, &position, FILE_CURRENT)) return FALSE;
  BOOL ok = TRUE;
  while (ok && size > 0) {
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD want = size < sizeof buffer ? size : (DWORD)sizeof buffer, got = 0;
    ok = SetFilePointerEx(from, at, NULL, FILE_BEGIN) && ReadFile(from, buffer, want, &got, NULL);
    if (ok && got == 0) {
      SetLastError(kContentUnreadable);
      ok = FALSE;
    }
    ok = ok && OsWriteAll(to, buffer, got);
    offset += got;
    size -= got;
  }
  const DWORD error = GetLastError();
  SetFilePointerEx(from, position, NULL, FILE_BEGIN);
  SetLastError(error);
  return ok;
}

BOOL OsFlushVolumeOf(HANDLE file, unsigned long long own) {
  (void)file, (void)own;
  return FALSE;
}

void OsStartWriteback(HANDLE file) { (void)file; }

BOOL OsGetHandleIdentity(HANDLE file, FileIdentity* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return FALSE;
  id->volume = info.dwVolumeSerialNumber;
  id->index = (unsigned long long)info.nFileIndexHigh << 32 | info.nFileIndexLow;
  id->links = info.nNumberOfLinks;
  id->folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  id->link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return TRUE;
}

BOOL OsGetFileIdentity(LPCSTR path, FileIdentity* id) {
  // No access is asked for: the file may be open for writing elsewhere,
  // and a folder opens too.
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  const BOOL ok = OsGetHandleIdentity(file, id);
  const DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok;
}
