// Installation and the driver in process, for the roads no real condition
// reaches: the platform's system calls are swapped through the seam, and the
// package comes from a stream that fails on demand.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>

#include "extractor/group.h"
#include "extractor/install.h"
#include "extractor/unpack.h"
#include "platform/posix_calls.h"
#include "tests/seam.h"
#include "tests/harness.h"

namespace {

// The content the rows install, from memory.
const Content kNew = {(const BYTE*)"new", INVALID_HANDLE_VALUE, 0, 3};

// Calls the seam records, in order, for the ordering checks.
std::vector<std::string>* g_calls;

struct SeamCase {
  const char* name;
  std::vector<FailCall> faults;
  std::string log;
  std::string target;          // content afterwards
  std::string temp;            // content of target + "TMP" afterwards
  BOOL result;
};

std::vector<SeamCase> SeamCases() {
  return {
      {"a replacement that fails with an I/O error keeps the old file", {FailCall("rename", EIO)},
       "Line: 257 error renaming file\r\n", "old", "new", FALSE},
      {"a replacement refused keeps the old file, nothing deleted", {FailCall("rename", EPERM)},
       "Line: 252 Error deleting file t error-> 5\r\n", "old", "new", FALSE},
      {"where one step is not supported, the delete and the rename", {FailCall("rename", EINVAL)}, "",
       "new", "<absent>", TRUE},
      {"and a rename that then fails leaves the name empty",
       {FailCall("rename", EINVAL), FailCall("rename_noreplace", EIO)},
       "Line: 257 error renaming file\r\n", "<absent>", "new", FALSE},
      {"a staged copy that cannot be created for an I/O error keeps the old file",
       {FailCall("open", EIO).From("TMP")},
       "Line: 204 error writing file tTMP error-> 1117\r\n", "old", "<absent>", FALSE},
      {"no descriptor left from the staged copy on: the old file stays", {FailCall("open", EMFILE).From("TMP")},
       "Line: 205 Could not write tTMP file to disk 6\r\nLine: 210 could not delete junk 2\r\n"
       "Line: 223 error opening second out file!!bail 4\r\n",
       "old", "<absent>", FALSE},
      {"a staged copy over the quota takes the direct rewrite", {FailCall("write", EDQUOT).Once()},
       "Line: 205 Could not write tTMP file to disk 1295\r\ndeleted junk file\r\n"
       "Line: 221 opened second out file\r\n"
       "This statement only appears when  the DOC file was deleted and no temp filel\r\n"
       "was on the DOC special case where file > 1/2 the DOC.\r\n",
       "new", "<absent>", TRUE},
      {"a flush that fails for want of room leads to the direct rewrite", {FailCall("fsync", ENOSPC)},
       "Line: 205 Could not write tTMP file to disk 112\r\ndeleted junk file\r\n"
       "Line: 221 opened second out file\r\n"
       "This statement only appears when  the DOC file was deleted and no temp filel\r\n"
       "was on the DOC special case where file > 1/2 the DOC.\r\n",
       "new", "<absent>", TRUE},
      {"a staged copy that cannot be written for an I/O error leaves the old file alone",
       {FailCall("write", EIO)}, "Line: 204 error writing file tTMP error-> 1117\r\n", "old", "<absent>", FALSE},
      {"a staged copy too large for the file size limit leaves the old file alone",
       {FailCall("write", EFBIG)}, "Line: 204 error writing file tTMP error-> 223\r\n", "old", "<absent>", FALSE},
      {"a presence test that fails does not put the old file at risk",
       {FailCall("lstat", EIO).Once(), FailCall("write", EIO)},
       "Line: 204 error writing file tTMP error-> 1117\r\n", "old", "<absent>", FALSE},
      {"a flush that fails with an I/O error leaves the old file alone", {FailCall("fsync", EIO)},
       "Line: 207 error flushing file tTMP error-> 1117\r\n", "old", "<absent>", FALSE},
      {"without a one-step replace, an old file that cannot be deleted",
       {FailCall("rename", EINVAL), FailCall("unlink", EBUSY)},
       "Line: 252 Error deleting file t error-> 32\r\n", "old", "new", FALSE},
  };
}

TEST(InstallSeamTest, Table) {
  for (const SeamCase& c : SeamCases()) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::string target = dir / "t";
    WriteFile(target, "old");
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    Capture log;
    BOOL result;
    {
      SeamGuard guard(c.faults);
      result = InstallEntry("t", kNew, log.stream());
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Visible(log.text()), Visible(c.log));
    EXPECT_EQ(ReadFile(target), c.target);
    EXPECT_EQ(ReadFile(target + "TMP"), c.temp);
    ASSERT_EQ(chdir("/"), 0);
  }
}

// A package on a real file, as standard input is when redirected from one.
FILE* PackageFile(const std::string& bytes) {
  FILE* f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  rewind(f);
  return f;
}

// The seam's record of a run: "write NAME", "fsync NAME", "syncfs NAME",
// "start NAME" (the name the descriptor was opened with), "unlink NAME",
// "replace FROM TO", names relative to the scratch folder. Each call goes on
// to the table as it stood before, faults and all.
std::map<int, std::string> g_opened;
long long g_unwritten;  // what the system holds unwritten, as the seam says
PosixCalls g_below;
std::string Name(const char* path) { return strrchr(path, '/') + 1; }

void RecordFlushOrder() {
  g_below = g_posix;
  g_posix.open = [](const char* p, int flags, mode_t mode) {
    int fd = g_below.open(p, flags, mode);
    if (fd >= 0) g_opened[fd] = Name(p);
    return fd;
  };
  g_posix.write = [](int fd, const void* data, size_t n) {
    return g_calls->push_back("write " + g_opened[fd]), g_below.write(fd, data, n);
  };
  g_posix.fsync = [](int fd) { return g_calls->push_back("fsync " + g_opened[fd]), g_below.fsync(fd); };
  g_posix.syncfs = [](int fd) { return g_calls->push_back("syncfs " + g_opened[fd]), g_below.syncfs(fd); };
  g_posix.start_writeback = [](int fd) { return g_calls->push_back("start " + g_opened[fd]), 0; };
  g_posix.unwritten_bytes = [] { return g_unwritten; };
  g_posix.unlink = [](const char* p) { return g_calls->push_back("unlink " + Name(p)), g_below.unlink(p); };
  g_posix.rename = [](const char* from, const char* to) {
    g_calls->push_back("replace " + Name(from) + " " + Name(to));
    return g_below.rename(from, to);
  };
}

// Every staged copy is on stable storage before its old file goes: one
// entry at a time, each is flushed; a small group starts the writes of its
// copies together, then flushes each; a large one flushes the volume once
// after the last staged copy is written and before the first old file goes,
// unless others' unwritten data would make it wait (or that flush fails):
// then it flushes its own.
TEST(InstallSeamTest, StagedCopiesAreFlushedBeforeTheOldFilesGo) {
  const std::vector<std::string> commits = {"replace aTMP a", "replace bTMP b", "replace cTMP c"};
  auto Then = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<std::string> written = {"write aTMP", "write new", "write bTMP", "write cTMP"};
  const std::vector<std::string> own = {"start aTMP", "start bTMP", "start cTMP",
                                        "fsync aTMP", "fsync bTMP", "fsync cTMP"};
  const std::vector<PackEntry> mixed = {{"a", "A"}, {"new", "N"}, {"b", "B"}, {"c", "C"}};
  const GroupLimits large = {512, 64 << 20, 0};
  const long long kQuiet = 0, kBusy = 1ll << 30;
  const struct {
    const char* name;
    GroupLimits limits;
    long long unwritten;
    std::vector<FailCall> faults;
    std::vector<PackEntry> entries;  // a, b, c, x stand before
    std::vector<std::string> calls;
  } rows[] = {
      {"one at a time", {1, 0, 0}, kQuiet, {}, mixed,
       {"write aTMP", "fsync aTMP", "replace aTMP a", "write new", "write bTMP", "fsync bTMP",
        "replace bTMP b", "write cTMP", "fsync cTMP", "replace cTMP c"}},
      {"in one small group", kDefaultGroupLimits, kQuiet, {}, mixed, Then(Then(written, own), commits)},
      {"in one large group", large, kQuiet, {}, mixed, Then(Then(written, {"syncfs aTMP"}), commits)},
      {"in one large group, the volume's flush failing", large, kQuiet, {FailCall("syncfs", EIO)}, mixed,
       Then(Then(Then(written, {"syncfs aTMP"}), own), commits)},
      {"in one large group, others' unwritten data", large, kBusy, {}, mixed,
       Then(Then(written, own), commits)},
      {"in one large group, unwritten data unknown", large, -1, {}, mixed, Then(Then(written, own), commits)},
      // The entry xTMP names the staged copy of x: x is committed first, and
      // xTMP is then a new file, as one at a time. A group of one staged
      // copy flushes it alone.
      {"a waiting staged copy is a file of the group", large, kQuiet, {}, {{"x", "X"}, {"xTMP", "T"}},
       {"write xTMP", "syncfs xTMP", "replace xTMP x", "write xTMP"}},
      {"a group of one", kDefaultGroupLimits, kBusy, {}, {{"x", "X"}, {"xTMP", "T"}},
       {"write xTMP", "fsync xTMP", "replace xTMP x", "write xTMP"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    for (const char* name : {"a", "b", "c", "x"}) WriteFile(dir / name, "old");
    const std::string prefix = dir.path() + "/";
    char* argv[] = {(char*)"unpack", (char*)"-destdir", (char*)prefix.c_str(), nullptr};
    FILE* in = PackageFile(Package(row.entries));
    std::vector<std::string> calls;
    g_calls = &calls;
    Capture log;
    {
      SeamGuard guard(row.faults);
      RecordFlushOrder();
      g_unwritten = row.unwritten;
      RunUnpack(3, argv, in, log.stream(), &row.limits);
    }
    fclose(in);
    EXPECT_EQ(calls, row.calls);
    for (const PackEntry& e : row.entries) EXPECT_EQ(ReadFile(dir / e.name), e.data);
  }
}

struct DriverCase {
  const char* name;
  size_t good;  // bytes the stream delivers before it fails
  std::string log;
};

TEST(DriverStreamErrorTest, Table) {
  const std::string package = Package({{"a", "first"}, {"b", "second entry"}});
  const DriverCase cases[] = {
      {"error in the middle of the data", package.size() - 4,
       "Good Magic Number. 80826589\r\nLine: 167 **error reading buffer\r\n"},
      {"error in the second header", 8 + 4 + 2 + 5 + 2,
       "Good Magic Number. 80826589\r\nLine: 146 **error reading entry header\r\n"},
      {"error in the count", 6, "Good Magic Number. 80826589\r\nLine: 131 **error reading entry count\r\n"},
  };
  for (const DriverCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::string prefix = dir.path() + "/";
    char* argv[] = {(char*)"unpack", (char*)"-destdir", (char*)prefix.c_str(), nullptr};
    FailingSource failing{package, c.good};
    FILE* in = OpenFailingSource(&failing);
    Capture log;
    EXPECT_EQ(RunUnpack(3, argv, in, log.stream()), 0);
    fclose(in);
    EXPECT_EQ(Visible(log.text()), Visible(c.log));
    EXPECT_EQ(ReadFile(dir / "b"), "<absent>");
  }
}

}  // namespace
