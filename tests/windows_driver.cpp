#include "tests/windows_driver.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/windows_builds.h"

std::vector<Outcome> RunInDriver(const std::string& root, const std::vector<DriverRun>& runs,
                                 std::set<std::string>* sites) {
  MakeDirs(root + "/logs");
  std::string script;
  for (size_t i = 0; i < runs.size(); ++i) {
    const DriverRun& r = runs[i];
    script += r.program + "\t" + r.folder + "\t" + (r.onPipe ? "pipe" : "file") + "\t" + r.package + "\t" + "../logs/" +
              std::to_string(i) + "\t" + (r.trace.empty() ? "-" : r.trace) + "\t" + r.slot + "\t" +
              std::to_string(r.nth) + "\t" + r.mode + "\t" + std::to_string(r.error) + "\t" + r.hold;
    for (const std::string& a : r.args) script += "\t" + a;
    script += "\n";
  }
  WriteFile(root + "/script", script);
  const RunResult driver = RunOn(WindowsBuild(), WINDOWS_FAULTS_PATH, {"script", "sites"}, "", root);
  std::istringstream addresses(ReadFile(root + "/sites"));
  for (std::string address; sites && std::getline(addresses, address);) sites->insert(address);
  std::map<std::string, int> statuses;
  std::istringstream lines(driver.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) statuses[line.substr(0, tab)] = atoi(line.c_str() + tab + 1);
  }
  EXPECT_EQ(statuses.size(), runs.size()) << "the driver stopped: " << Visible(driver.err);
  std::vector<Outcome> outcomes(runs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    auto status = statuses.find(runs[i].folder);
    outcomes[i].run.status = status == statuses.end() ? -1 : status->second;
    const std::string log = ReadFile(root + "/logs/" + std::to_string(i));
    (runs[i].program == "unpack" ? outcomes[i].run.err : outcomes[i].run.out) = log;
    if (runs[i].program == "pack") outcomes[i].run.err = ReadFile(root + "/logs/" + std::to_string(i) + ".err");
    outcomes[i].disk = Snapshot(root + "/" + runs[i].folder);
  }
  return outcomes;
}

bool DriverCanPass(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a.empty()) return false;
    for (unsigned char ch : a)
      if (ch <= ' ' || ch > '~' || ch == '"' || ch == '*' || ch == '?') return false;
  }
  return true;
}
