#ifndef CHECKER_VELLOMAR_H
#define CHECKER_VELLOMAR_H

#include <stdint.h>
#include <stdio.h>

// Checks a volume's free space and/or the presence of a file, as asked on the
// command line, and writes the verdict to `out`: "OK" for a pass, a message
// (or nothing) otherwise. Returns the exit status: 0 for OK, 1 for every
// other outcome, usage included.
int RunVellomar(int argc, char** argv, FILE* out);

// The number of bytes that a -required value asks for. Leading white space
// (space, tab, LF, VT, FF, CR) is skipped, one "+" or "-" is taken, then
// decimal digits up to the first other character; the value wraps modulo
// 2^64 and is negated (modulo 2^64) after a "-". Text without digits, and a
// null pointer, give 0. Never fails.
uint64_t ParseRequired(const char* text);

#endif  // CHECKER_VELLOMAR_H
