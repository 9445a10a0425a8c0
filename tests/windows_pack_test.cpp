// pack.exe against Linux pack. Each row runs in the driver (one Wine process
// for the table) with --slashes and must give Linux pack's standard output,
// standard error and exit status for the same package and tree; each plan
// is then followed by unpack.exe (a second driver process), which must end
// as the plan said. A row that holds a file open, as another program may,
// or runs a program from one, has no Linux counterpart: its plan is checked
// against unpack.exe alone.
#include <gtest/gtest.h>

#include "tests/harness.h"
#include "tests/unpack_cases.h"
#include "tests/windows_builds.h"
#include "tests/windows_driver.h"

namespace {

struct PackRow {
  const char* name;
  std::string args;  // --plan and --verify take dest/; the package is p.pkg
  std::vector<std::pair<std::string, std::string>> tree;  // "x/": a folder; "x!": read-only
  const char* hold;  // held open during the row's runs, or "-"
};

// In a tree: a copy of a Windows program.
const std::string kProgram = "<a program>";

const std::vector<PackRow> kRows = {
    {"list", "-t", {}, "-"},
    {"list with sizes", "-tv", {}, "-"},
    {"list a cut package", "-t", {{"p.pkg", "x"}}, "-"},
    {"verify the same", "--verify", {{"dest/a/b", "hello\n"}, {"dest/c", "world!\n"}}, "-"},
    {"verify differs and missing", "--verify", {{"dest/a/b", "hellO\n"}}, "-"},
    {"verify a folder at a target", "--verify", {{"dest/a/b", "hello\n"}, {"dest/c/", ""}}, "-"},
    {"verify a staged copy left", "--verify", {{"dest/a/b", "hello\n"}, {"dest/c", "world!\n"}, {"dest/cTMP", "w"}}, "-"},
    {"plan new files", "--plan", {{"dest/a/", ""}}, "-"},
    {"plan a missing folder", "--plan", {{"dest/", ""}}, "-"},
    {"plan replacing files", "--plan", {{"dest/a/b", "old"}, {"dest/c", "old"}}, "-"},
    {"plan a folder at a target", "--plan", {{"dest/a/b", "old"}, {"dest/c/", ""}}, "-"},
    {"plan a folder at a staged copy", "--plan", {{"dest/a/b", "old"}, {"dest/a/bTMP/", ""}}, "-"},
    {"plan a read-only file", "--plan", {{"dest/a/b", "old"}, {"dest/c!", "old"}}, "-"},
    {"plan a file held open", "--plan", {{"dest/a/b", "old"}, {"dest/c", "old"}}, "dest/c"},
    {"plan a program that runs", "--plan", {{"dest/a/b", "old"}, {"dest/c", kProgram}}, "run:dest/c"},
};

typedef std::vector<std::pair<std::string, std::string>> Tree;

// The package p.pkg and `tree` under `folder`.
void MakeTree(const std::string& folder, const Tree& tree) {
  MakeDirs(folder);
  WriteFile(folder + "/p.pkg", Package({{"a/b", "hello\n"}, {"c", "world!\n"}}));
  for (const auto& [path, content] : tree) {
    const bool readOnly = path.back() == '!';
    const std::string file = folder + "/" + path.substr(0, path.size() - readOnly);
    MakeDirs(file.substr(0, file.rfind('/')));
    if (path.back() != '/')
      WriteFile(file, content == kProgram ? ReadFile(WINDOWS_VELLOMAR_PATH) : content, readOnly ? 0444 : 0644);
  }
}

void MakeRow(const std::string& folder, const PackRow& row) { MakeTree(folder, row.tree); }

std::vector<std::string> Args(const PackRow& row) {
  if (row.args[0] == '-' && row.args[1] == 't') return {row.args, "p.pkg"};
  return {row.args, "dest/", "p.pkg"};
}

RunOptions In(const std::string& cwd) {
  RunOptions options;
  options.cwd = cwd;
  return options;
}

std::string LastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.substr(text.find_last_of('\n') + 1);
}

TEST(PackOnWindowsInOneProcess, AgreesWithLinux) {
  ScratchDir root, native;
  std::vector<DriverRun> runs(kRows.size()), installs;
  for (size_t i = 0; i < kRows.size(); ++i) {
    runs[i].program = "pack", runs[i].folder = "r" + std::to_string(i), runs[i].package = "p.pkg";
    runs[i].args = Args(kRows[i]);
    runs[i].args.insert(runs[i].args.begin(), "--slashes");
    runs[i].hold = kRows[i].hold;
    MakeRow(root / runs[i].folder, kRows[i]);
    if (kRows[i].args == "--plan") installs.push_back(runs[i]), installs.back().program = "unpack",
                                   installs.back().args = {"-destdir", "dest/"};
  }
  const std::vector<Outcome> onWindows = RunInDriver(root.path(), runs);
  const std::vector<Outcome> installed = RunInDriver(root.path(), installs);
  for (size_t i = 0, k = 0; i < kRows.size(); ++i) {
    if (kRows[i].hold == std::string("-")) {
      MakeRow(native / "r", kRows[i]);
      std::vector<std::string> argv = Args(kRows[i]);
      argv.insert(argv.begin(), PACK_PATH);
      const RunResult onLinux = RunProgram(argv, "", In(native / "r"));
      RemoveTree(native / "r");
      EXPECT_EQ(Visible(onWindows[i].run.out + onWindows[i].run.err), Visible(onLinux.out + onLinux.err)) << kRows[i].name;
      EXPECT_EQ(onWindows[i].run.status, onLinux.status) << kRows[i].name;
    }
    if (kRows[i].args != "--plan") continue;
    const std::string plan = LastLine(onWindows[i].run.out), log = LastLine(installed[k++].run.err);
    const size_t line = plan.find("line ");
    EXPECT_EQ(line == std::string::npos ? log : log.substr(0, 9),
              line == std::string::npos ? "OK" : "Line: " + plan.substr(line + 5)) << kRows[i].name << ": " << plan;
  }
}

// The table of calls reaches pack as it reaches unpack: a read of an
// installed file that fails (the second ReadFile: the first takes the whole
// package) makes it unreadable.
TEST(PackOnWindowsInOneProcess, ReadFailureThroughTheTable) {
  ScratchDir root;
  DriverRun run;
  run.program = "pack", run.folder = "r", run.package = "p.pkg";
  run.args = {"--slashes", "--verify", "dest/", "p.pkg"};
  run.slot = "ReadFile", run.nth = 2, run.mode = "once", run.error = 23;  // ERROR_CRC
  MakeRow(root / "r", kRows[3]);
  const Outcome o = RunInDriver(root.path(), {run})[0];
  EXPECT_EQ(o.run.status, 1);
  EXPECT_EQ(o.run.out.substr(0, 15), "unreadable a/b:") << o.run.out;
}

// The whole job with the three .exe files alone, each its own process; the
// last line of each step's output (unpack's log), all with exit status 0.
TEST(PackOnWindows, WholeJob) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> steps = {
      {{WINDOWS_PACK_PATH, "-C", "src", "-o", "app.pkg", "app"}, ""},
      {{WINDOWS_PACK_PATH, "-t", "app.pkg"}, "well formed: 2 entries, 12 bytes of content; the structure is checked, not the content (the format has no checksum)"},
      {{WINDOWS_PACK_PATH, "--plan", "dest\\", "--mkdirs", "app.pkg"}, "unpack would end with OK"},
      {{WINDOWS_VELLOMAR_PATH, "-drive", "Z:\\", "-required", "1000"}, "OK"},
      {{WINDOWS_UNPACK_PATH, "-destdir", "dest\\"}, "OK"},
      {{WINDOWS_PACK_PATH, "--verify", "dest\\", "app.pkg"}, "verified 2 entries: same 2, differs 0, missing 0, not a file 0; staged copies left 0"},
  };
  ScratchDir dir;
  MakeDirs(dir / "src/app/bin");
  WriteFile(dir / "src/app/bin/tool.exe", "MZ bin");
  WriteFile(dir / "src/app/readme.txt", "hello\n");
  for (const auto& [argv, last] : steps) {
    const bool unpack = argv[0] == WINDOWS_UNPACK_PATH;
    const RunResult r = RunOn(WindowsBuild(), argv[0], {argv.begin() + 1, argv.end()},
                              unpack ? ReadFile(dir / "app.pkg") : "", dir.path());
    EXPECT_EQ(r.status, 0) << argv[1] << ": " << Visible(r.err);
    EXPECT_EQ(LastLine(unpack ? r.err : r.out), last) << argv[1] << ": " << Visible(r.out + r.err);
  }
  // Names with \, in the bytes of pack -w on Linux.
  const RunResult onLinux = RunProgram({PACK_PATH, "-w", "-C", "src", "app"}, "", In(dir.path()));
  EXPECT_EQ(Visible(ReadFile(dir / "app.pkg")), Visible(onLinux.out));
}

// pack.exe under faults. Each operation is traced, then run again for every
// call it makes that can fail (FaultRuns), in one driver process. Whatever
// fails, it exits 0 having printed and left what the clean run did, or 1
// saying why (a message, or a verdict that differs); it changes nothing but
// the folders --mkdirs makes and, when it succeeds, the package -o names;
// killed, it may leave its partial package besides.
struct FaultRow {
  const char* name;
  std::vector<std::string> args;
  Tree tree;
  bool onPipe;  // standard input is a pipe holding p.pkg, rather than the file
};

const Tree kSources = {{"tree/a/b", "hello\n"}, {"tree/c", "world!\n"}};
const FaultRow kFaultRows[] = {
    {"write a package file", {"-C", "tree", "-o", "out.pkg", "a", "c"}, {kSources[0], kSources[1], {"out.pkg", "old"}}, false},
    {"write to standard output", {"-C", "tree", "a", "c"}, kSources, false},
    {"plan and make a folder", {"--plan", "dest/", "--mkdirs", "p.pkg"}, {{"dest/c", "old"}}, false},
    {"verify", {"--verify", "dest/", "p.pkg"}, {{"dest/a/b", "hello\n"}, {"dest/c", "world!\n"}}, false},
    {"list from a pipe", {"-tv"}, {}, true},
};

class PackOnWindowsUnderFaults : public ::testing::TestWithParam<FaultRow> {};

TEST_P(PackOnWindowsUnderFaults, FailingOrKilledAtEveryCall) {
  const FaultRow& row = GetParam();
  auto run = [&](const std::string& root, std::vector<DriverRun> runs) {
    for (size_t i = 0; i < runs.size(); ++i) {
      runs[i].program = "pack", runs[i].folder = "r" + std::to_string(i), runs[i].package = "p.pkg";
      runs[i].onPipe = row.onPipe, runs[i].args = row.args;
      MakeTree(root + "/" + runs[i].folder, row.tree);
    }
    return RunInDriver(root, runs);
  };
  ScratchDir traced, batch;
  DriverRun tracing;
  tracing.trace = "../trace";
  const Outcome clean = run(traced.path(), {tracing})[0];
  ASSERT_EQ(clean.run.status, 0) << Visible(clean.run.err);
  MakeTree(traced / "before", row.tree);
  const Disk before = Snapshot(traced / "before");
  std::vector<std::string> where;
  const std::vector<DriverRun> runs = FaultRuns(ReadFile(traced / "trace"), &where);
  const std::vector<Outcome> outcomes = run(batch.path(), runs);
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunResult& r = outcomes[i].run;
    const Disk& disk = outcomes[i].disk;
    const std::string at = where[i] + ": " + Visible(r.out + r.err);
    if (runs[i].mode == "kill") {
      EXPECT_EQ(r.status, 137) << at;
    } else if (r.status == 0) {
      // A plan takes access denied and a read-only volume for answers: its
      // verdict changes with them, and may still end with OK.
      const bool answered = row.args[0] == "--plan" && (runs[i].error == kAccessDenied || runs[i].error == kWriteProtect);
      EXPECT_TRUE((r.out == clean.run.out || answered) && r.err == clean.run.err && disk == clean.disk) << at;
    } else {
      EXPECT_EQ(r.status, 1) << at;
      EXPECT_TRUE(!r.err.empty() || r.out != clean.run.out) << at;
    }
    EXPECT_TRUE(runs[i].mode != "short" || r.status == 0) << at;
    for (const auto& [path, entry] : before)
      EXPECT_TRUE(disk.count(path)) << at << ": " << path << " is gone";
    for (const auto& [path, entry] : disk) {
      const auto was = before.find(path), asked = clean.disk.find(path);
      const bool kept = was != before.end() && was->second == entry;
      const bool made = asked != clean.disk.end() && asked->second == entry &&
                        (r.status != 1 || entry.content == kDirectory);
      EXPECT_TRUE(kept || made || (runs[i].mode == "kill" && path == "out.pkg.partial"))
          << at << ": " << path << " is " << Visible(entry.content);
    }
  }
  std::cout << row.name << ": " << runs.size() << " runs\n";
}

INSTANTIATE_TEST_SUITE_P(Windows, PackOnWindowsUnderFaults, ::testing::ValuesIn(kFaultRows),
                         [](const auto& info) { return RowTestName(info.index, info.param.name); });

}  // namespace
