// The progress line of long work: bytes done, bytes in all and the rate, on
// one line of a terminal that is written over in place.
#ifndef PACK_PROGRESS_H
#define PACK_PROGRESS_H

#include <stdio.h>

struct Progress {
  FILE* err = nullptr;  // the terminal; null when nothing is shown
  unsigned long long done = 0;
  unsigned long long total = 0;  // 0 when not known
  double start = 0;
  double shownAt = 0;
  int width = 0;  // of the line on the terminal; 0 when none stands there
};

// Shows progress on `err` when it is a terminal and `quiet` is not set, once
// the work has taken a second; `total` is 0 when not known.
void StartProgress(Progress* p, FILE* err, bool quiet, unsigned long long total);
void AddProgress(Progress* p, unsigned long long bytes);
// Erases the line, so that a message or the end finds the terminal clean.
void ClearProgress(Progress* p);

// Erases the line before a line is written to `stream`, when that shows on
// the terminal too: the error stream itself, or standard output on the same
// or another terminal.
void ClearProgressBefore(Progress* p, FILE* stream);

// Seconds on a clock that only goes forward. Tests put a clock of their own.
extern double (*g_progressClock)(void);

#endif  // PACK_PROGRESS_H
