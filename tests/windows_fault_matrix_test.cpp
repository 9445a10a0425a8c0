// The fault matrix on the Windows build. unpack_faults (tests/fault_driver),
// the Windows unpack with its KERNEL32 table open to faults, runs each
// scenario of fault_scenarios.h once with a trace of its calls, then again
// for every call of every slot that can fail: killed there, failing there
// once with each error such a call gives, failing from there on with each
// (on the run's own files only, as a failing volume does), and, for a read or
// a write, moving half the bytes asked for. One process under Wine makes all
// the runs of a scenario, each in a folder of its own, and each folder is
// then held to the same promise as on Linux.
#include <gtest/gtest.h>

#include <set>

#include "tests/fault_scenarios.h"
#include "tests/windows_driver.h"

namespace {

bool EndsWithOk(const std::string& err) {
  return err.size() >= 6 && err.compare(err.size() - 6, 6, "\nOK\r\r\n") == 0;
}

// Makes each run's folder under `root` for scenario `s`, and runs them all.
std::vector<Outcome> RunScenario(const Scenario& s, bool onPipe, std::vector<DriverRun> runs,
                                 const std::string& root, std::set<std::string>* sites = nullptr) {
  WriteFile(root + "/package", Package(s.entries));
  for (size_t i = 0; i < runs.size(); ++i) {
    runs[i].folder = "r" + std::to_string(i);
    runs[i].onPipe = onPipe;
    runs[i].package = "../package";
    runs[i].args = {"-destdir", "dest/"};
    StageScenario(root + "/" + runs[i].folder, s, true);
  }
  return RunInDriver(root, runs, sites);
}

class WindowsFaultMatrix : public ::testing::TestWithParam<std::tuple<Scenario, bool>> {};

TEST_P(WindowsFaultMatrix, KilledFailingOrShortAtEveryCall) {
  const Scenario& s = std::get<0>(GetParam());
  const bool onPipe = std::get<1>(GetParam());
  ScratchDir traced;
  DriverRun tracing;
  tracing.trace = "../trace";
  const Outcome clean = RunScenario(s, onPipe, {tracing}, traced.path())[0];
  ASSERT_EQ(clean.run.status, 0);
  ASSERT_TRUE(EndsWithOk(clean.run.err)) << Visible(clean.run.err);
  ExpectInstalled(s, clean.disk, "the run without faults");
  std::vector<std::string> where;
  const std::vector<DriverRun> runs = FaultRuns(ReadFile(traced / "trace"), &where);
  ASSERT_GT(runs.size(), 5u);
  ScratchDir batch;
  std::set<std::string> sites;
  const std::vector<Outcome> outcomes = RunScenario(s, onPipe, runs, batch.path(), &sites);
  for (size_t i = 0; i < runs.size(); ++i) {
    const DriverRun& f = runs[i];
    const Outcome& o = outcomes[i];
    if (f.mode == "kill") {
      EXPECT_EQ(o.run.status, 137) << where[i];
      EXPECT_EQ(DiskFault(s, o.disk, true), "") << where[i];
    } else if (f.mode == "short") {
      // A short read or write is neither a failure nor the whole of it.
      EXPECT_TRUE(EndsWithOk(o.run.err)) << where[i] << ": " << Visible(o.run.err);
      ExpectInstalled(s, o.disk, where[i]);
    } else {
      // An I/O error on a staged copy never leads to the direct rewrite.
      const bool staged = where[i].find("TMP)") != std::string::npos;
      if (staged && f.error == kIoDevice && f.mode == "once" &&
          (f.slot == "WriteFile" || f.slot == "FlushFileBuffers")) {
        EXPECT_EQ(o.run.err.find("Line: 205"), std::string::npos) << where[i] << ": " << Visible(o.run.err);
      }
      ExpectFailedRun(s, o.run, o.disk, where[i], f.error == kDiskFull);
    }
  }
  std::cout << s.name << (onPipe ? ", on a pipe: " : ": ") << runs.size()
            << " runs, which reached " << sites.size() << " call sites:";
  for (const std::string& site : sites) std::cout << " " << site;
  std::cout << "\n";
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowsFaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(FaultScenarios()), ::testing::Bool()),
                         [](const auto& info) {
                           return RowTestName(info.index, std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_pipe" : "_file");
                         });

}  // namespace
