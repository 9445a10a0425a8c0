// Reading a package stream: its fields and its entries' headers. The one
// reader of the format, shared by unpack and pack, over a stdio stream
// (unpack's standard input) or over reads of the caller's own (pack reads a
// package through its platform's calls).
#ifndef FORMAT_READER_H
#define FORMAT_READER_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "format/package_format.h"

// How the read of one piece of the stream ended.
enum FormatRead {
  kFormatComplete,     // the whole piece came
  kFormatEnded,        // the stream ended before its first byte
  kFormatCut,          // the stream ended inside it
  kFormatNameTooLong,  // no NUL came within the name field
  kFormatFailed,       // a read failed: errno says why (the stream's error is cleared)
};

// Reads up to `n` bytes and stores how many came in `got`. A stream that has
// ended is not read again (a terminal would wait for more).
FormatRead ReadBytes(FILE* in, void* bytes, size_t n, size_t* got);

// Reads one 32-bit field; bytes the stream does not hold read as 0, and
// `got` says how many came.
FormatRead ReadField(FILE* in, uint32_t* value, size_t* got);

// A stream read through a routine of its owner's: `readSome` stores up to
// `n` bytes at `bytes` and returns how many, 0 at the end, or -1 with errno.
struct ByteSource {
  long (*readSome)(void* context, void* bytes, size_t n);
  void* context;
  bool ended;  // it has returned 0, and is not asked again
};
FormatRead ReadBytes(ByteSource* in, void* bytes, size_t n, size_t* got);
FormatRead ReadField(ByteSource* in, uint32_t* value, size_t* got);

struct EntryHeader {
  uint32_t size;
  char name[kNameField];  // always terminated
};

// Reads an entry's size and name. The name is read one byte at a time, so
// that no byte of the entry's data is taken.
FormatRead ReadEntryHeader(FILE* in, EntryHeader* header);
FormatRead ReadEntryHeader(ByteSource* in, EntryHeader* header);

#endif  // FORMAT_READER_H
