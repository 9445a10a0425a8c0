// pack: the built program run over trees made in scratch folders, its
// standard output, standard error, exit status and the files it leaves
// compared byte for byte; unpack run over what it writes; and the failures of
// the standard streams, which only an in-process call can arrange.
#include "pack/pack.h"

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include "tests/e2e_runner.h"
#include "tests/harness.h"
#include "tests/unpack_cases.h"

namespace {

// Contents of a tree row that stand for something other than bytes.
const std::string kFifo = "<fifo>";
const std::string kSocket = "<socket>";
const std::string kLink = "<link>";      // followed by the link's target
const std::string kSparse = "<sparse>";  // followed by the file's size

std::string LinkTo(const std::string& target) {
  return kLink + target;
}
std::string Sparse(uint64_t size) {
  return kSparse + std::to_string(size);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Makes the files of `tree` under `root`, with the folders they need.
void MakeTree(const std::string& root, const std::vector<Before>& tree) {
  for (const Before& b : tree) {
    const std::string path = root + "/" + b.path;
    MakeDirs(path.substr(0, path.rfind('/')));
    if (b.content == kDirectory) {
      MakeDirs(path);
      chmod(path.c_str(), b.mode | (b.mode & 0444) >> 2);
    } else if (b.content == kFifo) {
      ASSERT_EQ(mkfifo(path.c_str(), b.mode), 0) << path;
    } else if (b.content == kSocket) {
      struct sockaddr_un address = {};
      address.sun_family = AF_UNIX;
      ASSERT_LT(path.size(), sizeof address.sun_path) << path;
      strcpy(address.sun_path, path.c_str());
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      ASSERT_EQ(bind(fd, (const struct sockaddr*)&address, sizeof address), 0) << path;
      close(fd);
    } else if (StartsWith(b.content, kLink)) {
      ASSERT_EQ(symlink(b.content.substr(kLink.size()).c_str(), path.c_str()), 0) << path;
    } else if (StartsWith(b.content, kSparse)) {
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, b.mode);
      ASSERT_EQ(ftruncate(fd, (off_t)std::stoull(b.content.substr(kSparse.size()))), 0) << path;
      close(fd);
    } else {
      WriteFile(path, b.content, b.mode);
    }
  }
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += (char)b;
  return s;
}

const std::string kUsage =
    "usage: pack [-0vw] [-C DIR] [-o FILE] [-T LIST] PATH...\n"
    "       pack -t [PACKAGE]\n"
    "       pack --plan PREFIX [--mkdirs] [PACKAGE]\n";
const std::string kMagic = Le32(0x04D150DD);
const std::string kBinary = Bytes({0x00, 0x0D, 0x0A, 0x1A, 0xFF, 0x0A, 0x0D, 0x00});
// Names at the edge of the name field (259 characters and its NUL); no
// component is over the 255 a file system allows.
const std::string kDirA = std::string(128, 'a');
const std::string kName259 = kDirA + "/" + std::string(130, 'b');
const std::string kName260 = kDirA + "/" + std::string(131, 'b');

struct PackCase {
  const char* name;
  std::vector<Before> tree;  // made in the scratch folder, the program's working folder
  std::vector<std::string> args;
  std::string input;  // standard input
  std::string out;    // standard output: a package or a listing
  std::string err;
  int status;
  std::vector<After> after;   // the scratch folder afterwards
  bool needsNonRoot = false;  // root reads a file whatever its mode
};

void PrintTo(const PackCase& c, std::ostream* os) {
  *os << c.name;
}

// One row per case; the rows are laid out by hand, one or two lines each.
// clang-format off
std::vector<PackCase> MakeCases() {
  const std::vector<Before> src = {{"src/x", "1"}, {"src/sub/y", "2"}, {"x", "outer"}};
  const std::vector<After> noOutput = {{"out.pkg", kAbsent}, {"out.pkg.partial", kAbsent}};
  const std::vector<After> oldOutput = {{"out.pkg", "old"}, {"out.pkg.partial", kAbsent}};
  const std::string changed =
      "pack: warning: /proc/version is an absolute name: unpack installs it there, whatever "
      "-destdir says\n"
      "pack: /proc/version changed while being packed (its size was 0 bytes)\n";
  const std::string noPath = "pack: no path given\n" + kUsage;
  const std::string tAlone = "pack: -t takes none of the options that write a package\n" + kUsage;
  const std::string cutHeader = "pack: entry 2 of 2: the stream ends inside its header\n";
  const std::string noNul = "pack: entry 1 of 1: no NUL ends its name within 260 bytes\n";
  return {
      // Writing packages.
      {"one file", {{"a.txt", "hello"}}, {"a.txt"}, "", Package({{"a.txt", "hello"}}), "", 0, {}},
      {"a folder, walked in byte order",
       {{"d/b", "2"}, {"d/a", "1"}, {"d/sub/c", "3"}, {"d/a.x", "4"}, {"d/B", "5"}}, {"d"}, "",
       Package({{"d/B", "5"}, {"d/a", "1"}, {"d/a.x", "4"}, {"d/b", "2"}, {"d/sub/c", "3"}}),
       "", 0, {}},
      {"names from several paths sorted together", {{"z", "z"}, {"d/y", "y"}}, {"z", "d"}, "",
       Package({{"d/y", "y"}, {"z", "z"}}), "", 0, {}},
      {"the folder . gives names without ./", {{"a", "1"}, {"s/b", "2"}}, {"."}, "",
       Package({{"a", "1"}, {"s/b", "2"}}), "", 0, {}},
      {"./s keeps the ./ it was given", {{"s/b", "2"}}, {"./s"}, "", Package({{"./s/b", "2"}}), "",
       0, {}},
      {"a trailing / is not doubled", {{"s/b", "2"}}, {"s/"}, "", Package({{"s/b", "2"}}), "", 0,
       {}},
      {"-C: paths looked up in DIR, names relative to it", src, {"-C", "src", "x", "sub"}, "",
       Package({{"sub/y", "2"}, {"x", "1"}}), "", 0, {}},
      {"-C with .", src, {"-C", "src/", "."}, "", Package({{"sub/y", "2"}, {"x", "1"}}), "", 0, {}},
      {"/ sorts before 0", {{"a/x", "1"}, {"a0", "2"}}, {"."}, "",
       Package({{"a/x", "1"}, {"a0", "2"}}), "", 0, {}},
      {"-w writes \\ and keeps the order of /", {{"a/x", "1"}, {"a0", "2"}}, {"-w", "."}, "",
       Package({{"a\\x", "1"}, {"a0", "2"}}), "", 0, {}},
      {"a file named twice is packed once", {{"d/f", "x"}}, {"d", "d/f", "d"}, "",
       Package({{"d/f", "x"}}), "", 0, {}},
      {"empty files and binary content", {{"e", ""}, {"bin", kBinary}, {"sub/e", ""}}, {"."}, "",
       Package({{"bin", kBinary}, {"e", ""}, {"sub/e", ""}}), "", 0, {}},
      {"a symbolic link is packed as what it points to",
       {{"real", "content"}, {"link", LinkTo("real")}}, {"link"}, "",
       Package({{"link", "content"}}), "", 0, {}},
      {"a symbolic link to a folder is walked", {{"d/f", "x"}, {"l", LinkTo("d")}}, {"l"}, "",
       Package({{"l/f", "x"}}), "", 0, {}},
      {"empty folders are not entries", {{"d/empty", kDirectory}, {"d/f", "x"}}, {"d"}, "",
       Package({{"d/f", "x"}}), "", 0, {}},
      {"a name of 259 characters fits", {{kName259, "x"}}, {"."}, "", Package({{kName259, "x"}}),
       "", 0, {}},
      {"-- ends the options", {{"-w", "dash"}}, {"--", "-w"}, "", Package({{"-w", "dash"}}), "", 0,
       {}},
      {"-o writes the package to FILE", {{"a", "A"}}, {"-o", "out.pkg", "a"}, "", "", "", 0,
       {{"out.pkg", Package({{"a", "A"}})}, {"out.pkg.partial", kAbsent}}},
      {"-o replaces FILE", {{"a", "A"}, {"out.pkg", "old"}}, {"a", "-o", "out.pkg"}, "", "", "", 0,
       {{"out.pkg", Package({{"a", "A"}})}, {"out.pkg.partial", kAbsent}}},
      {"-o /dev/null", {{"a", "A"}}, {"-o", "/dev/null", "a"}, "", "", "", 0, {}},

      // The conventions of the field.
      {"attached and bundled values", src, {"-wvoout.pkg", "-Csrc", "x"}, "", "x\n", "", 0,
       {{"out.pkg", Package({{"x", "1"}})}}},
      {"long options with =", src, {"--output=out.pkg", "--directory=src", "x"}, "", "", "", 0,
       {{"out.pkg", Package({{"x", "1"}})}}},
      {"-C applies to the paths after it", src, {"x", "-C", "src", "sub"}, "",
       Package({{"sub/y", "2"}, {"x", "outer"}}), "", 0, {}},
      {"-v lists on standard error when the package is on standard output", {{"a", "A"}},
       {"-v", "a"}, "", Package({{"a", "A"}}), "a\n", 0, {}},
      {"-T: paths from a file, under the -C in effect", {{"src/x", "1"}, {"src/sub/y", "2"}, {"src/list", "x\n\nsub\n"}},
       {"-C", "src", "-T", "list"}, "", Package({{"sub/y", "2"}, {"x", "1"}}), "", 0, {}},
      {"-T - -0: NUL-separated paths on standard input", {{"a b", "1"}, {"c\nd", "2"}},
       {"-0", "-T", "-"}, std::string("a b\0c\nd\0", 8), Package({{"a b", "1"}, {"c\nd", "2"}}), "", 0, {}},
      {"-T naming a missing list", {}, {"-T", "nolist"}, "", "",
       "pack: cannot read nolist: No such file or directory\n", 1, {}},
      {"--version", {}, {"--version"}, "", "pack 1.1\n", "", 0, {}},
      {"the output is one of the inputs", {{"a", "A"}, {"self.pkg", "old"}}, {"-o", "self.pkg", "."}, "", "",
       "pack: the output self.pkg is also an input (./self.pkg); nothing was written\n", 1,
       {{"self.pkg", "old"}}},
      {"the output is the input", {{"victim.txt", "mine"}}, {"-o", "victim.txt", "victim.txt"}, "", "",
       "pack: the output victim.txt is also an input (victim.txt); nothing was written\n", 1,
       {{"victim.txt", "mine"}}},
      {"warnings for names unpack puts elsewhere and modes it drops",
       {{"d/x", "1"}, {"run", "#!", 0755}}, {"-C", "d", "../d/x", "../run"}, "",
       Package({{"../d/x", "1"}, {"../run", "#!"}}),
       "pack: warning: ../d/x has a .. component: unpack installs it outside the -destdir folder\n"
       "pack: warning: ../run has a .. component: unpack installs it outside the -destdir folder\n"
       "pack: warning: ../run is executable, and a package carries no file modes\n", 0, {}},

      // What is refused, before anything is written.
      {"no arguments", {}, {}, "", "", noPath, 2, {}},
      {"options but no path", {}, {"-w", "-C", "."}, "", "", noPath, 2, {}},
      {"unknown option", {{"a", "A"}}, {"-x", "a"}, "", "", "pack: unknown option -x\n" + kUsage,
       2, {}},
      {"unknown long option", {{"a", "A"}}, {"--nope", "a"}, "", "",
       "pack: unknown option --nope\n" + kUsage, 2, {}},
      {"-o without its value", {{"a", "A"}}, {"a", "-o"}, "", "",
       "pack: option -o needs a value\n" + kUsage, 2, {}},
      {"-C without its value", {{"a", "A"}}, {"a", "-C"}, "", "",
       "pack: option -C needs a value\n" + kUsage, 2, {}},
      {"-t with two packages", {{"a", "A"}}, {"-t", "a", "b"}, "", "",
       "pack: -t reads one package\n" + kUsage, 2, {}},
      {"-t with -w", {}, {"-w", "-t"}, "", "", tAlone, 2, {}},
      {"-0 without -T", {{"a", "A"}}, {"-0", "a"}, "", "", "pack: -0 goes with -T\n" + kUsage, 2, {}},
      {"--mkdirs without --plan", {{"a", "A"}}, {"--mkdirs", "a"}, "", "",
       "pack: --mkdirs goes with --plan\n" + kUsage, 2, {}},
      {"an empty path", {}, {""}, "", "", "pack: an empty path names no file\n", 1, {}},
      {"a missing path, with -o", {{"a", "A"}}, {"-o", "out.pkg", "a", "missing"}, "", "",
       "pack: cannot read missing: No such file or directory\n", 1, noOutput},
      {"a missing path under -C", src, {"-C", "src", "x", "nope"}, "", "",
       "pack: cannot read src/nope: No such file or directory\n", 1, {}},
      {"a path through a file", {{"a", "A"}}, {"a/x"}, "", "",
       "pack: cannot read a/x: Not a directory\n", 1, {}},
      {"a dangling symbolic link", {{"d/l", LinkTo("nowhere")}}, {"d"}, "", "",
       "pack: cannot read d/l: No such file or directory\n", 1, {}},
      {"an unreadable file", {{"secret", "s", 0}}, {"secret"}, "", "",
       "pack: cannot read secret: Permission denied\n", 1, {}, true},
      {"an unreadable folder", {{"locked", kDirectory, 0}}, {"locked"}, "", "",
       "pack: cannot read locked: Permission denied\n", 1, {}, true},
      {"a FIFO", {{"fifo", kFifo}}, {"fifo"}, "", "",
       "pack: fifo is a FIFO, not a file or folder\n", 1, {}},
      {"a FIFO in a folder, with -o",
       {{"d/a", "1"}, {"d/p", kFifo}, {"out.pkg", "old"}}, {"-o", "out.pkg", "d"}, "", "",
       "pack: d/p is a FIFO, not a file or folder\n", 1, oldOutput},
      {"a socket", {{"sock", kSocket}}, {"sock"}, "", "",
       "pack: sock is a socket, not a file or folder\n", 1, {}},
      {"a character device", {}, {"/dev/null"}, "", "",
       "pack: /dev/null is a character device, not a file or folder\n", 1, {}},
      {"a name of 260 characters, with -o",
       {{kName260, "x"}, {"out.pkg", "old"}}, {"-o", "out.pkg", "."}, "", "",
       "pack: the name " + kName260 + " is 260 bytes long; a name holds at most 259\n", 1,
       oldOutput},
      {"a file of 4 GiB, with -o", {{"big", Sparse(4ull << 30)}}, {"-o", "out.pkg", "big"}, "", "",
       "pack: big holds 4294967296 bytes; an entry holds at most 4294967295\n", 1, noOutput},
      {"only empty folders", {{"d/e", kDirectory}}, {"d"}, "", "",
       "pack: no files to pack under the paths given\n", 1, {}},
      {"a symbolic link back up the tree", {{"d/f", "x"}, {"d/back", LinkTo(".")}}, {"d"}, "", "",
       "pack: d/back leads back into a folder being packed\n", 1, {}},

      // Failures while writing: FILE stays as it was and nothing partial is
      // left; standard output keeps what was written before the failure.
      {"-o into a missing folder", {{"a", "A"}}, {"-o", "missing/out.pkg", "a"}, "", "",
       "pack: cannot create missing/out.pkg.partial: No such file or directory\n", 1,
       {{"missing", kAbsent}}},
      {"-o naming a folder", {{"a", "A"}, {"out", kDirectory}}, {"-o", "out", "a"}, "", "",
       "pack: cannot create out: Is a directory\n", 1, {{"out", kDirectory}}},
      {"-o a full device", {{"a", "A"}}, {"-o", "/dev/full", "a"}, "", "",
       "pack: cannot write /dev/full: No space left on device\n", 1, {}},
      {"a file that is not the size it said, with -o",
       {{"out.pkg", "old"}}, {"-o", "out.pkg", "/proc/version"}, "", "", changed, 1, oldOutput},
      {"a file that is not the size it said, to standard output", {}, {"/proc/version"}, "",
       kMagic + Le32(1) + Le32(0) + "/proc/version" + '\0', changed, 1, {}},

      // pack -t on well-formed streams.
      {"-t lists a package and touches no file",
       {}, {"-t"}, Package({{"a.txt", "hello"}, {"d/e", ""}, {"bin", kBinary}}),
       "         5 a.txt\n         0 d/e\n         8 bin\nwell formed: 3 entries, total size 13\n",
       "", 0, {{"a.txt", kAbsent}, {"bin", kAbsent}}},
      {"-t: one entry", {}, {"-t"}, Package({{"f", "x"}}),
       "         1 f\nwell formed: 1 entry, total size 1\n", "", 0, {}},
      {"-t FILE", {{"p.pkg", Package({{"f", "x"}})}}, {"-t", "p.pkg"}, "",
       "         1 f\nwell formed: 1 entry, total size 1\n", "", 0, {}},
      {"-t: a missing FILE", {}, {"-t", "none.pkg"}, "", "",
       "pack: cannot read none.pkg: No such file or directory\n", 1, {}},
      {"-t: names with control characters and \\ escaped", {}, {"-t"},
       Package({{"a\nOK\r", "x"}, {"d\\e\x01", "y"}}),
       "         1 a\\nOK\\r\n         1 d\\\\e\\001\nwell formed: 2 entries, total size 2\n", "", 0, {}},
      {"-t: a name of 259 characters", {}, {"-t"}, Package({{std::string(259, 'n'), "x"}}),
       "         1 " + std::string(259, 'n') + "\nwell formed: 1 entry, total size 1\n", "", 0, {}},
      {"-t: an empty name", {}, {"-t"}, Package({{"", "x"}}),
       "         1 \nwell formed: 1 entry, total size 1\n", "", 0, {}},
      {"-t: bytes after the last entry are a warning",
       {}, {"-t"}, Package({{"a", "xy"}}) + "garbage",
       "         2 a\nwell formed: 1 entry, total size 2\n",
       "pack: warning: 7 bytes follow the last entry; unpack ignores them\n", 0, {}},

      // pack -t on malformed streams.
      {"-t: empty input", {}, {"-t"}, "", "malformed\n",
       "pack: not a package: the stream ends after 0 of the 4 bytes of its magic\n", 1, {}},
      {"-t: three bytes of magic", {}, {"-t"}, Bytes({0xDD, 0x50, 0xD1}), "malformed\n",
       "pack: not a package: the stream ends after 3 of the 4 bytes of its magic\n", 1, {}},
      {"-t: bad magic", {}, {"-t"}, Le32(0x04D150DE) + Le32(1), "malformed\n",
       "pack: not a package: it begins DE 50 D1 04, not DD 50 D1 04\n", 1, {}},
      {"-t: big-endian magic", {}, {"-t"}, Bytes({0x04, 0xD1, 0x50, 0xDD}) + Le32(1), "malformed\n",
       "pack: not a package: it begins 04 D1 50 DD, not DD 50 D1 04\n", 1, {}},
      {"-t: count cut short", {}, {"-t"}, kMagic + Bytes({1, 0}), "malformed\n",
       "pack: the stream ends after 2 of the 4 bytes of the entry count\n", 1, {}},
      {"-t: count of 0", {}, {"-t"}, Package({{"a", "x"}}, 0), "malformed\n",
       "pack: the entry count is 0; a package holds at least 1 entry\n", 1, {}},
      {"-t: no entry at all", {}, {"-t"}, Package({}, 1), "malformed\n",
       "pack: the stream ends after 0 of the 1 entries it declares\n", 1, {}},
      {"-t: fewer entries than the count", {}, {"-t"}, Package({{"a", "1"}, {"b", "22"}}, 3),
       "         1 a\n         2 b\nmalformed\n",
       "pack: the stream ends after 2 of the 3 entries it declares\n", 1, {}},
      {"-t: size cut short", {}, {"-t"}, Package({{"a", "1"}}, 2) + Bytes({5, 0}),
       "         1 a\nmalformed\n", cutHeader, 1, {}},
      {"-t: name cut short", {}, {"-t"}, Package({{"a", "1"}}, 2) + Le32(3) + "sec",
       "         1 a\nmalformed\n", cutHeader, 1, {}},
      {"-t: no NUL within 260 bytes",
       {}, {"-t"}, kMagic + Le32(1) + Le32(1) + std::string(300, 'n'), "malformed\n", noNul, 1, {}},
      {"-t: a name of 260 characters",
       {}, {"-t"}, kMagic + Le32(1) + Le32(1) + std::string(260, 'n') + '\0' + "x", "malformed\n",
       noNul, 1, {}},
      {"-t: data cut short", {}, {"-t"}, Package({{"f", "0123456789abcdef"}}).substr(0, 24),
       "malformed\n", "pack: entry 1 of 1 (f): the stream ends after 10 of its 16 data bytes\n",
       1, {}},
      {"-t: a size beyond the stream", {}, {"-t"}, Package({{"f", "abc", 1 << 24}}), "malformed\n",
       "pack: entry 1 of 1 (f): the stream ends after 3 of its 16777216 data bytes\n", 1, {}},
  };
}
// clang-format on

class PackRows : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackRows, Row) {
  const PackCase& c = GetParam();
  if (c.needsNonRoot && geteuid() == 0) GTEST_SKIP() << "root reads a file whatever its mode";
  ScratchDir dir;
  MakeTree(dir.path(), c.tree);
  std::vector<std::string> argv = {PACK_PATH};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  RunOptions options;
  options.cwd = dir.path();
  RunResult r = RunProgram(argv, c.input, options);

  EXPECT_EQ(Visible(r.out), Visible(c.out)) << c.name;
  EXPECT_EQ(Visible(r.err), Visible(c.err)) << c.name;
  EXPECT_EQ(r.status, c.status) << c.name;
  for (const After& a : c.after)
    EXPECT_EQ(Visible(ReadFile(dir / a.path)), Visible(a.content)) << c.name << ": " << a.path;
}


INSTANTIATE_TEST_SUITE_P(Linux, PackRows, ::testing::ValuesIn(MakeCases()),
                         [](const ::testing::TestParamInfo<PackCase>& info) {
                           return RowTestName(info.index, info.param.name);
                         });

// Round trips: pack a tree, then unpack the package into an empty folder
// holding only the tree's folders (unpack makes no folders), and find the
// same files with the same bytes.

struct RoundTripCase {
  const char* name;
  std::vector<Before> tree;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
  *os << c.name;
}

// The regular files under `root`, by path relative to it, sorted.
std::vector<std::string> FilesUnder(const std::string& root) {
  static std::vector<std::string>* found;
  static size_t skip;
  std::vector<std::string> files;
  found = &files;
  skip = root.size() + 1;
  nftw(
      root.c_str(),
      [](const char* path, const struct stat* st, int, struct FTW*) {
        if (S_ISREG(st->st_mode)) found->push_back(path + skip);
        return 0;
      },
      16, FTW_PHYS);
  std::sort(files.begin(), files.end());
  return files;
}

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += (char)i;
  return s;
}

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = (char)(i * 7 + i / 251);
  return s;
}

class PackRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(PackRoundTrip, Row) {
  const RoundTripCase& c = GetParam();
  ScratchDir dir;
  MakeTree(dir / "src", c.tree);
  RunOptions options;
  options.cwd = dir.path();
  RunResult packed = RunProgram({PACK_PATH, "-C", "src", "."}, "", options);
  ASSERT_EQ(packed.err, "") << c.name;
  ASSERT_EQ(packed.status, 0) << c.name;

  MakeDirs(dir / "dst");
  for (const Before& b : c.tree) {
    const size_t slash = b.path.rfind('/');
    if (slash != std::string::npos) MakeDirs(dir / ("dst/" + b.path.substr(0, slash)));
  }
  options.cwd = dir / "dst";
  RunResult unpacked = RunProgram({UNPACK_PATH}, packed.out, options);
  EXPECT_EQ(Visible(unpacked.err), Visible(TextMode("Good Magic Number. 80826589\r\nOK\r\n")))
      << c.name;

  const std::vector<std::string> files = FilesUnder(dir / "src");
  EXPECT_EQ(FilesUnder(dir / "dst"), files) << c.name;
  for (const std::string& f : files) {
    EXPECT_TRUE(ReadFile(dir / ("dst/" + f)) == ReadFile(dir / ("src/" + f)))
        << c.name << ": " << f << " differs";
  }
}

// The longest name unpack installs with no prefix: 256 characters.
const std::string kName256 = std::string(127, 'a') + "/" + std::string(128, 'b');

INSTANTIATE_TEST_SUITE_P(
    Linux, PackRoundTrip,
    ::testing::Values(
        RoundTripCase{
            "text, CRLF and every byte value",
            {{"plain.txt", "hello\n"}, {"crlf.txt", "one\r\ntwo\r\n"}, {"bin", AllBytes()}}},
        RoundTripCase{"empty files", {{"empty", ""}, {"d/empty", ""}, {"d/f", "x"}}},
        RoundTripCase{
            "nested folders",
            {{"a/b/c/deep.txt", "deep"}, {"a/b/other", "o"}, {"a/side", "s"}, {"top", "t"}}},
        RoundTripCase{"a name of 256 characters", {{kName256, "long"}}},
        RoundTripCase{"content over many chunks",
                      {{"big", Pattern((1 << 20) + 7)}, {"small", "s"}}}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) {
      return RowTestName(info.index, info.param.name);
    });

// The same tree gives the same bytes, whatever order its files were made in
// (and so whatever order the folder lists them in).
TEST(PackDeterminism, SameTreeSameBytes) {
  std::vector<Before> tree = {{"b", "2"},  {"a/z", "3"}, {"a/y", "4"}, {"C", "5"},
                              {"a-", "6"}, {"a.", "7"},  {"e", ""},    {"d/e/f/g", "8"}};
  ScratchDir one, two;
  MakeTree(one / "t", tree);
  std::reverse(tree.begin(), tree.end());
  MakeTree(two / "t", tree);
  RunOptions options;
  options.cwd = one.path();
  const RunResult first = RunProgram({PACK_PATH, "t"}, "", options);
  const RunResult again = RunProgram({PACK_PATH, "t"}, "", options);
  options.cwd = two.path();
  const RunResult other = RunProgram({PACK_PATH, "t"}, "", options);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(Visible(again.out), Visible(first.out));
  EXPECT_EQ(Visible(other.out), Visible(first.out));
  EXPECT_EQ(Visible(first.out), Visible(Package({{"t/C", "5"},
                                                 {"t/a-", "6"},
                                                 {"t/a.", "7"},
                                                 {"t/a/y", "4"},
                                                 {"t/a/z", "3"},
                                                 {"t/b", "2"},
                                                 {"t/d/e/f/g", "8"},
                                                 {"t/e", ""}})));
}

// examples/sample.pkg is what pack makes of examples/sample/ today.
TEST(PackSample, MatchesItsTree) {
  RunOptions options;
  options.cwd = SOURCE_DIR;
  const RunResult r = RunProgram({PACK_PATH, "-C", "examples/sample", "."}, "", options);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Visible(ReadFile(SOURCE_DIR "/examples/sample.pkg")), Visible(r.out))
      << "examples/sample.pkg no longer matches examples/sample/; remake it with "
         "pack -C examples/sample -o examples/sample.pkg .";
}

// A 1 GiB file goes through an address space of 64 MiB: content is copied in
// chunks, never held whole.
TEST(PackMemory, GigabyteFileInLittleMemory) {
  ScratchDir dir;
  MakeTree(dir.path(), {{"big", Sparse(1ull << 30)}});
  RunOptions options;
  options.cwd = dir.path();
  options.addressLimit = 64 << 20;
  const RunResult r = RunProgram({PACK_PATH, "-o", "/dev/null", "big"}, "", options);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  struct stat st;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "-o /dev/null must write to the device, not replace it";
}

// Failures of the standard streams, through RunPack in process: standard
// output on a full device, standard input that cannot be read, a terminal.

struct StreamCase {
  const char* name;
  std::vector<std::string> args;  // "$DIR" stands for the scratch folder
  std::string in;                 // standard input: these bytes, or "$DIR" for the folder itself
  std::string outPath;            // standard output: this path, or a file read back when empty
  std::string out;
  std::string err;
  int status;
};

std::string ReadBack(FILE* f) {
  std::string s;
  fflush(f);
  rewind(f);
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) s.append(chunk, n);
  return s;
}

TEST(PackStreams, Failures) {
  const std::string full = "pack: cannot write standard output: No space left on device\n";
  // clang-format off
  const StreamCase cases[] = {
      {"package to a full device", {"-C", "$DIR", "a"}, "", "/dev/full", "", full, 1},
      {"listing to a full device", {"-t"}, Package({{"a", "A"}}), "/dev/full", "", full, 1},
      {"a folder as standard input", {"-t"}, "$DIR", "", "malformed\n",
       "pack: cannot read standard input: Is a directory\n", 1},
      {"the package to a file", {"-C", "$DIR", "a"}, "", "", Package({{"a", "A"}}), "", 0},
  };
  // clang-format on
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    WriteFile(dir / "a", "A");
    std::vector<std::string> args = {"pack"};
    for (const std::string& a : c.args) args.push_back(a == "$DIR" ? dir.path() : a);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    FILE* in = c.in == "$DIR" ? fopen(dir.path().c_str(), "r") : tmpfile();
    if (in && c.in != "$DIR") {
      fwrite(c.in.data(), 1, c.in.size(), in);
      rewind(in);
    }
    FILE* out = c.outPath.empty() ? tmpfile() : fopen(c.outPath.c_str(), "w");
    FILE* err = tmpfile();
    ASSERT_TRUE(in && out && err);
    const int status = RunPack((int)args.size(), argv.data(), in, out, err);
    if (c.outPath.empty()) {
      EXPECT_EQ(Visible(ReadBack(out)), Visible(c.out));
    }
    EXPECT_EQ(Visible(ReadBack(err)), Visible(c.err));
    EXPECT_EQ(status, c.status);
    fclose(in), fclose(out), fclose(err);
  }
}

// --help names every option.
TEST(PackHelp, DescribesEveryOption) {
  for (const char* help : {"-h", "--help"}) {
    RunResult r = RunProgram({PACK_PATH, help}, "", RunOptions());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(StartsWith(r.out, kUsage)) << r.out;
    for (const char* option : {"-o, --output=FILE", "-C, --directory=DIR", "-T, --files-from=LIST",
                               "-0, --null", "-w, --windows", "-v, --verbose", "-t, --list",
                               "--plan=PREFIX", "--mkdirs", "-h, --help", "--version", "--  "})
      EXPECT_NE(r.out.find(option), std::string::npos) << help << " lacks " << option;
  }
}

// pack --plan foretells unpack: for each tree, the plan's lines, its verdict
// and the line it says unpack stops at are what unpack then does.
struct PlanCase {
  const char* name;
  std::vector<Before> tree;  // dest/ is the prefix
  std::vector<PackEntry> entries;
  std::vector<std::string> args;  // after --plan dest/
  std::string plan;               // without the free-space line
  std::string unpackLast;         // unpack's last line, as it begins
};

TEST(PackPlan, ForetellsUnpack) {
  const std::string name253(253, 'n');
  const PlanCase rows[] = {
      {"new, replaced and read-only", {{"dest/old", "o"}, {"dest/ro", "r", 0444}},
       {{"new", "1"}, {"old", "2"}, {"ro", "3"}, {"new", "4"}}, {},
       "new        new\nreplace    old\nreplace    ro (read-only: replaced all the same)\n"
       "replace    new\nunpack would end with OK\n", "OK"},
      {"missing folders", {{"dest", kDirectory}}, {{"a/b/f", "1"}, {"a/g", "2"}}, {},
       "no folder  a/b/f: the folder dest/a is missing (unpack stops: line 181)\n"
       "no folder  a/g: the folder dest/a is missing (unpack stops: line 181)\n"
       "folders to make:\n  dest/a\n  dest/a/b\nunpack would stop at entry 1 of 2\n",
       "Line: 181"},
      {"missing folders made", {{"dest", kDirectory}}, {{"a/b/f", "1"}, {"a/g", "2"}}, {"--mkdirs"},
       "new        a/b/f\nnew        a/g\nfolders to make (made):\n  dest/a\n  dest/a/b\n"
       "unpack would end with OK\n", "OK"},
      {"a folder where the file goes", {{"dest/d", kDirectory}}, {{"x", "1"}, {"d", "2"}}, {},
       "new        x\nfolder     d: a folder stands where the file goes (unpack stops: line 252)\n"
       "unpack would stop at entry 2 of 2\n", "Line: 252"},
      {"a target path too long", {{"dest", kDirectory}}, {{name253, "1"}}, {},
       "too long   " + name253 + ": the target path is over 256 characters (unpack stops: line 150)\n"
       "unpack would stop at entry 1 of 1\n", "Line: 150"},
      {"a name that leaves the prefix", {{"dest", kDirectory}}, {{"../up", "1"}}, {},
       "new        ../up [a .. component: installed outside the prefix]\nunpack would end with OK\n",
       "OK"},
  };
  for (const PlanCase& c : rows) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    MakeTree(dir.path(), c.tree);
    WriteFile(dir / "p.pkg", Package(c.entries));
    RunOptions options;
    options.cwd = dir.path();
    std::vector<std::string> argv = {PACK_PATH, "--plan", "dest/", "p.pkg"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunResult plan = RunProgram(argv, "", options);
    std::string shown = plan.out;
    const size_t space = shown.find("free space needed: ");
    if (space != std::string::npos) shown.erase(space, shown.find('\n', space) + 1 - space);
    EXPECT_EQ(shown, c.plan);
    const bool ok = c.unpackLast == "OK";
    EXPECT_EQ(plan.status, ok ? 0 : 1);
    RunResult unpacked = RunProgram({UNPACK_PATH, "-destdir", "dest/"}, Package(c.entries), options);
    const size_t last = unpacked.err.rfind('\n', unpacked.err.size() - 4) + 1;
    EXPECT_TRUE(StartsWith(unpacked.err.substr(last), c.unpackLast)) << unpacked.err;
  }
}

// The free space the plan asks for is exactly enough for unpack to replace
// every file through its staged copy; one block less is not, and unpack
// must take the direct rewrite.
TEST(PackPlan, FreeSpaceIsExactlyEnough) {
  const std::vector<PackEntry> entries = {
      {"old", std::string(400 << 10, 'n')}, {"new", std::string(100 << 10, 'w')}};
  for (long shortBy : {0L, 4096L}) {
    ScratchDir dir;
    std::unique_ptr<TmpfsVolume> volume;
    std::string skipped;
    if (!MountVolume(dir / "dest", 1 << 20, &volume, &skipped)) SKIP_UNLESS_CI(skipped);
    WriteFile(dir / "dest/old", std::string(300 << 10, 'o'));
    WriteFile(dir / "p.pkg", Package(entries));
    RunOptions options;
    options.cwd = dir.path();
    RunResult plan = RunProgram({PACK_PATH, "--plan", "dest/", "p.pkg"}, "", options);
    const size_t at = plan.out.find("free space needed: ");
    ASSERT_NE(at, std::string::npos) << plan.out;
    const long needed = atol(plan.out.c_str() + at + 19);
    EXPECT_EQ(needed, 400 << 10);
    struct statvfs st;
    ASSERT_EQ(statvfs((dir / "dest").c_str(), &st), 0);
    const long free = (long)(st.f_bavail * st.f_frsize);
    WriteFile(dir / "dest/filler", std::string(free - needed + shortBy, 'f'));
    RunResult r = RunProgram({UNPACK_PATH, "-destdir", "dest/"}, Package(entries), options);
    EXPECT_TRUE(StartsWith(r.err.substr(r.err.size() - 5), "OK")) << r.err;
    EXPECT_EQ(r.err.find("Line: 205") != std::string::npos, shortBy > 0) << "short by " << shortBy << ": " << r.err;
  }
}

// A package is binary: it is never written to a terminal, nor waited for on
// one.
TEST(PackStreams, RefusesATerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    GTEST_SKIP() << "no pseudo-terminal here";
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  FILE* terminal = slave < 0 ? nullptr : fdopen(slave, "r+");
  ASSERT_TRUE(terminal);
  ScratchDir dir;
  WriteFile(dir / "a", "A");
  const struct {
    std::vector<std::string> args;
    bool terminalIn;
    std::string err;
  } rows[] = {
      {{"pack", "-C", dir.path(), "a"}, false,
       "pack: refusing to write a package to a terminal; use -o FILE or redirect standard output\n"},
      {{"pack", "-t"}, true,
       "pack: refusing to read a package from a terminal; give PACKAGE or redirect standard input\n"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    FILE* err = tmpfile();
    FILE* other = tmpfile();
    EXPECT_EQ(RunPack((int)args.size(), argv.data(), row.terminalIn ? terminal : other,
                      row.terminalIn ? other : terminal, err),
              2);
    EXPECT_EQ(ReadBack(err), row.err);
    fclose(err), fclose(other);
  }
  fclose(terminal), close(master);
}

}  // namespace
