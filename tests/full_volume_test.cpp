// Both builds on a volume that fills up: one entry of 1 KiB, 64 KiB + 1,
// 300 KiB or 2 MiB, new or replacing a file of half its size, from a file or
// from a pipe, on a tmpfs left with each 4 KiB step of room from none to the
// entry's size. The two builds must print the same bytes and leave the same
// tree, and a run may end with OK only over the entry's whole content. The
// steps are shared out in four quarters, which run side by side; the Windows
// runs of a quarter are made by one process of the fault driver.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "tests/windows_builds.h"
#include "tests/windows_driver.h"

namespace {

const size_t kStep = 4096;

struct Step {
  size_t size;  // of the entry
  bool replace;
  bool pipe;
  size_t room;  // left on the volume
};

std::vector<Step> Steps() {
  std::vector<Step> steps;
  for (size_t size : {size_t(1) << 10, (size_t(64) << 10) + 1, size_t(300) << 10, size_t(2) << 20})
    for (bool replace : {false, true})
      for (bool pipe : {false, true})
        for (size_t room = 0; room < size + kStep; room += kStep) steps.push_back({size, replace, pipe, room});
  return steps;
}

// The entry's content: the first `size` bytes of a pattern.
std::string Content(size_t size) {
  static std::string pattern;
  for (size_t i = pattern.size(); i < size; ++i) pattern += (char)('a' + i % 23);
  return pattern.substr(0, size);
}

const std::string& PackageOf(size_t size) {
  static std::map<size_t, std::string> packages;
  std::string& p = packages[size];
  if (p.empty()) p = Package({{"f", Content(size)}});
  return p;
}

// A file's bytes as the comparison holds them: beyond a page, their size and
// a hash. The snapshots of a quarter would otherwise hold gigabytes, and
// every program the test starts would pay for them as it forks.
std::string Digest(const std::string& bytes) {
  if (bytes.size() <= kStep) return bytes;
  return "<" + std::to_string(bytes.size()) + " bytes, hash " +
         std::to_string(std::hash<std::string>()(bytes)) + ">";
}

Disk Digested(Disk disk) {
  for (auto& entry : disk) entry.second.content = Digest(entry.second.content);
  return disk;
}

std::string Describe(const Step& s) {
  return std::to_string(s.size) + " bytes, " + (s.replace ? "replacing" : "new") + ", " +
         (s.pipe ? "pipe" : "file") + ", " + std::to_string(s.room) + " bytes of room";
}

// Mounts the step's volume at `folder`/vol: a page of filler, the old file
// (half the entry, and a byte) when it replaces one, and the room.
std::unique_ptr<TmpfsVolume> MakeVolume(const std::string& folder, const Step& s) {
  const size_t old = s.size / 2 + 1, oldPages = s.replace ? (old + kStep - 1) / kStep * kStep : 0;
  std::unique_ptr<TmpfsVolume> volume(new TmpfsVolume(folder + "/vol", kStep + oldPages + s.room));
  if (!volume->mounted()) return nullptr;
  WriteFile(folder + "/vol/filler", std::string(kStep, 'x'));
  if (s.replace) WriteFile(folder + "/vol/f", std::string(old, 'o'));
  return volume;
}

class FullVolume : public ::testing::TestWithParam<int> {};

TEST_P(FullVolume, BothBuildsAgree) {
  const std::vector<Step> all = Steps();
  std::vector<Step> steps;
  for (size_t i = (size_t)GetParam(); i < all.size(); i += 4) steps.push_back(all[i]);
  ScratchDir root;
  // The Windows runs, made by one process under Wine while this one makes
  // the Linux runs.
  std::vector<std::unique_ptr<TmpfsVolume>> volumes;
  std::vector<DriverRun> runs(steps.size());
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string package = "p" + std::to_string(steps[i].size);
    if (!Exists(root / package)) WriteFile(root / package, PackageOf(steps[i].size));
    runs[i].folder = "w" + std::to_string(i);
    runs[i].onPipe = steps[i].pipe;
    runs[i].package = "../" + package;
    runs[i].args = {"-destdir", "vol/"};
    volumes.push_back(MakeVolume(root / runs[i].folder, steps[i]));
    if (!volumes.back()) SKIP_UNLESS_CI("cannot mount a tmpfs here (needs root)");
  }
  std::vector<Outcome> onWindows;
  std::thread windows([&] {
    onWindows = RunInDriver(root.path(), runs);
    for (Outcome& o : onWindows) o.disk = Digested(o.disk);
  });
  std::vector<Outcome> onLinux(steps.size());
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string folder = root / ("l" + std::to_string(i));
    std::unique_ptr<TmpfsVolume> volume = MakeVolume(folder, steps[i]);
    onLinux[i].run = RunOn(LinuxBuild(), LinuxBuild().unpack, {"-destdir", "vol/"},
                           PackageOf(steps[i].size), folder, 0, {}, steps[i].pipe);
    onLinux[i].disk = Digested(Snapshot(folder));
  }
  windows.join();
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string where = Describe(steps[i]);
    for (const std::string& d : Differences(onLinux[i], onWindows[i]))
      ADD_FAILURE() << where << ": the builds differ in " << d;
    const std::string& err = onWindows[i].run.err;
    const bool ok = err.size() >= 5 && err.compare(err.size() - 5, 5, "OK\r\r\n") == 0;
    auto target = onWindows[i].disk.find("vol/f");
    if (ok) {
      EXPECT_TRUE(target != onWindows[i].disk.end() &&
                  target->second.content == Digest(Content(steps[i].size)))
          << where << ": OK over a file that is not the entry's whole content";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Quarter, FullVolume, ::testing::Values(0, 1, 2, 3));

}  // namespace
