// pack.exe against Linux pack. Each row runs in the driver (one Wine process
// for the table) with --slashes and must give Linux pack's standard output,
// standard error and exit status for the same package and tree; each plan
// is then followed by unpack.exe (a second driver process), which must end
// as the plan said. A row that holds a file open, as another program may,
// has no Linux counterpart: its plan is checked against unpack.exe alone.
#include <gtest/gtest.h>

#include "tests/harness.h"
#include "tests/windows_builds.h"
#include "tests/windows_driver.h"

namespace {

struct PackRow {
  const char* name;
  std::string args;  // --plan and --verify take dest/; the package is p.pkg
  std::vector<std::pair<std::string, std::string>> tree;  // "x/": a folder; "x!": read-only
  const char* hold;  // held open during the row's runs, or "-"
};

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
};

void MakeRow(const std::string& folder, const PackRow& row) {
  MakeDirs(folder);
  WriteFile(folder + "/p.pkg", Package({{"a/b", "hello\n"}, {"c", "world!\n"}}));
  for (const auto& [path, content] : row.tree) {
    const bool readOnly = path.back() == '!';
    const std::string file = folder + "/" + path.substr(0, path.size() - readOnly);
    MakeDirs(file.substr(0, file.rfind('/')));
    if (path.back() != '/') WriteFile(file, content, readOnly ? 0444 : 0644);
  }
}

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

}  // namespace
