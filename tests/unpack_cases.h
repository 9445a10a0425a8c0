// The end-to-end cases of unpack: one row per case, run against a built
// program in a fresh scratch folder. Paths are relative to that folder.
#ifndef TESTS_UNPACK_CASES_H
#define TESTS_UNPACK_CASES_H

#include <stdint.h>
#include <sys/types.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/harness.h"

// Contents that stand for something other than bytes.
extern const std::string kDirectory;  // a directory
extern const std::string kAbsent;     // nothing at that path
// Before a run: kSecondNameOf + "x" is a hard link to the file x, and
// kSymlinkTo + "x" a symbolic link to x (as Snapshot shows a link).
extern const std::string kSecondNameOf;
extern const std::string kSymlinkTo;

// What stands in the scratch folder before the run.
struct Before {
  std::string path;
  std::string content;  // or kDirectory
  mode_t mode = 0644;
  int owner = -1;  // the user and group that own it, when not root's
};

// What must stand there after it; a mode of 0 is not checked, nor an owner
// of -1.
struct After {
  std::string path;
  std::string content;  // or kDirectory, kAbsent
  mode_t mode = 0;
  int owner = -1;
};

// The user and group the rows take for one who is not root: nobody.
const int kNobody = 65534;

// A way in which Windows and Linux themselves differ that a row shows. The
// comparison of the two builds leaves out that part of the row alone.
enum class Differs {
  kNothing,
  // Windows has no executable bit: a file that replaces an executable one
  // is not executable there (modes are compared without the x bits).
  kExecutableBit,
  // A backslash separates folders on Windows; on Linux it is a character of
  // the name like any other (paths are compared with it read as "/").
  kBackslash,
  // Windows replaces no read-only file: the old file loses read-only first,
  // and its other names with it (modes are compared without owner write).
  kOtherNamesWritable,
};

// Where Wine departs from Windows in a row's standard error: Windows, like
// the Linux build, writes `windows` where Wine writes `wine`.
struct WineDeparts {
  const char* windows;
  const char* wine;
};

// A system call that fails during a row's run: strace injects it into the
// program; in process the seam does.
struct Fault {
  const char* calls = nullptr;  // as strace names them: "fsync,syncfs", "openat", ...
  const char* result = nullptr;  // "error=EIO", "retval=0"
  // Every call of that kind fails from the first on a path that ends so (a
  // fault that persists), or, when null, every call of the run.
  const char* from = nullptr;
  bool once = false;  // only that first call fails
};

struct UnpackCase {
  const char* name = nullptr;
  std::vector<std::string> args = {};
  std::string input = {};
  std::vector<Before> before = {};
  std::string err = {};  // standard error as the program formats it, "\r\n" per line
  std::vector<After> after = {};
  bool needsTmpfs = false;       // the scratch folder's "vol" is a tmpfs (of volumeBytes)
  // RLIMIT_AS for the child, where it reaches the program: the Linux build.
  // Under Wine the 32-bit address space is the limit.
  uint64_t addressLimit = 0;
  Differs differs = Differs::kNothing;
  // A call that fails, whatever the build for the flushes; the other calls
  // only on Linux (under Wine, a server that no tracer reaches makes them).
  Fault fault = {};
  WineDeparts wine = {nullptr, nullptr};
  // Standard input is a pipe: the content is read whole before the target
  // is touched. Otherwise a file, whose content is copied from it.
  bool inputOnPipe = false;
  // Only Linux can show the row: a name Windows does not allow, a symbolic
  // link (which Wine shows as what it points to), a fault no tracer reaches.
  bool linuxOnly = false;
  uint64_t volumeBytes = 1 << 20;
  // A row whose bytes run to megabytes makes its input, and what stands
  // before and after, only when it runs (Filled): every test process builds
  // the whole table, and would otherwise pay for rows it does not run.
  void (*bytes)(UnpackCase* c) = nullptr;
  uint64_t volumeInodes = 0;  // the tmpfs's inodes, when limited
  // Where the Windows build itself writes otherwise, a difference of the
  // platforms and not of Wine: the Linux build writes `windows`, and the
  // Windows build `wine` instead.
  WineDeparts windows = {nullptr, nullptr};
  // The Linux build runs as a user who is not root (nobody), in a scratch
  // folder anyone may write; under Wine the Windows build runs without
  // root's power over permission bits, as it always does.
  bool asUser = false;
};

const std::vector<UnpackCase>& UnpackCases();

// The row with all its bytes: for the rows that make them when they run.
UnpackCase Filled(const UnpackCase& c);

// Test names show the row's name, not its bytes.
inline void PrintTo(const UnpackCase& c, std::ostream* os) { *os << c.name; }

// What text mode makes of `lines` on the way out: CR before every LF.
std::string TextMode(const std::string& lines);

#endif  // TESTS_UNPACK_CASES_H
