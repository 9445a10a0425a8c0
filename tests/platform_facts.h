// What Windows does for the platform calls the programs make, as public
// conformance suites record it (Wine's kernel32 tests, ReactOS's FindFiles
// test, the CoreCLR PAL suite, WinFsp's tests run against NTFS), one row per
// fact, checked through tests/probe/platform_probe on both builds.
#ifndef TESTS_PLATFORM_FACTS_H
#define TESTS_PLATFORM_FACTS_H

#include "tests/e2e_runner.h"

struct PlatformFact {
  const char* what;     // the fact, in a few words
  std::string command;  // a line for the probe: call and tab-separated fields
  const char* windows;  // what the probe prints where Windows runs it
  // Where a build departs from Windows: what Wine prints (its own departure),
  // and what the Linux build prints where it departs on purpose (a
  // difference of the platforms that docs/windows.md lists).
  const char* wine = nullptr;
  const char* linux = nullptr;
};

const std::vector<PlatformFact>& PlatformFacts();

// Runs every fact's command through `build`'s copy of the probe, in a fresh
// folder holding what the commands expect, and checks each line against what
// that build should print.
void ExpectPlatformFacts(const Build& build, const std::string& probe);

#endif  // TESTS_PLATFORM_FACTS_H
