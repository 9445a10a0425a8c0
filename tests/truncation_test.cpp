// The truncation matrix on the Linux build: every byte offset, in four
// quarters that a test run shares out among its jobs (under the sanitizers
// the whole matrix takes several seconds).
#include <gtest/gtest.h>

#include "tests/truncation.h"

namespace {

class TruncationTest : public ::testing::TestWithParam<size_t> {};

TEST_P(TruncationTest, EveryOffset) {
  const Build native = NativeBuild(UNPACK_PATH, "");
  const size_t size = TruncationPackage().size();
  for (size_t cut = size * GetParam() / 4; cut < size * (GetParam() + 1) / 4; ++cut) CheckCutAt(native, cut);
}

INSTANTIATE_TEST_SUITE_P(Quarter, TruncationTest, ::testing::Values(0, 1, 2, 3));

}  // namespace
