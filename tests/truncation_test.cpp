// The truncation matrix on the Linux build: every byte offset.
#include <gtest/gtest.h>

#include "tests/truncation.h"

namespace {

TEST(TruncationTest, EveryOffset) {
  const Build native = NativeBuild(UNPACK_PATH, "");
  const size_t size = TruncationPackage().size();
  for (size_t cut = 0; cut < size; ++cut) CheckCutAt(native, cut);
}

}  // namespace
