// What a power cut can leave: the driver runs a few end-to-end rows on the
// in-memory file system, which keeps a journal of the run; every tree that a
// cut at any moment may leave (the rules are in tests/memfs/memfs.h) is then
// put in place and checked. A replaced file holds its old or its new
// content (on the direct rewrite, the first part of the new one at worst);
// a new file is absent or of any length up to its full one, each block its
// content or zeros; nothing else has changed; and running the same package
// again ends as the run without a cut does, with every target new and no
// staged copy left: the user's whole recovery is to run the install again.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "extractor/group.h"
#include "extractor/unpack.h"
#include "platform/posix_calls.h"
#include "tests/memfs/memfs.h"
#include "tests/seam.h"
#include "tests/unpack_cases.h"

namespace {

typedef std::map<std::string, std::string> Files;

// Runs unpack on the tree; returns its log.
std::string Unpack(const UnpackCase& c, const GroupLimits& limits) {
  Capture log;
  FILE* in = fmemopen((void*)c.input.data(), c.input.size(), "rb");
  std::vector<char*> argv = {(char*)"unpack"};
  for (const std::string& a : c.args) argv.push_back((char*)a.c_str());
  RunUnpack((int)argv.size(), argv.data(), in, log.stream(), &limits);
  fclose(in);
  return log.text();
}

std::string LastLine(const std::string& log) {
  return log.substr(log.rfind('\n', log.size() - 2) + 1);
}

// The row's tree; a row's volume is the whole in-memory one.
void Stage(const UnpackCase& c) {
  MemFsReset(true);
  uint64_t inVolume = 0;
  for (const Before& b : c.before) {
    for (size_t slash = b.path.find('/'); slash != std::string::npos; slash = b.path.find('/', slash + 1))
      MemFsMake(b.path.substr(0, slash).c_str(), S_IFDIR | 0755, "", 0);
    const bool link = StartsWith(b.content, kSymlinkTo);
    const std::string data = link ? b.content.substr(kSymlinkTo.size()) : b.content;
    const mode_t mode = b.content == kDirectory ? S_IFDIR | 0755 : link ? S_IFLNK | 0777 : S_IFREG | b.mode;
    MemFsMake(b.path.c_str(), mode, data.data(), b.content == kDirectory ? 0 : data.size());
    if (b.path.compare(0, 4, "vol/") == 0 && S_ISREG(mode)) inVolume += data.size();
  }
  if (c.needsTmpfs) {
    MemFsMake("vol", S_IFDIR | 0755, "", 0);
    MemFsSetFree(c.volumeBytes - inVolume);
  }
}

// Each target's path (prefix and name) and the content its last entry
// gives it.
Files Targets(const UnpackCase& c) {
  std::string prefix;
  for (size_t i = 0; i + 1 < c.args.size(); ++i)
    if (c.args[i] == "-destdir") prefix = c.args[i + 1];
  Files targets;
  const std::string& p = c.input;
  for (size_t at = 8; at + 4 <= p.size();) {
    const uint32_t size = (uint8_t)p[at] | (uint8_t)p[at + 1] << 8 | (uint8_t)p[at + 2] << 16 | (uint32_t)(uint8_t)p[at + 3] << 24;
    const size_t nul = p.find('\0', at + 4);
    if (nul == std::string::npos || nul + 1 + size > p.size()) break;
    targets[prefix + p.substr(at + 4, nul - at - 4)] = p.substr(nul + 1, size);
    at = nul + 1 + size;
  }
  return targets;
}

// True when `now` is what a cut may leave of a file that `written` was
// written over, `old` before it ("" for a new file), not flushed since: each
// byte the one written there, the one that was there, or a zero where the
// file grew, at any length up to the longer of the two.
bool MayBeLeft(const std::string& now, const std::string& written, const std::string& old) {
  if (now.size() > std::max(written.size(), old.size())) return false;
  for (size_t i = 0; i < now.size(); ++i)
    if (!(i < written.size() && now[i] == written[i]) && now[i] != (i < old.size() ? old[i] : '\0'))
      return false;
  return true;
}

// What is wrong with the tree after a cut, or "".
std::string CutFault(const Files& before, const Files& targets, const Files& now, bool rewrite) {
  for (const auto& [path, content] : now) {
    const bool staged = path.size() > 3 && targets.count(path.substr(0, path.size() - 3));
    if (!targets.count(path) && !staged && !(before.count(path) && before.at(path) == content))
      return path + " changed";
  }
  for (const auto& [path, content] : before) {
    const bool staged = path.size() > 3 && targets.count(path.substr(0, path.size() - 3));
    if (!now.count(path) && !targets.count(path) && !staged) return path + " is gone";
  }
  for (const auto& [path, content] : targets) {
    auto at = now.find(path);
    auto old = before.find(path);
    if (old == before.end() && (at == now.end() || MayBeLeft(at->second, content, ""))) continue;
    if (old != before.end() && at != now.end() &&
        (at->second == old->second || at->second == content ||
         (rewrite && MayBeLeft(at->second, content, old->second))))
      continue;
    return path + (at == now.end() ? " is absent" : " holds " + std::to_string(at->second.size()) + " bytes");
  }
  return "";
}

// A row, and whether its groups flush their volume whole rather than each
// staged copy.
class PowerCut : public ::testing::TestWithParam<std::tuple<const char*, bool>> {};

TEST_P(PowerCut, OldOrNewAndTheSameRunRecovers) {
  const UnpackCase* row = nullptr;
  const auto [name, whole] = GetParam();
  for (const UnpackCase& c : UnpackCases())
    if (std::string(c.name) == name) row = &c;
  ASSERT_TRUE(row) << name;
  const GroupLimits limits = {kDefaultGroupLimits.entries, kDefaultGroupLimits.bytes,
                              whole ? 0 : kDefaultGroupLimits.ownFlushes};
  const UnpackCase c = Filled(*row);
  SeamGuard guard;
  MemFsInstall();
  Stage(c);
  const Files before = MemFsFiles(), targets = Targets(c);
  MemFsRecord();
  const std::string clean = Unpack(c, limits);
  const bool rewrite = clean.find("Line: 205 ") != std::string::npos;
  int faults = 0;
  const size_t states = MemFsPowerCuts([&] {
    const Files cut = MemFsFiles();
    const std::string fault = CutFault(before, targets, cut, rewrite);
    const std::string again = Unpack(c, limits);
    const Files after = MemFsFiles();
    std::string recovery = LastLine(again) == LastLine(clean) ? "" : "the run again ends " + LastLine(again);
    if (LastLine(clean) == "OK\r\n")
      for (const auto& [path, content] : targets)
        if (!after.count(path) || after.at(path) != content || (after.count(path + "TMP") && !before.count(path + "TMP")))
          recovery = "the run again leaves " + path + " unfinished";
    if ((fault.empty() && recovery.empty()) || ++faults > 5) return;
    ADD_FAILURE() << "a cut leaves " << (fault.empty() ? "what it should" : fault) << "; " << recovery;
  });
  MemFsUninstall();
  std::cout << c.name << ": " << states << " states after a cut\n";
  EXPECT_GT(states, 1u);
}

// Replacements alone and in a group, a read-only one, a leftover staged
// copy, the direct rewrite, a cut stream, a failing entry, and content from
// a pipe that is written as it comes (every run here reads a pipe), with
// groups that flush each staged copy; the rows whose staged copies reach a
// flush again with groups that flush their volume whole. Under the
// sanitizers, whose runs cost ten times as much for the same code, neither
// the second kind nor the pipe's large entry runs.
std::vector<std::tuple<const char*, bool>> PowerCutRows() {
  std::vector<std::tuple<const char*, bool>> rows;
  for (const char* name :
       {"replacement", "replacing a read-only file leaves a writable one", "a leftover staged copy is removed first",
        "full volume: a staged copy that fits once the waiting old files go",
        "full volume: the staged copy does not fit, the direct rewrite does",
        "directory named as the staged copy: direct rewrite", "data cut short leaves an old target as it was",
        "a replacement, then a new file in a missing folder"})
    rows.push_back({name, false});
  if (!SanitizedBuild()) {
    rows.push_back({"a staged copy that fills the volume halfway, from a pipe: the direct rewrite", false});
    for (const char* name : {"replacement", "full volume: a staged copy that fits once the waiting old files go",
                             "a replacement, then a new file in a missing folder"})
      rows.push_back({name, true});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, PowerCut, ::testing::ValuesIn(PowerCutRows()), [](const auto& info) {
  return "row" + std::to_string(info.index) + (std::get<1>(info.param) ? "_volume_flush" : "");
});

}  // namespace
