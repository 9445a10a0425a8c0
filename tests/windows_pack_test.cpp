// pack.exe against Linux pack: each row runs in the driver (one Wine process
// for the whole table) with --slashes, and its standard output, standard
// error and exit status must be Linux pack's bytes for the same package and
// tree. A plan row is then followed by unpack.exe on the same tree (a second
// driver process), which must end as the plan said. A row that holds a file
// open, as another program may, has no Linux counterpart: its plan is
// checked against unpack.exe alone.
#include <gtest/gtest.h>

#include "tests/harness.h"
#include "tests/windows_builds.h"
#include "tests/windows_driver.h"

namespace {

struct PackRow {
  const char* name;
  std::vector<PackEntry> entries;
  size_t cut;  // bytes taken off the package's end
  // Made under the row's folder before the run: a path ending in "/" is a
  // folder, any other a file of the content given.
  std::vector<std::pair<std::string, std::string>> tree;
  std::vector<std::string> args;  // after the program's name; the package is p.pkg
  const char* hold = "-";         // held open by the driver during both runs
};

const std::vector<PackEntry> kTwo = {{"a/b.txt", "hello\n"}, {"c.txt", "world!\n"}};

const std::vector<PackRow> kRows = {
    {"list", kTwo, 0, {}, {"-t", "p.pkg"}},
    {"list with sizes", kTwo, 0, {}, {"-tv", "p.pkg"}},
    {"list a cut package", kTwo, 3, {}, {"-t", "p.pkg"}},
    {"verify the same", kTwo, 0, {{"dest/a/b.txt", "hello\n"}, {"dest/c.txt", "world!\n"}},
     {"--verify", "dest/", "p.pkg"}},
    {"verify differs and missing", kTwo, 0, {{"dest/a/b.txt", "hellO\n"}}, {"--verify", "dest/", "p.pkg"}},
    {"verify a folder at a target", kTwo, 0, {{"dest/a/b.txt", "hello\n"}, {"dest/c.txt/", ""}},
     {"--verify", "dest/", "p.pkg"}},
    {"verify a staged copy left", kTwo, 0,
     {{"dest/a/b.txt", "hello\n"}, {"dest/c.txt", "world!\n"}, {"dest/c.txtTMP", "wor"}},
     {"--verify", "dest/", "p.pkg"}},
    {"plan new files", kTwo, 0, {{"dest/a/", ""}}, {"--plan", "dest/", "p.pkg"}},
    {"plan a missing folder", kTwo, 0, {{"dest/", ""}}, {"--plan", "dest/", "p.pkg"}},
    {"plan replacing files", kTwo, 0, {{"dest/a/b.txt", "old"}, {"dest/c.txt", "old"}},
     {"--plan", "dest/", "p.pkg"}},
    {"plan a folder at a target", kTwo, 0, {{"dest/a/b.txt", "old"}, {"dest/c.txt/", ""}},
     {"--plan", "dest/", "p.pkg"}},
    {"plan a folder at a staged copy", kTwo, 0, {{"dest/a/b.txt", "old"}, {"dest/a/b.txtTMP/", ""}},
     {"--plan", "dest/", "p.pkg"}},
    {"plan a read-only file", kTwo, 0, {{"dest/a/b.txt", "old"}, {"dest/c.txt!", "old"}},
     {"--plan", "dest/", "p.pkg"}},
    {"plan a file held open without sharing", kTwo, 0, {{"dest/a/b.txt", "old"}, {"dest/c.txt", "old"}},
     {"--plan", "dest/", "p.pkg"}, "dest/c.txt"},
};

void MakeRow(const std::string& folder, const PackRow& row) {
  MakeDirs(folder);
  const std::string package = Package(row.entries);
  WriteFile(folder + "/p.pkg", package.substr(0, package.size() - row.cut));
  for (const auto& [path, content] : row.tree) {
    if (path.back() == '/') MakeDirs(folder + "/" + path);
    else {
      // A name ending in "!" is a read-only file.
      const bool readOnly = path.back() == '!';
      const std::string file = folder + "/" + path.substr(0, path.size() - readOnly);
      MakeDirs(file.substr(0, file.rfind('/')));
      WriteFile(file, content, readOnly ? 0444 : 0644);
    }
  }
}

// The last line of text, without its line end.
std::string LastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.substr(text.find_last_of('\n') + 1);
}

TEST(PackOnWindowsInOneProcess, AgreesWithLinux) {
  ScratchDir root;
  std::vector<DriverRun> runs(kRows.size());
  for (size_t i = 0; i < kRows.size(); ++i) {
    runs[i].program = "pack";
    runs[i].folder = "r" + std::to_string(i);
    runs[i].package = "p.pkg";
    runs[i].args = kRows[i].args;
    runs[i].args.insert(runs[i].args.begin(), "--slashes");
    runs[i].hold = kRows[i].hold;
    MakeRow(root / runs[i].folder, kRows[i]);
  }
  const std::vector<Outcome> onWindows = RunInDriver(root.path(), runs);
  // unpack.exe where each plan was made, with the same prefix.
  std::vector<DriverRun> installs;
  for (size_t i = 0; i < kRows.size(); ++i) {
    if (kRows[i].args[0] != "--plan") continue;
    DriverRun run;
    run.folder = runs[i].folder;
    run.package = "p.pkg";
    run.args = {"-destdir", "dest/"};
    run.hold = kRows[i].hold;
    installs.push_back(run);
  }
  // Linux pack on a tree of its own, made as the row's was.
  ScratchDir native;
  for (size_t i = 0; i < kRows.size(); ++i) {
    const PackRow& row = kRows[i];
    if (row.hold != std::string("-")) continue;
    MakeRow(native / "r", row);
    RunOptions options;
    options.cwd = native / "r";
    std::vector<std::string> argv = row.args;
    argv.insert(argv.begin(), PACK_PATH);
    const RunResult onLinux = RunProgram(argv, "", options);
    RemoveTree(native / "r");
    EXPECT_EQ(Visible(onWindows[i].run.out), Visible(onLinux.out)) << row.name;
    EXPECT_EQ(Visible(onWindows[i].run.err), Visible(onLinux.err)) << row.name;
    EXPECT_EQ(onWindows[i].run.status, onLinux.status) << row.name;
  }
  const std::vector<Outcome> installed = RunInDriver(root.path(), installs);
  for (size_t i = 0, k = 0; i < kRows.size(); ++i) {
    if (kRows[i].args[0] != "--plan") continue;
    const std::string plan = LastLine(onWindows[i].run.out), log = LastLine(installed[k++].run.err);
    const size_t line = plan.find("line ");
    if (line == std::string::npos)
      EXPECT_EQ(plan + " / " + log, "unpack would end with OK / OK") << kRows[i].name;
    else
      EXPECT_EQ(log.find("Line: " + plan.substr(line + 5)), 0u) << kRows[i].name << ": " << plan << " / " << log;
  }
}



// The README's whole job with the three .exe files alone, each its own
// process: pack, list, plan with --mkdirs, check the room, install, verify.
// Each step's exit status and last line of output (unpack's log for unpack).
struct JobStep {
  const char* program;
  std::vector<std::string> args;
  bool packageOnInput;
  int status;
  const char* lastLine;
};

TEST(PackOnWindows, WholeJob) {
  const std::string unpack = WINDOWS_UNPACK_PATH;
  const std::vector<JobStep> steps = {
      {WINDOWS_PACK_PATH, {"-C", "src", "-o", "app.pkg", "app"}, false, 0, ""},
      {WINDOWS_PACK_PATH, {"-t", "app.pkg"}, false, 0,
       "well formed: 2 entries, 12 bytes of content; the structure is checked, not the content "
       "(the format has no checksum)"},
      {WINDOWS_PACK_PATH, {"--plan", "dest\\", "--mkdirs", "app.pkg"}, false, 0, "unpack would end with OK"},
      {WINDOWS_VELLOMAR_PATH, {"-drive", "Z:\\", "-required", "1000"}, false, 0, "OK"},
      {WINDOWS_UNPACK_PATH, {"-destdir", "dest\\"}, true, 0, "OK"},
      {WINDOWS_PACK_PATH, {"--verify", "dest\\", "app.pkg"}, false, 0,
       "verified 2 entries: same 2, differs 0, missing 0, not a file 0; staged copies left 0"},
  };
  ScratchDir dir;
  MakeDirs(dir / "src/app/bin");
  WriteFile(dir / "src/app/bin/tool.exe", "MZ bin");
  WriteFile(dir / "src/app/readme.txt", "hello\n");
  for (const JobStep& step : steps) {
    const std::string input = step.packageOnInput ? ReadFile(dir / "app.pkg") : "";
    const RunResult r = RunOn(WindowsBuild(), step.program, step.args, input, dir.path());
    const std::string shown = step.program == unpack ? r.err : r.out;
    EXPECT_EQ(r.status, step.status) << step.args[0] << ": " << Visible(r.err);
    EXPECT_EQ(LastLine(shown), step.lastLine) << step.args[0] << ": " << Visible(shown);
  }
  // pack.exe names with \ as pack -w does on Linux, in the same bytes.
  RunOptions options;
  options.cwd = dir.path();
  const RunResult onLinux = RunProgram({PACK_PATH, "-w", "-C", "src", "app"}, "", options);
  EXPECT_EQ(Visible(ReadFile(dir / "app.pkg")), Visible(onLinux.out));
  EXPECT_EQ(ReadFile(dir / "dest/app/bin/tool.exe"), "MZ bin");
}
}  // namespace
