// Putting one entry's content on disk under its target path.
#ifndef EXTRACTOR_INSTALL_H
#define EXTRACTOR_INSTALL_H

#include <stdio.h>

#include "format/package_format.h"
#include "platform/platform.h"

// Where an entry's content is: in memory at `data`, or, when `data` is null,
// in the package file `package` at `offset` (the two may both be given; a
// pipe gives no package: INVALID_HANDLE_VALUE).
struct Content {
  const BYTE* data;
  HANDLE package;
  unsigned long long offset;
  DWORD size;
};

// Writes `content` to `target`: directly when the target is absent; through
// a flushed staged copy (target + "TMP") renamed over the old file when it
// exists; and, when the staged copy cannot be made or does not fit, by
// writing the new content over the old file (the direct rewrite).
// Diagnostics go to `log`. Returns true when the content stands under the
// target path; false after a failure, whose line has been written. Content
// from a package that ends under the copy gets the driver's line for a cut
// stream, kCutLine, and leaves an old file as it was.
BOOL InstallEntry(LPCSTR target, const Content& content, FILE* log);

// The line of a stream that ends, or fails, inside an entry's content.
extern const char kCutLine[];

// The same road in steps, for a driver that commits replacements later (the
// presence test is the platform's EntryPresent).
// The two Try steps write nothing to the log: when one fails, it has removed
// what it made, and the caller may take the entry again with InstallEntry.

// Creates the absent `target` with the content. Fails with
// ERROR_FILE_EXISTS when a file came there since the presence test.
BOOL TryWriteNew(LPCSTR target, const Content& content);

// A replacement whose staged copy is written but not yet committed.
struct Replacement {
  char target[MAX_PATH];
  char temp[MAX_PATH];  // target + "TMP"
  HANDLE file;          // the staged copy, open
  Content content;      // again, for the direct rewrite
  BOOL flushed;         // FlushFileBuffers has been called, with this result
  DWORD flushError;
};
// Writes the staged copy of `target` into `r`. `target` fits kTargetPathMax.
// Fails with ERROR_FILE_EXISTS when something already stands at target +
// "TMP": a leftover is InstallEntry's to remove.
BOOL TryStage(LPCSTR target, const Content& content, Replacement* r);
// Flushes the staged copy (unless done), then puts it in the old file's
// place, as InstallEntry does after writing it; writes its diagnostics.
BOOL FinishReplacement(Replacement* r, FILE* log);

// A path as the diagnostics print it, in `shown`: each control character (a
// line feed among them) as "?", so that no name can make a line of its own,
// a forged "OK" above all. Other bytes pass unchanged.
LPCSTR Shown(LPCSTR path, char shown[MAX_PATH]);

#endif  // EXTRACTOR_INSTALL_H
