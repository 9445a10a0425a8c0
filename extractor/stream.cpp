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

BOOL ReadEntryHeader(FILE* stream, EntryHeader* header) {
  BYTE size[4];
  DWORD count = 0;
  if (!StreamRead(stream, size, sizeof size, &count) || count != sizeof size) {
    SetLastError(ERROR_HANDLE_EOF);
    return FALSE;
  }
  header->size = DecodeLe32(size);
  // One byte at a time, so that no byte of the data is taken.
  for (DWORD i = 0; i < kNameField; ++i) {
    if (!StreamRead(stream, &header->name[i], 1, &count) || count != 1) {
      header->name[i] = '\0';
      SetLastError(ERROR_HANDLE_EOF);
      return FALSE;
    }
    if (header->name[i] == '\0') return TRUE;
  }
  header->name[kNameField - 1] = '\0';
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return FALSE;
}
