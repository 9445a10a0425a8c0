// unpack: installs the files of a package stream read from standard input.
//
// Usage: unpack [-destdir PREFIX] [-s] [-S] < package
//
// Each entry's target is PREFIX followed by the entry's name, verbatim. A new
// file is written directly; an existing one is replaced through a staged copy
// (target + "TMP") that is flushed, then renamed into place once the old file
// is deleted; when the staged copy cannot be written, the old file is deleted
// and the new one written in its place. Progress and failures are reported
// on standard error; the exit status is always 0.
#include "extractor/unpack.h"

#include <string.h>

#include "extractor/install.h"
#include "extractor/stream.h"
#include "platform/platform.h"

namespace {

// Returns the destination prefix: the value of the last -destdir that has one.
const char* ParseArguments(int argc, char** argv) {
  const char* prefix = "";
  bool destdirPending = false;
  for (int i = 1; i < argc; ++i) {
    if (destdirPending) {
      prefix = argv[i];
      destdirPending = false;
    } else if (lstrcmpA(argv[i], "-s") != 0 && lstrcmpA(argv[i], "-S") != 0) {
      destdirPending = lstrcmpA(argv[i], "-destdir") == 0;
    }
  }
  return prefix;
}

// Reads a 32-bit field; bytes the stream does not hold read as 0. Returns
// false when fewer than four bytes came.
bool ReadField(FILE* in, DWORD* value) {
  BYTE bytes[4] = {0, 0, 0, 0};
  DWORD count = 0;
  StreamRead(in, bytes, sizeof bytes, &count);
  *value = DecodeLe32(bytes);
  return count == sizeof bytes;
}

// Brings one entry from the stream to the disk. Returns false when the run
// must end; the reason has been written to `log`.
bool UnpackEntry(FILE* in, const char* prefix, FILE* log) {
  EntryHeader header;
  if (!ReadEntryHeader(in, &header)) {
    if (GetLastError() == ERROR_FILENAME_EXCED_RANGE)
      fprintf(log, "Line: %d **entry name too long\r\n", 148);
    else
      fprintf(log, "Line: %d **error reading entry header\r\n", 146);
    return false;
  }
  if (strlen(prefix) + strlen(header.name) > kTargetPathMax) {
    char shown[MAX_PATH];
    fprintf(log, "Line: %d target path too long for %s\r\n", 150, Shown(header.name, shown));
    return false;
  }
  char target[MAX_PATH];
  lstrcpyA(target, prefix);
  lstrcatA(target, header.name);

  BYTE* content = (BYTE*)LocalAlloc(LMEM_FIXED, header.size);
  if (!content) {
    fprintf(log, "Line: %d error allocating memory %d\r\n", 154, (int)GetLastError());
    return false;
  }
  // The target is touched only once the whole content is in memory.
  DWORD total = 0;
  bool ok = StreamReadFull(in, content, header.size, &total) && total == header.size;
  if (!ok)
    fprintf(log, "Line: %d **error reading buffer\r\n", 167);
  else
    ok = InstallEntry(target, content, header.size, log);
  LocalFree(content);
  return ok;
}

}  // namespace

int RunUnpack(int argc, char** argv, FILE* in, FILE* log) {
  _setmode(_fileno(in), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  const char* prefix = ParseArguments(argc, argv);

  DWORD magic = 0;
  ReadField(in, &magic);
  if (magic != kPackageMagic) {
    fprintf(log, "Bad Magic Number %d\r\n", (int)magic);
    return 0;
  }
  fprintf(log, "Good Magic Number. %d\r\n", (int)kPackageMagic);

  DWORD count = 0;
  if (!ReadField(in, &count)) {
    fprintf(log, "Line: %d **error reading entry count\r\n", 131);
    return 0;
  }
  if (count == 0) {
    fprintf(log, "Line: %d **package holds no entries\r\n", 133);
    return 0;
  }
  for (DWORD index = 0; index < count; ++index)
    if (!UnpackEntry(in, prefix, log)) return 0;
  fputs("OK\r\n", log);
  return 0;
}
