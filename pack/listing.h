// Reading a package as pack does: every fault named in a message, the data
// passed on in bounded pieces, and pack -t, which lists one.
#ifndef PACK_LISTING_H
#define PACK_LISTING_H

#include <stdint.h>
#include <stdio.h>

#include "format/reader.h"
#include "pack/progress.h"

// A package being read, from a descriptor through a buffer.
struct PackageIn {
  ByteSource source;
  int fd;
  const char* name;    // as messages name it: PACKAGE, or "standard input"
  Progress* progress;  // counts the bytes read
  uint32_t count;      // the entries it declares, once its head is read
  size_t at, end;      // what the buffer holds that is not yet taken
};

// Starts reading the package on `fd` (which the caller closes), called
// `name` in messages.
void StartReading(PackageIn* in, int fd, const char* name);

// Each reads one part of the package. Each returns false, after a message
// on `err`, when the stream ends early, is malformed or cannot be read.

// The magic and the count.
bool TakeHead(PackageIn* in, FILE* err);
// Entry `index` (from 1): its size and name.
bool TakeHeader(PackageIn* in, uint32_t index, EntryHeader* header, FILE* err);
// Its data, handed piece by piece to `take` when one is given.
typedef void (*TakeData)(void* context, const char* bytes, size_t n);
bool TakeContent(PackageIn* in, uint32_t index, const EntryHeader& header, TakeData take,
                 void* context, FILE* err);

// pack -t: lists each entry's name (its size before it when `verbose`),
// then the verdict. Returns the exit status.
int ListPackage(PackageIn* in, bool verbose, FILE* out, FILE* err);

// Writes the last line of a run that reads the package on `out`, and
// returns `status`, or 1 when the output cannot be written.
int FinishOutput(FILE* out, int status, FILE* err);

#endif  // PACK_LISTING_H
