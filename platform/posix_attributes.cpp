// The attribute word over POSIX: GetFileAttributesA and
// SetFileAttributesA, which carry the permission bits in its upper half,
// and OsCarryOwner, which carries a file's owner with them.
#include <errno.h>
#include <sys/stat.h>

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
  if (IsReadOnly(st.st_mode)) word |= FILE_ATTRIBUTE_READONLY;
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
  mode = WithReadOnly(mode, (attributes & FILE_ATTRIBUTE_READONLY) != 0);
  if (mode == (st.st_mode & 07777)) return TRUE;
  return g_posix.chmod(path, mode) == 0 ? TRUE : Fail(errno, path);
}

void OsCarryOwner(LPCSTR from, LPCSTR to, DWORD* attributes) {
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
