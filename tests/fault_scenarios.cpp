#include "tests/fault_scenarios.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <set>

namespace {

const std::string kVictimContent = "a file of the system, outside every target";

}  // namespace

const std::vector<Scenario>& FaultScenarios() {
  static const std::vector<Scenario> scenarios = {
      {"staged replacement",
       {{"dest/old", "the old content"}, {"dest/ro", "read-only old", 0444}},
       {{"new", "a new file"}, {"old", "the replacing content"}, {"ro", "new read-only"},
        {"empty", ""}}},
      // d is written over in place; e, which has a second name, gets a new
      // file under its name.
      {"direct rewrite",
       {{"dest/d", "old content of d"}, {"dest/dTMP", kDirectory}, {"dest/e", "old content of e"},
        {"dest/e2", kSecondNameOf + "dest/e"}, {"dest/eTMP", kDirectory}},
       {{"d", "the new content of d"}, {"e", "the new content of e"}, {"after", "installed after it"}},
       true},
      // Leftovers of an earlier run: dest/fTMP is a link to victim, outside
      // dest (made by StageScenario), and dest/gTMP a read-only file.
      {"planted link",
       {{"dest/f", "old f"}, {"dest/g", "old g"}, {"dest/gTMP", "a leftover", 0444}},
       {{"f", "new f"}, {"g", "new g"}}},
      // Content over 64 KiB is copied from the package, not read.
      {"copied from the package",
       {{"dest/big", "the old big file"}},
       {{"big", std::string(100 << 10, 'b')}, {"fresh", std::string(70 << 10, 'f')}}},
      // Content over 1 MiB from a pipe is written as it comes, and read back
      // from the staged copy when the direct rewrite needs it again.
      {"over a mebibyte", {{"dest/huge", "the old huge file"}}, {{"huge", std::string((1 << 20) + 1, 'u')}}},
  };
  return scenarios;
}

void StageScenario(const std::string& root, const Scenario& s, bool windows) {
  MakeDirs(root + "/dest");
  std::vector<Before> before;
  for (const Before& b : s.before)
    if (!windows || !StartsWith(b.content, kSecondNameOf)) before.push_back(b);
  Prepare(root, before);
  if (std::string(s.name) == "planted link") {
    WriteFile(root + "/victim", kVictimContent);
    const std::string planted = root + "/dest/fTMP";
    EXPECT_EQ(windows ? link((root + "/victim").c_str(), planted.c_str())
                      : symlink("../victim", planted.c_str()),
              0);
  }
}

std::string DiskFault(const Scenario& s, const Disk& disk, bool killed, bool rewritten) {
  std::map<std::string, std::string> old;
  for (const Before& b : s.before) old[b.path] = b.content;
  std::set<std::string> allowed = {"dest", "dest/fTMP", "victim"};
  for (const Before& b : s.before) allowed.insert(b.path);
  for (const PackEntry& e : s.entries) {
    const std::string target = "dest/" + e.name, temp = target + "TMP";
    allowed.insert(target);
    allowed.insert(temp);
    auto at = disk.find(target);
    const std::string now = at == disk.end() ? kAbsent : at->second.content;
    if (now == e.data) continue;
    if (old.count(target)) {
      if (now == old[target]) continue;
      // The direct rewrite writes over the old file; a kill may also catch a
      // name between its old file and a new one (a link, a file of several
      // names), or with the first part of the new one.
      if ((s.directRewrite || rewritten) &&
          (WrittenOver(now, e.data, old[target]) || (killed && (now == kAbsent || StartsWith(e.data, now)))))
        continue;
      return target + " holds " + Shown(now);
    }
    if (now == kAbsent || (killed && StartsWith(e.data, now))) continue;
    return "new file " + target + " holds " + Shown(now);
  }
  for (const auto& entry : disk)
    if (!allowed.count(entry.first)) return entry.first + " appeared";
  auto victim = disk.find("victim");
  if (victim != disk.end() && victim->second.content != kVictimContent)
    return "the file behind the link was written: " + Shown(victim->second.content);
  return "";
}

void ExpectInstalled(const Scenario& s, const Disk& disk, const std::string& where) {
  for (const PackEntry& e : s.entries) {
    auto at = disk.find("dest/" + e.name);
    EXPECT_TRUE(at != disk.end() && at->second.content == e.data) << where << ": dest/" << e.name;
  }
  EXPECT_EQ(DiskFault(s, disk, false), "") << where;
}

void ExpectFailedRun(const Scenario& s, const RunResult& r, const Disk& disk, const std::string& where,
                     bool diskFull) {
  EXPECT_EQ(r.status, 0) << where;
  const size_t last = r.err.rfind('\n', r.err.size() - 2) + 1;
  const std::string lastLine = r.err.substr(last);
  const bool ok = lastLine == "OK\r\r\n";
  EXPECT_TRUE(ok || StartsWith(lastLine, "Line: ")) << where << ": " << Visible(r.err);
  // A volume without room lets the direct rewrite write over the old file.
  const bool rewritten = diskFull && r.err.find("Line: 205") != std::string::npos;
  if (ok)
    ExpectInstalled(s, disk, where);
  else
    EXPECT_EQ(DiskFault(s, disk, false, rewritten), "") << where << ": " << Visible(r.err);
}
