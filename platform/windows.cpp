// The few helpers the Windows build adds to KERNEL32 and the runtime.
#include "platform/platform.h"

// The runtime's standard streams are in text mode already.
FILE* OpenTextStream(FILE* stream) { return stream; }

// Windows has no broken-pipe signal, and a file it opens never takes the
// place of a standard handle.
void PrepareProcess(void) {}

HANDLE FileUnderStream(FILE* stream, unsigned long long* size) {
  const int fd = stream ? _fileno(stream) : -1;
  HANDLE file = fd < 0 ? INVALID_HANDLE_VALUE : (HANDLE)_get_osfhandle(fd);
  LARGE_INTEGER bytes;
  if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileSizeEx(file, &bytes))
    return INVALID_HANDLE_VALUE;
  *size = (unsigned long long)bytes.QuadPart;
  return file;
}

// No Windows file name holds a wildcard: the pattern search finds the name.
BOOL EntryPresent(LPCSTR path) { return PathPresent(path); }

BOOL TruncateFile(HANDLE file) {
  return SetFilePointer(file, 0, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(file);
}

void EnlargePipeBuffer(FILE* stream) { (void)stream; }

BOOL ReadFileAt(HANDLE file, unsigned long long offset, void* data, DWORD size) {
  for (DWORD done = 0; done < size;) {
    OVERLAPPED at = {};
    at.Offset = (DWORD)(offset + done);
    at.OffsetHigh = (DWORD)((offset + done) >> 32);
    DWORD got = 0;
    if (!ReadFile(file, (BYTE*)data + done, size - done, &got, &at)) return FALSE;
    if (got == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return FALSE;
    }
    done += got;
  }
  return TRUE;
}

long long StreamTell(FILE* stream) { return _ftelli64(stream); }

BOOL StreamSeek(FILE* stream, long long position) {
  return _fseeki64(stream, position, SEEK_SET) == 0;
}

BOOL CopyFileRange(HANDLE from, unsigned long long offset, HANDLE to, DWORD size) {
  // Windows copies between handles only through memory. The reads move the
  // source's file pointer, which the runtime's stream relies on: it is put
  // back afterwards.
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
      SetLastError(ERROR_HANDLE_EOF);
      ok = FALSE;
    }
    DWORD written = 0;
    ok = ok && WriteFile(to, buffer, got, &written, NULL);
    offset += got;
    size -= got;
  }
  const DWORD error = GetLastError();
  SetFilePointerEx(from, position, NULL, FILE_BEGIN);
  SetLastError(error);
  return ok;
}

BOOL FlushVolumeOf(HANDLE file) {
  (void)file;
  return FALSE;
}

BOOL GetHandleIdentity(HANDLE file, FileIdentity* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return FALSE;
  id->volume = info.dwVolumeSerialNumber;
  id->index = (unsigned long long)info.nFileIndexHigh << 32 | info.nFileIndexLow;
  id->links = info.nNumberOfLinks;
  id->folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return TRUE;
}

BOOL GetFileIdentity(LPCSTR path, FileIdentity* id) {
  // No access is asked for: the file may be open for writing elsewhere,
  // and a folder opens too.
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  const BOOL ok = GetHandleIdentity(file, id);
  const DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok;
}
