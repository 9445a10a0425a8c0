// Reading the package stream: the two read primitives and the entry header.
#ifndef EXTRACTOR_STREAM_H
#define EXTRACTOR_STREAM_H

#include <stdio.h>

#include "extractor/package_format.h"
#include "platform/platform.h"

struct EntryHeader {
  DWORD size;
  char name[kNameField];
};

// Reads up to `n` bytes. Returns false on a stream error (the stream's
// indicators are then cleared) or with ERROR_INVALID_HANDLE for a null stream;
// at the end of the stream returns true with a short count.
BOOL StreamRead(FILE* stream, void* destination, DWORD n, DWORD* count);

// Reads until `n` bytes are stored, the stream ends, or a read fails. Returns
// the last read's result: the end of the stream shows only in the total.
BOOL StreamReadFull(FILE* stream, void* destination, DWORD n, DWORD* total);

// Reads the next entry's size and name. Returns false when the stream ends
// or fails inside the header (ERROR_HANDLE_EOF) or when no NUL comes within
// the name field (ERROR_FILENAME_EXCED_RANGE); no byte of the entry's data is
// consumed.
BOOL ReadEntryHeader(FILE* stream, EntryHeader* header);

#endif  // EXTRACTOR_STREAM_H
