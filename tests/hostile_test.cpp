// Names and arguments a hostile or careless package or caller might bring.
// These rows use what only Linux allows (control bytes in names, absolute
// paths of this machine), so they run against the Linux build alone.
#include <gtest/gtest.h>

#include "tests/harness.h"
#include "tests/unpack_cases.h"

namespace {

struct HostileCase {
  const char* name;
  std::vector<std::string> args;
  std::string entryName;
  std::string err;      // as formatted, before text mode
  std::string written;  // path (in the scratch folder) that must hold "data"
};

TEST(HostileTest, NamesAndArguments) {
  ScratchDir dir;  // holds the absolute paths of the rows below
  const std::string good = "Good Magic Number. 80826589\r\nOK\r\n";
  std::vector<std::string> manyArgs(10000, "-s");
  manyArgs.push_back("-destdir");
  manyArgs.push_back("many-");
  const HostileCase cases[] = {
      {"control bytes in the name", {}, "a\x01\x7f\tb\x1b", good, "a\x01\x7f\tb\x1b"},
      {"parent folder in the name", {"-destdir", "in/"}, "../up", good, "up"},
      {"absolute name", {}, dir / "abs/x", good, "abs/x"},
      {"10,000 arguments", manyArgs, "f", good, "many-f"},
      {"name of 259 characters refused after a prefix",
       {"-destdir", "p/"},
       std::string(259, 'n'),
       "Good Magic Number. 80826589\r\nLine: 150 target path too long for " +
           std::string(259, 'n') + "\r\n",
       ""},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir work;
    MakeDirs(work / "in");
    MakeDirs(dir / "abs");
    std::vector<std::string> argv = {UNPACK_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunOptions options;
    options.cwd = work.path();
    RunResult r = RunProgram(argv, Package({{c.entryName, "data"}}), options);
    EXPECT_EQ(Visible(r.err), Visible(TextMode(c.err)));
    EXPECT_EQ(r.status, 0);
    if (!c.written.empty()) {
      std::string at = c.written == "abs/x" ? dir / c.written : work / c.written;
      EXPECT_EQ(ReadFile(at), "data");
    }
  }
}

}  // namespace
