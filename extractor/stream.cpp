#include "extractor/stream.h"

BOOL StreamRead(FILE* stream, void* destination, DWORD n, DWORD* count) {
  if (count) *count = 0;
  if (!stream) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (feof(stream)) return TRUE;
  size_t got = fread(destination, 1, n, stream);
  if (count) *count = (DWORD)got;
  if (ferror(stream)) {
    clearerr(stream);
    return FALSE;
  }
  return TRUE;
}

BOOL StreamReadFull(FILE* stream, void* destination, DWORD n, DWORD* total) {
  if (total) *total = 0;
  if (!stream) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD sum = 0;
  BOOL result = TRUE;
  bool sawNothing = false;
  while (sum < n && !sawNothing) {
    DWORD count = 0;
    result = StreamRead(stream, (BYTE*)destination + sum, n - sum, &count);
    sum += count;
    sawNothing = count == 0;
    if (!result) break;
  }
  if (total) *total = sum;
  return result;
}

bool ReadEntryBytes(FILE* stream, void* destination, DWORD n) {
  DWORD got = 0;
  return StreamReadFull(stream, destination, n, &got) && got == n;
}

bool PackageHolds(unsigned long long size, unsigned long long end) { return end <= size; }
