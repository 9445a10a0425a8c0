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
//
// When standard input is a file, an entry's content is not held in memory:
// the package's size proves it is all there before its target is touched,
// then it is copied from the package. From a pipe, a small entry is read
// whole first; a larger one is written as it comes, a bounded buffer at a
// time, and what it made is undone when the stream ends inside it.
#include "extractor/unpack.h"

#include <stdarg.h>
#include <string.h>

#include "extractor/group.h"
#include "extractor/install.h"
#include "extractor/stream.h"
#include "format/reader.h"
#include "platform/os.h"
#include "platform/win32.h"

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

// The package when standard input is a file; `file` is INVALID_HANDLE_VALUE
// for a pipe. `position` follows the stream through the package, so that
// no entry costs a call to ask for it.
struct Package {
  HANDLE file;
  unsigned long long size;
  unsigned long long position;
};

// Entries up to this size from a file are read through the stream's own
// buffer, in the one read that brings the header: a copy by the kernel
// would cost more calls than it saves.
const DWORD kReadEntryMax = 1 << 16;

// From a pipe, entries up to this size are read whole and may wait in a
// group, which holds at most kPipeGroupBytes of content in memory (after a
// flush that fails, only memory can be trusted to give it again).
const DWORD kHeldMax = 1 << 20;
const unsigned long long kPipeGroupBytes = 3u << 20;

// Ends the run over an entry that is refused before its target is touched:
// what waits is committed first, as one at a time it would have been, then
// the line is written.
bool Refuse(PendingGroup* group, FILE* log, const char* format, ...) {
  va_list values;
  va_start(values, format);
  if (CommitGroup(group, log)) vfprintf(log, format, values);
  va_end(values);
  return false;
}

// The same, for content that cannot be had: 167, or 154 for memory.
bool RefuseContent(PendingGroup* group, FILE* log, DWORD error) {
  if (CommitGroup(group, log)) ReportContentLost(log, error);
  return false;
}

// Brings one entry from the stream to the disk. Returns false when the run
// must end; the reason has been written to `log`.
bool UnpackEntry(FILE* in, Package& package, const char* prefix, PendingGroup* group,
                 FILE* log) {
  EntryHeader header;
  const FormatRead read = ReadEntryHeader(in, &header);
  if (read == kFormatNameTooLong) return Refuse(group, log, "Line: 148 **entry name too long\r\n");
  if (read != kFormatComplete) return Refuse(group, log, "Line: 146 **error reading entry header\r\n");
  const size_t nameLength = strlen(header.name);
  if (strlen(prefix) + nameLength > kTargetPathMax) {
    char shown[MAX_PATH];
    return Refuse(group, log, "Line: 150 target path too long for %s\r\n", PrintablePath(header.name, shown));
  }
  char target[MAX_PATH];
  lstrcpyA(target, prefix);
  lstrcatA(target, header.name);

  Content content = {NULL, package.file, 0, header.size};
  if (package.file != INVALID_HANDLE_VALUE) {
    // The package's size proves the content is all there before the target
    // is touched.
    const unsigned long long at = package.position + sizeof(DWORD) + nameLength + 1;
    if (!PackageHolds(package.size, at + header.size))
      return RefuseContent(group, log, kContentUnreadable);
    content.offset = at;
    package.position = at + header.size;
    static BYTE held[kReadEntryMax];
    if (header.size <= kReadEntryMax) {
      if (!ReadEntryBytes(in, held, header.size))
        return RefuseContent(group, log, kContentUnreadable);
      content.data = held;
    } else if (!OsStreamSeek(in, (long long)package.position)) {
      return RefuseContent(group, log, kContentUnreadable);
    }
    return InstallGrouped(group, target, content, NULL, log);
  }

  if (header.size > kHeldMax) {
    content.stream = in;
    return InstallGrouped(group, target, content, NULL, log);
  }
  BYTE* held = (BYTE*)LocalAlloc(LMEM_FIXED, header.size);
  if (!held) return RefuseContent(group, log, GetLastError());
  // The target is touched only once the whole content is in memory.
  if (!ReadEntryBytes(in, held, header.size)) {
    LocalFree(held);
    return RefuseContent(group, log, kContentUnreadable);
  }
  content.data = held;
  return InstallGrouped(group, target, content, held, log);
}

}  // namespace

int RunUnpack(int argc, char** argv, FILE* in, FILE* log, const GroupLimits* limits) {
  // The package is binary: 0D 0A and 1A are data, not line ends or the end.
  _setmode(_fileno(in), _O_BINARY);
  // Nothing is written to standard output, but a program that inherits it
  // from this one's caller gets it in binary mode, as it always has.
  _setmode(_fileno(stdout), _O_BINARY);
  // Standard error stays in text mode, and every line below ends in "\r\n":
  // text mode puts a CR before the LF, so a line leaves as 0D 0D 0A. That is
  // what callers have always read, and compare.
  const char* prefix = ParseArguments(argc, argv);

  uint32_t magic = 0;
  size_t got = 0;
  ReadField(in, &magic, &got);
  if (magic != kPackageMagic) {
    fprintf(log, "Bad Magic Number %d\r\n", (int)magic);
    return 0;
  }
  fprintf(log, "Good Magic Number. %d\r\n", (int)kPackageMagic);

  uint32_t count = 0;
  if (ReadField(in, &count, &got) != kFormatComplete) {
    fprintf(log, "Line: 131 **error reading entry count\r\n");
    return 0;
  }
  if (count == 0) {
    fprintf(log, "Line: 133 **package holds no entries\r\n");
    return 0;
  }
  Package package;
  package.file = OsFileUnderStream(in, &package.size);
  const long long start = package.file != INVALID_HANDLE_VALUE ? OsStreamTell(in) : -1;
  if (start < 0) package.file = INVALID_HANDLE_VALUE;
  if (package.file == INVALID_HANDLE_VALUE) OsEnlargePipeBuffer(in);
  package.position = (unsigned long long)start;
  // From a pipe, the entries of a group keep their content in memory until
  // the commit (a failed flush may need it again): a bounded amount.
  GroupLimits bounds = limits ? *limits : kDefaultGroupLimits;
  if (package.file == INVALID_HANDLE_VALUE && bounds.bytes > kPipeGroupBytes)
    bounds.bytes = kPipeGroupBytes;
  PendingGroup group;
  if (!OpenGroup(&group, bounds)) {
    // No room for the group's table: one at a time needs none.
    OpenGroup(&group, GroupLimits{1, 0, 0});
  }
  bool ok = true;
  for (DWORD index = 0; ok && index < count; ++index) ok = UnpackEntry(in, package, prefix, &group, log);
  if (ok && CommitGroup(&group, log)) fputs("OK\r\n", log);
  CloseGroup(&group);
  return 0;
}
