// Running the end-to-end rows against a build of the programs: the Linux
// build as it is, the Windows build under Wine. A row prepares its scratch
// folder, runs one program there and leaves an outcome: what the program
// wrote, its exit status and everything on disk afterwards, so that two
// builds can be compared byte for byte.
#ifndef TESTS_E2E_RUNNER_H
#define TESTS_E2E_RUNNER_H

#include <stdint.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/harness.h"
#include "tests/unpack_cases.h"

// One build of the two programs and how to start them.
struct Build {
  std::string name;                   // "Linux", "Windows"
  std::vector<std::string> launcher;  // put before the program's path
  std::string unpack;                 // the programs' paths
  std::string vellomar;
  std::vector<std::string> env;  // NAME=VALUE added for every run
  // The Windows build, run under Wine. A row's address-space limit does not
  // reach it: Wine's loader needs far more than any limit a row sets, and a
  // 32-bit program has its own.
  bool windows = false;
};

Build NativeBuild(const std::string& unpack, const std::string& vellomar);
// The Windows programs, run by `runner` (tests/run-under-wine.sh) in the
// Wine prefix `prefix`.
Build WineBuild(const std::string& unpack, const std::string& vellomar, const std::string& runner,
                const std::string& prefix);

// Runs `program` (one of the build's) with `args` in `cwd`, under `wrapper`
// (a command such as strace that runs the rest) when one is given, its input
// on a pipe when `inputOnPipe`, else in a file.
RunResult RunOn(const Build& build, const std::string& program, const std::vector<std::string>& args,
                const std::string& input, const std::string& cwd, uint64_t addressLimit = 0,
                const std::vector<std::string>& wrapper = {}, bool inputOnPipe = false);

// True under CI (CI set and not "false"), where a row must not be skipped.
bool UnderCi();

// Skips the test for `why`, or fails it under CI, which must run it all.
#define SKIP_UNLESS_CI(why)                                                \
  do {                                                                     \
    const std::string reason_ = (why);                                     \
    if (UnderCi()) FAIL() << reason_ << ", and CI must not skip this test"; \
    GTEST_SKIP() << reason_;                                               \
  } while (0)

// True when strace is installed, so that a test can fail a system call of a
// program it runs; otherwise false with the reason.
bool StraceInstalled(std::string* why);
// The strace command that runs a program with `inject` (strace's
// -e inject= value) and writes its trace to `traceFile`.
std::vector<std::string> Strace(const std::string& inject, const std::string& traceFile = "/dev/null");

// An empty tmpfs of `bytes` at `path`, unmounted when the object goes.
// Mounting needs root.
class TmpfsVolume {
 public:
  // With `inodes`, that many files and folders at most, its root among them.
  TmpfsVolume(const std::string& path, uint64_t bytes, uint64_t inodes = 0);
  ~TmpfsVolume();
  TmpfsVolume(const TmpfsVolume&) = delete;
  TmpfsVolume& operator=(const TmpfsVolume&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

// Mounts a tmpfs of `bytes` at `path` into `volume`. Returns false, with the
// reason in `skipped`, when it cannot be mounted (it needs root).
bool MountVolume(const std::string& path, uint64_t bytes, std::unique_ptr<TmpfsVolume>* volume,
                 std::string* skipped, uint64_t inodes = 0);

// Puts what a row needs in its scratch folder before the run.
void Prepare(const std::string& root, const std::vector<Before>& before);

// One entry on disk: a file's bytes (or kDirectory, or "<symlink> target")
// and its permission bits.
struct DiskEntry {
  std::string content;
  mode_t mode = 0;
  uid_t owner = 0;
  bool operator==(const DiskEntry& o) const {
    return content == o.content && mode == o.mode && owner == o.owner;
  }
};
// Everything under a folder, by path relative to it ("a", "a/b").
typedef std::map<std::string, DiskEntry> Disk;
Disk Snapshot(const std::string& root);

// What a run left: its streams and status, and the disk afterwards.
struct Outcome {
  RunResult run;
  Disk disk;
};

// How two builds' outcomes differ: one line per difference, none when the
// same bytes came out and the same files stand with the same modes.
// `exempt` names the differences of the platforms that a row may show, and
// `wine` a departure of Wine from Windows.
// `names` are the two outcomes' names in the lines.
std::vector<std::string> Differences(const Outcome& onLinux, const Outcome& onWindows,
                                     Differs exempt = Differs::kNothing,
                                     WineDeparts wine = {nullptr, nullptr},
                                     const std::pair<std::string, std::string>& names = {"Linux",
                                                                                          "Windows"});

// Standard error as the Windows build under Wine writes it, where a row says
// it departs (`wine`): each `wine.windows` replaced with `wine.wine`.
std::string AsUnderWine(std::string err, WineDeparts wine);

// Puts what row `c` needs in the folder `dir`: its volume, mounted into
// `volume`, and what stands there before the run. Returns false, with the
// reason in `skipped`, when the volume cannot be mounted.
bool PrepareUnpackRow(const UnpackCase& c, const std::string& dir, std::unique_ptr<TmpfsVolume>* volume,
                      std::string* skipped);

// Runs an unpack row against `build` in a fresh scratch folder. Returns
// false, with the reason in `skipped`, when the row needs a tmpfs that cannot
// be mounted.
bool RunUnpackRow(const Build& build, const UnpackCase& c, Outcome* outcome, std::string* skipped);

// Checks an unpack row's expectations against what a run of `build` left.
void ExpectUnpackRow(const Build& build, const UnpackCase& c, const Outcome& outcome);

// A test's name for the row `name` at `index`: letters and digits kept, the
// rest as "_".
std::string RowTestName(size_t index, const char* name);

#endif  // TESTS_E2E_RUNNER_H
