// Runs every Vellomar case against the built program, in the row's scratch
// folder, and compares standard output byte for byte (in text mode, CR LF),
// standard error (always empty) and the exit status.
#include <gtest/gtest.h>

#include <memory>

#include "tests/checker_cases.h"
#include "tests/e2e_runner.h"

namespace {

TEST(CheckerCasesTest, CountPlaceholderMatchesDigitsOnly) {
  const struct {
    const char* name;
    std::string expected;
    std::string actual;
    bool matches;
  } rows[] = {
      {"plain equal", "OK\r\n", "OK\r\n", true},
      {"plain different", "OK\r\n", "OK\n", false},
      {"actual longer", "OK", "OK\r\n", false},
      {"one digit", "has " + kAnyCount + " bytes", "has 7 bytes", true},
      {"twenty digits", "has " + kAnyCount + " bytes", "has 18446744073709551615 bytes", true},
      {"no digits", "has " + kAnyCount + " bytes", "has  bytes", false},
      {"a sign is not a digit", "has " + kAnyCount + " bytes", "has -7 bytes", false},
      {"placeholder at the end", "( " + kAnyCount, "( 12", true},
      {"nothing after the prefix", "( " + kAnyCount, "( ", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(MatchesOutput(row.expected, row.actual), row.matches) << row.name;
}

class CheckerEndToEnd : public ::testing::TestWithParam<CheckerCase> {};

TEST_P(CheckerEndToEnd, Row) {
  const CheckerCase& c = GetParam();
  ScratchDir dir;
  std::unique_ptr<TmpfsVolume> volume;
  std::string skipped;
  if (c.volume != Volume::kAny && !MountVolume(dir / "vol", VolumeBytes(c.volume), &volume, &skipped))
    SKIP_UNLESS_CI(skipped);
  Prepare(dir.path(), c.before);

  std::vector<std::string> argv = {VELLOMAR_PATH};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  RunOptions options;
  options.cwd = dir.path();
  RunResult r = RunProgram(argv, "", options);

  const std::string expected = TextMode(c.out);
  EXPECT_TRUE(MatchesOutput(expected, r.out))
      << c.name << "\n  expected: " << Shown(expected) << "\n  actual:   " << Shown(r.out);
  EXPECT_EQ(Visible(r.err), "") << c.name;
  EXPECT_EQ(r.status, c.status) << c.name;
}

// Standard output on a pipe whose reader has gone, or closed: the verdict
// cannot be read, but the exit status still tells it, as on Windows.
TEST(CheckerProcessBoundary, StatusWithoutStandardOutput) {
  const struct {
    std::vector<std::string> args;
    int status;
  } rows[] = {{{"-required", "0"}, 0}, {{"-find", "missing"}, 1}, {{"-help"}, 1}};
  for (const auto& row : rows) {
    for (bool closed : {false, true}) {
      std::vector<std::string> argv = {VELLOMAR_PATH};
      argv.insert(argv.end(), row.args.begin(), row.args.end());
      RunOptions options;
      (closed ? options.closedFds : options.brokenPipeFds).push_back(1);
      ScratchDir dir;
      options.cwd = dir.path();
      EXPECT_EQ(RunProgram(argv, "", options).status, row.status)
          << row.args[0] << (closed ? ", closed" : ", broken pipe");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Linux, CheckerEndToEnd, ::testing::ValuesIn(CheckerCases()),
                         [](const auto& info) { return RowTestName(info.index, info.param.name); });

}  // namespace
