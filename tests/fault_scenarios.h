// The scenarios of the fault matrices and what a run under a fault may leave,
// shared by the Linux build's matrix (strace, fault_matrix_test.cpp) and the
// Windows build's (the fault driver under Wine, windows_fault_matrix_test.cpp).
// The promise held (see "A killed run" in docs/design.md): an existing
// file's name holds its old or its new content, never nothing; a new file is
// absent, or a prefix of its content after a kill; nothing outside the
// targets is written. Only the direct rewrite, the road for a volume without
// room, may leave a prefix of the new content in an existing file.
#ifndef TESTS_FAULT_SCENARIOS_H
#define TESTS_FAULT_SCENARIOS_H

#include <string>
#include <vector>

#include "tests/e2e_runner.h"

struct Scenario {
  const char* name;
  std::vector<Before> before;      // in the scenario's folder; targets are in dest/
  std::vector<PackEntry> entries;  // names under dest/
  // The staged copy cannot be written: the old file goes before the new one
  // is written, so it may end absent or partly written.
  bool directRewrite = false;
};

const std::vector<Scenario>& FaultScenarios();

// Makes a scenario's folder under `root`: dest/ and what stands in it, and
// for the planted link the victim beside it. For the Windows build
// (`windows`), the planted link is a second name of the victim, not a
// symbolic link (Wine shows one as the file it points to, and deletes that
// file for it, where Windows would show a reparse point), and no target has
// a second name (Windows cannot give it a new file: see RenewName).
void StageScenario(const std::string& root, const Scenario& s, bool windows = false);

// What is wrong on `disk` after a run that was killed (`killed`) or failed
// at one call, or "" when nothing is; `rewritten` when the run took the
// direct rewrite for want of room.
std::string DiskFault(const Scenario& s, const Disk& disk, bool killed, bool rewritten = false);

// Checks what a run that ended in "OK" left: every target holds its
// content, and nothing is wrong besides.
void ExpectInstalled(const Scenario& s, const Disk& disk, const std::string& where);

// Checks a run that failed at `where` and went on: its status, its last line
// and the disk. `diskFull`: the fault was a volume without room, which lets
// the direct rewrite write over the old file.
void ExpectFailedRun(const Scenario& s, const RunResult& r, const Disk& disk, const std::string& where,
                     bool diskFull);

inline void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

#endif  // TESTS_FAULT_SCENARIOS_H
