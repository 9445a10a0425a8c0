// Runs every Vellomar case against the Windows build under Wine: standard
// output (text mode, CR LF) as the row expects, nothing on standard error,
// the row's exit status. Then the same row runs against the Linux build, and
// both must leave the same bytes, the same status and the same disk. Most
// rows run in one process of the driver; the rest, and a sample of every
// part of the table, through Vellomar.exe itself. A free
// count that no row can know (the volume holding C:\) is compared by its
// place in the line, not by its digits.
#include <gtest/gtest.h>

#include <memory>

#include "tests/checker_cases.h"
#include "tests/e2e_runner.h"
#include "tests/windows_builds.h"
#include "tests/windows_driver.h"

namespace {

// Runs a Vellomar row against `build` in a fresh scratch folder. Returns
// false, with the reason in `skipped`, when its volume cannot be mounted.
bool RunCheckerRow(const Build& build, const CheckerCase& c, Outcome* outcome,
                   std::string* skipped) {
  ScratchDir dir;
  std::unique_ptr<TmpfsVolume> volume;
  if (c.volume != Volume::kAny && !MountVolume(dir / "vol", VolumeBytes(c.volume), &volume, skipped))
    return false;
  Prepare(dir.path(), c.before);
  outcome->run = RunOn(build, build.vellomar, c.args, "", dir.path());
  outcome->disk = Snapshot(dir.path());
  return true;
}

// `actual` with the digits that stand where `expected` holds kAnyCount
// replaced by kAnyCount; unchanged when it does not match `expected`.
std::string CountsHidden(const std::string& expected, const std::string& actual) {
  if (!MatchesOutput(expected, actual)) return actual;
  std::string out;
  size_t e = 0, a = 0;
  while (e < expected.size()) {
    if (expected.compare(e, kAnyCount.size(), kAnyCount) == 0) {
      while (a < actual.size() && actual[a] >= '0' && actual[a] <= '9') ++a;
      out += kAnyCount;
      e += kAnyCount.size();
    } else {
      out += actual[a++];
      ++e;
    }
  }
  return out;
}

// Compares the Windows build's outcome of row `c` with the row and with the
// Linux build's.
void ExpectBothBuilds(const CheckerCase& c, Outcome onWindows, Outcome onLinux) {
  const std::string expected = TextMode(c.out);
  EXPECT_TRUE(MatchesOutput(expected, onWindows.run.out))
      << c.name << "\n  expected: " << Shown(expected) << "\n  actual:   " << Shown(onWindows.run.out);
  EXPECT_EQ(Visible(onWindows.run.err), "") << c.name;
  EXPECT_EQ(onWindows.run.status, c.status) << c.name;
  onLinux.run.out = CountsHidden(expected, onLinux.run.out);
  onWindows.run.out = CountsHidden(expected, onWindows.run.out);
  for (const std::string& d : Differences(onLinux, onWindows))
    ADD_FAILURE() << c.name << ": the builds differ in " << d;
}

// The rows a Windows command line can carry at all, and of those the ones
// Vellomar.exe itself runs: those whose arguments the driver cannot pass as
// the command line would, and a sample of the rest.
std::vector<CheckerCase> WindowsCases(bool exe) {
  std::vector<CheckerCase> cases;
  const std::vector<CheckerCase>& all = CheckerCases();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].overWindowsCommandLine) continue;
    const bool needsExe = !DriverCanPass(all[i].args);
    if (exe ? needsExe || RunsThroughExe(i) : !needsExe) cases.push_back(all[i]);
  }
  return cases;
}

class CheckerEndToEnd : public ::testing::TestWithParam<CheckerCase> {};

TEST_P(CheckerEndToEnd, Row) {
  const CheckerCase& c = GetParam();
  Outcome onWindows, onLinux;
  std::string skipped;
  if (!RunCheckerRow(WindowsBuild(), c, &onWindows, &skipped)) SKIP_UNLESS_CI(skipped);
  ASSERT_TRUE(RunCheckerRow(LinuxBuild(), c, &onLinux, &skipped)) << skipped;
  ExpectBothBuilds(c, onWindows, onLinux);
}

INSTANTIATE_TEST_SUITE_P(Windows, CheckerEndToEnd, ::testing::ValuesIn(WindowsCases(true)),
                         [](const auto& info) { return RowTestName(info.index, info.param.name); });

// The other rows, in one process of the driver under Wine.
TEST(CheckerEndToEndInOneProcess, EveryRow) {
  const std::vector<CheckerCase> cases = WindowsCases(false);
  ScratchDir root;
  std::vector<std::unique_ptr<TmpfsVolume>> volumes(cases.size());
  std::vector<DriverRun> runs(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string folder = root / ("r" + std::to_string(i));
    std::string skipped;
    MakeDirs(folder);
    if (cases[i].volume != Volume::kAny &&
        !MountVolume(folder + "/vol", VolumeBytes(cases[i].volume), &volumes[i], &skipped))
      SKIP_UNLESS_CI(skipped);
    Prepare(folder, cases[i].before);
    runs[i].program = "Vellomar";
    runs[i].folder = "r" + std::to_string(i);
    runs[i].package = "-";
    runs[i].args = cases[i].args;
  }
  const std::vector<Outcome> onWindows = RunInDriver(root.path(), runs);
  volumes.clear();
  for (size_t i = 0; i < cases.size(); ++i) {
    Outcome onLinux;
    std::string skipped;
    ASSERT_TRUE(RunCheckerRow(LinuxBuild(), cases[i], &onLinux, &skipped)) << skipped;
    ExpectBothBuilds(cases[i], onWindows[i], onLinux);
  }
}

}  // namespace
