// Reading an entry's content from the package stream, and finding the
// package cut inside an entry: the two read primitives, under the
// platform's contract (the headers are the format's reader's,
// format/reader.h), and the two tests of a cut package.
#ifndef EXTRACTOR_STREAM_H
#define EXTRACTOR_STREAM_H

#include <stdio.h>

#include "platform/win32.h"

// Reads up to `n` bytes. Returns false on a stream error (the stream's
// indicators are then cleared) or with ERROR_INVALID_HANDLE for a null stream;
// at the end of the stream returns true with a short count.
BOOL StreamRead(FILE* stream, void* destination, DWORD n, DWORD* count);

// Reads until `n` bytes are stored, the stream ends, or a read fails. Returns
// the last read's result: the end of the stream shows only in the total.
BOOL StreamReadFull(FILE* stream, void* destination, DWORD n, DWORD* total);

// Reads the next `n` bytes of an entry's content: FALSE when the stream
// ends or fails first, that is, when it is cut inside the entry (its
// last-error code is then kContentUnreadable for the caller to give).
bool ReadEntryBytes(FILE* stream, void* destination, DWORD n);

// TRUE when a package file of `size` bytes holds everything up to `end`;
// FALSE when it is cut short of it (kContentUnreadable, as above).
bool PackageHolds(unsigned long long size, unsigned long long end);

#endif  // EXTRACTOR_STREAM_H
