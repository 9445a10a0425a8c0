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
  // A trace line: the slot, which call of it this is (among all, and among
  // those on the run's files, 0 for none), and the path it names.
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string slot, path;
    long nth = 0, onFiles = 0;
    std::getline(fields, slot, '\t');
    fields >> nth >> onFiles;
    fields.get();
    std::getline(fields, path, '\t');
    const std::string at = slot + " #" + std::to_string(nth) + " (" + path + ")";
    add(slot, nth, "kill", 0, "killed at " + at);
    if (slot == "WriteFile" || slot == "ReadFile") add(slot, nth, "short", 0, at + " made short");
    for (unsigned error : ErrorsOf(slot)) {
      const std::string code = " with " + std::to_string(error);
      add(slot, nth, "once", error, at + " failing" + code);
      add(slot, onFiles ? onFiles : nth, onFiles ? "from@dest" : "from", error, at + " failing from then on" + code);
    }
  }
  return runs;
}
