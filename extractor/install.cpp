#include "extractor/install.h"

#include "extractor/flush.h"
#include "platform/os.h"

static_assert(kNameField == MAX_PATH, "a name fills one path buffer");

namespace {

const DWORD kCreateShare = FILE_SHARE_WRITE;

// Opens `path` for writing: a new file (CREATE_NEW), or the one that stands
// there (OPEN_EXISTING). A link is never followed: a new file is not made
// through one, and an existing link is opened as it stands, for the caller
// to see what it is (OsGetHandleIdentity), with no moment between a look at the
// name and the open.
HANDLE CreateForWriting(LPCSTR path, DWORD disposition, DWORD access = GENERIC_WRITE) {
  return CreateFileA(path, access, kCreateShare, NULL, disposition,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// A staged copy is opened for reading too: content that came from a stream
// is read back from it when the direct rewrite needs it again.
HANDLE CreateStagedFile(LPCSTR temp) {
  return CreateForWriting(temp, CREATE_NEW, GENERIC_READ | GENERIC_WRITE);
}

// Creates the staged copy as a new file: one call when no leftover of that
// name stands from an earlier run. A leftover, whatever it is (a file, a
// second name of some other file, a link, a pipe), is removed first and never
// written into, so that the content cannot reach any other file through it;
// a folder cannot be removed, and the creation then fails.
HANDLE CreateStagedCopy(LPCSTR temp) {
  HANDLE file = CreateStagedFile(temp);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  if (!OsRemoveLeftover(temp)) return INVALID_HANDLE_VALUE;
  return CreateStagedFile(temp);
}

// True for the failures that mean the volume has no room for the staged
// copy: the direct rewrite exists for them.
bool IsOutOfSpace(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
         error == ERROR_DISK_QUOTA_EXCEEDED;
}

// True for the failures of a volume that is not to be trusted with the only
// copy of a file: the old file is kept, whatever the road.
bool IsIoError(DWORD error) {
  return error == ERROR_IO_DEVICE || error == ERROR_NOT_READY || error == ERROR_CRC ||
         error == ERROR_GEN_FAILURE;
}

// True for the failures of the one-step replacement that mean the old file
// cannot be replaced: a folder, a file in use (held open by another program,
// or a mount point), or one this user may not replace. Deleting it could not
// help: where the delete fails, it says so no better; where it succeeds (a
// file that another program holds open with delete sharing is deleted only
// once that program closes it), the rename may still fail, and the name
// would end empty.
bool CannotReplace(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// True for the failures of a system that cannot replace a file in one step,
// where the old road, delete then rename, may do it.
bool NoOneStepReplace(DWORD error) {
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

void CloseIfOpen(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
}

// Writes the content to `file`, just created as `target` (or the invalid
// handle when it could not be).
BOOL WriteNewFile(LPCSTR target, HANDLE file, Content& content, FILE* log) {
  if (!WriteContent(file, content)) {
    const DWORD error = FinishFailedContent(content, GetLastError());
    if (ContentLost(error))
      ReportContentLost(log, error);
    else
      fprintf(log, "Line: 181 error writing file to disk error-> %d\r\n", (int)error);
    // The file did not exist before this run: a partial one is not left.
    if (file != INVALID_HANDLE_VALUE) DiscardFile(target, file);
    return FALSE;
  }
  CloseHandle(file);
  return TRUE;
}

// Opens the old file of the direct rewrite for writing, without truncating
// it: when it cannot be opened (a read-only file, a folder, a volume that
// fails, no descriptor left), nothing is lost. It is then written over in
// place. A link (opened as it stands, never followed) and a file of several
// names are never written into: the name gets a new file of its own, and the
// other names keep the old content, as they do when a staged copy replaces
// this one. Where the staged copy found no room (`stageError`), such a new
// file would find none either, removing this name freeing nothing: nothing
// is touched, and the room error is the failure. A file that cannot be told
// is not written over. `*held` receives what the name held before it was
// given a new file, while it can still be given back (see OsPutNameBack).
HANDLE OpenForRewrite(LPCSTR target, DWORD stageError, HANDLE* held) {
  *held = INVALID_HANDLE_VALUE;
  HANDLE file = CreateForWriting(target, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? CreateForWriting(target, CREATE_NEW) : file;
  FileIdentity id;
  const BOOL told = OsGetHandleIdentity(file, &id);
  if (told && !id.link && id.links <= 1) return file;
  if (told && !IsOutOfSpace(stageError)) {
    *held = file;
    return OsRenewName(target, held);
  }
  CloseIfOpen(file);
  if (told) SetLastError(stageError);
  return INVALID_HANDLE_VALUE;
}

// The staged copy could not be made or does not fit (`error` says why, as
// line 205 shows it; `cause` is the failure itself): the old file is written
// over with the new content, which `r` holds in memory or in the package
// file. The new bytes go over the old ones before the file is cut to their
// length, so that a write that fails at once costs nothing of the old
// content; one that fails later leaves the first part of the new content
// over the old file's.
BOOL RewriteInPlace(Replacement& r, DWORD error, DWORD cause, FILE* log) {
  char shown[MAX_PATH];
  fprintf(log, "Line: 205 Could not write %s file to disk %d\r\n", PrintablePath(r.temp, shown), (int)error);
  CloseIfOpen(r.file);
  if (DeleteFileA(r.temp))
    fputs("deleted junk file\r\n", log);
  else
    fprintf(log, "Line: 210 could not delete junk %d\r\n", (int)GetLastError());
  HANDLE held;
  HANDLE file = OpenForRewrite(r.target, cause, &held);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(log, "Line: 223 error opening second out file!!bail %d\r\n", (int)GetLastError());
    CloseIfOpen(held);
    return FALSE;
  }
  fprintf(log, "Line: 221 opened second out file\r\n");
  if (!WriteContent(file, r.content) || !OsCutFileAt(file, r.content.size)) {
    error = GetLastError();
    if (ContentLost(error))
      ReportContentLost(log, error);
    else
      fprintf(log, "Line: 229 error writing file error-> %d\r\n", (int)error);
    CloseIfOpen(file);
    // A name given a new file gets its old one back.
    if (held != INVALID_HANDLE_VALUE) {
      OsPutNameBack(r.target, held);
      CloseIfOpen(held);
    }
    return FALSE;
  }
  CloseHandle(file);
  CloseIfOpen(held);
  // Normal attributes, as a new file has (on Linux the permission bits of
  // the file written over stay).
  SetFileAttributesA(r.target, FILE_ATTRIBUTE_NORMAL);
  fputs("This statement only appears when  the DOC file was deleted and no temp filel\r\n", log);
  fputs("was on the DOC special case where file > 1/2 the DOC.\r\n", log);
  return TRUE;
}

// Closes and deletes a staged copy, and reports the failure `error` of the
// replacement it was for: content that could not be had, or a failure for a
// reason other than room (line 204). The old file stays; returns FALSE.
BOOL Abandon(Replacement& r, DWORD error, FILE* log) {
  char shown[MAX_PATH];
  if (ContentLost(error) || error == ERROR_NOT_ENOUGH_MEMORY)
    ReportContentLost(log, error);
  else
    fprintf(log, "Line: 204 error writing file %s error-> %d\r\n", PrintablePath(r.temp, shown), (int)error);
  DiscardFile(r.temp, r.file);
  return FALSE;
}

// The direct rewrite, for content that may still be in the stream: it is
// brought into memory first, as the old file is written over only once the
// whole content is there.
BOOL RewriteHeld(Replacement& r, DWORD error, DWORD cause, FILE* log) {
  BYTE* held;
  if (!HoldContent(r.content, r.file, &held)) return Abandon(r, GetLastError(), log);
  const BOOL ok = RewriteInPlace(r, error, cause, log);
  if (held) LocalFree(held);
  return ok;
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
BOOL WriteOrRemove(HANDLE file, LPCSTR path, Content& content) {
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  if (WriteContent(file, content)) return TRUE;
  DiscardFile(path, file);
  return FALSE;
}

}  // namespace

void DiscardFile(LPCSTR path, HANDLE file) {
  CloseIfOpen(file);
  const DWORD error = GetLastError();
  DeleteFileA(path);
  SetLastError(error);
}

LPCSTR PrintablePath(LPCSTR path, char shown[MAX_PATH]) {
  size_t i = 0;
  for (; path[i] && i < MAX_PATH - 1; ++i) {
    const unsigned char c = (unsigned char)path[i];
    shown[i] = c < 0x20 || c == 0x7F ? '?' : (char)c;
  }
  shown[i] = '\0';
  return shown;
}

BOOL TryWriteNew(LPCSTR target, Content content) {
  HANDLE file = CreateForWriting(target, CREATE_NEW);
  if (!WriteOrRemove(file, target, content)) return FALSE;
  CloseHandle(file);
  return TRUE;
}

BOOL TryStage(LPCSTR target, const Content& content, Replacement* r) {
  NameReplacement(target, content, r);
  r->file = CreateStagedFile(r->temp);
  return WriteOrRemove(r->file, r->temp, r->content);
}

BOOL InstallEntry(LPCSTR target, Content content, FILE* log) {
  if (!OsEntryPresent(target)) {
    // An absent target is created as a new file only: one that is there all
    // the same (the presence test failed, or the file came since, which a
    // second test confirms) is replaced as an existing one, never truncated
    // in place. A name the presence test never finds (one ending in a
    // separator) is a creation that failed.
    HANDLE file = CreateForWriting(target, CREATE_NEW);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS || !OsEntryPresent(target))
      return WriteNewFile(target, file, content, log);
  }

  Replacement r;
  NameReplacement(target, content, &r);
  r.file = CreateStagedCopy(r.temp);
  // The old file is replaced only once the new content is on stable storage.
  // A staged copy that cannot be made, or does not fit, leads to the direct
  // rewrite. An I/O error, or any other failure to write or flush it (a file
  // too large), leaves the old file as it is: the volume is not to be trusted
  // with the only copy, and the direct rewrite would meet the same failure.
  if (r.file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (!IsIoError(error)) return RewriteHeld(r, ERROR_INVALID_HANDLE, error, log);
    return Abandon(r, FinishFailedContent(r.content, error), log);
  }
  if (!WriteContent(r.file, r.content)) {
    const DWORD error = GetLastError();
    if (IsOutOfSpace(error)) return RewriteHeld(r, error, error, log);
    return Abandon(r, FinishFailedContent(r.content, error), log);
  }
  return FinishReplacement(&r, log);
}

BOOL FinishReplacement(Replacement* r, FILE* log) {
  char shown[MAX_PATH];
  FlushStagedCopy(r);
  if (r->flushError != ERROR_SUCCESS) {
    // Content that came from the stream as it was written is no longer at
    // hand, and a copy whose flush failed cannot be trusted to be read back
    // (a file system may drop what it could not place): the old file stays.
    if (IsOutOfSpace(r->flushError) && !r->content.stream)
      return RewriteInPlace(*r, r->flushError, r->flushError, log);
    fprintf(log, "Line: 207 error flushing file %s error-> %d\r\n", PrintablePath(r->temp, shown),
            (int)r->flushError);
    DiscardFile(r->temp, r->file);
    return FALSE;
  }
  CloseHandle(r->file);
  LPCSTR target = r->target, temp = r->temp;

  // The new file takes the old one's attributes without read-only, and its
  // owner where the installer may give it. A target that is a link lends
  // none: the file it points to is not the target's to change.
  const DWORD attributes = GetFileAttributesA(target);
  const bool lends = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (lends) {
    DWORD carried = attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY;
    OsCarryOwner(target, temp, &carried);
    SetFileAttributesA(temp, carried);
  }
  // One step: the name holds the old file, then the new one, never nothing.
  if (OsPutInPlace(temp, target)) return TRUE;
  DWORD error = GetLastError();
  const bool oneStepMissing = NoOneStepReplace(error);
  // The old road deletes the old file, which must not be read-only.
  if (oneStepMissing && lends && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(target, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  if (CannotReplace(error) || (oneStepMissing && !DeleteFileA(target))) {
    if (oneStepMissing) error = GetLastError();
    fprintf(log, "Line: 252 Error deleting file %s error-> %d\r\n", PrintablePath(target, shown), (int)error);
    return FALSE;
  }
  if (oneStepMissing && MoveFileA(temp, target)) return TRUE;
  fprintf(log, "Line: 257 error renaming file\r\n");
  return FALSE;
}
