// The end-to-end cases of Vellomar: one row per case, run against a built
// program in a fresh scratch folder that is also its working folder. Paths
// are relative to that folder, so the same rows serve any build of the
// program, whatever system runs it.
#ifndef TESTS_CHECKER_CASES_H
#define TESTS_CHECKER_CASES_H

#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/unpack_cases.h"  // Before, kDirectory, TextMode

// Stands, in an expected output, for the free byte count of a volume whose
// count the row cannot know (the one holding C:\): one or more decimal digits.
extern const std::string kAnyCount;

// The volume a row runs against.
enum class Volume {
  kAny,    // only the default volume (or none) is used
  kSmall,  // "vol" is an empty tmpfs of 1 MiB: 1048576 bytes free
  kLarge,  // "vol" is an empty tmpfs of 5 GiB: 5368709120 bytes free
};

struct CheckerCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<Before> before;
  std::string out;  // standard output as the program formats it, "\n" per line
  int status;
  Volume volume = Volume::kAny;
  // The arguments need more than the 32767 characters of a Windows command
  // line, so a Windows build cannot be given them.
  bool overWindowsCommandLine = false;
};

const std::vector<CheckerCase>& CheckerCases();

// Test names show the row's name, not its bytes.
inline void PrintTo(const CheckerCase& c, std::ostream* os) { *os << c.name; }

// The bytes of an empty tmpfs of each size, as its free count.
uint64_t VolumeBytes(Volume volume);

// True when `actual` is `expected` with each kAnyCount in it replaced by one
// or more decimal digits.
bool MatchesOutput(const std::string& expected, const std::string& actual);

#endif  // TESTS_CHECKER_CASES_H
