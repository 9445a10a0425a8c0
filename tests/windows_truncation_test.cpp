// The truncation matrix on the Windows build, for a spread of offsets (each
// run under Wine costs about a second): every field boundary's neighbourhood
// and a stride through the data. Each cut must also leave the same outcome as
// on the Linux build.
#include <gtest/gtest.h>

#include <set>

#include "tests/truncation.h"
#include "tests/windows_builds.h"

namespace {

TEST(WindowsTruncation, SpreadOfOffsets) {
  const size_t size = TruncationPackage().size();
  std::set<size_t> cuts = {0, 2, 3, 4, 6, 7, 8, 11, 12, 13, size - 1};
  for (size_t cut = 17; cut < size; cut += 9) cuts.insert(cut);
  for (size_t cut : cuts) {
    if (cut >= size) continue;
    Outcome onWindows = CheckCutAt(WindowsBuild(), cut);
    Outcome onLinux = CheckCutAt(LinuxBuild(), cut);
    for (const std::string& d : Differences(onLinux, onWindows))
      ADD_FAILURE() << "cut at " << cut << ": " << d;
  }
}

}  // namespace
