// Runs every Vellomar case against the Windows build under Wine: standard
// output (text mode, CR LF) as the row expects, nothing on standard error,
// the row's exit status. Then the same row runs against the Linux build, and
// both must leave the same bytes, the same status and the same disk. A free
// count that no row can know (the volume holding C:\) is compared by its
// place in the line, not by its digits.
#include <gtest/gtest.h>

#include <memory>

#include "tests/checker_cases.h"
#include "tests/e2e_runner.h"
#include "tests/windows_builds.h"

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

class CheckerEndToEnd : public ::testing::TestWithParam<CheckerCase> {};

TEST_P(CheckerEndToEnd, Row) {
  const CheckerCase& c = GetParam();
  if (c.overWindowsCommandLine)
    GTEST_SKIP() << "the arguments are longer than a Windows command line may be";
  Outcome onWindows, onLinux;
  std::string skipped;
  if (!RunCheckerRow(WindowsBuild(), c, &onWindows, &skipped)) {
    SKIP_UNLESS_CI(skipped);
    GTEST_SKIP() << skipped;
  }
  const std::string expected = TextMode(c.out);
  EXPECT_TRUE(MatchesOutput(expected, onWindows.run.out))
      << c.name << "\n  expected: " << Shown(expected) << "\n  actual:   " << Shown(onWindows.run.out);
  EXPECT_EQ(Visible(onWindows.run.err), "") << c.name;
  EXPECT_EQ(onWindows.run.status, c.status) << c.name;

  ASSERT_TRUE(RunCheckerRow(LinuxBuild(), c, &onLinux, &skipped)) << skipped;
  onLinux.run.out = CountsHidden(expected, onLinux.run.out);
  onWindows.run.out = CountsHidden(expected, onWindows.run.out);
  for (const std::string& d : Differences(onLinux, onWindows))
    ADD_FAILURE() << c.name << ": the builds differ in " << d;
}

INSTANTIATE_TEST_SUITE_P(Windows, CheckerEndToEnd, ::testing::ValuesIn(CheckerCases()),
                         [](const auto& info) { return RowTestName(info.index, info.param.name); });

}  // namespace
