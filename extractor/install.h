// Putting one entry's content on disk under its target path.
#ifndef EXTRACTOR_INSTALL_H
#define EXTRACTOR_INSTALL_H

#include <stdio.h>

#include "extractor/content.h"
#include "format/package_format.h"
#include "platform/win32.h"

// Writes `content` to `target`: directly when the target is absent; through
// a flushed staged copy (target + "TMP") renamed over the old file when it
// exists; and, when the staged copy cannot be made or does not fit, by
// writing the new content over the old file (the direct rewrite).
// Diagnostics go to `log`. Returns true when the content stands under the
// target path; false after a failure, whose line has been written. Content
// that cannot be had (a stream that ends inside it, a package file that
// shrinks) gets the driver's line for it, and leaves an old file as it was.
// Content from the stream is written as it comes, into the new file or the
// staged copy; only the direct rewrite holds it whole in memory.
BOOL InstallEntry(LPCSTR target, Content content, FILE* log);

// The same road in steps, for a driver that commits replacements later (the
// presence test is the platform's OsEntryPresent).
// The two Try steps write nothing to the log: when one fails, it has removed
// what it made, and the caller may take the entry again with InstallEntry.

// Creates the absent `target` with the content. Fails with
// ERROR_FILE_EXISTS when a file came there since the presence test.
BOOL TryWriteNew(LPCSTR target, Content content);

// A replacement whose staged copy is written but not yet committed.
struct Replacement {
  char target[MAX_PATH];
  char temp[MAX_PATH];  // target + "TMP"
  HANDLE file;          // the staged copy, open
  Content content;      // again, for the direct rewrite
  BOOL flushed;         // FlushFileBuffers has been called, with this result
  DWORD flushError;
};
// Writes the staged copy of `target` into `r` (content in memory or in the
// package file: a stream's is InstallEntry's). `target` fits kTargetPathMax.
// Fails with ERROR_FILE_EXISTS when something already stands at target +
// "TMP": a leftover is InstallEntry's to remove.
BOOL TryStage(LPCSTR target, const Content& content, Replacement* r);
// Flushes the staged copy (unless done), then puts it in the old file's
// place, as InstallEntry does after writing it; writes its diagnostics.
BOOL FinishReplacement(Replacement* r, FILE* log);

// Gives up a file this run made and does not keep: a staged copy, or a new
// file whose content failed. Closes `file` unless it is
// INVALID_HANDLE_VALUE, then deletes `path`; the last-error code stays that
// of the failure that led here.
void DiscardFile(LPCSTR path, HANDLE file);

// A path as the diagnostics print it, in `shown`: each control character (a
// line feed among them) as "?", so that no name can make a line of its own,
// a forged "OK" above all. Other bytes pass unchanged.
LPCSTR PrintablePath(LPCSTR path, char shown[MAX_PATH]);

#endif  // EXTRACTOR_INSTALL_H
