// The fault matrix: the built Linux unpack is traced once per scenario with
// strace, then run again for every invocation of every file-related system
// call it makes after its first read of standard input: killed at that call,
// failing there once with each error that call really gives, and failing
// from there on (every later call of that kind fails too, as a volume that
// returns EIO or a process out of descriptors keeps failing). Each scenario
// runs with its package in a file and on a pipe. What stays on disk is held
// against what the design promises (see "A killed run" and "A power cut" in
// docs/design.md): an existing file's name holds its old or its new content, never
// nothing; a new file is absent or a prefix of its content; nothing outside
// the targets is written. Only the direct rewrite, the road for a volume
// without room, may leave a prefix of the new content.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>

#include "tests/e2e_runner.h"
#include "tests/fault_scenarios.h"
#include "tests/unpack_cases.h"

namespace {

RunResult RunScenario(const ScratchDir& dir, const Scenario& s, std::vector<std::string> strace,
                      RunOptions options = RunOptions()) {
  StageScenario(dir.path(), s);
  strace.push_back(UNPACK_PATH);
  strace.push_back("-destdir");
  strace.push_back("dest/");
  options.cwd = dir.path();
  return RunProgram(strace, Package(s.entries), options);
}

// One call made by the traced run: its name, which invocation of that name
// it is since the program started (strace's count), and the line.
struct Site {
  std::string call;
  int nth;
  std::string line;
  long result;
  std::string file;  // for a call on a descriptor: the path it was opened with
  // Which call of that kind on a file of the destination it is (strace's
  // count under -P), or 0 for a call on none.
  int nthOnDest;
};

// The errors a call really gives, once; every call can fail with EIO.
std::vector<std::string> ErrorsOf(const Site& site) {
  std::vector<std::string> errors = {"EIO"};
  const bool creates = site.line.find("O_CREAT") != std::string::npos;
  if (site.call == "write" || site.call == "fsync" || (site.call == "openat" && creates))
    errors.push_back("ENOSPC");
  if ((site.call == "openat" && creates) || site.call == "unlink") errors.push_back("EACCES");
  if (site.call == "renameat2" || site.call == "rename" || site.call == "copy_file_range")
    errors.push_back("EXDEV");
  if (site.call == "copy_file_range") errors.push_back("ENOSPC");
  return errors;
}

// The errors that last, from a call on: a failing volume (EIO), one without
// room, a process out of descriptors, a volume remounted read-only.
std::vector<std::string> LastingErrorsOf(const Site& site) {
  std::vector<std::string> errors = {"EIO"};
  const bool creates = site.line.find("O_CREAT") != std::string::npos;
  if (site.call == "write" || site.call == "fsync" || site.call == "syncfs" ||
      site.call == "copy_file_range" || (site.call == "openat" && creates))
    errors.push_back("ENOSPC");
  if (site.call == "openat") errors.push_back("EMFILE");
  if ((site.call == "openat" && creates) || site.call == "unlink" || site.call == "renameat2" ||
      site.call == "rename")
    errors.push_back("EROFS");
  return errors;
}

const std::set<std::string> kFileCalls = {
    "openat", "open",  "creat",     "read",     "write",  "fsync",      "fdatasync", "close",
    "chmod",  "fchmod", "fchmodat", "unlink",   "unlinkat", "rename",   "renameat", "renameat2",
    "stat",   "lstat", "fstat",     "newfstatat", "statx", "ftruncate", "link",      "linkat",
    "copy_file_range", "pread64", "lseek", "syncfs", "sync_file_range"};

// The file-related calls after the first read of standard input.
std::vector<Site> SitesOf(const std::string& traceFile) {
  std::ifstream trace(traceFile);
  std::map<std::string, int> seen, seenOnDest;
  std::map<long, std::string> opened;  // descriptor -> path
  std::vector<Site> sites;
  bool reading = false;
  for (std::string line; std::getline(trace, line);) {
    // "PID  call(...": the pid is padded to a width.
    size_t start = line.find_first_not_of(' ', line.find(' '));
    if (start == std::string::npos) continue;
    line = line.substr(start);
    size_t paren = line.find('(');
    if (paren == std::string::npos || !islower((unsigned char)line[0])) continue;
    const std::string call = line.substr(0, paren);
    const int nth = ++seen[call];
    if (!reading) {
      reading = StartsWith(line, "read(0,");
      continue;
    }
    size_t equals = line.rfind(" = ");
    long result = equals == std::string::npos ? -1 : atol(line.c_str() + equals + 3);
    const size_t quote = line.find('"');
    if (call == "openat" && result >= 0 && quote != std::string::npos)
      opened[result] = line.substr(quote + 1, line.find('"', quote + 1) - quote - 1);
    const long fd = atol(line.c_str() + paren + 1);
    // A copy's destination is its third argument.
    const size_t third = call == "copy_file_range" ? line.find(", ", line.find(", ", paren) + 2) : 0;
    const bool onDest = line.find("\"dest/") != std::string::npos ||
                        StartsWith(opened[fd], "dest/") ||
                        (third && StartsWith(opened[atol(line.c_str() + third + 2)], "dest/"));
    const int nthOnDest = onDest ? ++seenOnDest[call] : 0;
    if (kFileCalls.count(call)) sites.push_back({call, nth, line, result, opened[fd], nthOnDest});
  }
  return sites;
}

// strace's -P arguments that confine its faults to the files of the
// destination, under both the names the program uses and the ones the
// kernel gives its descriptors: the volume that fails is theirs, and
// standard error still carries the run's last line.
std::vector<std::string> OnDestOnly(const ScratchDir& dir, const Scenario& s) {
  std::vector<std::string> args;
  for (const PackEntry& e : s.entries)
    for (const std::string& name : {"dest/" + e.name, "dest/" + e.name + "TMP"})
      args.insert(args.end(), {"-P", name, "-P", dir / name});
  return args;
}

bool StraceUsable(std::string* why) {
  if (SanitizedBuild()) return *why = "the sanitizer runtime makes calls of its own", false;
  return StraceInstalled(why);
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<Scenario, bool>> {};

TEST_P(FaultMatrix, KilledOrFailingAtEveryCall) {
  const Scenario& s = std::get<0>(GetParam());
  RunOptions input;
  input.inputOnPipe = std::get<1>(GetParam());
  std::string why;
  if (!StraceUsable(&why)) {
    if (UnderCi() && !SanitizedBuild()) FAIL() << why << ", and CI must run the fault matrix";
    GTEST_SKIP() << why;
  }
  ScratchDir traced, traceDir;
  const std::string traceFile = traceDir / "trace";
  RunResult clean = RunScenario(traced, s, Strace("", traceFile), input);
  ASSERT_EQ(clean.status, 0);
  ASSERT_TRUE(StartsWith(clean.err, "Good Magic") && clean.err.size() > 6 &&
              clean.err.compare(clean.err.size() - 6, 6, "\nOK\r\r\n") == 0)
      << Visible(clean.err);
  const Disk cleanDisk = Snapshot(traced.path());
  ExpectInstalled(s, cleanDisk, "the run without faults");
  std::vector<Site> sites = SitesOf(traceFile);
  ASSERT_GT(sites.size(), 5u);

  int runs = 0;
  size_t stderrOffset = 0;  // where the next write to standard error starts
  for (const Site& site : sites) {
    const std::string inject = site.call + ":";
    const std::string when = ":when=" + std::to_string(site.nth);
    const bool toStderr = site.call == "write" && StartsWith(site.line, "write(2,");
    {
      ScratchDir dir;
      RunResult r = RunScenario(dir, s, Strace(inject + "signal=KILL" + when), input);
      ++runs;
      EXPECT_EQ(r.status, 128 + SIGKILL) << "killed at " << site.line;
      std::string fault = DiskFault(s, Snapshot(dir.path()), true);
      EXPECT_EQ(fault, "") << "killed at " << site.line;
    }
    for (const std::string& error : ErrorsOf(site)) {
      ScratchDir dir;
      RunResult r = RunScenario(dir, s, Strace(inject + "error=" + error + when), input);
      ++runs;
      const std::string where = site.line + " failing with " + error;
      const Disk disk = Snapshot(dir.path());
      if (toStderr) {
        // A diagnostic that cannot be written is lost; the run goes on.
        std::string expected = clean.err;
        expected.erase(stderrOffset, (size_t)site.result);
        EXPECT_EQ(Visible(r.err), Visible(expected)) << where;
        EXPECT_TRUE(disk == cleanDisk) << where;
        continue;
      }
      // Only a full volume lets the old file go before its replacement is
      // on disk (the direct rewrite): not an I/O error while the staged copy
      // is written. (An entry that waited in a group is written again after
      // a failure, and the fault, injected once, may not come back.)
      const bool staged = site.file.size() > 3 && site.file.compare(site.file.size() - 3, 3, "TMP") == 0;
      if (staged && error == "EIO" && (site.call == "write" || site.call == "fsync")) {
        EXPECT_EQ(r.err.find("Line: 205"), std::string::npos) << where << ": " << Visible(r.err);
      }
      ExpectFailedRun(s, r, disk, where, error == "ENOSPC");
    }
    // Standard error that keeps failing is the process boundary's row.
    for (const std::string& error : toStderr ? std::vector<std::string>() : LastingErrorsOf(site)) {
      ScratchDir dir;
      std::vector<std::string> strace = Strace(inject + "error=" + error + ":when=" +
                                               std::to_string(site.nthOnDest ? site.nthOnDest : site.nth) + "+");
      if (site.nthOnDest) {
        const std::vector<std::string> only = OnDestOnly(dir, s);
        strace.insert(strace.begin() + 1, only.begin(), only.end());
      }
      RunResult r = RunScenario(dir, s, strace, input);
      ++runs;
      ExpectFailedRun(s, r, Snapshot(dir.path()), site.line + " failing from then on with " + error,
                      error == "ENOSPC");
    }
    if (toStderr) stderrOffset += (size_t)site.result;
  }
  std::cout << s.name << (input.inputOnPipe ? ", on a pipe: " : ": ") << sites.size()
            << " call sites, " << runs << " runs\n";
}

INSTANTIATE_TEST_SUITE_P(Linux, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(FaultScenarios()), ::testing::Bool()),
                         [](const auto& info) {
                           return RowTestName(info.index, std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_pipe" : "_file");
                         });

// Standard error on a pipe whose reader has gone, or closed: Windows goes on
// without its diagnostics, and so must Linux, leaving exactly what a run with
// a working standard error leaves.
TEST(ProcessBoundary, StandardErrorGoneInstallsEverything) {
  for (const Scenario& s : FaultScenarios()) {
    ScratchDir reference;
    RunScenario(reference, s, {});
    for (bool closed : {false, true}) {
      const std::string where = std::string(s.name) + (closed ? ", closed" : ", broken pipe");
      RunOptions options;
      (closed ? options.closedFds : options.brokenPipeFds).push_back(2);
      ScratchDir dir;
      RunResult r = RunScenario(dir, s, {}, options);
      EXPECT_EQ(r.status, 0) << where;
      EXPECT_TRUE(Snapshot(dir.path()) == Snapshot(reference.path())) << where;
    }
  }
}

}  // namespace
