#include "tests/truncation.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct Target {
  std::string name;
  std::string before;  // kAbsent when the target does not exist yet
  std::string after;
};

const std::vector<Target>& Targets(bool large) {
  static const std::vector<Target> small = {
      {"new.bin", kAbsent, std::string("\x00\x1A\r\n\xFF", 5) + std::string(40, 'b')},
      {"old.txt", "the old content, which must survive a cut", "the new content"},
      {"empty", kAbsent, ""},
  };
  static const std::vector<Target> big = {
      {"new.bin", kAbsent, std::string(3u << 19, 'n')},
      {"old.bin", "the old content, which must survive a cut", std::string(3u << 19, 'r')},
  };
  return large ? big : small;
}

}  // namespace

std::string TruncationPackage(bool large) {
  std::vector<PackEntry> entries;
  for (const Target& t : Targets(large)) entries.push_back({t.name, t.after});
  return Package(entries);
}

Outcome CheckCutAt(const Build& build, size_t cut, bool large, bool onPipe) {
  SCOPED_TRACE(build.name + ": cut at byte " + std::to_string(cut) + (onPipe ? ", on a pipe" : ""));
  ScratchDir dir;
  for (const Target& t : Targets(large))
    if (t.before != kAbsent) WriteFile(dir / t.name, t.before);
  Outcome outcome;
  outcome.run = RunOn(build, build.unpack, {}, TruncationPackage(large).substr(0, cut), dir.path(), 0,
                      {}, onPipe);
  outcome.disk = Snapshot(dir.path());
  const RunResult& r = outcome.run;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("OK\r"), std::string::npos) << Visible(r.err);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), cut < 4 ? 1 : 2)
      << "one line for the magic and one for the cut: " << Visible(r.err);
  for (const Target& t : Targets(large)) {
    std::string now = ReadFile(dir / t.name);
    EXPECT_TRUE(now == t.before || now == t.after) << t.name << " holds " << Visible(now);
    EXPECT_FALSE(Exists(dir / (t.name + "TMP"))) << t.name;
  }
  return outcome;
}
