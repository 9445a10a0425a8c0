// Runs every unpack case against the Windows build under Wine. Each row is
// checked as for the Linux build (unpack_e2e_test.cpp), then run against the
// Linux build as well: both must leave the same bytes on standard output and
// standard error, the same exit status and the same disk, apart from what
// the row names as a difference of the platforms themselves. Most rows run
// in one process of the driver; the rest, and a sample of every part of the
// table, through unpack.exe itself.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "tests/e2e_runner.h"
#include "tests/unpack_cases.h"
#include "tests/windows_builds.h"
#include "tests/windows_driver.h"

const Build& LinuxBuild() {
  static const Build build = NativeBuild(UNPACK_PATH, VELLOMAR_PATH);
  return build;
}

const Build& WindowsBuild() {
  static const Build build =
      WineBuild(WINDOWS_UNPACK_PATH, WINDOWS_VELLOMAR_PATH, WINE_RUNNER, WINE_PREFIX);
  return build;
}

namespace {

// Compares what the Windows build left for row `c` with the row's
// expectations and with what the Linux build left.
void ExpectBothBuilds(const UnpackCase& c, const Outcome& onWindows, Outcome onLinux) {
  ExpectUnpackRow(WindowsBuild(), c, onWindows);
  onLinux.run.err = AsUnderWine(onLinux.run.err, c.windows);
  for (const std::string& d : Differences(onLinux, onWindows, c.differs, c.wine))
    ADD_FAILURE() << c.name << ": the builds differ in " << d;
}

// The rows the Windows build can show.
std::vector<UnpackCase> WindowsCases() {
  std::vector<UnpackCase> cases;
  for (const UnpackCase& c : UnpackCases())
    if (!c.linuxOnly) cases.push_back(c);
  return cases;
}

// What the driver cannot run as unpack.exe runs: a fault that strace injects
// into the process, arguments that the command line would change.
bool NeedsExe(const UnpackCase& c) { return c.fault.calls || !DriverCanPass(c.args); }

// Each row that needs the .exe, and a sample of the others, run by
// unpack.exe itself, a process of its own for each.
std::vector<UnpackCase> ExeCases() {
  std::vector<UnpackCase> cases;
  const std::vector<UnpackCase> all = WindowsCases();
  for (size_t i = 0; i < all.size(); ++i)
    if (NeedsExe(all[i]) || RunsThroughExe(i)) cases.push_back(all[i]);
  return cases;
}

class UnpackEndToEnd : public ::testing::TestWithParam<UnpackCase> {};

TEST_P(UnpackEndToEnd, Row) {
  const UnpackCase c = Filled(GetParam());
  Outcome onWindows, onLinux;
  std::string skipped;
  if (!RunUnpackRow(WindowsBuild(), c, &onWindows, &skipped)) {
    SKIP_UNLESS_CI(skipped);
  }
  ASSERT_TRUE(RunUnpackRow(LinuxBuild(), c, &onLinux, &skipped)) << skipped;
  ExpectBothBuilds(c, onWindows, onLinux);
}

INSTANTIATE_TEST_SUITE_P(Windows, UnpackEndToEnd, ::testing::ValuesIn(ExeCases()),
                         [](const auto& info) { return RowTestName(info.index, info.param.name); });

// Every row the driver can run, in one process of it under Wine while this
// one runs the rows against the Linux build.
TEST(UnpackEndToEndInOneProcess, EveryRow) {
  std::vector<UnpackCase> cases;
  for (const UnpackCase& c : WindowsCases())
    if (!NeedsExe(c)) cases.push_back(Filled(c));
  ScratchDir root;
  std::vector<std::unique_ptr<TmpfsVolume>> volumes(cases.size());
  std::vector<DriverRun> runs(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string n = std::to_string(i);
    std::string skipped;
    MakeDirs(root / ("r" + n));
    if (!PrepareUnpackRow(cases[i], root / ("r" + n), &volumes[i], &skipped)) SKIP_UNLESS_CI(skipped);
    WriteFile(root / ("in" + n), cases[i].input);
    runs[i].folder = "r" + n;
    runs[i].onPipe = cases[i].inputOnPipe;
    runs[i].package = "../in" + n;
    runs[i].args = cases[i].args;
  }
  std::vector<Outcome> onWindows;
  std::thread windows([&] { onWindows = RunInDriver(root.path(), runs); });
  std::vector<Outcome> onLinux(cases.size());
  std::vector<std::string> skipped(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) RunUnpackRow(LinuxBuild(), cases[i], &onLinux[i], &skipped[i]);
  windows.join();
  volumes.clear();
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(skipped[i], "") << cases[i].name;
    ExpectBothBuilds(cases[i], onWindows[i], onLinux[i]);
  }
}

}  // namespace

namespace {

// An entry of 2.25 GiB from a pipe, more than the 2 GiB a 32-bit program can
// address: it cannot be held, and is written as it comes. The package is
// made by the shell as it is read, so that no test holds it either; the
// file goes to a tmpfs, which needs no disk of that size.
TEST(WindowsPipe, EntryLargerThanTheAddressSpace) {
  const Build& w = WindowsBuild();
  ScratchDir scratch;
  std::unique_ptr<TmpfsVolume> volume;
  std::string skipped;
  if (!MountVolume(scratch / "vol", 2500u << 20, &volume, &skipped)) SKIP_UNLESS_CI(skipped);
  const std::string dir = scratch / "vol";
  std::string run;
  for (const std::string& e : w.env) run += e + " ";
  for (const std::string& a : w.launcher) run += "'" + a + "' ";
  run += "'" + w.unpack + "'";
  const std::string script =
      "cd '" + dir + "' && { printf '\\335\\120\\321\\004\\001\\0\\0\\0\\0\\0\\0\\220big\\0'; "
      "head -c 2415919104 /dev/zero; } | " + run + " 2> log && "
      "[ \"$(stat -c %s big)\" = 2415919104 ] && cmp -s -n 2415919104 big /dev/zero";
  EXPECT_EQ(system(script.c_str()), 0) << ReadFile(dir + "/log");
  EXPECT_EQ(Visible(ReadFile(dir + "/log")), Visible(TextMode("Good Magic Number. 80826589\r\nOK\r\n")));
}

}  // namespace
