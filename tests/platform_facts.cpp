#include "tests/platform_facts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

namespace {

std::string Cmd(const char* call, const std::string& a = "", const std::string& b = "") {
  return std::string(call) + "\t" + a + "\t" + b;
}

// A component of 256 characters: one over what NTFS (and ext4) allow.
const std::string kLongName(256, 'n');

// What the commands expect in their folder. Rows that change the disk have
// files of their own.
const std::vector<Before> kFixture = {
    {"file", "x"},        {"ro", "x", 0444},      {"dir", kDirectory},   {"empty", kDirectory},
    {"ro-dir", kDirectory}, {"del-file", "x"},    {"del-ro", "x", 0444}, {"mv-a", "a"},
    {"mv-b", "b"},        {"mv-c", "c"},          {"mv-self", "s"},      {"mv-ro", "r", 0444},
    {"mv-dir", kDirectory}, {"set-a", "x"},       {"set-b", "x"},        {"w-a/a", ""},
    {"w-aa/aa", ""},      {"w-a.a/a.a", ""},      {"w-a..a/a..a", ""},   {"w-a.a.a/a.a.a", ""},
    {"w-readme/readme", ""}, {"mix/present.txt", ""}, {"mix/readme", ""}, {"mix/a.b.c", ""},
    {"mix/sub/x.log", ""}, {"rp-a", "a"},     {"rp-b", "b"},         {"rp-ro", "r", 0444},
    {"rp-c", "c"},           {"rp-d", "d"},
};

std::vector<PlatformFact> MakeFacts() {
  return {
      // FindFirstFileA: errors.
      {"a missing name is not found", Cmd("find", "missing"), "none 2"},
      {"a missing folder on the way is a path not found", Cmd("find", "nodir/x"), "none 3"},
      {"so is a pattern in a missing folder", Cmd("find", "nodir/*"), "none 3"},
      {"a folder is found by its name", Cmd("find", "dir"), "found"},
      {"a folder with a trailing separator is not", Cmd("find", "dir/"), "none 2"},
      {"a missing name with a trailing separator is a path not found", Cmd("find", "nodir/"),
       "none 3", "none 2"},
      {"a pattern that matches nothing is not found, not 'no more files'",
       Cmd("find", "dir/nothing*"), "none 2"},
      {"a file used as a folder is ERROR_DIRECTORY", Cmd("find", "file/*"), "none 267", "none 123"},
      {"an empty folder holds . and ..", Cmd("find", "empty/*"), "found"},
      {"an empty path is a path not found", Cmd("find", ""), "none 3"},
      {"names are found without regard to case", Cmd("find", "DIR"), "found", nullptr, "none 2"},
      {".. is resolved in the text of the path", Cmd("find", "nodir/../file"), "found", nullptr,
       "none 3"},

      // FindFirstFileA: how a pattern matches one name.
      {"a*.* finds a: a dot before * also matches the end", Cmd("find", "w-a/a*.*"), "found"},
      {"aa*.* finds aa", Cmd("find", "w-aa/aa*.*"), "found"},
      {"aa.* finds aa", Cmd("find", "w-aa/aa.*"), "found"},
      {"readme.* finds readme", Cmd("find", "w-readme/readme.*"), "found"},
      {"readme.? finds readme: ? matches nothing at the end", Cmd("find", "w-readme/readme.?"),
       "found", "none 2"},
      {"a? finds a", Cmd("find", "w-a/a?"), "found", "none 2"},
      {"a?? finds a", Cmd("find", "w-a/a??"), "found", "none 2"},
      {"a?.a finds a.a: ? matches nothing at a dot", Cmd("find", "w-a.a/a?.a"), "found",
       "none 2"},
      {"a*. finds a: a pattern ending in a dot wants no extension", Cmd("find", "w-a/a*."), "found"},
      {"a*. does not find a.a", Cmd("find", "w-a.a/a*."), "none 2", "found"},
      {"trailing spaces of a pattern are dropped", Cmd("find", "w-aa/aa? "), "found", "none 2"},
      {"* runs across dots", Cmd("find", "w-a.a.a/a*.a"), "found"},
      {"\" is a dot that also matches the end", Cmd("find", "w-a..a/a\"*\"a"), "found",
       "none 2"},
      {"< is a * that stops at the last dot", Cmd("find", "w-aa/a<"), "found", "none 2"},
      {"< does not run past the last dot", Cmd("find", "w-a.a/a<"), "none 2"},
      {"> is a ?", Cmd("find", "w-a/a>"), "found", "none 2"},
      {"patterns match without regard to case", Cmd("find", "w-a/A*"), "found", nullptr, "none 2"},
      {"p*", Cmd("find", "mix/p*"), "found"},
      {"p*t", Cmd("find", "mix/p*t"), "found"},
      {"p*.txt", Cmd("find", "mix/p*.txt"), "found"},
      {"pre?ent.tx?", Cmd("find", "mix/pre?ent.tx?"), "found"},
      {"present.txt*", Cmd("find", "mix/present.txt*"), "found"},
      {"present.tx is a plain name", Cmd("find", "mix/present.tx"), "none 2"},
      {"presen? is one character short of present.txt", Cmd("find", "mix/presen?"), "none 2"},
      {"q*", Cmd("find", "mix/q*"), "none 2"},
      {"r*.*", Cmd("find", "mix/r*.*"), "found"},
      {"readme.t*", Cmd("find", "mix/readme.t*"), "none 2"},
      {"a.b.*", Cmd("find", "mix/a.b.*"), "found"},
      {"a.*.c", Cmd("find", "mix/a.*.c"), "found"},
      {"a*b", Cmd("find", "mix/a*b"), "none 2"},
      {"sub/*.l?g", Cmd("find", "mix/sub/*.l?g"), "found"},
      {"sub/x.*", Cmd("find", "mix/sub/x.*"), "found"},
      {"sub/x is a plain name", Cmd("find", "mix/sub/x"), "none 2"},
      {"sub/y*", Cmd("find", "mix/sub/y*"), "none 2"},

      // CreateFileA with write access, as the programs call it.
      {"a new file: no error", Cmd("create", "new-file", "always"), "handle 0"},
      {"an existing file is truncated, and says so", Cmd("create", "file", "always"), "handle 183"},
      {"CREATE_NEW refuses an existing file", Cmd("create", "file", "new"), "invalid 80"},
      {"a folder cannot be opened for writing", Cmd("create", "dir", "always"), "invalid 5"},
      {"nor created over with CREATE_NEW", Cmd("create", "dir", "new"), "invalid 5", "invalid 80"},
      {"a read-only file is refused", Cmd("create", "ro", "always"), "invalid 5"},
      {"a missing folder is a path not found", Cmd("create", "nodir/f", "always"), "invalid 3"},
      {"an empty path is a path not found", Cmd("create", "", "always"), "invalid 3"},
      {"a name over 255 characters is too long", Cmd("create", kLongName, "always"), "invalid 206",
       "invalid 2"},

      {"OPEN_EXISTING opens a file as it is", Cmd("create", "file", "existing"), "handle 0"},
      {"and no file that is not there", Cmd("create", "missing", "existing"), "invalid 2"},
      {"nor a read-only file", Cmd("create", "ro", "existing"), "invalid 5"},
      {"nor a folder", Cmd("create", "dir", "existing"), "invalid 5"},

      // WriteFile.
      {"an invalid handle is ERROR_INVALID_HANDLE", Cmd("write-invalid"), "FALSE 6"},
      {"writing nothing from no buffer succeeds", Cmd("write-nothing", "nothing"), "TRUE"},

      // DeleteFileA.
      {"a missing file is not found", Cmd("delete", "missing"), "FALSE 2"},
      {"a file is deleted", Cmd("delete", "del-file"), "TRUE"},
      {"and is then not found", Cmd("delete", "del-file"), "FALSE 2"},
      {"a folder is not a file to delete", Cmd("delete", "dir"), "FALSE 5"},
      {"a read-only file is refused", Cmd("delete", "del-ro"), "FALSE 5"},
      {"until read-only is cleared", Cmd("set", "del-ro", "80"), "TRUE"},
      {"then it goes", Cmd("delete", "del-ro"), "TRUE"},
      {"an empty path is a path not found", Cmd("delete", ""), "FALSE 3"},
      {"a missing folder is a path not found", Cmd("delete", "nodir/f"), "FALSE 3"},
      {"a name over 255 characters is too long", Cmd("delete", kLongName), "FALSE 206",
       "FALSE 2"},

      // MoveFileA.
      {"an existing destination is ERROR_ALREADY_EXISTS", Cmd("move", "mv-a", "mv-b"), "FALSE 183"},
      {"a missing source is not found", Cmd("move", "missing", "mv-x"), "FALSE 2"},
      {"a missing destination folder is a path not found", Cmd("move", "mv-c", "nodir/x"),
       "FALSE 3"},
      {"a move onto itself succeeds", Cmd("move", "mv-self", "mv-self"), "TRUE"},
      {"a read-only file moves", Cmd("move", "mv-ro", "mv-ro2"), "TRUE"},
      {"and stays read-only", Cmd("attributes", "mv-ro2"), "0x21"},
      {"a folder moves", Cmd("move", "mv-dir", "mv-dir2"), "TRUE"},

      // MoveFileExA with MOVEFILE_REPLACE_EXISTING.
      {"a file replaces another in one step", Cmd("replace", "rp-a", "rp-b"), "TRUE"},
      {"a file moves where nothing stands", Cmd("replace", "rp-b", "rp-new"), "TRUE"},
      // Wine keeps read-only in the write permission bits, which rename(2)
      // does not look at.
      {"a read-only file is not replaced", Cmd("replace", "rp-c", "rp-ro"), "FALSE 5", "TRUE"},
      {"nor a folder", Cmd("replace", "rp-d", "dir"), "FALSE 5"},
      {"a missing source is not found", Cmd("replace", "missing", "rp-d"), "FALSE 2"},

      // GetFileAttributesA and SetFileAttributesA.
      {"a missing file has no attributes", Cmd("attributes", "missing"), "invalid 2"},
      {"nor has a path through a missing folder", Cmd("attributes", "nodir/x"), "invalid 3"},
      {"a file is reported for archiving", Cmd("attributes", "file"), "0x20"},
      {"a folder is a directory", Cmd("attributes", "dir"), "0x10"},
      {"a read-only file", Cmd("attributes", "ro"), "0x21"},
      {"a link is described, not followed", Cmd("attributes", "link"), "0x420", "0x20"},
      {"FILE_ATTRIBUTE_NORMAL is set", Cmd("set", "set-a", "80"), "TRUE"},
      {"and clears the archive bit", Cmd("attributes", "set-a"), "0x80", "0x20", "0x20"},
      {"the directory bit is ignored on a file", Cmd("set", "set-b", "10"), "TRUE"},
      {"a missing file cannot be set", Cmd("set", "missing", "80"), "FALSE 2"},
      {"a folder can be made read-only", Cmd("set", "ro-dir", "11"), "TRUE"},
      {"and says so", Cmd("attributes", "ro-dir"), "0x11", "0x10"},

      // GetDiskFreeSpaceExA.
      {"any folder of the volume", Cmd("free", "dir"), "TRUE"},
      {"with a trailing separator too", Cmd("free", "dir/"), "TRUE"},
      {"a drive root", Cmd("free", "C:\\"), "TRUE"},
      {"no path: the current volume", Cmd("free", "-"), "TRUE"},
      {"a lone separator: the root", Cmd("free", "\\"), "TRUE"},
      {"an empty path is a path not found", Cmd("free", ""), "FALSE 3"},
      {"a file is not a folder: ERROR_DIRECTORY", Cmd("free", "file"), "FALSE 267"},
      {"a missing name is a path not found", Cmd("free", "missing"), "FALSE 3", "FALSE 2"},
      {"so is a missing folder", Cmd("free", "nodir/x"), "FALSE 3"},
  };
}

}  // namespace

const std::vector<PlatformFact>& PlatformFacts() {
  static const std::vector<PlatformFact> facts = MakeFacts();
  return facts;
}

void ExpectPlatformFacts(const Build& build, const std::string& probe) {
  ScratchDir dir;
  Prepare(dir.path(), kFixture);
  ASSERT_EQ(symlink("file", (dir / "link").c_str()), 0);
  std::string script;
  for (const PlatformFact& f : PlatformFacts()) script += f.command + "\n";
  RunResult r = RunOn(build, probe, {}, script, dir.path());
  std::istringstream lines(r.out);
  for (const PlatformFact& f : PlatformFacts()) {
    std::string line;
    std::getline(lines, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const char* departs = build.windows ? f.wine : f.linux;
    EXPECT_EQ(line, departs ? departs : f.windows) << f.what << " (" << Visible(f.command) << ")";
  }
  EXPECT_EQ(r.status, 0) << Visible(r.err);
}
