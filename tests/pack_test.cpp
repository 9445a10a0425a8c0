// pack: the built program run over trees made in scratch folders, its
// standard output, standard error, exit status and the files it leaves
// compared byte for byte; unpack run over what it writes, and over what the
// plan foretells, as root and as a user who is not root; and, in process,
// what only such a call can arrange: failures of the standard streams and,
// through the system-call table, of pack's own calls, and a terminal.
#include "pack/pack.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "pack/progress.h"
#include "tests/e2e_runner.h"
#include "tests/harness.h"
#include "tests/seam.h"
#include "tests/unpack_cases.h"

namespace {

// Contents of a tree row that stand for something other than bytes.
const std::string kFifo = "<fifo>";
const std::string kSocket = "<socket>";
const std::string kLink = "<link>";      // followed by the link's target
const std::string kSparse = "<sparse>";  // followed by the file's size
const std::string kDevice = "<device>";  // a character device that takes what is written (as /dev/null)
const std::string kNameOf = "<name of>";  // followed by a path under the root: a second name of it

std::string LinkTo(const std::string& target) {
  return kLink + target;
}
std::string Sparse(uint64_t size) {
  return kSparse + std::to_string(size);
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
    } else if (b.content == kDevice) {
      ASSERT_EQ(mknod(path.c_str(), S_IFCHR | b.mode, makedev(1, 3)), 0) << path;
      chmod(path.c_str(), b.mode);
    } else if (StartsWith(b.content, kNameOf)) {
      ASSERT_EQ(link((root + "/" + b.content.substr(kNameOf.size())).c_str(), path.c_str()), 0) << path;
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
    "usage: pack [-0qvw] [-C DIR] [-o FILE] [-T LIST] PATH...\n"
    "       pack -t [-qv] [PACKAGE]\n"
    "       pack --plan PREFIX [--mkdirs] [-q] [PACKAGE]\n"
    "       pack --verify PREFIX [-q] [PACKAGE]\n";
const std::string kMagic = Le32(0x04D150DD);
const std::string kBinary = Bytes({0x00, 0x0D, 0x0A, 0x1A, 0xFF, 0x0A, 0x0D, 0x00});
// Names at the edge of the name field (259 characters and its NUL); no
// component is over the 255 a file system allows.
const std::string kDirA = std::string(128, 'a');
const std::string kName259 = kDirA + "/" + std::string(130, 'b');
const std::string kName260 = kDirA + "/" + std::string(131, 'b');

// The last line of pack -t on a well-formed package.
std::string WellFormed(int entries, int bytes) {
  return "well formed: " + std::to_string(entries) + (entries == 1 ? " entry, " : " entries, ") +
         std::to_string(bytes) +
         " bytes of content; the structure is checked, not the content (the format has no checksum)\n";
}

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
      "pack: warning: /proc/version is an absolute name: unpack installs it there only without "
      "-destdir; -destdir DIR puts it at DIR/proc/version\n"
      "pack: /proc/version changed while being packed (its size was 0 bytes)\n";
  const std::string noPath = "pack: no path given\n" + kUsage;
  const std::string tAlone = "pack: -t takes none of the options that write a package\n" + kUsage;
  const std::string cutHeader = "pack: entry 2 of 2: the stream ends inside its header\n";
  const std::string noNul = "pack: entry 1 of 1: no NUL ends its name within 260 bytes\n";
  const std::string big(300 << 10, 'b');
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
      {"one name for two files: both packed, in the order given, with a warning",
       {{"da/x", "1"}, {"db/x", "2"}}, {"-C", "db", "x", "-C", "da", "x"}, "",
       Package({{"x", "2"}, {"x", "1"}}),
       "pack: warning: x is the name of two files (db/x, then da/x): unpack installs both, and the "
       "second stays\n", 0, {}},
      {"a file and one named like its staged copy", {{"a", "1"}, {"aTMP", "2"}}, {"."}, "",
       Package({{"a", "1"}, {"aTMP", "2"}}),
       "pack: warning: aTMP is named like the staged copy of a: unpack removes a file of that name "
       "whenever it replaces a\n", 0, {}},
      {"-w: a/b and a\\b written alike", {{"a/b", "1"}, {"a\\b", "2"}}, {"-w", "."}, "",
       Package({{"a\\b", "1"}, {"a\\b", "2"}}),
       "pack: warning: a\\\\b is the name of two files (./a/b, then ./a\\\\b): unpack installs both, and "
       "the second stays\n", 0, {}},

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
      {"--verify with -v", {}, {"-v", "--verify", "dest/"}, "", "",
       "pack: --verify takes none of the options that write a package\n" + kUsage, 2, {}},
      {"-t and --verify", {}, {"-t", "--verify=dest/"}, "", "",
       "pack: -t and --verify do not go together\n" + kUsage, 2, {}},
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
      {"a missing path, escaped", {}, {"no\nsuch"}, "", "",
       "pack: cannot read no\\nsuch: No such file or directory\n", 1, {}},
      {"a FIFO, escaped", {{"p\nq", kFifo}}, {"."}, "", "", "pack: ./p\\nq is a FIFO, not a file or folder\n", 1, {}},
      {"a name of 260 characters, escaped", {{kDirA + "/\t" + std::string(130, 'b'), "x"}}, {"."}, "", "",
       "pack: the name " + kDirA + "/\\t" + std::string(130, 'b') + " is 260 bytes long; a name holds at "
       "most 259\n", 1, {}},
      {"a symbolic link back up the tree, escaped", {{"d\tx/f", "x"}, {"d\tx/back", LinkTo(".")}}, {"d\tx"},
       "", "", "pack: d\\tx/back leads back into a folder being packed\n", 1, {}},
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
       "a.txt\nd/e\nbin\n" + WellFormed(3, 13),
       "", 0, {{"a.txt", kAbsent}, {"bin", kAbsent}}},
      {"-tv lists sizes too", {}, {"-tv"}, Package({{"a.txt", "hello"}, {"d/e", ""}, {"bin", kBinary}}),
       "         5 a.txt\n         0 d/e\n         8 bin\n" + WellFormed(3, 13), "", 0, {}},
      {"-t -v -q: one entry", {}, {"-t", "-v", "-q"}, Package({{"f", "x"}}),
       "         1 f\n" + WellFormed(1, 1), "", 0, {}},
      {"-t FILE", {{"p.pkg", Package({{"f", "x"}})}}, {"-t", "p.pkg"}, "",
       "f\n" + WellFormed(1, 1), "", 0, {}},
      {"-t: a missing FILE", {}, {"-t", "none.pkg"}, "", "",
       "pack: cannot read none.pkg: No such file or directory\n", 1, {}},
      {"-t: names with control characters and \\ escaped", {}, {"-t"},
       Package({{"a\nOK\r", "x"}, {"d\\e\x01", "y"}}),
       "a\\nOK\\r\nd\\\\e\\001\n" + WellFormed(2, 2), "", 0, {}},
      {"-t: a name of 259 characters", {}, {"-t"}, Package({{std::string(259, 'n'), "x"}}),
       std::string(259, 'n') + "\n" + WellFormed(1, 1), "", 0, {}},
      {"-t: an empty name", {}, {"-t"}, Package({{"", "x"}}),
       "\n" + WellFormed(1, 1), "", 0, {}},
      {"-t: bytes after the last entry are a warning",
       {}, {"-t"}, Package({{"a", "xy"}}) + "garbage",
       "a\n" + WellFormed(1, 2),
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
       "a\nb\nmalformed\n",
       "pack: the stream ends after 2 of the 3 entries it declares\n", 1, {}},
      {"-t: size cut short", {}, {"-t"}, Package({{"a", "1"}}, 2) + Bytes({5, 0}),
       "a\nmalformed\n", cutHeader, 1, {}},
      {"-t: name cut short", {}, {"-t"}, Package({{"a", "1"}}, 2) + Le32(3) + "sec",
       "a\nmalformed\n", cutHeader, 1, {}},
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

      // pack --verify: an install against its package.
      {"--verify: an untouched install", {{"dest/a", "1"}, {"dest/d/b", kBinary}}, {"--verify", "dest/"},
       Package({{"a", "1"}, {"d/b", kBinary}}),
       "same       a\nsame       d/b\n"
       "verified 2 entries: same 2, differs 0, missing 0, not a file 0; staged copies left 0\n", "", 0, {}},
      {"--verify: a flipped byte, a truncated file, a deleted file, a staged copy left",
       {{"dest/a", "abXd"}, {"dest/b", "12"}, {"dest/d", kDirectory}, {"dest/e", "e"}, {"dest/eTMP", "e"}},
       {"--verify", "dest/"}, Package({{"a", "abcd"}, {"b", "123"}, {"d/c", "c"}, {"e", "e"}}),
       "differs    a: the first byte that differs is at offset 2\n"
       "differs    b: 2 bytes installed, 3 in the package\nmissing    d/c\nsame       e\n"
       "left over  eTMP: the staged copy of e, left by a run that was stopped\n"
       "verified 4 entries: same 1, differs 2, missing 1, not a file 0; staged copies left 1\n", "", 1, {}},
      {"--verify: a folder and a link where files go", {{"dest/d", kDirectory}, {"dest/l", LinkTo("d")}},
       {"--verify", "dest/"}, Package({{"d", "x"}, {"l", "x"}}),
       "not a file d: a folder stands there\nnot a file l: a symbolic link stands there\n"
       "verified 2 entries: same 0, differs 0, missing 0, not a file 2; staged copies left 0\n", "", 1, {}},
      {"--verify: a target installed twice is judged by its last entry", {{"dest/x", "2"}},
       {"--verify", "dest/"}, Package({{"x", "1"}, {"./x", "2"}}),
       "later      x: entry 2 installs it again\nsame       ./x\nverified 2 entries: same 1, differs 0, "
       "missing 0, not a file 0, installed again later 1; staged copies left 0\n", "", 0, {}},
      {"--verify: an entry named like a staged copy is none", {{"dest/f", "1"}, {"dest/fTMP", "2"}},
       {"--verify", "dest/"}, Package({{"f", "1"}, {"fTMP", "2"}}),
       "same       f\nsame       fTMP\n"
       "verified 2 entries: same 2, differs 0, missing 0, not a file 0; staged copies left 0\n", "", 0, {}},
      {"--verify: a prefix without its /", {{"destx", "1"}}, {"--verify", "dest"}, Package({{"x", "1"}}),
       "dest does not end in /: names are appended to it (destx)\nsame       x\n"
       "verified 1 entry: same 1, differs 0, missing 0, not a file 0; staged copies left 0\n", "", 0, {}},
      {"--verify: a difference beyond the first 256 KiB", {{"dest/big", big.substr(0, 270000) + "!" +
       big.substr(270001)}}, {"--verify", "dest/"}, Package({{"big", big}}),
       "differs    big: the first byte that differs is at offset 270000\n"
       "verified 1 entry: same 0, differs 1, missing 0, not a file 0; staged copies left 0\n", "", 1, {}},
      {"--verify: a path through a file is missing", {{"dest/d", "file"}}, {"--verify", "dest/"},
       Package({{"d/x", "1"}}),
       "missing    d/x\nverified 1 entry: same 0, differs 0, missing 1, not a file 0; staged copies left 0\n",
       "", 1, {}},
      {"--verify: staged copies left, whole and begun, beside files that are the same",
       {{"dest/e", "e"}, {"dest/eTMP", "e"}, {"dest/f", "full"}, {"dest/fTMP", "fu"}}, {"--verify", "dest/"},
       Package({{"e", "e"}, {"f", "full"}}),
       "same       e\nleft over  eTMP: the staged copy of e, left by a run that was stopped\n"
       "same       f\nleft over  fTMP: the staged copy of f, left by a run that was stopped\n"
       "verified 2 entries: same 2, differs 0, missing 0, not a file 0; staged copies left 2\n", "", 1, {}},
      {"--verify: files only named like staged copies",
       {{"dest/r", "new"}, {"dest/rTMP", "mine"}, {"dest/s", "s"}, {"dest/sTMP", "sx"}}, {"--verify", "dest/"},
       Package({{"r", "new"}, {"s", "s"}}),
       "same       r\nnamed like rTMP: a file named like the staged copy of r, holding other bytes; unpack "
       "removes it when it next replaces r\nsame       s\nnamed like sTMP: a file named like the staged "
       "copy of s, holding other bytes; unpack removes it when it next replaces s\nverified 2 entries: "
       "same 2, differs 0, missing 0, not a file 0; staged copies left 0, files named like one 2\n", "", 0, {}},
      {"--verify: an entry taken away by a later entry's staged copy", {{"dest/a", "2"}}, {"--verify", "dest/"},
       Package({{"aTMP", "1"}, {"a", "2"}}),
       "missing    aTMP: entry 2 (a) takes this name for its staged copy\nsame       a\n"
       "verified 2 entries: same 1, differs 0, missing 1, not a file 0; staged copies left 0\n", "", 1, {}},
      {"--verify PACKAGE, malformed", {{"dest/a", "1"}, {"p.pkg", Package({{"a", "1"}, {"b", "22"}}, 3)}},
       {"--verify", "dest/", "p.pkg"}, "", "same       a\nmissing    b\nmalformed\n",
       "pack: the stream ends after 2 of the 3 entries it declares\n", 1, {}},
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

// What no run of the program can arrange, through RunPack in process:
// failures of the standard streams (a full device, standard input that
// cannot be read) and, through the system-call table, of the calls pack
// makes to the file system.

struct StreamCase {
  const char* name;
  std::vector<std::string> args;  // "$DIR" stands for the scratch folder, here and below
  std::string in;                 // standard input: these bytes, or "$DIR" for the folder itself
  std::string outPath;            // standard output: this path, or a file read back when empty
  std::string out;
  std::string err;
  int status;
  std::vector<FailCall> faults = {};
  void (*swap)() = nullptr;  // changes g_posix, when given
};

// `text` with the scratch folder in place of each "$DIR".
std::string Expand(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("$DIR")) != std::string::npos;) text.replace(at, 4, dir);
  return text;
}

int CallPack(std::vector<std::string> args, FILE* in, FILE* out, FILE* err) {
  args.insert(args.begin(), "pack");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return RunPack((int)args.size(), argv.data(), in, out, err);
}

const std::string kSpaceAssumes =
    "  (the most the install takes at once, one entry at a time: each staged copy beside its old "
    "file, in blocks of 4096 bytes)\n";

int FakeStatvfs(const char*, struct statvfs* st) {
  *st = {};
  st->f_bsize = st->f_frsize = 4096;
  st->f_namemax = 255;
  st->f_blocks = 1000, st->f_bfree = 100, st->f_bavail = 50;
  return 0;
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
      {"an installed file that cannot be read", {"--verify", "$DIR/"}, Package({{"a", "A"}}), "",
       "unreadable a: Input/output error\nverified 1 entry: same 0, differs 0, missing 0, not a file 0, "
       "unreadable 1; staged copies left 0\n", "", 1,
       {FailCall("read", EIO).Nth(2).Once()}},  // the first read takes the whole package
      {"--mkdirs: a folder that cannot be made", {"--plan", "$DIR/", "--mkdirs"}, Package({{"new/x", "1"}}),
       "", "no folder  new/x: the folder $DIR/new is missing (unpack stops: line 181)\n"
       "folders not made:\n  $DIR/new: Input/output error\nfree space needed: 0\n" + kSpaceAssumes +
       "unpack would stop at entry 1 of 1: line 181\n",
       "pack: cannot make the folder $DIR/new: Input/output error\n", 1,
       {FailCall("mkdir", EIO)}},
      {"--plan: a target that cannot be looked at", {"--plan", "$DIR/"}, Package({{"a", "1"}}), "",
       "unseen     a: $DIR/a could not be looked at: Input/output error (only trying can tell)\n"
       "free space needed: 0\n" + kSpaceAssumes + "cannot tell without trying: entry 1 of 1 could not be "
       "looked at\n", "", 1, {FailCall("lstat", EIO)}},
      {"-o: the flush fails", {"-C", "$DIR", "-o", "$DIR/out.pkg", "a"}, "", "", "",
       "pack: cannot write $DIR/out.pkg.partial: Input/output error\n", 1,
       {FailCall("fsync", EIO)}},
      {"-o: a write that stores nothing", {"-C", "$DIR", "-o", "$DIR/out.pkg", "a"}, "", "", "",
       "pack: cannot write $DIR/out.pkg.partial: No space left on device\n", 1,
       {FailCall("write").Returns(0)}},
      {"the free space of a user who is not root", {"--plan", "$DIR/"}, Package({{"n", "1"}}), "",
       "new        n\nfree space needed: 4096\n" + kSpaceAssumes + "free space for this user: 204800 of "
       "the 409600 bytes free; Vellomar counts them all, the rest is kept for root\nunpack would end "
       "with OK\n", "", 0, {},
       [] { g_posix.geteuid = [] { return (uid_t)1000; }, g_posix.statvfs = FakeStatvfs; }},
  };
  // clang-format on
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    WriteFile(dir / "a", "A");
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(Expand(a, dir.path()));
    FILE* in = c.in == "$DIR" ? fopen(dir.path().c_str(), "r") : tmpfile();
    if (in && c.in != "$DIR") {
      fwrite(c.in.data(), 1, c.in.size(), in);
      rewind(in);
    }
    Capture out, err;
    FILE* device = c.outPath.empty() ? nullptr : fopen(c.outPath.c_str(), "w");
    ASSERT_TRUE(in && (device || c.outPath.empty()));
    SeamGuard guard(c.faults);
    if (c.swap) c.swap();
    const int status = CallPack(args, in, device ? device : out.stream(), err.stream());
    EXPECT_EQ(Visible(out.text()), Visible(Expand(c.out, dir.path())));
    EXPECT_EQ(Visible(err.text()), Visible(Expand(c.err, dir.path())));
    EXPECT_EQ(status, c.status);
    fclose(in);
    if (device) fclose(device);
  }
}

// --help names every option.
TEST(PackHelp, DescribesEveryOption) {
  for (const char* help : {"-h", "--help"}) {
    RunResult r = RunProgram({PACK_PATH, help}, "", RunOptions());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(StartsWith(r.out, kUsage)) << r.out;
    for (const char* option : {"-o, --output=FILE", "-C, --directory=DIR", "-T, --files-from=LIST",
                               "-0, --null", "-w, --windows", "--slashes", "-v, --verbose", "-t, --list",
                               "-q, --quiet", "--plan=PREFIX", "--mkdirs", "--verify=PREFIX", "-h, --help",
                               "--version", "--  "})
      EXPECT_NE(r.out.find(option), std::string::npos) << help << " lacks " << option;
  }
}

// pack --plan foretells unpack: for each tree, made afresh for root and for
// a user who is not root, unpack ends with the line the plan names (or the
// plan says that only trying can tell), takes the direct rewrite where the
// plan says so, and leaves none of the entries the plan says are taken
// away. Root's plan is compared whole.

// What a row arranges beyond its tree, at its `at`; all but kPlain and
// kBindMount on a tmpfs at dest, which allows devices, programs and flags.
enum Condition {
  kPlain,       // nothing: the scratch folder's own volume
  kTmpfs,       // the tmpfs alone
  kReadOnly,    // the tmpfs remounted read-only once the tree is made
  kBindMount,   // a file from outside the tree mounted on `at`
  kImmutable,   // chattr +i on `at`
  kAppendOnly,  // chattr +a on `at`
  kRunning,     // a copy of sleep at `at`, running while the plan and unpack run
  kNoInodes,    // every inode of the tmpfs taken once the tree is made
};

struct PlanCase {
  const char* name;
  std::vector<Before> tree;  // root's; dest/ is the prefix unless `prefix` says otherwise
  std::vector<PackEntry> entries;
  std::vector<std::string> args;  // after --plan PREFIX
  std::string plan;               // root's, without the free-space lines
  std::string rootLast;           // unpack's last line as root, as it begins
  std::string userLast;           // the same for the user
  Condition condition = kPlain;
  std::string at = std::string();  // under the scratch folder
  std::string prefix = "dest/";
};

void PrintTo(const PlanCase& c, std::ostream* os) {
  *os << c.name;
}

const std::vector<std::string> kAsUser = {"setpriv", "--reuid=65534", "--regid=65534",
                                          "--clear-groups", "--"};

// The beginning of the last line the plan says unpack writes: any, when it
// cannot tell.
std::string ForetoldLast(const std::string& plan) {
  const size_t at = plan.find("unpack would stop at entry ");
  if (at != std::string::npos) return "Line: " + plan.substr(plan.find(": line ", at) + 7, 3);
  if (plan.find("\ncannot tell without trying: unpack may stop") != std::string::npos) return "";
  return plan.find("unpack would end with OK\n") != std::string::npos ? "OK" : "<no verdict>";
}

// The lines of `text`, each with its line feed.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < text.size(); at = end) {
    end = std::min(text.find('\n', at), text.size() - 1) + 1;
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

// True when the plan has unpack try the direct rewrite (line 205) on its way:
// an entry to rewrite, or one that stops it after the staged copy failed.
bool ForetellsRewrite(const std::string& plan) {
  for (const std::string& line : Lines(plan)) {
    for (const char* label : {"rewrite    ", "kept       ", "device     ", "cannot tell without trying: "})
      if (StartsWith(line, label)) return true;
    if (line.find("(unpack stops: line") != std::string::npos) return false;
  }
  return false;
}

// The plan without the lines about free space, which depend on the volume.
std::string WithoutSpace(const std::string& plan) {
  std::string kept;
  for (const std::string& line : Lines(plan))
    if (!StartsWith(line, "free space") && !StartsWith(line, "  (the most")) kept += line;
  return kept;
}

// The names of the entries the plan says are taken away.
std::vector<std::string> TakenAway(const std::string& plan) {
  std::vector<std::string> names;
  for (const std::string& line : Lines(plan)) {
    if (!StartsWith(line, "taken away: entry ")) continue;
    const size_t open = line.find(" (") + 2;
    names.push_back(line.substr(open, line.find("), by ") - open));
  }
  return names;
}

// Copies of the programs where any user may run them (the build folder may
// lie where a user who is not root cannot reach), made once.
struct Programs {
  std::string pack;
  std::string unpack;
};

const Programs& ProgramsForAnyUser() {
  static ScratchDir bin;
  static const Programs run = [] {
    chmod(bin.path().c_str(), 0755);
    const Programs copies = {bin / "pack", bin / "unpack"};
    WriteFile(copies.pack, ReadFile(PACK_PATH), 0755);
    WriteFile(copies.unpack, ReadFile(UNPACK_PATH), 0755);
    return copies;
  }();
  return run;
}

// Adds chattr's flags `add` to the file or folder at `path`, or with 0
// takes off the immutable and append-only flags.
bool SetFlags(const std::string& path, int add) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int flags = 0;
  bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = add ? flags | add : flags & ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
  ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

// A row's condition, undone when it goes, before its scratch folder does.
struct Arranged {
  std::string tmpfs, bound, flagged;
  pid_t program = 0;
  ~Arranged() {
    if (program > 0) kill(program, SIGKILL), waitpid(program, nullptr, 0);
    if (!flagged.empty()) SetFlags(flagged, 0);
    if (!bound.empty()) umount2(bound.c_str(), MNT_DETACH);
    if (!tmpfs.empty()) umount2(tmpfs.c_str(), MNT_DETACH);
  }
};

// Starts a copy of sleep at `path`, and waits until it runs from there.
pid_t StartProgram(const std::string& path) {
  WriteFile(path, ReadFile("/bin/sleep"), 0777);
  char* argv[] = {(char*)path.c_str(), (char*)"60", nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return 0;
  struct stat want, running;
  stat(path.c_str(), &want);
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  for (int i = 0; i < 500 && !(stat(exe.c_str(), &running) == 0 && running.st_ino == want.st_ino); ++i)
    usleep(10000);
  return pid;
}

// Takes every inode left on the volume of `folder` with empty files.
bool TakeEveryInode(const std::string& folder) {
  for (int i = 0;; ++i) {
    const int fd = open((folder + "/filler" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return errno == ENOSPC;
    close(fd);
  }
}

// What the row's condition asks once its tree is made.
bool Arrange(const PlanCase& c, const ScratchDir& dir, Arranged* a) {
  const std::string at = dir / c.at;
  switch (c.condition) {
    case kReadOnly:
      return mount(nullptr, (dir / "dest").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    case kBindMount:
      WriteFile(dir / "elsewhere", "mounted");
      if (mount((dir / "elsewhere").c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
      a->bound = at;
      return true;
    case kImmutable:
    case kAppendOnly:
      if (!SetFlags(at, c.condition == kImmutable ? FS_IMMUTABLE_FL : FS_APPEND_FL)) return false;
      a->flagged = at;
      return true;
    case kRunning:
      return (a->program = StartProgram(at)) > 0;
    case kNoInodes:
      return TakeEveryInode(dir / "dest");
    case kPlain:
    case kTmpfs:
      break;
  }
  return true;
}

void ForetellRow(const PlanCase& c, const Programs& run, bool asUser) {
  ScratchDir dir;
  chmod(dir.path().c_str(), 0755);
  Arranged arranged;
  if (c.condition != kPlain && c.condition != kBindMount) {
    MakeDirs(dir / "dest");
    const char* options = c.condition == kNoInodes ? "size=1m,nr_inodes=32" : "size=1m";
    if (mount("tmpfs", (dir / "dest").c_str(), "tmpfs", 0, options) != 0)
      SKIP_UNLESS_CI("cannot mount a tmpfs here (needs root)");
    arranged.tmpfs = dir / "dest";
  }
  MakeTree(dir.path(), c.tree);
  ASSERT_TRUE(Arrange(c, dir, &arranged)) << "the condition cannot be made: " << strerror(errno);
  WriteFile(dir / "p.pkg", Package(c.entries));
  RunOptions options;
  options.cwd = dir.path();
  std::vector<std::string> pack = asUser ? kAsUser : std::vector<std::string>();
  std::vector<std::string> unpack = pack;
  pack.insert(pack.end(), {run.pack, "--plan", c.prefix, "p.pkg"});
  pack.insert(pack.end(), c.args.begin(), c.args.end());
  unpack.insert(unpack.end(), {run.unpack, "-destdir", c.prefix});
  const RunResult plan = RunProgram(pack, "", options);
  const RunResult unpacked = RunProgram(unpack, Package(c.entries), options);
  const std::string last = unpacked.err.substr(unpacked.err.rfind('\n', unpacked.err.size() - 4) + 1);
  EXPECT_TRUE(StartsWith(last, ForetoldLast(plan.out))) << plan.out << unpacked.err;
  EXPECT_TRUE(StartsWith(last, asUser ? c.userLast : c.rootLast)) << unpacked.err;
  EXPECT_EQ(ForetellsRewrite(plan.out), unpacked.err.find("Line: 205") != std::string::npos)
      << plan.out << unpacked.err;
  const std::vector<std::string> taken = TakenAway(plan.out);
  for (const std::string& name : taken) EXPECT_FALSE(Exists(dir / (c.prefix + name))) << name;
  EXPECT_EQ(plan.status, ForetoldLast(plan.out) == "OK" && taken.empty() ? 0 : 1) << plan.out;
  if (!asUser) {
    EXPECT_EQ(WithoutSpace(plan.out), c.plan);
  }
}

// clang-format off
std::vector<PlanCase> PlanCases() {
  const std::string name253(253, 'n'), stop1 = "unpack would stop at entry 1 of 1: line ";
  const std::string ok = "unpack would end with OK\n", l181 = "Line: 181", l223 = "Line: 223";
  const std::string l252 = "Line: 252", n255(255, 'n'), n252(252, 'm');
  const Before dest = {"dest", kDirectory};
  const Before open = {"dest", kDirectory, 0777};  // root's, where the user may write too
  return {
      {"new, replaced and read-only", {{"dest/old", "o"}, {"dest/ro", "r", 0444}},
       {{"new", "1"}, {"old", "2"}, {"ro", "3"}, {"new", "4"}}, {},
       "new        new\nreplace    old\nreplace    ro (read-only: replaced all the same)\n"
       "replace    new\n" + ok, "OK", l181},
      {"missing folders", {dest}, {{"a/b/f", "1"}, {"a/g", "2"}}, {},
       "no folder  a/b/f: the folder dest/a is missing (unpack stops: line 181)\n"
       "no folder  a/g: the folder dest/a is missing (unpack stops: line 181)\n"
       "folders to make:\n  dest/a\n  dest/a/b\nunpack would stop at entry 1 of 2: line 181\n", l181, l181},
      {"missing folders made", {dest}, {{"a/b/f", "1"}, {"a/g", "2"}}, {"--mkdirs"},
       "new        a/b/f\nnew        a/g\nfolders made:\n  dest/a\n  dest/a/b\n" + ok, "OK", l181},
      {"a folder where the file goes", {{"dest/d", kDirectory}}, {{"x", "1"}, {"d", "2"}}, {},
       "new        x\nfolder     d: a folder stands where the file goes (unpack stops: line 252)\n"
       "unpack would stop at entry 2 of 2: line 252\n", l252, l181},
      {"a target path too long", {dest}, {{name253, "1"}}, {},
       "too long   " + name253 + ": the target path is over 256 characters (unpack stops: line 150)\n" +
       stop1 + "150\n", "Line: 150", "Line: 150"},
      {"a name that leaves the prefix", {dest}, {{"../up", "1"}}, {},
       "new        ../up [a .. component: installed outside the prefix]\n" + ok, "OK", l181},
      {"a writable file in a folder only root may write", {{"dest/w", "old", 0666}}, {{"w", "new"}}, {},
       "replace    w\n" + ok, "OK", "OK"},
      {"a read-only mount", {{"dest/a", "old"}}, {{"a", "1"}, {"b", "2"}}, {},
       "kept       a: no staged copy (the volume is mounted read-only), and no rewrite in place (the "
       "volume is mounted read-only) (unpack stops: line 223)\n"
       "read-only  b: the volume of dest is mounted read-only (unpack stops: line 181)\n"
       "unpack would stop at entry 1 of 2: line 223\n", l223, l223, kReadOnly},
      {"an empty name and a name ending in /", {{"dest/sub", kDirectory}}, {{"", "1"}, {"sub/", "2"}}, {},
       "no file    : the target path ends in / (unpack stops: line 181)\n"
       "no file    sub/: the target path ends in / (unpack stops: line 181)\n"
       "unpack would stop at entry 1 of 2: line 181\n", l181, l181},
      {"a file, then a folder of that name", {dest}, {{"d", "1"}, {"d/x", "2"}}, {"--mkdirs"},
       "new        d\nno folder  d/x: entry 1 puts a file where the folder dest/d should be (unpack "
       "stops: line 181)\nunpack would stop at entry 2 of 2: line 181\n", l181, l181},
      {"no folder made where a later entry puts a file", {dest}, {{"d/x", "1"}, {"d", "2"}}, {"--mkdirs"},
       "no folder  d/x: the folder dest/d is missing (unpack stops: line 181)\nnew        d\n"
       "folders not made:\n  dest/d: entry 2 puts a file there\nunpack would stop at entry 1 of 2: line 181\n",
       l181, l181},
      {"a link to a folder, replaced", {{"dest/real", kDirectory}, {"dest/link", LinkTo("real")}},
       {{"link", "1"}}, {}, "replace    link\n" + ok, "OK", l223},
      {"a link replaced, then a path through it", {{"dest/real", kDirectory}, {"dest/link", LinkTo("real")}},
       {{"link", "1"}, {"link/x", "2"}}, {},
       "replace    link\nno folder  link/x: entry 1 puts a file where the folder dest/link should be "
       "(unpack stops: line 181)\nunpack would stop at entry 2 of 2: line 181\n", l181, l223},
      {"x, then ./x", {dest}, {{"x", "1"}, {"./x", "2"}}, {}, "new        x\nreplace    ./x\n" + ok, "OK", l181},
      {"a prefix without its /", {dest}, {{"notes/x", "1"}}, {},
       "dest does not end in /: names are appended to it (destnotes/x)\n"
       "no folder  notes/x: the folder destnotes is missing (unpack stops: line 181)\n"
       "folders to make:\n  destnotes\n" + stop1 + "181\n", l181, l181, kPlain, "", "dest"},
      {"an absolute name under a prefix", {dest}, {{"/abs", "1"}}, {},
       "new        /abs (at dest//abs)\n" + ok, "OK", l181},
      {"a folder at the staged copy's name", {{"dest/f", "old"}, {"dest/fTMP", kDirectory}}, {{"f", "new"}}, {},
       "rewrite    f: no staged copy (a folder stands at dest/fTMP); unpack rewrites the file in place "
       "(lines 205 and 221)\n" + ok, "OK", l223},
      {"another user's file in a sticky folder", {{"dest", kDirectory, 01777}, {"dest/f", "old", 0666}},
       {{"f", "new"}}, {}, "replace    f\n" + ok, "OK", l252},
      {"another user's read-only file in a folder anyone may write",
       {open, {"dest/ro", "old", 0444}}, {{"ro", "new"}}, {},
       "replace    ro (read-only: replaced all the same)\n" + ok, "OK", "OK"},
      {"a name with a wildcard is taken as it is", {{"dest/ab", "x"}}, {{"a*", "1"}}, {},
       "new        a*\n" + ok, "OK", l181},
      {"a read-only leftover staged copy", {{"dest/f", "old"}, {"dest/fTMP", "junk", 0444}}, {{"f", "new"}}, {},
       "replace    f\n  removes  fTMP: the staged copy of f takes its name\n" + ok, "OK", l223},
      {"a read-only file without its staged copy", {{"dest/f", "old", 0444}, {"dest/fTMP", kDirectory}},
       {{"f", "new"}}, {},
       "kept       f: no staged copy (a folder stands at dest/fTMP), and no rewrite in place (it is "
       "read-only) (unpack stops: line 223)\n" + stop1 + "223\n", l223, l223},
      {"last components of 255 and 252 bytes", {{n252, "old"}}, {{n255, "1"}, {n252, "2"}}, {},
       "new        " + n255 + "\nreplace    " + n252 + "\n" + ok, "OK", l181, kPlain, "", ""},
      {"a last component of 256 bytes", {}, {{n255 + "n", "1"}}, {}, "too long   " + n255 + "n: its last "
       "component is over 255 bytes (unpack stops: line 181)\n" + stop1 + "181\n", l181, l181, kPlain, "", ""},
      {"a link to a folder at the staged copy's name",
       {{"dest/f", "old"}, {"dest/real", kDirectory}, {"dest/fTMP", LinkTo("real")}}, {{"f", "new"}}, {},
       "replace    f\n  removes  fTMP: the staged copy of f takes its name\n" + ok, "OK", l223},

      // Names like a staged copy's.
      {"an entry named like the staged copy of a later one", {open, {"dest/a", "old", 0666}},
       {{"aTMP", "1"}, {"a", "2"}}, {},
       "new        aTMP\nreplace    a\n  removes  aTMP, which entry 1 installs: the staged copy of a "
       "takes its name\ntaken away: entry 1 (aTMP), by the staged copy of entry 2 (a)\n" + ok, "OK", "OK"},
      {"a file of the disk named like a staged copy", {open, {"dest/report", "old", 0666},
       {"dest/reportTMP", "mine", 0666}}, {{"report", "new"}, {"reportTMP", "ours"}}, {},
       "replace    report\n  removes  reportTMP: the staged copy of report takes its name\n"
       "new        reportTMP\n" + ok, "OK", "OK"},

      // What the permission bits do not tell.
      {"a bind mount on the target", {open, {"dest/f", "old", 0666}}, {{"f", "new"}}, {},
       "mounted    f: a file system is mounted on the old file, which cannot be replaced (unpack "
       "stops: line 252)\n" + stop1 + "252\n", l252, l252, kBindMount, "dest/f"},
      {"an immutable file", {open, {"dest/f", "old", 0666}}, {{"f", "new"}}, {},
       "locked     f: it is immutable (chattr +i), so the old file cannot be replaced (unpack stops: "
       "line 252)\n" + stop1 + "252\n", l252, l252, kImmutable, "dest/f"},
      {"a file in an append-only folder", {open, {"dest/f", "old", 0666}}, {{"n", "1"}, {"f", "2"}}, {},
       "new        n\nlocked     f: its folder dest is append-only (chattr +a), so the old file cannot "
       "be replaced (unpack stops: line 252)\nunpack would stop at entry 2 of 2: line 252\n", l252, l252,
       kAppendOnly, "dest"},
      {"a leftover in an append-only folder", {open, {"dest/f", "old", 0666}, {"dest/fTMP", "junk", 0666}},
       {{"f", "new"}}, {},
       "rewrite    f: no staged copy (the leftover dest/fTMP cannot be removed: its folder dest is "
       "append-only (chattr +a)); unpack rewrites the file in place (lines 205 and 221)\n" + ok, "OK", "OK",
       kAppendOnly, "dest"},
      {"a device replaced, then one without its staged copy",
       {open, {"dest/g", kDevice, 0666}, {"dest/f", kDevice, 0666}, {"dest/fTMP", kDirectory}},
       {{"g", "1"}, {"f", "2"}}, {},
       "replace    g\ndevice     f: no staged copy (a folder stands at dest/fTMP); unpack writes the "
       "content into the device, which cannot be cut to its length (unpack stops: line 229)\n"
       "unpack would stop at entry 2 of 2: line 229\n", "Line: 229", "Line: 229", kTmpfs},
      {"a running program without its staged copy", {open, {"dest/progTMP", kDirectory}},
       {{"prog", "new"}}, {},
       "kept       prog: no staged copy (a folder stands at dest/progTMP), and no rewrite in place (a "
       "program runs from it) (unpack stops: line 223)\n" + stop1 + "223\n", l223, l223, kRunning,
       "dest/prog"},
      {"no free inode", {open, {"dest/f", "old", 0666}}, {{"f", "new"}, {"n", "1"}}, {},
       "rewrite    f: no staged copy (no free inode is left on the volume); unpack rewrites the file "
       "in place (lines 205 and 221)\nno inode   n: no free inode is left on the volume of dest (unpack "
       "stops: line 181)\nunpack would stop at entry 2 of 2: line 181\n", l181, l181, kNoInodes},
      {"no free inode, a file of two names", {open, {"dest/h", "old", 0666}, {"dest/h2", kNameOf + "dest/h"}},
       {{"h", "new"}}, {},
       "kept       h: no staged copy (no free inode is left on the volume), and no rewrite in place (it "
       "has 2 names, and unpack makes no new file where the staged copy found no room) (unpack stops: "
       "line 223)\n" + stop1 + "223\n", l223, l223, kNoInodes},
      {"a file of two names without its staged copy",
       {{"dest/h", "old", 0666}, {"dest/h2", kNameOf + "dest/h"}, {"dest/hTMP", kDirectory}}, {{"h", "new"}}, {},
       "rewrite    h: no staged copy (a folder stands at dest/hTMP); unpack gives the name a new file of "
       "its own (lines 205 and 221)\n" + ok, "OK", l223},
  };
}
// clang-format on

class PackPlanRows : public ::testing::TestWithParam<std::tuple<PlanCase, bool>> {};

TEST_P(PackPlanRows, Row) {
  if (geteuid() != 0) SKIP_UNLESS_CI("the rows run as root, and as a user through setpriv");
  ForetellRow(std::get<0>(GetParam()), ProgramsForAnyUser(), std::get<1>(GetParam()));
}

// Each row once as root and once as a user, named by its tree.
INSTANTIATE_TEST_SUITE_P(Linux, PackPlanRows,
                         ::testing::Combine(::testing::ValuesIn(PlanCases()), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<PlanCase, bool>>& info) {
                           return RowTestName(info.index / 2, std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_as_a_user" : "_as_root");
                         });

// The free space the plan asks for is exactly enough for unpack to replace
// every file through its staged copy; one block less is not, and unpack
// must take the direct rewrite. The plan made on that volume says whether
// the room is short, and then that only trying can tell.
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
    const RunResult again = RunProgram({PACK_PATH, "--plan", "dest/", "p.pkg"}, "", options);
    EXPECT_EQ(again.out.find("not enough room: " + std::to_string(needed - shortBy) + " bytes free;") !=
                  std::string::npos, shortBy > 0) << again.out;
    EXPECT_EQ(again.status, shortBy > 0 ? 1 : 0) << again.out;
    RunResult r = RunProgram({UNPACK_PATH, "-destdir", "dest/"}, Package(entries), options);
    EXPECT_TRUE(StartsWith(r.err.substr(r.err.size() - 5), "OK")) << r.err;
    EXPECT_EQ(r.err.find("Line: 205") != std::string::npos, shortBy > 0) << "short by " << shortBy << ": " << r.err;
  }
}

// A pseudo-terminal: its end for the program, with the other end in
// `master`; null when the machine has none.
FILE* OpenTerminal(int* master) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) return nullptr;
  const int slave = open(ptsname(*master), O_RDWR | O_NOCTTY);
  return slave < 0 ? nullptr : fdopen(slave, "r+");
}

// A package is binary: it is never written to a terminal, nor waited for on
// one.
TEST(PackStreams, RefusesATerminal) {
  int master;
  FILE* terminal = OpenTerminal(&master);
  if (!terminal) GTEST_SKIP() << "no pseudo-terminal here";
  ScratchDir dir;
  WriteFile(dir / "a", "A");
  const struct {
    std::vector<std::string> args;
    bool terminalIn;
    std::string err;
  } rows[] = {
      {{"-C", dir.path(), "a"}, false,
       "pack: refusing to write a package to a terminal; use -o FILE or redirect standard output\n"},
      {{"-t"}, true,
       "pack: refusing to read a package from a terminal; give PACKAGE or redirect standard input\n"},
  };
  for (const auto& row : rows) {
    Capture err, other;
    EXPECT_EQ(CallPack(row.args, row.terminalIn ? terminal : other.stream(), row.terminalIn ? other.stream() : terminal,
                       err.stream()),
              2);
    EXPECT_EQ(err.text(), row.err);
  }
  fclose(terminal), close(master);
}

// Work that takes more than a second shows its progress on a terminal, on
// one line written over in place and erased at the end; -q shows none. A
// clock of the test's own makes each look at it half a second later.
TEST(PackProgress, OnATerminal) {
  int master;
  FILE* terminal = OpenTerminal(&master);
  if (!terminal) GTEST_SKIP() << "no pseudo-terminal here";
  fcntl(master, F_SETFL, O_NONBLOCK);
  ScratchDir dir;
  MakeTree(dir.path(), {{"dest/big", Pattern(3 << 20)}, {"p.pkg", Package({{"big", Pattern(3 << 20)}})}});
  static double now;
  double (*const clock)(void) = g_progressClock;
  g_progressClock = [] { return now += 0.5; };
  const struct {
    std::vector<std::string> args;
    bool shown;
  } rows[] = {
      {{"-C", dir / "dest", "big"}, true},    {{"-q", "-C", dir / "dest", "big"}, false},
      {{"-t", dir / "p.pkg"}, true},          {{"--verify", dir / "dest/", dir / "p.pkg"}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0]);
    Capture out;
    now = 0;
    EXPECT_EQ(CallPack(row.args, stdin, out.stream(), terminal), 0);
    fflush(terminal);
    std::string shown;
    char chunk[4096];
    for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;) shown.append(chunk, (size_t)n);
    EXPECT_EQ(StartsWith(shown, "\rpack: "), row.shown) << Visible(shown);
    EXPECT_EQ(shown.find(" of 3.0 MiB (") != std::string::npos, row.shown) << Visible(shown);
    const size_t last = shown.rfind('\r', shown.size() - 2);
    EXPECT_EQ(last != std::string::npos && shown.find_first_not_of(' ', last + 1) == shown.size() - 1,
              row.shown) << Visible(shown);
  }
  g_progressClock = clock;
  fclose(terminal), close(master);
}

// A 1 GiB entry is compared with its installed file in an address space of
// 64 MiB: both are read a piece at a time.
TEST(PackMemory, VerifyAGigabyteInLittleMemory) {
  ScratchDir dir;
  const std::string head = kMagic + Le32(1) + Le32(1u << 30) + "big" + '\0';
  MakeTree(dir.path(), {{"dest/big", Sparse(1ull << 30)}, {"p.pkg", Sparse(head.size() + (1ull << 30))}});
  const int fd = open((dir / "p.pkg").c_str(), O_WRONLY);
  ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), (ssize_t)head.size());
  close(fd);
  RunOptions options;
  options.cwd = dir.path();
  options.addressLimit = 64 << 20;
  const RunResult r = RunProgram({PACK_PATH, "--verify", "dest/", "p.pkg"}, "", options);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "same       big\nverified 1 entry: same 1, differs 0, missing 0, not a file 0; staged copies left 0\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
