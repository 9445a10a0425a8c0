#include "extractor/content.h"

#include <string.h>

#include "extractor/stream.h"
#include "platform/os.h"

namespace {

// Content from the stream passes through this buffer: memory does not grow
// with an entry. 256 KiB keeps the calls few and the buffer in the cache.
BYTE g_chunk[1 << 18];

// Fails with the code of content that cannot be read.
BOOL FailUnreadable() {
  SetLastError(kContentUnreadable);
  return FALSE;
}

// Reads the next `n` bytes of the content's stream into `to`.
BOOL ReadNextBytes(Content& content, BYTE* to, DWORD n) {
  if (!ReadEntryBytes(content.stream, to, n)) return FailUnreadable();
  content.taken += n;
  return TRUE;
}

// The stream's road: a chunk read, a chunk written. On a failed write the
// chunk stays in the buffer, for HoldContent.
BOOL StreamTo(HANDLE file, Content& content) {
  do {
    const DWORD left = content.size - content.taken;
    const DWORD n = left < sizeof g_chunk ? left : (DWORD)sizeof g_chunk;
    if (!ReadNextBytes(content, g_chunk, n)) return FALSE;
    if (!OsWriteAll(file, g_chunk, n)) {
      content.unwritten = n;
      return FALSE;
    }
  } while (content.taken < content.size);
  return TRUE;
}

}  // namespace

BOOL WriteContent(HANDLE file, Content& content) {
  if (content.stream) return StreamTo(file, content);
  if (content.data || content.size == 0) return OsWriteAll(file, content.data, content.size);
  if (file == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return OsCopyFileRange(content.package, content.offset, file, content.size);
}

bool ContentLost(DWORD error) { return error == kContentUnreadable; }

DWORD FinishFailedContent(Content& content, DWORD error) {
  if (!content.stream || ContentLost(error)) return error;
  while (content.taken < content.size) {
    const DWORD left = content.size - content.taken;
    if (!ReadNextBytes(content, g_chunk, left < sizeof g_chunk ? left : (DWORD)sizeof g_chunk))
      return kContentUnreadable;
  }
  return error;
}

BOOL HoldContent(Content& content, HANDLE written, BYTE** held) {
  *held = NULL;
  if (!content.stream) return TRUE;
  BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, content.size);
  if (!block) return FALSE;
  // The chunk whose write failed is still in the buffer; before it, what
  // was written is read back before the file it went to is deleted.
  const DWORD before = content.taken - content.unwritten;
  memcpy(block + before, g_chunk, content.unwritten);
  if ((before > 0 && !OsReadFileAt(written, 0, block, before)) ||
      !ReadNextBytes(content, block + content.taken, content.size - content.taken)) {
    const DWORD error = GetLastError();
    LocalFree(block);
    SetLastError(error);
    return FALSE;
  }
  content.data = *held = block;
  content.stream = NULL;
  return TRUE;
}

void ReportContentLost(FILE* log, DWORD error) {
  if (error == ERROR_NOT_ENOUGH_MEMORY)
    fprintf(log, "Line: 154 error allocating memory %d\r\n", (int)error);
  else
    fputs("Line: 167 **error reading buffer\r\n", log);
}
