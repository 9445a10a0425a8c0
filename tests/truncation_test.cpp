// The truncation matrix on the Linux build: every byte offset of a small
// package, from a file and on a pipe, in quarters that a test run shares out
// among its jobs (under the sanitizers the whole matrix takes several
// seconds); and for a package of large entries, which a pipe brings a
// buffer at a time, the offsets around every field and every buffer's end.
#include <gtest/gtest.h>

#include <set>

#include "tests/truncation.h"

namespace {

class TruncationTest : public ::testing::TestWithParam<std::tuple<size_t, bool>> {};

TEST_P(TruncationTest, EveryOffset) {
  const Build native = NativeBuild(UNPACK_PATH, "");
  const size_t size = TruncationPackage().size(), quarter = std::get<0>(GetParam());
  for (size_t cut = size * quarter / 4; cut < size * (quarter + 1) / 4; ++cut)
    CheckCutAt(native, cut, false, std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Quarter, TruncationTest,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3), ::testing::Bool()));

TEST(TruncationTest, LargeEntriesAroundEveryBoundary) {
  const Build native = NativeBuild(UNPACK_PATH, "");
  const size_t size = TruncationPackage(true).size(), entry = 3u << 19, second = 8 + 4 + 8 + entry;
  std::set<size_t> cuts;
  for (size_t at : {size_t(0), size_t(8), size_t(20), second, second + 12, size})
    for (size_t d = 0; d < 3; ++d) cuts.insert(at + d), cuts.insert(at - d);
  for (size_t chunk = 1u << 18; chunk < entry; chunk += 1u << 18)
    for (size_t start : {size_t(20), second + 12}) cuts.insert(start + chunk), cuts.insert(start + chunk + 1);
  for (size_t cut : cuts)
    if (cut < size)
      for (bool onPipe : {false, true}) CheckCutAt(native, cut, true, onPipe);
}

}  // namespace
