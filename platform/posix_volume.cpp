// Finding files and asking volumes over POSIX: FindFirstFileA with Windows'
// wildcards (wildcard.h), and GetDiskFreeSpaceExA.
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <string>

#include "platform/posix_internal.h"
#include "platform/paths.h"
#include "platform/wildcard.h"

using namespace posix_layer;

namespace {

// Search handles hold no state (the programs never ask for a next match), so
// every successful search returns this one.
char g_searchHandle;

HANDLE FoundEntry(LPWIN32_FIND_DATAA data, const char* name, mode_t mode) {
  if (data) {
    data->dwFileAttributes = S_ISDIR(mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    snprintf(data->cFileName, sizeof data->cFileName, "%s", name);
  }
  return (HANDLE)&g_searchHandle;
}

// Copies the folder of `path` into `dir` as Windows reads it: without the
// separators that end it ("a//b" is in "a"; "/" stays). Fails with
// ERROR_FILENAME_EXCED_RANGE when it does not fit.
bool WindowsFolderOf(const char* path, char dir[MAX_PATH + 1]) {
  std::string folder = OsFolderOf(path);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.size() > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  strcpy(dir, folder.c_str());
  return true;
}

HANDLE SearchDirectory(const char* path, const char* pattern, LPWIN32_FIND_DATAA data) {
  char dir[MAX_PATH + 1];
  if (!WindowsFolderOf(path, dir)) return INVALID_HANDLE_VALUE;
  DIR* d = g_posix.opendir(dir);
  if (!d) {
    // A file where the folder should be is ERROR_DIRECTORY; a folder that
    // is missing, ERROR_PATH_NOT_FOUND.
    const int err = errno;
    struct stat st;
    if (err == ENOTDIR && g_posix.stat(dir, &st) == 0 && !S_ISDIR(st.st_mode))
      SetLastError(ERROR_DIRECTORY);
    else
      SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : MapErrno(err, dir));
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

// The entry named `path`, whose last component starts at `last`, taken as
// it is: one lstat. A `presence` test leaves ERROR_FILE_NOT_FOUND for a
// missing name, without the look at its folder that tells a missing folder.
HANDLE FindEntry(const char* path, const char* last, LPWIN32_FIND_DATAA data, bool presence) {
  struct stat st;
  if (*path == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (*last == '\0') {
    // A name ending in a separator names no entry, as on Windows: not found
    // when the folder is there, its path not found when it is not.
    char folder[MAX_PATH + 1];
    const bool there = WindowsFolderOf(path, folder) && g_posix.lstat(folder, &st) == 0;
    SetLastError(there ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A plain name: one lstat.
  if (g_posix.lstat(path, &st) != 0) {
    Fail(errno, presence ? nullptr : path);
    return INVALID_HANDLE_VALUE;
  }
  return FoundEntry(data, last, st.st_mode);
}

// FindFirstFileA, or with `presence` the test of OsPathPresent.
HANDLE Find(LPCSTR path, LPWIN32_FIND_DATAA data, bool presence) {
  const char* last = LastComponent(path);
  struct stat st;
  if (*path != '\0' && HasWildcard(last)) {
    // Windows forbids these characters in names; Linux does not, and an
    // entry named exactly so is found as itself, whatever the pattern says.
    if (g_posix.lstat(path, &st) == 0) return FoundEntry(data, last, st.st_mode);
    return SearchDirectory(path, last, data);
  }
  return FindEntry(path, last, data, presence);
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) { return Find(path, data, false); }

BOOL OsPathPresent(LPCSTR path) { return Find(path, nullptr, true) != INVALID_HANDLE_VALUE; }

BOOL OsEntryPresent(LPCSTR path) {
  return FindEntry(path, LastComponent(path), nullptr, true) != INVALID_HANDLE_VALUE;
}

BOOL FindClose(HANDLE find) {
  if (find != (HANDLE)&g_searchHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
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

