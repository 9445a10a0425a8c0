#include "extractor/install.h"

static_assert(kNameField == MAX_PATH, "a name fills one path buffer");

namespace {

const DWORD kCreateAccess = GENERIC_WRITE;
const DWORD kCreateShare = FILE_SHARE_WRITE;

HANDLE CreateForWriting(LPCSTR path, DWORD disposition = CREATE_ALWAYS) {
  return CreateFileA(path, kCreateAccess, kCreateShare, NULL, disposition, FILE_ATTRIBUTE_NORMAL,
                     NULL);
}

// Writes the whole content: a write that stores fewer bytes than asked is
// followed by another, until all is written or a call fails. Calls WriteFile
// at least once, so that an invalid handle fails even for no content.
BOOL WriteAll(HANDLE file, const BYTE* content, DWORD size) {
  DWORD left = size;
  do {
    DWORD written = 0;
    if (!WriteFile(file, content, left, &written, NULL)) return FALSE;
    if (written == 0 && left > 0) {
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    content += written;
    left -= written;
  } while (left > 0);
  return TRUE;
}

// Opens the staged copy for writing: one call when no leftover of that name
// stands from an earlier run. A leftover regular file is written over, as
// any file is; one that is a link, a pipe or a device is removed first, so
// that the content is never written through it into some other file.
HANDLE CreateStagedCopy(LPCSTR temp) {
  HANDLE file = CreateForWriting(temp, CREATE_NEW);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  DWORD leftover = GetFileAttributesA(temp);
  if (leftover != INVALID_FILE_ATTRIBUTES &&
      (leftover & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
    DeleteFileA(temp);
  return CreateForWriting(temp);
}

// True for the failures that mean the volume has no room for the staged
// copy: the direct rewrite exists for them.
bool IsOutOfSpace(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
         error == ERROR_DISK_QUOTA_EXCEEDED;
}

// Closes and deletes a staged copy that is not to be trusted, once its
// failure is reported; the old file stays. Returns FALSE: the run ends.
BOOL DropStagedCopy(LPCSTR temp, HANDLE file) {
  CloseHandle(file);
  DeleteFileA(temp);
  return FALSE;
}

void CloseIfOpen(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
}

// Writes the content to `file`: from memory, or from the package without
// holding it. Calls WriteFile at least once, as WriteAll does.
BOOL WriteContent(HANDLE file, const Content& content) {
  if (content.data || content.size == 0) return WriteAll(file, content.data, content.size);
  if (file == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CopyFileRange(content.package, content.offset, file, content.size);
}

// Writes the content to `file`, just created as `target` (or the invalid
// handle when it could not be).
BOOL WriteNewFile(LPCSTR target, HANDLE file, const Content& content, FILE* log) {
  if (!WriteContent(file, content)) {
    DWORD error = GetLastError();
    fprintf(log, "Line: 181 error writing file to disk error-> %d\r\n", (int)error);
    // The file did not exist before this run: a partial one is not left.
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      DeleteFileA(target);
    }
    return FALSE;
  }
  CloseHandle(file);
  return TRUE;
}

// The staged copy could not be written: the old file goes first and the new
// content is written in its place.
BOOL RewriteInPlace(LPCSTR target, LPCSTR temp, HANDLE tempFile, const Content& content, FILE* log) {
  const DWORD error = GetLastError();
  char shown[MAX_PATH];
  fprintf(log, "Line: 205 Could not write %s file to disk %d\r\n", Shown(temp, shown), (int)error);
  CloseIfOpen(tempFile);
  if (DeleteFileA(temp))
    fputs("deleted junk file\r\n", log);
  else
    fprintf(log, "Line: 210 could not delete junk %d\r\n", (int)GetLastError());
  DeleteFileA(target);
  HANDLE file = CreateForWriting(target);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(log, "Line: 223 error opening second out file!!bail %d\r\n", (int)GetLastError());
    return FALSE;
  }
  fprintf(log, "Line: 221 opened second out file\r\n");
  if (!WriteContent(file, content)) {
    fprintf(log, "Line: 229 error writing file error-> %d\r\n", (int)GetLastError());
    CloseIfOpen(file);
    return FALSE;
  }
  CloseHandle(file);
  fputs("This statement only appears when  the DOC file was deleted and no temp filel\r\n", log);
  fputs("was on the DOC special case where file > 1/2 the DOC.\r\n", log);
  return TRUE;
}

// Fills in a replacement of `target` whose staged copy is yet to be opened.
void NameReplacement(LPCSTR target, const Content& content, Replacement* r) {
  lstrcpyA(r->target, target);
  lstrcpyA(r->temp, target);
  lstrcatA(r->temp, "TMP");
  r->content = content;
  r->flushed = FALSE;
  r->flushError = ERROR_SUCCESS;
}

// Writes the content to `file`, just created as `path` (or the invalid
// handle). On failure nothing is left: the file is closed and removed, and
// the last-error code is the failure's.
BOOL WriteOrRemove(HANDLE file, LPCSTR path, const Content& content) {
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  if (WriteContent(file, content)) return TRUE;
  CloseIfOpen(file);
  const DWORD error = GetLastError();
  DeleteFileA(path);
  SetLastError(error);
  return FALSE;
}

}  // namespace

LPCSTR Shown(LPCSTR path, char shown[MAX_PATH]) {
  size_t i = 0;
  for (; path[i] && i < MAX_PATH - 1; ++i) {
    const unsigned char c = (unsigned char)path[i];
    shown[i] = c < 0x20 || c == 0x7F ? '?' : (char)c;
  }
  shown[i] = '\0';
  return shown;
}

BOOL TryWriteNew(LPCSTR target, const Content& content) {
  HANDLE file = CreateForWriting(target, CREATE_NEW);
  if (!WriteOrRemove(file, target, content)) return FALSE;
  CloseHandle(file);
  return TRUE;
}

BOOL TryStage(LPCSTR target, const Content& content, Replacement* r) {
  NameReplacement(target, content, r);
  r->file = CreateForWriting(r->temp, CREATE_NEW);
  return WriteOrRemove(r->file, r->temp, content);
}

BOOL InstallEntry(LPCSTR target, const Content& content, FILE* log) {
  if (!PathPresent(target)) {
    // An absent target is created as a new file only: one that is there all
    // the same (the presence test failed, or the file came since) is
    // replaced as an existing one, never truncated in place.
    HANDLE file = CreateForWriting(target, CREATE_NEW);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
      return WriteNewFile(target, file, content, log);
  }

  Replacement r;
  char shown[MAX_PATH];
  NameReplacement(target, content, &r);
  r.file = CreateStagedCopy(r.temp);
  // The old file is removed only once the new content is on stable storage.
  // A staged copy that cannot be made, or does not fit, leads to the direct
  // rewrite. Any other failure to write or flush it (an I/O error, a file
  // too large) leaves the old file as it is: the volume is not to be trusted
  // with the only copy, and the direct rewrite would meet the same failure.
  if (!WriteContent(r.file, content)) {
    const DWORD error = GetLastError();
    if (r.file == INVALID_HANDLE_VALUE || IsOutOfSpace(error))
      return RewriteInPlace(r.target, r.temp, r.file, content, log);
    fprintf(log, "Line: 204 error writing file %s error-> %d\r\n", Shown(r.temp, shown), (int)error);
    return DropStagedCopy(r.temp, r.file);
  }
  return FinishReplacement(&r, log);
}

BOOL FinishReplacement(Replacement* r, FILE* log) {
  char shown[MAX_PATH];
  if (!r->flushed) {
    r->flushed = TRUE;
    r->flushError = FlushFileBuffers(r->file) ? ERROR_SUCCESS : GetLastError();
  }
  if (r->flushError != ERROR_SUCCESS) {
    SetLastError(r->flushError);
    if (IsOutOfSpace(r->flushError)) return RewriteInPlace(r->target, r->temp, r->file, r->content, log);
    fprintf(log, "Line: 207 error flushing file %s error-> %d\r\n", Shown(r->temp, shown),
            (int)r->flushError);
    return DropStagedCopy(r->temp, r->file);
  }
  CloseHandle(r->file);
  LPCSTR target = r->target, temp = r->temp;

  // The new file takes the old one's attributes without read-only, and the
  // old one loses read-only so that it can be deleted. A target that is a
  // link lends none: the file it points to is not the target's to change.
  DWORD attributes = GetFileAttributesA(target);
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      attributes &= ~(DWORD)FILE_ATTRIBUTE_READONLY;
      SetFileAttributesA(target, attributes);
    }
    SetFileAttributesA(temp, attributes);
  }
  if (!DeleteFileA(target)) {
    const DWORD error = GetLastError();
    fprintf(log, "Line: 252 Error deleting file %s error-> %d\r\n", Shown(target, shown),
            (int)error);
    return FALSE;
  }
  if (!MoveFileA(temp, target)) {
    fprintf(log, "Line: 257 error renaming file\r\n");
    return FALSE;
  }
  return TRUE;
}
