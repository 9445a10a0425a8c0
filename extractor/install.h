// Putting one entry's content on disk under its target path.
#ifndef EXTRACTOR_INSTALL_H
#define EXTRACTOR_INSTALL_H

#include <stdio.h>

#include "extractor/package_format.h"
#include "platform/platform.h"

// Writes `content` to `target`: directly when the target is absent; through
// a flushed staged copy (target + "TMP") renamed into place when it exists;
// and, when the staged copy cannot be written, by deleting the old file and
// writing the new one in its place. Diagnostics go to `log`. Returns true
// when the content stands under the target path; false after a failure,
// whose line has been written.
BOOL InstallEntry(LPCSTR target, const BYTE* content, DWORD size, FILE* log);

// A path as the diagnostics print it, in `shown`: each control character (a
// line feed among them) as "?", so that no name can make a line of its own,
// a forged "OK" above all. Other bytes pass unchanged.
LPCSTR Shown(LPCSTR path, char shown[MAX_PATH]);

#endif  // EXTRACTOR_INSTALL_H
