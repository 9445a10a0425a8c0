// Many runs of the Windows unpack or Vellomar in one process: the driver
// (tests/fault_driver/unpack_faults.cpp) under Wine, where starting a process
// costs about a second. Each run takes place in a folder of its own that the
// caller has made.
#ifndef TESTS_WINDOWS_DRIVER_H
#define TESTS_WINDOWS_DRIVER_H

#include <set>
#include <string>
#include <vector>

#include "tests/e2e_runner.h"

struct DriverRun {
  std::string program = "unpack";  // or "Vellomar", or "pack"
  std::string folder;   // under the root the runs share
  bool onPipe = false;  // the package comes on a pipe, not as a file
  std::string package;  // its path from the folder
  std::vector<std::string> args;
  // The fault: the Nth call of the slot fails with `error` ("once", "from",
  // "from@dest" for calls on the run's files only), kills the run ("kill"),
  // or moves half the bytes ("short"). "-" for none.
  std::string slot = "-";
  long nth = 0;
  std::string mode = "none";
  unsigned error = 0;
  std::string trace;  // a file for the trace of the calls, from the folder
  // A file the driver holds open during the run, sharing only reading, as
  // another program may, or "run:" and a program it starts from the file,
  // suspended: from the folder, "-" for none.
  std::string hold = "-";
};

// Makes `runs` under `root` and returns what each left, in their order: its
// exit status (137 when killed), its log as standard error (Vellomar's as
// standard output; pack's two streams as they are), and the disk of its
// folder. `sites`, when given,
// receives the addresses in the program from which the runs made a call
// that can fail.
std::vector<Outcome> RunInDriver(const std::string& root, const std::vector<DriverRun>& runs,
                                 std::set<std::string>* sites = nullptr);

// Win32 error numbers, as the driver takes them.
const unsigned kIoDevice = 1117, kDiskFull = 112, kTooManyOpenFiles = 4, kWriteProtect = 19,
               kAccessDenied = 5, kNotEnoughMemory = 8, kNotSupported = 50;

// The faulty runs of a traced run (`trace`, as the driver writes it): for
// each call that can fail, one killed there, one failing there once and
// one failing from there on (on the run's files only, when the call names
// one, as a failing volume does) with each error such a call gives, and for
// a read or a write one that moves half the bytes asked for. `where` gets
// each one's fault in words. The runs' folders, programs and arguments are
// the caller's to fill.
std::vector<DriverRun> FaultRuns(const std::string& trace, std::vector<std::string>* where);

// True when the driver gives the program `args` as its own process would
// have them: each a line of a script can carry, and one that the Windows
// command line passes through unchanged (printable ASCII, no space, quote
// or wildcard, not empty). Other arguments need the .exe itself.
bool DriverCanPass(const std::vector<std::string>& args);

// Whether a table's row runs through the .exe itself besides the driver:
// one row in eight, so that the process boundary (the command line, the
// standard streams, the exit status) is crossed by every part of a table.
inline bool RunsThroughExe(size_t index) { return index % 8 == 0; }

#endif  // TESTS_WINDOWS_DRIVER_H
