// Runs every unpack case against the Linux build and compares standard
// error byte for byte, the exit status and the disk afterwards. The same rows
// run against the Windows build in windows_e2e_test.cpp.
#include <gtest/gtest.h>

#include "tests/e2e_runner.h"
#include "tests/unpack_cases.h"

namespace {

class UnpackEndToEnd : public ::testing::TestWithParam<UnpackCase> {};

TEST_P(UnpackEndToEnd, Row) {
  const UnpackCase c = Filled(GetParam());
  const Build build = NativeBuild(UNPACK_PATH, "");
  Outcome outcome;
  std::string skipped;
  if (!RunUnpackRow(build, c, &outcome, &skipped)) {
    SKIP_UNLESS_CI(skipped);
  }
  ExpectUnpackRow(build, c, outcome);
}

INSTANTIATE_TEST_SUITE_P(Linux, UnpackEndToEnd, ::testing::ValuesIn(UnpackCases()),
                         [](const auto& info) { return RowTestName(info.index, info.param.name); });

}  // namespace
