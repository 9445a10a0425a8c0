// Runs every unpack case against the built program and compares standard
// error byte for byte, the exit status and the disk afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "tests/harness.h"
#include "tests/unpack_cases.h"

namespace {

// A 1 MiB tmpfs at `path`, unmounted when the object goes. Mounting needs
// root; where it is refused the rows that need it are skipped, visibly, and
// under CI that is a failure instead.
class SmallVolume {
 public:
  explicit SmallVolume(const std::string& path) : path_(path) {
    MakeDirs(path);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~SmallVolume() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

bool UnderCi() {
  const char* ci = getenv("CI");
  return ci && *ci && std::string(ci) != "false";
}

void Prepare(const ScratchDir& dir, const std::vector<Before>& before) {
  for (const Before& b : before) {
    std::string path = dir / b.path;
    if (b.content == kDirectory) {
      MakeDirs(path);
      continue;
    }
    size_t slash = path.rfind('/');
    MakeDirs(path.substr(0, slash));
    WriteFile(path, b.content, b.mode);
  }
}

class UnpackEndToEnd : public ::testing::TestWithParam<UnpackCase> {};

TEST_P(UnpackEndToEnd, Row) {
  const UnpackCase& c = GetParam();
  ScratchDir dir;
  SmallVolume* volume = nullptr;
  if (c.needsTmpfs) {
    volume = new SmallVolume(dir / "vol");
    if (!volume->mounted()) {
      delete volume;
      if (UnderCi()) FAIL() << "cannot mount a tmpfs, and CI must not skip this row";
      GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    }
  }
  Prepare(dir, c.before);

  std::vector<std::string> argv = {UNPACK_PATH};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  RunOptions options;
  options.cwd = dir.path();
  options.addressLimit = c.addressLimit;
  RunResult r = RunProgram(argv, c.input, options);

  EXPECT_EQ(Visible(r.err), Visible(TextMode(c.err))) << c.name;
  EXPECT_EQ(r.status, 0) << c.name;
  EXPECT_EQ(r.out, "") << c.name;
  for (const After& a : c.after) {
    std::string content = ReadFile(dir / a.path);
    if (content.size() > 64 || a.content.size() > 64) {
      EXPECT_TRUE(content == a.content) << c.name << ": " << a.path << " holds " << content.size()
                                        << " bytes, not the " << a.content.size() << " expected";
    } else {
      EXPECT_EQ(Visible(content), Visible(a.content)) << c.name << ": " << a.path;
    }
    if (a.mode) {
      EXPECT_EQ(ModeOf(dir / a.path), a.mode) << c.name << ": mode of " << a.path;
    }
  }
  delete volume;
}

std::string RowName(const ::testing::TestParamInfo<UnpackCase>& info) {
  std::string s;
  for (const char* p = info.param.name; *p; ++p) s += isalnum((unsigned char)*p) ? *p : '_';
  return std::to_string(info.index) + "_" + s;
}

INSTANTIATE_TEST_SUITE_P(Linux, UnpackEndToEnd, ::testing::ValuesIn(UnpackCases()), RowName);

}  // namespace
