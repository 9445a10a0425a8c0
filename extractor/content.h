// An entry's content on its way from the package to a file: held in memory,
// copied from the package file, or read from the stream as it is written,
// a bounded buffer at a time.
#ifndef EXTRACTOR_CONTENT_H
#define EXTRACTOR_CONTENT_H

#include <stdio.h>

#include "platform/win32.h"

// Where an entry's content is: in memory at `data`; or, when `data` is null,
// in the package file `package` at `offset`; or, when `stream` is given, in
// the next `size` bytes of that stream, which only one road can read.
struct Content {
  const BYTE* data;
  HANDLE package;
  unsigned long long offset;
  DWORD size;
  FILE* stream = NULL;
  DWORD taken = 0;      // bytes of the stream read so far
  DWORD unwritten = 0;  // the last of them, in the buffer: their write failed
};

// Writes the content to `file` at its position; calls WriteFile at least
// once, so that an invalid handle fails even for no content. Fails as
// WriteFile does, or with kContentUnreadable when the content cannot be had
// (the stream ends or fails, the package file has shrunk).
BOOL WriteContent(HANDLE file, Content& content);

// True when a failure means that the content could not be had.
bool ContentLost(DWORD error);

// After WriteContent failed with `error`, the failure to report: the rest
// of content still in the stream is read (and dropped) first, so that a
// stream that turns out to be cut is reported as such, not as the write.
DWORD FinishFailedContent(Content& content, DWORD error);

// The whole content in memory, for a road that writes it once the old file
// is touched: what went to `written` (opened for reading too; may be
// INVALID_HANDLE_VALUE when nothing was written) is read back from it, the
// rest comes from the stream. Returns the block, to be released with
// LocalFree, or null: ERROR_NOT_ENOUGH_MEMORY, kContentUnreadable for a cut
// stream, or the read-back's own failure. Content in memory or in the
// package file is not copied: `*held` is then null and TRUE returned.
BOOL HoldContent(Content& content, HANDLE written, BYTE** held);

// Reports content that could not be had, the line the driver also writes:
// 154 when memory failed, 167 when the stream ended or failed.
void ReportContentLost(FILE* log, DWORD error);

#endif  // EXTRACTOR_CONTENT_H
