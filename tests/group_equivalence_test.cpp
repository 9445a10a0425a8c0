// Groups change the order of a run's operations, never its outcome: every
// end-to-end row is run through the driver with groups of one entry (the
// one-at-a-time order), of two, and of the default size, its package on a
// file and on a pipe, and every run must print the same lines and leave the
// same disk as the one-at-a-time run from the same input (under the
// sanitizers the rows that strain memory run fewer combinations).
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "extractor/group.h"
#include "extractor/unpack.h"
#include "tests/e2e_runner.h"
#include "tests/seam.h"
#include "tests/unpack_cases.h"

namespace {

// The row's fault as the seam gives it: the calls it names, by the slots
// that make them, fail with its error (or return its value, for
// "retval="), every time or, with `from`, from the first call on a path
// that ends so. Calls the slots below do not make (write, renameat2) run
// without their fault here.
std::vector<FailCall> FaultInSeam(const Fault& f) {
  const std::string result = f.result;
  const std::string value = result.substr(result.find('=') + 1);
  const struct {
    const char* name;
    int err;
  } errors[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"EMFILE", EMFILE}, {"EROFS", EROFS}, {"EDQUOT", EDQUOT}};
  const struct {
    const char* call;  // as strace names it
    const char* slot;
  } slots[] = {{"fsync", "fsync"}, {"syncfs", "syncfs"}, {"openat", "open"}, {"rename", "rename"},
               {"copy_file_range", "copy_file_range"}};
  std::vector<FailCall> faults;
  for (const auto& s : slots) {
    if (("," + std::string(f.calls) + ",").find("," + std::string(s.call) + ",") == std::string::npos) continue;
    FailCall fault = FailCall(s.slot).From(f.from);
    if (StartsWith(result, "retval=")) fault = fault.Returns(atol(value.c_str()));
    for (const auto& e : errors)
      if (value == e.name) fault.err = e.err;
    faults.push_back(fault);
  }
  return faults;
}

// Runs the driver on row `c` in a child process, in a fresh folder, and
// returns its log and the disk afterwards. A row's address-space limit is
// not applied: this process already holds more than any row allows.
Outcome RunInChild(const UnpackCase& c, const GroupLimits& limits, bool pipe) {
  ScratchDir dir;
  std::unique_ptr<TmpfsVolume> volume;
  std::string skipped;
  if (c.needsTmpfs) MountVolume(dir / "vol", c.volumeBytes, &volume, &skipped);
  Prepare(dir.path(), c.before);
  Capture log;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    FILE* in = pipe ? fdopen(PipeFilledWith(c.input), "rb") : tmpfile();
    if (!pipe) fwrite(c.input.data(), 1, c.input.size(), in), rewind(in);
    SeamGuard guard(c.fault.calls ? FaultInSeam(c.fault) : std::vector<FailCall>());
    std::vector<char*> argv = {(char*)"unpack"};
    for (const std::string& a : c.args) argv.push_back((char*)a.c_str());
    argv.push_back(nullptr);
    RunUnpack((int)argv.size() - 1, argv.data(), in, log.stream(), &limits);
    fflush(log.stream());
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Outcome outcome;
  outcome.run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  outcome.run.err = log.text();
  outcome.disk = Snapshot(dir.path());
  return outcome;
}

class GroupEquivalence : public ::testing::TestWithParam<UnpackCase> {};

TEST_P(GroupEquivalence, SameLinesSameDisk) {
  const UnpackCase c = Filled(GetParam());
  std::unique_ptr<TmpfsVolume> probe;
  std::string skipped;
  if (c.needsTmpfs && !MountVolume(ScratchDir() / "probe", 4096, &probe, &skipped)) SKIP_UNLESS_CI(skipped);
  // Groups of two that flush their volume whole, and of the default size,
  // whose small groups flush each staged copy.
  const GroupLimits sizes[] = {{2, 64 << 20, 0}, kDefaultGroupLimits};
  for (bool pipe : {false, true}) {
    const Outcome alone = RunInChild(c, GroupLimits{1, 0, 0}, pipe);
    EXPECT_EQ(alone.run.status, 0);
    for (const GroupLimits& limits : sizes) {
      const std::string where = std::string(pipe ? "pipe" : "file") + ", groups of " +
                                std::to_string(limits.entries);
      const Outcome grouped = RunInChild(c, limits, pipe);
      EXPECT_EQ(Visible(grouped.run.err), Visible(alone.run.err)) << where;
      EXPECT_EQ(grouped.run.status, 0) << where;
      for (const std::string& d : Differences(alone, grouped, Differs::kNothing, {nullptr, nullptr},
                                              {"one at a time", "grouped"}))
        ADD_FAILURE() << where << ": the orders differ in " << d;
    }
  }
}

// Every row, but under the sanitizers none: there the end-to-end rows
// already run the grouped code on every row, and the comparison of orders,
// at several times the cost, is the other builds' work.
std::vector<UnpackCase> Rows() {
  return SanitizedBuild() ? std::vector<UnpackCase>() : UnpackCases();
}

INSTANTIATE_TEST_SUITE_P(Rows, GroupEquivalence, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return RowTestName(info.index, info.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GroupEquivalence);

}  // namespace
