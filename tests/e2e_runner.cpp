#include "tests/e2e_runner.h"

#include <ctype.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <sstream>

Build NativeBuild(const std::string& unpack, const std::string& vellomar) {
  Build b;
  b.name = "Linux";
  b.unpack = unpack;
  b.vellomar = vellomar;
  return b;
}

Build WineBuild(const std::string& unpack, const std::string& vellomar, const std::string& runner,
                const std::string& prefix) {
  Build b;
  b.name = "Windows";
  b.launcher = {"/bin/sh", runner};
  b.unpack = unpack;
  b.vellomar = vellomar;
  b.env = {"WINEPREFIX=" + prefix};
  b.windows = true;
  return b;
}

RunResult RunOn(const Build& build, const std::string& program, const std::vector<std::string>& args,
                const std::string& input, const std::string& cwd, uint64_t addressLimit,
                const std::vector<std::string>& wrapper, bool inputOnPipe) {
  std::vector<std::string> argv = wrapper;
  argv.insert(argv.end(), build.launcher.begin(), build.launcher.end());
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  RunOptions options;
  options.cwd = cwd;
  options.env = build.env;
  options.inputOnPipe = inputOnPipe;
  if (!build.windows) options.addressLimit = addressLimit;
  return RunProgram(argv, input, options);
}

bool UnderCi() {
  const char* ci = getenv("CI");
  return ci && *ci && std::string(ci) != "false";
}

bool StraceInstalled(std::string* why) {
  if (system("strace -V >/dev/null 2>&1") == 0) return true;
  *why = "strace is not installed";
  return false;
}

std::vector<std::string> Strace(const std::string& inject, const std::string& traceFile) {
  std::vector<std::string> argv = {"strace", "-f", "-qq", "-o", traceFile};
  if (!inject.empty()) argv.insert(argv.end(), {"-e", "inject=" + inject});
  // The leak checker cannot work under a tracer, and says so.
  if (SanitizedBuild()) argv.insert(argv.end(), {"-E", "ASAN_OPTIONS=detect_leaks=0"});
  return argv;
}

TmpfsVolume::TmpfsVolume(const std::string& path, uint64_t bytes, uint64_t inodes) : path_(path) {
  MakeDirs(path);
  const std::string options =
      "size=" + std::to_string(bytes) + (inodes ? ",nr_inodes=" + std::to_string(inodes) : "");
  mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TmpfsVolume::~TmpfsVolume() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
}

bool MountVolume(const std::string& path, uint64_t bytes, std::unique_ptr<TmpfsVolume>* volume,
                 std::string* skipped, uint64_t inodes) {
  volume->reset(new TmpfsVolume(path, bytes, inodes));
  if ((*volume)->mounted()) return true;
  volume->reset();
  *skipped = "cannot mount a tmpfs here (needs root)";
  return false;
}

void Prepare(const std::string& root, const std::vector<Before>& before) {
  for (const Before& b : before) {
    std::string path = root + "/" + b.path;
    if (b.content == kDirectory) {
      MakeDirs(path);
      // A folder's mode is set where the row gives one.
      if (b.mode != 0644) chmod(path.c_str(), b.mode);
      continue;
    }
    MakeDirs(path.substr(0, path.rfind('/')));
    if (b.content.compare(0, kSecondNameOf.size(), kSecondNameOf) == 0)
      EXPECT_EQ(link((root + "/" + b.content.substr(kSecondNameOf.size())).c_str(), path.c_str()), 0) << path;
    else if (b.content.compare(0, kSymlinkTo.size(), kSymlinkTo) == 0)
      EXPECT_EQ(symlink(b.content.substr(kSymlinkTo.size()).c_str(), path.c_str()), 0) << path;
    else
      WriteFile(path, b.content, b.mode);
    // chown clears the set-id bits: the mode is set again after it.
    if (b.owner >= 0 && lchown(path.c_str(), b.owner, b.owner) == 0) chmod(path.c_str(), b.mode);
  }
}

namespace {

// nftw takes no context: the snapshot being filled.
thread_local Disk* t_disk;
thread_local size_t t_rootLength;

int AddEntry(const char* path, const struct stat* st, int, struct FTW*) {
  if (strlen(path) <= t_rootLength) return 0;  // the root itself
  DiskEntry e;
  e.mode = st->st_mode & 07777;
  e.owner = st->st_uid;
  if (S_ISDIR(st->st_mode)) {
    e.content = kDirectory;
  } else if (S_ISLNK(st->st_mode)) {
    char target[4096];
    ssize_t n = readlink(path, target, sizeof target);
    e.content = "<symlink> " + std::string(target, n > 0 ? (size_t)n : 0);
  } else {
    e.content = ReadFile(path);
  }
  (*t_disk)[path + t_rootLength + 1] = e;
  return 0;
}

std::string WithSlashes(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

// The disk as the comparison sees it under `exempt`.
Disk Compared(const Disk& disk, Differs exempt) {
  Disk out;
  for (const auto& [path, entry] : disk) {
    DiskEntry e = entry;
    if (exempt == Differs::kExecutableBit) e.mode &= ~(mode_t)0111;
    if (exempt == Differs::kOtherNamesWritable) e.mode &= ~(mode_t)S_IWUSR;
    out[exempt == Differs::kBackslash ? WithSlashes(path) : path] = e;
  }
  return out;
}

std::string ModeText(mode_t mode) {
  char buf[16];
  snprintf(buf, sizeof buf, "%04o", (unsigned)mode);
  return buf;
}

std::string Described(const DiskEntry* e) {
  if (!e) return kAbsent;
  return Shown(e->content) + " mode " + ModeText(e->mode);
}

// The entry at `path` in `disk`, or null.
const DiskEntry* Find(const Disk& disk, const std::string& path) {
  auto it = disk.find(path);
  return it == disk.end() ? nullptr : &it->second;
}

}  // namespace

Disk Snapshot(const std::string& root) {
  Disk disk;
  t_disk = &disk;
  t_rootLength = root.size();
  nftw(root.c_str(), AddEntry, 16, FTW_PHYS);
  t_disk = nullptr;
  return disk;
}

std::string AsUnderWine(std::string err, WineDeparts wine) {
  if (!wine.windows) return err;
  const std::string windows = wine.windows;
  const std::string instead = wine.wine;
  for (size_t at = err.find(windows); at != std::string::npos; at = err.find(windows, at + instead.size()))
    err.replace(at, windows.size(), instead);
  return err;
}

std::vector<std::string> Differences(const Outcome& onLinux, const Outcome& onWindows,
                                     Differs exempt, WineDeparts wine,
                                     const std::pair<std::string, std::string>& names) {
  std::vector<std::string> d;
  RunResult l = onLinux.run;
  const RunResult& w = onWindows.run;
  l.err = AsUnderWine(l.err, wine);
  const std::string &a = names.first, &b = names.second;
  if (l.out != w.out) d.push_back("stdout: " + a + " " + Shown(l.out) + ", " + b + " " + Shown(w.out));
  if (l.err != w.err) d.push_back("stderr: " + a + " " + Shown(l.err) + ", " + b + " " + Shown(w.err));
  if (l.status != w.status)
    d.push_back("exit status: " + a + " " + std::to_string(l.status) + ", " + b + " " +
                std::to_string(w.status));
  const Disk ld = Compared(onLinux.disk, exempt), wd = Compared(onWindows.disk, exempt);
  Disk all = ld;
  all.insert(wd.begin(), wd.end());
  for (const auto& entry : all) {
    const DiskEntry* le = Find(ld, entry.first);
    const DiskEntry* we = Find(wd, entry.first);
    if (le && we && *le == *we) continue;
    d.push_back(entry.first + ": " + a + " " + Described(le) + ", " + b + " " + Described(we));
  }
  return d;
}

bool PrepareUnpackRow(const UnpackCase& c, const std::string& dir, std::unique_ptr<TmpfsVolume>* volume,
                      std::string* skipped) {
  if (c.needsTmpfs && !MountVolume(dir + "/vol", c.volumeBytes, volume, skipped, c.volumeInodes))
    return false;
  Prepare(dir, c.before);
  return true;
}

namespace {

// Runs row `c` in a fresh folder under `wrapper`, and takes a snapshot of the
// disk afterwards into `disk` when given.
RunResult RunRowOnce(const Build& build, const UnpackCase& c, const std::vector<std::string>& wrapper,
                     Disk* disk, std::string* skipped) {
  ScratchDir dir;
  std::unique_ptr<TmpfsVolume> volume;
  if (!PrepareUnpackRow(c, dir.path(), &volume, skipped)) return RunResult();
  std::vector<std::string> around = wrapper;
  if (c.asUser && !build.windows) {
    chmod(dir.path().c_str(), 0777);
    const std::string id = std::to_string(kNobody);
    for (const char* a : {"setpriv", "--reuid", id.c_str(), "--regid", id.c_str(), "--clear-groups", "--"})
      around.push_back(a);
  }
  RunResult r = RunOn(build, build.unpack, c.args, c.input, dir.path(), c.addressLimit, around,
                      c.inputOnPipe);
  if (disk) *disk = Snapshot(dir.path());
  return r;
}

// strace's injection of the row's fault. A fault that starts at a path is
// placed by a traced run first: the how-many-th call of its kind that is.
bool Injection(const Build& build, const UnpackCase& c, std::string* inject, std::string* skipped) {
  *inject = std::string(c.fault.calls) + ":" + c.fault.result;
  if (!c.fault.from) return true;
  ScratchDir traceDir;
  const std::string trace = traceDir / "trace";
  std::vector<std::string> tracer = Strace("", trace);
  tracer.insert(tracer.begin() + 1, {"-e", std::string("trace=") + c.fault.calls});
  RunRowOnce(build, c, tracer, nullptr, skipped);
  const std::string needle = std::string(c.fault.from) + "\"";
  int nth = 0;
  std::istringstream lines(ReadFile(trace));
  for (std::string line; std::getline(lines, line);) {
    if (line.find(c.fault.calls) == std::string::npos) continue;
    ++nth;
    if (line.find(needle) != std::string::npos) {
      *inject += ":when=" + std::to_string(nth) + (c.fault.once ? "" : "+");
      return true;
    }
  }
  *skipped = std::string("no call ") + c.fault.calls + " on a path ending " + c.fault.from;
  return false;
}

}  // namespace

bool RunUnpackRow(const Build& build, const UnpackCase& c, Outcome* outcome, std::string* skipped) {
  std::vector<std::string> wrapper;
  if (c.fault.calls) {
    std::string inject;
    if (!StraceInstalled(skipped) || !Injection(build, c, &inject, skipped)) return false;
    wrapper = Strace(inject);
  }
  skipped->clear();
  outcome->run = RunRowOnce(build, c, wrapper, &outcome->disk, skipped);
  return skipped->empty();
}

void ExpectUnpackRow(const Build& build, const UnpackCase& c, const Outcome& outcome) {
  const bool onWindows = build.windows;
  const std::string where = c.name + std::string(" (") + build.name + ")";
  const std::string err = onWindows ? AsUnderWine(AsUnderWine(c.err, c.windows), c.wine) : c.err;
  EXPECT_EQ(Visible(outcome.run.err), Visible(TextMode(err))) << where;
  EXPECT_EQ(outcome.run.status, 0) << where;
  EXPECT_EQ(outcome.run.out, "") << where;
  for (const After& a : c.after) {
    std::string path = a.path;
    if (onWindows && c.differs == Differs::kBackslash) path = WithSlashes(path);
    const DiskEntry* e = Find(outcome.disk, path);
    const std::string content = e ? e->content : kAbsent;
    if (content.size() > 64 || a.content.size() > 64) {
      EXPECT_TRUE(content == a.content) << where << ": " << path << " holds " << content.size()
                                        << " bytes, not the " << a.content.size() << " expected";
    } else {
      EXPECT_EQ(Visible(content), Visible(a.content)) << where << ": " << path;
    }
    if (a.mode) {
      mode_t mode = e ? e->mode : 0, expected = a.mode;
      if (onWindows && c.differs == Differs::kExecutableBit) mode &= ~0111, expected &= ~0111;
      if (onWindows && c.differs == Differs::kOtherNamesWritable) mode &= ~0200, expected &= ~0200;
      EXPECT_EQ(ModeText(mode), ModeText(expected)) << where << ": mode of " << path;
    }
    if (a.owner >= 0) {
      EXPECT_EQ(e ? (int)e->owner : -1, a.owner) << where << ": owner of " << path;
    }
  }
}

std::string RowTestName(size_t index, const char* name) {
  std::string s = std::to_string(index) + "_";
  for (const char* p = name; *p; ++p) s += isalnum((unsigned char)*p) ? *p : '_';
  return s;
}
