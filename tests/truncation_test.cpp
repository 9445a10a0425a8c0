// A valid package cut at every byte offset: never "OK", never a crash, and
// every target holds either its complete new content or exactly what it held
// before, never a part of it.
#include <gtest/gtest.h>

#include "tests/harness.h"
#include "tests/unpack_cases.h"

namespace {

struct Target {
  std::string name;
  std::string before;  // kAbsent when the target does not exist yet
  std::string after;
};

const std::vector<Target> kTargets = {
    {"new.bin", kAbsent, std::string("\x00\x1A\r\n\xFF", 5) + std::string(40, 'b')},
    {"old.txt", "the old content, which must survive a cut", "the new content"},
    {"empty", kAbsent, ""},
};

std::string ThePackage() {
  std::vector<PackEntry> entries;
  for (const Target& t : kTargets) entries.push_back({t.name, t.after});
  return Package(entries);
}

TEST(TruncationTest, EveryOffset) {
  const std::string package = ThePackage();
  int cuts = 0;
  for (size_t cut = 0; cut < package.size(); ++cut) {
    SCOPED_TRACE("cut at byte " + std::to_string(cut));
    ScratchDir dir;
    for (const Target& t : kTargets)
      if (t.before != kAbsent) WriteFile(dir / t.name, t.before);
    RunOptions options;
    options.cwd = dir.path();
    RunResult r = RunProgram({UNPACK_PATH}, package.substr(0, cut), options);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("OK\r"), std::string::npos) << Visible(r.err);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), cut < 4 ? 1 : 2)
        << "one line for the magic and one for the cut: " << Visible(r.err);
    for (const Target& t : kTargets) {
      std::string now = ReadFile(dir / t.name);
      EXPECT_TRUE(now == t.before || now == t.after) << t.name << " holds " << Visible(now);
      EXPECT_FALSE(Exists(dir / (t.name + "TMP"))) << t.name;
    }
    ++cuts;
  }
  EXPECT_EQ(cuts, (int)package.size());
}

}  // namespace
