#include "tests/unpack_cases.h"

const std::string kDirectory = "<directory>";
const std::string kAbsent = "<absent>";
const std::string kSecondNameOf = "<second name of> ";
const std::string kSymlinkTo = "<symlink> ";

std::string TextMode(const std::string& lines) {
  std::string s;
  for (char c : lines) {
    if (c == '\n') s += '\r';
    s += c;
  }
  return s;
}

namespace {

const std::string kGood = "Good Magic Number. 80826589\r\n";
const std::string kOk = "OK\r\n";
const std::string kRewritten =
    "This statement only appears when  the DOC file was deleted and no temp filel\r\n"
    "was on the DOC special case where file > 1/2 the DOC.\r\n";

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += (char)b;
  return s;
}

std::string One(const std::string& name, const std::string& data) {
  return Package({{name, data}});
}

// Content that does not fit the 1 MiB volume, content over half its size,
// and content a third of it.
std::string Huge() { return std::string(2 << 20, 'H'); }
std::string Half(char c) { return std::string(600 << 10, c); }
std::string Third(char c) { return std::string(300 << 10, c); }

// The first `size` bytes of 12 MiB, more than an 8 MiB address space holds,
// in a pattern that shows a misplaced byte.
std::string Large(size_t size = 12u << 20) {
  std::string s(size, '\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = (char)(i % 251);
  return s;
}

// Twelve entries of 1 MiB, r0 to r11.
std::vector<PackEntry> TwelveOfOneMiB() {
  const std::string large = Large();
  std::vector<PackEntry> e;
  for (int i = 0; i < 12; ++i) e.push_back({"r" + std::to_string(i), large.substr(i, 1 << 20)});
  return e;
}

// Two entries larger than an 8 MiB address space, the second replacing "old".
void TwoLargeEntries(UnpackCase* c) {
  const std::string large = Large();
  c->input = Package({{"big", large}, {"old", large}});
  c->after = {{"big", large}, {"old", large}, {"oldTMP", kAbsent}};
}

// An entry g/h of 200,000 bytes, on a volume of 512 KiB that 380,000 bytes
// of filler leave with 88 KiB for it.
void NearlyFullVolume(UnpackCase* c) {
  c->input = One("g/h", std::string(200000, 'G'));
  c->before.push_back({"vol/filler", std::string(380000, '\0')});
}

// A stream cut 5 MiB into an entry of 12 MiB.
void LargeEntryCut(UnpackCase* c) { c->input = Package({{"big", Large()}}).substr(0, 5u << 20); }

// 200 files with names of 250 characters, then 20 names of 240 '<' and a
// few characters: patterns that cost pattern x name^2 steps per name for a
// matcher that tries every way a '<' can match.
std::string LongNamesThenPatterns() {
  std::vector<PackEntry> entries;
  for (int i = 100; i < 300; ++i) entries.push_back({std::string(247, 'n') + std::to_string(i), "f"});
  for (int i = 10; i < 30; ++i) entries.push_back({std::string(240, '<') + "Z" + std::to_string(i), "p"});
  return Package(entries);
}

std::vector<UnpackCase> MakeCases() {
  const std::string name252(252, 'n');
  const std::string name253(253, 'n');
  const std::string binary = Bytes({0x1A, 0x0D, 0x0A, 0x00, 0xFF, 0x0A, 0x0D, 0x1A});
  return {
      // The magic.
      {"empty input", {}, "", {}, "Bad Magic Number 0\r\n", {}},
      {"three bytes of magic", {}, Bytes({0xDD, 0x50, 0xD1}), {}, "Bad Magic Number 13717725\r\n", {}},
      {"zero magic", {}, Bytes({0, 0, 0, 0, 1, 0, 0, 0}), {}, "Bad Magic Number 0\r\n", {}},
      {"all ones magic", {}, Bytes({0xFF, 0xFF, 0xFF, 0xFF}), {}, "Bad Magic Number -1\r\n", {}},
      {"big-endian magic",
       {"-destdir", "out/"},
       Bytes({0x04, 0xD1, 0x50, 0xDD}) + Le32(1) + Le32(1) + "a" + '\0' + "x",
       {{"out", kDirectory}},
       "Bad Magic Number -581906172\r\n",
       {{"out/a", kAbsent}}},

      // The destination prefix.
      {"one entry into a folder",
       {"-destdir", "out/"},
       One("a.txt", "hello"),
       {{"out", kDirectory}},
       kGood + kOk,
       {{"out/a.txt", "hello"}, {"out/a.txtTMP", kAbsent}}},
      {"no arguments: names used as they are", {}, One("a.txt", "A"), {}, kGood + kOk, {{"a.txt", "A"}}},
      {"prefix joined without a separator", {"-destdir", "out"}, One("a.txt", "A"), {}, kGood + kOk,
       {{"outa.txt", "A"}}},
      {"later -destdir wins",
       {"-destdir", "A/", "-destdir", "B/"},
       One("f", "x"),
       {{"A", kDirectory}, {"B", kDirectory}},
       kGood + kOk,
       {{"A/f", kAbsent}, {"B/f", "x"}}},
      {"-destdir takes -s as its value", {"-destdir", "-s"}, One("f", "x"), {}, kGood + kOk,
       {{"-sf", "x"}}},
      {"-s and -S between -destdir and its value do not count",
       {"-destdir", "-S"},
       One("f", "x"),
       {},
       kGood + kOk,
       {{"-Sf", "x"}}},
      {"trailing -destdir keeps the earlier prefix",
       {"-destdir", "out/", "-destdir"},
       One("f", "x"),
       {{"out", kDirectory}},
       kGood + kOk,
       {{"out/f", "x"}}},
      {"trailing -destdir alone leaves no prefix", {"-destdir"}, One("f", "x"), {}, kGood + kOk,
       {{"f", "x"}}},
      {"-DESTDIR is an ignored argument",
       {"-DESTDIR", "out/", "-x"},
       One("f", "x"),
       {{"out", kDirectory}},
       kGood + kOk,
       {{"f", "x"}, {"out/f", kAbsent}}},
      // On Linux the file out\f stands beside the folder out; on Windows it is f
      // in out.
      {"backslash: part of the name on Linux, a separator on Windows",
       {"-destdir", "out\\"},
       One("f", "x"),
       {{"out", kDirectory}},
       kGood + kOk,
       {{"out\\f", "x"}},
       false,
       0,
       Differs::kBackslash},

      // Entries.
      {"size 0 gives an empty file",
       {},
       Package({{"empty", ""}, {"after", "z"}}),
       {},
       kGood + kOk,
       {{"empty", ""}, {"after", "z"}}},
      {"empty name: the target is the prefix alone",
       {"-destdir", "whole"},
       One("", "content"),
       {},
       kGood + kOk,
       {{"whole", "content"}}},
      {"exactly count entries, the rest unread",
       {},
       Package({{"1", "a"}, {"2", "bb"}, {"3", "ccc"}, {"4", "dddd"}}, 3) + "garbage",
       {},
       kGood + kOk,
       {{"1", "a"}, {"2", "bb"}, {"3", "ccc"}, {"4", kAbsent}}},
      {"binary content passes unchanged", {}, One("bin", binary), {}, kGood + kOk,
       {{"bin", binary}}},
      {"nested name into an existing folder",
       {"-destdir", "out/"},
       One("d/e/f.txt", "deep"),
       {{"out/d/e", kDirectory}},
       kGood + kOk,
       {{"out/d/e/f.txt", "deep"}}},
      {"target path of 256 characters fits",
       {"-destdir", "out/"},
       One(name252, "x"),
       {{"out", kDirectory}},
       kGood + kOk,
       {{"out/" + name252, "x"}}},

      // Replacing an existing file through the staged copy.
      {"replacement",
       {"-destdir", "out/"},
       One("a.txt", "new content"),
       {{"out/a.txt", "old"}},
       kGood + kOk,
       {{"out/a.txt", "new content", 0644}, {"out/a.txtTMP", kAbsent}}},
      {"replacing a read-only file leaves a writable one",
       {"-destdir", "out/"},
       One("ro", "new"),
       {{"out/ro", "old", 0444}},
       kGood + kOk,
       {{"out/ro", "new", 0644}, {"out/roTMP", kAbsent}}},
      {"an executable stays executable",
       {"-destdir", "out/"},
       One("tool", "#!/bin/sh\n"),
       {{"out/tool", "old", 0755}},
       kGood + kOk,
       {{"out/tool", "#!/bin/sh\n", 0755}, {"out/toolTMP", kAbsent}},
       false,
       0,
       Differs::kExecutableBit},
      {"a leftover staged copy is removed first",
       {"-destdir", "out/"},
       One("a", "new"),
       {{"out/a", "old"}, {"out/aTMP", "stale leftover from an earlier run"}},
       kGood + kOk,
       {{"out/a", "new"}, {"out/aTMP", kAbsent}}},
      {"replacement with size 0",
       {},
       One("a", ""),
       {{"a", "old"}},
       kGood + kOk,
       {{"a", ""}, {"aTMP", kAbsent}}},

      // Streams that end early or break the format: nothing of the entry is
      // written, entries before it stay.
      {"count cut short", {}, Le32(0x04D150DD) + Bytes({1, 0}), {},
       kGood + "Line: 131 **error reading entry count\r\n", {}},
      {"count of 0", {}, Package({{"a", "x"}}, 0), {}, kGood + "Line: 133 **package holds no entries\r\n",
       {{"a", kAbsent}}},
      {"stream ends before the first entry", {}, Package({}, 1), {},
       kGood + "Line: 146 **error reading entry header\r\n", {}},
      {"size cut short",
       {},
       Package({{"first", "1"}}, 2) + Bytes({5, 0}),
       {},
       kGood + "Line: 146 **error reading entry header\r\n",
       {{"first", "1"}}},
      {"name cut short",
       {},
       Package({{"first", "1"}}, 2) + Le32(3) + "sec",
       {{"sec", "old"}},
       kGood + "Line: 146 **error reading entry header\r\n",
       {{"first", "1"}, {"sec", "old"}}},
      {"data cut short leaves an old target as it was",
       {},
       Package({{"first", "1"}, {"second", "new content"}}).substr(0, 36),
       {{"second", "old"}},
       kGood + "Line: 167 **error reading buffer\r\n",
       {{"first", "1"}, {"second", "old"}, {"secondTMP", kAbsent}}},
      {"data cut short writes no new target",
       {},
       Package({{"f", "0123456789"}}).substr(0, 20),
       {},
       kGood + "Line: 167 **error reading buffer\r\n",
       {{"f", kAbsent}}},
      {"size beyond the stream",
       {},
       Package({{"f", "abc", 1 << 24}}),
       {},
       kGood + "Line: 167 **error reading buffer\r\n",
       {{"f", kAbsent}}},
      {"name without NUL in 260 bytes",
       {},
       Le32(0x04D150DD) + Le32(1) + Le32(1) + std::string(300, 'n'),
       {},
       kGood + "Line: 148 **entry name too long\r\n", {}},
      {"target path over 256 characters",
       {"-destdir", "out/"},
       Package({{"ok", "1"}, {name253, "x"}}),
       {{"out", kDirectory}},
       kGood + "Line: 150 target path too long for " + name253 + "\r\n",
       {{"out/ok", "1"}}},
      {"a name cannot forge the closing OK",
       {"-destdir", "out/"},
       Package({{"ok", "1"}, {name252 + "\nOK", "x"}}),
       {{"out", kDirectory}},
       kGood + "Line: 150 target path too long for " + name252 + "?OK\r\n",
       {{"out/ok", "1"}}},
      {"-destdir of 300 characters",
       {"-destdir", std::string(300, 'p')},
       One("f", "x"),
       {},
       kGood + "Line: 150 target path too long for f\r\n", {}},

      // A staged name over the 255 bytes a component may hold cannot be
      // made, nor deleted: on Windows the path is too long (206).
      {"staged name over 255 characters: direct rewrite",
       {},
       One(name253, "new"),
       {{name253, "old"}},
       kGood + "Line: 205 Could not write " + name253 + "TMP file to disk 6\r\n" +
           "Line: 210 could not delete junk 206\r\n" + "Line: 221 opened second out file\r\n" +
           kRewritten + kOk,
       {{name253, "new"}},
       false,
       0,
       Differs::kNothing,
       {},
       // Wine's lookup gives up on a name it cannot hold: not found.
       {"junk 206", "junk 2"}},

      // Failures that real conditions reach.
      {"directory as target: the staged copy is kept",
       {},
       One("d", "new"),
       {{"d", kDirectory}},
       kGood + "Line: 252 Error deleting file d error-> 5\r\n",
       {{"d", kDirectory}, {"dTMP", "new", 0644}}},
      {"directory named as the staged copy: direct rewrite",
       {},
       Package({{"a", "new"}, {"b", "next"}}),
       {{"a", "old"}, {"aTMP", kDirectory}},
       kGood + "Line: 205 Could not write aTMP file to disk 6\r\n" +
           "Line: 210 could not delete junk 5\r\n" + "Line: 221 opened second out file\r\n" +
           kRewritten + kOk,
       {{"a", "new"}, {"aTMP", kDirectory}, {"b", "next"}}},
      {"directory as target and as staged copy",
       {},
       One("d", "new"),
       {{"d", kDirectory}, {"dTMP", kDirectory}},
       kGood + "Line: 205 Could not write dTMP file to disk 6\r\n" +
           "Line: 210 could not delete junk 5\r\n" +
           "Line: 223 error opening second out file!!bail 5\r\n",
       {{"d", kDirectory}, {"dTMP", kDirectory}}},
      {"missing folder",
       {"-destdir", "missing/"},
       Package({{"f", "x"}, {"g", "y"}}),
       {},
       kGood + "Line: 181 error writing file to disk error-> 6\r\n",
       {{"missing", kAbsent}}},
      {"read-only target under a directory staged copy",
       {},
       One("ro", "new"),
       {{"ro", "old", 0444}, {"roTMP", kDirectory}},
       kGood + "Line: 205 Could not write roTMP file to disk 6\r\n" +
           "Line: 210 could not delete junk 5\r\n" +
           "Line: 223 error opening second out file!!bail 5\r\n",
       {{"ro", "old", 0444}}},

      // A volume that fills up: vol is a 1 MiB tmpfs.
      {.name = "full volume: the staged copy does not fit, the direct rewrite does",
       .args = {"-destdir", "vol/"},
       .err = kGood + "Line: 205 Could not write vol/bigTMP file to disk 112\r\n" +
              "deleted junk file\r\n" + "Line: 221 opened second out file\r\n" + kRewritten + kOk,
       .needsTmpfs = true,
       .bytes = [](UnpackCase* c) {
         c->input = Package({{"big", Half('N')}, {"next", "n"}});
         c->before = {{"vol/big", Half('o')}};
         c->after = {{"vol/big", Half('N')}, {"vol/bigTMP", kAbsent}, {"vol/next", "n"}};
       }},
      {.name = "full volume: the content does not fit at all",
       .args = {"-destdir", "vol/"},
       .before = {{"vol/big", "old"}},
       .err = kGood + "Line: 205 Could not write vol/bigTMP file to disk 112\r\n" +
              "deleted junk file\r\n" + "Line: 221 opened second out file\r\n" +
              "Line: 229 error writing file error-> 112\r\n",
       .after = {{"vol/bigTMP", kAbsent}},
       .needsTmpfs = true,
       .bytes = [](UnpackCase* c) { c->input = One("big", Huge()); }},
      {.name = "full volume: a new file that does not fit is not left partial",
       .args = {"-destdir", "vol/"},
       .err = kGood + "Line: 181 error writing file to disk error-> 112\r\n",
       .after = {{"vol/small", "s"}, {"vol/big", kAbsent}},
       .needsTmpfs = true,
       .bytes = [](UnpackCase* c) { c->input = Package({{"small", "s"}, {"big", Huge()}}); }},

      // A write that stores only part of what it was given (the volume
      // fills up in its middle) is followed by another for the rest, which
      // fails: on a volume with 88 KiB left, the staged copy of 200,000 bytes
      // does not fit, nor does the direct rewrite, and a new file is removed.
      {.name = "a nearly full volume: a short write is not taken for the whole",
       .args = {"-destdir", "vol/"},
       .before = {{"vol/g/h", std::string(50000, 'h')}},
       .err = kGood + "Line: 205 Could not write vol/g/hTMP file to disk 112\r\n" +
              "deleted junk file\r\n" + "Line: 221 opened second out file\r\n" +
              "Line: 229 error writing file error-> 112\r\n",
       .after = {{"vol/g/h", std::string(143360, 'G')}, {"vol/g/hTMP", kAbsent}},
       .needsTmpfs = true,
       .volumeBytes = 512u << 10,
       .bytes = NearlyFullVolume},
      {.name = "a nearly full volume: a new file cut short is removed",
       .args = {"-destdir", "vol/"},
       .before = {{"vol/g", kDirectory}},
       .err = kGood + "Line: 181 error writing file to disk error-> 112\r\n",
       .after = {{"vol/g/h", kAbsent}},
       .needsTmpfs = true,
       .volumeBytes = 512u << 10,
       .bytes = NearlyFullVolume},
      // A name that ends in a separator names no file: the creation fails, and
      // a user's file named like its staged copy is left alone.
      {.name = "an entry named as a folder with a separator after it",
       .args = {"-destdir", "out/"},
       .input = One("sub/", "new"),
       .before = {{"out/sub/TMP", "a user's file"}},
       .err = kGood + "Line: 181 error writing file to disk error-> 6\r\n",
       .after = {{"out/sub/TMP", "a user's file"}}},
      {.name = "an empty name after a prefix that ends in a separator",
       .args = {"-destdir", "out/"},
       .input = One("", "new"),
       .before = {{"out/TMP", "a user's file"}},
       .err = kGood + "Line: 181 error writing file to disk error-> 6\r\n",
       .after = {{"out/TMP", "a user's file"}}},

      // Replacements wait in a group for one flush; each of these rows
      // ends as the one-at-a-time order ends.
      {.name = "full volume: a staged copy that fits once the waiting old files go",
       .args = {"-destdir", "vol/"},
       .err = kGood + kOk,
       .needsTmpfs = true,
       .bytes = [](UnpackCase* c) {
         c->input = Package({{"a", Third('T')}, {"b", Third('T')}});
         c->before = {{"vol/a", Third('t')}, {"vol/b", Third('t')}};
         c->after = {{"vol/a", Third('T')}, {"vol/b", Third('T')}, {"vol/aTMP", kAbsent}, {"vol/bTMP", kAbsent}};
       }},
      {"a delete that fails in a group: later entries are not left",
       {},
       Package({{"a", "new a"}, {"n1", "1"}, {"d", "new d"}, {"n2", "2"}, {"b", "new b"}}),
       {{"a", "old a"}, {"d", kDirectory}, {"b", "old b"}},
       kGood + "Line: 252 Error deleting file d error-> 5\r\n",
       {{"a", "new a"}, {"n1", "1"}, {"dTMP", "new d"}, {"n2", kAbsent}, {"b", "old b"},
        {"bTMP", kAbsent}}},
      {"the same file by other paths: ./, .. and a second name",
       {},
       Package({{"x", "1"}, {"y", "4"}, {"./x", "2"}, {"sub/../x", "3"}, {"xTMP", "5"}}),
       {{"x", "old x"}, {"y", kSecondNameOf + "x"}, {"sub", kDirectory}},
       kGood + kOk,
       {{"x", "3"}, {"y", "4"}, {"xTMP", "5"}, {"xTMPTMP", kAbsent}, {"yTMP", kAbsent}}},

      // A flush of the staged copy that fails: only a full volume leads to
      // the direct rewrite.
      {"a flush that fails with an I/O error keeps the old file",
       {},
       Package({{"a", "new"}, {"b", "next"}}),
       {{"a", "old"}},
       kGood + "Line: 207 error flushing file aTMP error-> 1117\r\n",
       {{"a", "old"}, {"aTMP", kAbsent}, {"b", kAbsent}},
       false,
       0,
       Differs::kNothing,
       {"fsync,syncfs", "error=EIO"},
       // Wine reports an I/O error as ERROR_NOT_READY.
       {"error-> 1117", "error-> 21"}},
      {"a flush that fails for want of room: the direct rewrite",
       {},
       Package({{"a", "new"}, {"b", "next"}}),
       {{"a", "old"}},
       kGood + "Line: 205 Could not write aTMP file to disk 112\r\n" + "deleted junk file\r\n" +
           "Line: 221 opened second out file\r\n" + kRewritten + kOk,
       {{"a", "new"}, {"aTMP", kAbsent}, {"b", "next"}},
       false,
       0,
       Differs::kNothing,
       {"fsync,syncfs", "error=ENOSPC"}},

      // A leftover is never written into: here it is one more name of a
      // file that has nothing to do with the package.
      {.name = "a leftover staged copy that is a second name of another file",
       .args = {"-destdir", "out/"},
       .input = One("a", "new"),
       .before = {{"out/a", "old"}, {"precious", "precious", 0444}, {"out/aTMP", kSecondNameOf + "precious"}},
       .err = kGood + kOk,
       .after = {{"out/a", "new"}, {"precious", "precious", 0444}, {"out/aTMP", kAbsent}},
       .differs = Differs::kOtherNamesWritable},

      // Names a run was not asked to change keep their content, mode and
      // owner: the other names of a file, a user's file outside.
      {.name = "a user who may not write the folder: a second name keeps the shared content",
       .args = {"-destdir", "dest/"},
       .input = One("a.txt", "new"),
       .before = {{"other/keep.txt", "keep", 0666}, {"dest", kDirectory, 0555},
                  {"dest/a.txt", kSecondNameOf + "other/keep.txt"}},
       .err = kGood + "Line: 205 Could not write dest/a.txtTMP file to disk 6\r\n" +
              "Line: 210 could not delete junk 2\r\n" + "Line: 223 error opening second out file!!bail 5\r\n",
       .after = {{"dest/a.txt", "keep"}, {"other/keep.txt", "keep"}},
       // Windows cannot give a removed name back to its file: it removes none.
       .windows = {"bail 5", "bail 50"},
       .asUser = true},
      {.name = "no free inode: a file of two names keeps both",
       .args = {"-destdir", "vol/"},
       .input = One("a", "new"),
       .before = {{"vol/a", "old"}, {"vol/b", kSecondNameOf + "vol/a"}},
       .err = kGood + "Line: 205 Could not write vol/aTMP file to disk 6\r\n" +
              "Line: 210 could not delete junk 2\r\n" + "Line: 223 error opening second out file!!bail 112\r\n",
       .after = {{"vol/a", "old"}, {"vol/b", "old"}},
       .needsTmpfs = true,
       .volumeInodes = 3},
      {.name = "replacing a read-only file leaves its other names read-only",
       .args = {"-destdir", "dest/"},
       .input = One("a", "new"),
       .before = {{"outside/keep", "keep", 0444}, {"dest", kDirectory}, {"dest/a", kSecondNameOf + "outside/keep"}},
       .err = kGood + kOk,
       .after = {{"dest/a", "new", 0644}, {"outside/keep", "keep", 0444}},
       .differs = Differs::kOtherNamesWritable},
      {.name = "root keeps a replaced file's owner, and its set-id bits with it",
       .input = Package({{"tool", "new tool"}, {"conf", "new conf"}}),
       .before = {{"tool", "old tool", 06755, kNobody}, {"conf", "old conf", 0600, kNobody}},
       .err = kGood + kOk,
       .after = {{"tool", "new tool", 06755, kNobody}, {"conf", "new conf", 0600, kNobody}},
       .linuxOnly = true},
      {.name = "a user who is not root replaces a set-id program: the new one is the user's, without them",
       .input = One("tool", "new tool"),
       .before = {{"tool", "old tool", 06755}},
       .err = kGood + kOk,
       .after = {{"tool", "new tool", 0755, kNobody}},
       .linuxOnly = true,
       .asUser = true},

      // The direct rewrite writes over the old file, then cuts it to the new
      // length: an I/O error on its first write costs nothing of the old.
      {.name = "the direct rewrite of a longer file leaves the new content alone",
       .input = One("d", "short"),
       .before = {{"d", "a longer old content"}, {"dTMP", kDirectory}},
       .err = kGood + "Line: 205 Could not write dTMP file to disk 6\r\n" + "Line: 210 could not delete junk 5\r\n" +
              "Line: 221 opened second out file\r\n" + kRewritten + kOk,
       .after = {{"d", "short"}}},
      {.name = "an I/O error on the first write of the direct rewrite keeps the old content",
       .input = One("d", "short new"),
       .before = {{"d", "the old content of d"}, {"dTMP", kDirectory}},
       .err = kGood + "Line: 205 Could not write dTMP file to disk 6\r\n" + "Line: 210 could not delete junk 5\r\n" +
              "Line: 221 opened second out file\r\n" + "Line: 229 error writing file error-> 1117\r\n",
       .after = {{"d", "the old content of d"}},
       .fault = {"write", "error=EIO", "short new", true},
       .linuxOnly = true},
      {.name = "from a pipe, an entry over 1 MiB whose staged copy cannot be made is written over the old file",
       .before = {{"big", "old"}, {"bigTMP", kDirectory}},
       .err = kGood + "Line: 205 Could not write bigTMP file to disk 6\r\n" + "Line: 210 could not delete junk 5\r\n" +
              "Line: 221 opened second out file\r\n" + kRewritten + kOk,
       .inputOnPipe = true,
       .bytes = [](UnpackCase* c) {
         const std::string content((1u << 20) + 1, 'p');
         c->input = One("big", content);
         c->after = {{"big", content}, {"bigTMP", kDirectory}};
       }},
      // A new file that fails is taken again one at a time, after what waits.
      {.name = "a replacement, then a new file in a missing folder",
       .input = Package({{"a", "new a"}, {"missing/f", "x"}}),
       .before = {{"a", "old a"}},
       .err = kGood + "Line: 181 error writing file to disk error-> 6\r\n",
       .after = {{"a", "new a"}, {"aTMP", kAbsent}, {"missing", kAbsent}}},

      // Faults that persist: each call of a kind fails from the first on the
      // staged copy on. The direct rewrite cannot cure them, and opens the
      // old file before anything of it is lost.
      {.name = "no descriptor left from the staged copy on: the old file stays",
       .input = Package({{"a", "new"}, {"b", "next"}}),
       .before = {{"a", "old"}},
       .err = kGood + "Line: 205 Could not write aTMP file to disk 6\r\n" +
              "Line: 210 could not delete junk 2\r\n" +
              "Line: 223 error opening second out file!!bail 4\r\n",
       .after = {{"a", "old"}, {"aTMP", kAbsent}, {"b", kAbsent}},
       .fault = {"openat", "error=EMFILE", "aTMP"},
       .linuxOnly = true},
      {.name = "an I/O error creating the staged copy keeps the old file",
       .input = Package({{"a", "new"}, {"b", "next"}}),
       .before = {{"a", "old"}},
       .err = kGood + "Line: 204 error writing file aTMP error-> 1117\r\n",
       .after = {{"a", "old"}, {"aTMP", kAbsent}, {"b", kAbsent}},
       .fault = {"openat", "error=EIO", "aTMP"},
       .linuxOnly = true},
      {.name = "a replacement that fails keeps the old file under its name",
       .input = One("a", "new"),
       .before = {{"a", "old"}},
       .err = kGood + "Line: 257 error renaming file\r\n",
       .after = {{"a", "old"}, {"aTMP", "new"}},
       .fault = {"renameat2,rename", "error=EIO"},
       .linuxOnly = true},
      // Content over 64 KiB is copied from the package file: a package that
      // another program shortens meanwhile is a cut stream.
      {.name = "a package that shrinks under the copy keeps the old file",
       .input = One("big", std::string(100 << 10, 'b')),
       .before = {{"big", "old"}},
       .err = kGood + "Line: 167 **error reading buffer\r\n",
       .after = {{"big", "old"}, {"bigTMP", kAbsent}},
       .fault = {"copy_file_range", "retval=0"},
       .linuxOnly = true},

      // A link to a folder that the package replaces with a file: the
      // entries after it meet the file, in groups as one at a time.
      {.name = "a path through a replaced link meets the file",
       .input = Package({{"lnk", "file"}, {"lnk/f", "x"}}),
       .before = {{"realdir", kDirectory}, {"lnk", kSymlinkTo + "realdir"}},
       .err = kGood + "Line: 181 error writing file to disk error-> 6\r\n",
       .after = {{"lnk", "file"}, {"realdir/f", kAbsent}},
       .linuxOnly = true},
      {.name = "a file replaced through a replaced link is left as it was",
       .input = Package({{"lnk", "file"}, {"lnk/g", "new g"}}),
       .before = {{"realdir/g", "old g"}, {"lnk", kSymlinkTo + "realdir"}},
       .err = kGood + "Line: 181 error writing file to disk error-> 6\r\n",
       .after = {{"lnk", "file"}, {"realdir/g", "old g"}, {"realdir/gTMP", kAbsent}},
       .linuxOnly = true},

      // On Linux * ? < > " are characters of a name like any other.
      {.name = "names with wildcard characters are names",
       .input = Package({{"*", "star"}, {"notes?", "q"}, {"*.txt", "t"}, {"a<", "lt"}}),
       .before = {{"notes", "n"}, {"a.txt", "a"}},
       .err = kGood + kOk,
       .after = {{"*", "star"}, {"notes?", "q"}, {"*.txt", "t"}, {"a<", "lt"}, {"notes", "n"},
                 {"a.txt", "a"}, {"*TMP", kAbsent}},
       .linuxOnly = true},
      {.name = "names of < characters among long names",
       .input = LongNamesThenPatterns(),
       .err = kGood + kOk,
       .after = {{std::string(240, '<') + "Z29", "p"}, {std::string(247, 'n') + "299", "f"}},
       .linuxOnly = true},

      // Memory: an entry larger than the address space allowed. From a pipe
      // it must be held whole; from a file the package's size refuses it
      // first, and content that is there is copied without being held.
      // From a pipe, a large entry is written as it comes, whatever its size:
      // nothing is allocated, on the 32-bit Windows build either.
      {"a size of 4 GiB from a pipe whose content is short",
       {},
       Package({{"first", "1"}, {"huge", "x", 0xFFFFFFF0}}),
       {},
       kGood + "Line: 167 **error reading buffer\r\n",
       {{"first", "1"}, {"huge", kAbsent}},
       false,
       256u << 20,
       Differs::kNothing,
       {},
       {nullptr, nullptr},
       true},
      {"content beyond the package file, refused before it is allocated",
       {},
       Package({{"first", "1"}, {"huge", "x", 0xFFFFFFF0}}),
       {},
       kGood + "Line: 167 **error reading buffer\r\n",
       {{"first", "1"}, {"huge", kAbsent}},
       false,
       256u << 20},
      {.name = "entries larger than the address space, from a pipe",
       .before = {{"old", "old"}},
       .err = kGood + kOk,
       .addressLimit = 8u << 20,
       .inputOnPipe = true,
       .bytes = TwoLargeEntries},
      // A group holds at most 3 MiB of content from a pipe: twelve entries of
      // 1 MiB, read whole, never wait together.
      {.name = "replacements from a pipe held within the group's bound",
       .err = kGood + kOk,
       .addressLimit = 14u << 20,
       .inputOnPipe = true,
       .bytes = [](UnpackCase* c) {
         const std::vector<PackEntry> twelve = TwelveOfOneMiB();
         c->input = Package(twelve);
         for (const PackEntry& e : twelve) c->before.push_back({e.name, "old"});
         c->after = {{"r0", twelve[0].data}, {"r11", twelve[11].data}};
       }},
      // Content of over 1 MiB from a pipe is not at hand again for the direct
      // rewrite once its flush fails for want of room.
      {.name = "a flush that fails for want of room, content written as it came: the old file stays",
       .before = {{"big", "old"}},
       .err = kGood + "Line: 207 error flushing file bigTMP error-> 112\r\n",
       .after = {{"big", "old"}, {"bigTMP", kAbsent}, {"next", kAbsent}},
       .fault = {"fsync,syncfs", "error=ENOSPC"},
       .inputOnPipe = true,
       .bytes = [](UnpackCase* c) { c->input = Package({{"big", Large(3u << 20)}, {"next", "n"}}); }},
      {.name = "a pipe cut inside a large new entry removes it",
       .err = kGood + "Line: 167 **error reading buffer\r\n",
       .after = {{"big", kAbsent}},
       .inputOnPipe = true,
       .bytes = LargeEntryCut},
      {.name = "a pipe cut inside a large replacement keeps the old file",
       .before = {{"big", "old"}},
       .err = kGood + "Line: 167 **error reading buffer\r\n",
       .after = {{"big", "old"}, {"bigTMP", kAbsent}},
       .inputOnPipe = true,
       .bytes = LargeEntryCut},
      // The staged copy fills the volume halfway through content that comes
      // from a pipe: what was written is read back, the rest comes from the
      // stream, and only then is the old file written over.
      {.name = "a staged copy that fills the volume halfway, from a pipe: the direct rewrite",
       .args = {"-destdir", "vol/"},
       .err = kGood + "Line: 205 Could not write vol/bigTMP file to disk 112\r\n" +
              "deleted junk file\r\n" + "Line: 221 opened second out file\r\n" + kRewritten + kOk,
       .needsTmpfs = true,
       .inputOnPipe = true,
       .volumeBytes = 4u << 20,
       .bytes = [](UnpackCase* c) {
         c->input = Package({{"big", Large(3u << 20)}, {"next", "n"}});
         c->before = {{"vol/big", std::string(5u << 19, 'o')}};
         c->after = {{"vol/big", Large(3u << 20)}, {"vol/bigTMP", kAbsent}, {"vol/next", "n"}};
       }},
      {.name = "a staged copy that fills the volume, then a cut pipe: the old file stays",
       .args = {"-destdir", "vol/"},
       .err = kGood + "Line: 167 **error reading buffer\r\n",
       .after = {{"vol/bigTMP", kAbsent}},
       .needsTmpfs = true,
       .inputOnPipe = true,
       .volumeBytes = 4u << 20,
       .bytes = [](UnpackCase* c) {
         c->input = Package({{"big", Large(3u << 20)}}).substr(0, 5u << 19);
         c->before = {{"vol/big", std::string(5u << 19, 'o')}};
         c->after.push_back({"vol/big", std::string(5u << 19, 'o')});
       }},
      {.name = "entries larger than the address space, from a file",
       .before = {{"old", "old"}},
       .err = kGood + kOk,
       .addressLimit = 8u << 20,
       .bytes = TwoLargeEntries},
  };
}

}  // namespace

const std::vector<UnpackCase>& UnpackCases() {
  static const std::vector<UnpackCase> cases = MakeCases();
  return cases;
}

UnpackCase Filled(const UnpackCase& c) {
  UnpackCase full = c;
  if (c.bytes) c.bytes(&full);
  return full;
}
