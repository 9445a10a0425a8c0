// The truncation matrix: a valid package of three entries, one of them
// replacing an existing file, cut short at a given byte offset.
#ifndef TESTS_TRUNCATION_H
#define TESTS_TRUNCATION_H

#include <stddef.h>

#include <string>

#include "tests/e2e_runner.h"

// The whole package; cuts are taken from 0 to its size - 1. The large one
// holds entries of 1.5 MiB, which a pipe brings a buffer at a time.
std::string TruncationPackage(bool large = false);

// Runs `build`'s unpack on the package cut at `cut` in a fresh folder, from
// a file or `onPipe`, and checks the outcome: never "OK", one line for the
// cut, and every target holding its complete new content or exactly what it
// held before. Returns the outcome, for a comparison of two builds.
Outcome CheckCutAt(const Build& build, size_t cut, bool large = false, bool onPipe = false);

#endif  // TESTS_TRUNCATION_H
