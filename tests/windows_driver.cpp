#include "tests/windows_driver.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/windows_builds.h"

namespace {

// The errors each call really gives; any call can meet a failing device.
std::vector<unsigned> ErrorsOf(const std::string& slot) {
  static const std::map<std::string, std::vector<unsigned>> errors = {
      {"CreateFileA", {kIoDevice, kDiskFull, kTooManyOpenFiles, kWriteProtect, kAccessDenied}},
      {"WriteFile", {kIoDevice, kDiskFull, kWriteProtect}},
      {"FlushFileBuffers", {kIoDevice, kDiskFull, kWriteProtect}},
      {"SetEndOfFile", {kIoDevice, kDiskFull, kWriteProtect}},
      {"FindFirstFileA", {kIoDevice, kTooManyOpenFiles, kAccessDenied}},
      {"DeleteFileA", {kIoDevice, kWriteProtect, kAccessDenied}},
      {"MoveFileA", {kIoDevice, kWriteProtect, kAccessDenied}},
      // A volume that cannot replace a file in one step says so.
      {"MoveFileExA", {kIoDevice, kWriteProtect, kAccessDenied, kNotSupported}},
      {"SetFileAttributesA", {kIoDevice, kWriteProtect, kAccessDenied}},
      {"CreateDirectoryA", {kIoDevice, kDiskFull, kWriteProtect, kAccessDenied}},
      {"LocalAlloc", {kNotEnoughMemory}},
  };
  auto at = errors.find(slot);
  return at == errors.end() ? std::vector<unsigned>{kIoDevice} : at->second;
}

// One call of the traced run: its slot, which call of that slot it is (among
// all, and among those on the run's files, 0 for none), the path it names,
// and the address it was made from.
struct Call {
  std::string slot;
  long nth, nthOnFiles;
  std::string path, site;
};

std::vector<Call> CallsOf(const std::string& trace) {
  std::vector<Call> calls;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    Call c;
    std::string nth, onFiles;
    std::getline(fields, c.slot, '\t');
    std::getline(fields, nth, '\t');
    std::getline(fields, onFiles, '\t');
    std::getline(fields, c.path, '\t');
    std::getline(fields, c.site, '\t');
    c.nth = atol(nth.c_str());
    c.nthOnFiles = atol(onFiles.c_str());
    calls.push_back(c);
  }
  return calls;
}

}  // namespace

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

std::vector<DriverRun> FaultRuns(const std::string& trace, std::vector<std::string>* where) {
  std::vector<DriverRun> runs;
  auto add = [&](const std::string& slot, long nth, const char* mode, unsigned error, const std::string& w) {
    DriverRun r;
    r.slot = slot, r.nth = nth, r.mode = mode, r.error = error;
    runs.push_back(r);
    where->push_back(w);
  };
  for (const Call& c : CallsOf(trace)) {
    const std::string at = c.slot + " #" + std::to_string(c.nth) + " (" + c.path + ")";
    add(c.slot, c.nth, "kill", 0, "killed at " + at);
    if (c.slot == "WriteFile" || c.slot == "ReadFile") add(c.slot, c.nth, "short", 0, at + " made short");
    for (unsigned error : ErrorsOf(c.slot)) {
      const std::string code = " with " + std::to_string(error);
      add(c.slot, c.nth, "once", error, at + " failing" + code);
      add(c.slot, c.nthOnFiles ? c.nthOnFiles : c.nth, c.nthOnFiles ? "from@dest" : "from", error,
          at + " failing from then on" + code);
    }
  }
  return runs;
}
