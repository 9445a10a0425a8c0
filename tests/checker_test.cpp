// The checker in process: the conversion of -required values, and the main
// routine over a volume whose free count the test chooses (the platform's
// statvfs is swapped through the seam), so that counts beyond 32 bits need
// no large disk.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <string>
#include <vector>

#include "checker/vellomar.h"
#include "platform/posix_calls.h"
#include "tests/seam.h"
#include "tests/harness.h"

namespace {

TEST(ParseRequiredTest, Conversion) {
  const struct {
    const char* name;
    const char* text;
    uint64_t value;
  } rows[] = {
      {"zero", "0", 0},
      {"plain", "500", 500},
      {"empty", "", 0},
      {"letters", "abc", 0},
      {"an option name", "-free", 0},
      {"sign alone", "-", 0},
      {"plus alone", "+", 0},
      {"two signs", "+-5", 0},
      {"two minus signs", "--5", 0},
      {"sign after white space", " -5", 0 - (uint64_t)5},
      {"white space then digits", " \t\n\v\f\r42", 42},
      {"white space after the sign stops", "- 5", 0},
      {"white space alone", " \t ", 0},
      {"leading plus with trailing text", "  +12x", 12},
      {"stops at the first non-digit", "12 34", 12},
      {"a decimal point stops", "1.5e9", 1},
      {"minus zero", "\t-0", 0},
      {"minus one is the largest value", "-1", UINT64_MAX},
      {"minus 2^63", "-9223372036854775808", (uint64_t)1 << 63},
      {"2^32 is not truncated", "4294967296", (uint64_t)1 << 32},
      {"2^32 - 1", "4294967295", 0xFFFFFFFFu},
      {"2^32 + 100", "4294967396", ((uint64_t)1 << 32) + 100},
      {"largest value", "18446744073709551615", UINT64_MAX},
      {"2^64 wraps to 0", "18446744073709551616", 0},
      {"2^64 + 1 wraps to 1", "18446744073709551617", 1},
      {"minus 2^64 wraps to 0", "-18446744073709551616", 0},
      {"20 nines wrap", "99999999999999999999", 7766279631452241919u},
      {"25 digits wrap", "1234567890123456789012345", 1096246371337559929u},
      {"30 digits of leading zeros", "000000000000000000000000001024", 1024},
      {"10^20 wraps", "100000000000000000000", 7766279631452241920u},
      {"minus 20 nines", "-99999999999999999999", 10680464442257309697u},
      {"line feed then minus", "\n-2", UINT64_MAX - 1},
      {"non-ASCII byte stops", "7\xC2\xB2", 7},
      {"non-ASCII byte is not white space", "\xA0" "7", 0},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ParseRequired(row.text), row.value) << row.name << ": \"" << Visible(row.text) << "\"";
}

TEST(ParseRequiredTest, NullGivesZero) { EXPECT_EQ(ParseRequired(nullptr), 0u); }

// The volume the swapped statvfs reports, and the path it was asked about.
uint64_t g_fakeFree = 0;
uint64_t g_fakeAvailable = 0;
bool g_fakeFails = false;
std::string g_queried;

int FakeStatvfs(const char* path, struct statvfs* st) {
  g_queried = path;
  if (g_fakeFails) {
    errno = ENOENT;
    return -1;
  }
  memset(st, 0, sizeof *st);
  st->f_frsize = 1;
  st->f_bsize = 1;
  st->f_bfree = g_fakeFree;
  st->f_bavail = g_fakeAvailable;
  st->f_blocks = g_fakeFree;
  return 0;
}

struct InProcessRow {
  const char* name;
  std::vector<std::string> args;
  uint64_t free;   // the volume's free bytes
  bool fails;      // the volume cannot be queried
  std::string out;
  int status;
  std::string queried;  // the path statvfs was given; empty when not queried
  // The bytes available to the user, when fewer than the free bytes (root's
  // reserve on ext4).
  uint64_t available = UINT64_MAX;
};

// Runs the main routine with `args` and returns what it wrote.
std::string RunWith(const std::vector<std::string>& args, int* status) {
  std::vector<std::string> storage = {"Vellomar"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Capture out;
  *status = RunVellomar((int)storage.size(), argv.data(), out.stream());
  return out.text();
}

TEST(RunVellomarTest, Rows) {
  const uint64_t big = ((uint64_t)1 << 32) + 100;
  const std::string drive300(300, 'd');
  const InProcessRow rows[] = {
      {"the report carries the full 64-bit count", {"-free"}, big, false,
       "Vellomar - drive C:\\ has 4294967396 bytes free\n", 1, "/"},
      {"2^32 + 100 free is more than 100", {"-required", "101"}, big, false, "OK\n", 0, "/"},
      {"2^32 + 100 free is enough for 2^32 + 100", {"-required", "4294967396"}, big, false, "OK\n", 0,
       "/"},
      {"2^32 + 100 free is not enough for 2^32 + 101", {"-required", "4294967397"}, big, false,
       "Vellomar - not enough free space ( 4294967396 bytes )\n", 1, "/"},
      {"largest count", {"-free", "-required", "-1"}, UINT64_MAX, false,
       "Vellomar - drive C:\\ has 18446744073709551615 bytes free\nOK\n", 0, "/"},
      {"nothing free, nothing required", {"-required", "0"}, 0, false, "OK\n", 0, "/"},
      {"nothing free, one byte required", {"-required", "1"}, 0, false,
       "Vellomar - not enough free space ( 0 bytes )\n", 1, "/"},
      {"c: is the root", {"-drive", "c:", "-free"}, 7, false, "Vellomar - drive c: has 7 bytes free\n",
       1, "/"},
      {"D:/ is the root", {"-drive", "D:/", "-required", "7"}, 7, false, "OK\n", 0, "/"},
      {"any other path is queried as it stands", {"-drive", "C:\\x", "-required", "0"}, 7, false, "OK\n",
       0, "C:\\x"},
      {"a volume that cannot be queried", {"-drive", "gone", "-free"}, 0, true,
       "Vellomar - can't access drive \"gone\"\n", 1, "gone"},
      {"a 300-character -drive is never queried", {"-drive", drive300, "-free"}, 7, false,
       "Vellomar - drive path longer than 259 characters\n", 1, ""},
      {"the volume's free bytes decide, not those available to the user",
       {"-free", "-required", "80"}, 100, false, "Vellomar - drive C:\\ has 100 bytes free\nOK\n", 0,
       "/", 50},
      {"usage is never queried", {"-free", "-help"}, 7, false,
       "Vellomar [-drive <drive>] [-required <bytes>] [-find <file>] [-free] [-help]\n", 1, ""},
  };
  for (const InProcessRow& row : rows) {
    SeamGuard guard;
    g_posix.statvfs = FakeStatvfs;
    g_posix.stat = [](const char*, struct stat* st) { return st->st_mode = S_IFDIR, 0; };
    g_fakeFree = row.free;
    g_fakeAvailable = std::min(row.free, row.available);
    g_fakeFails = row.fails;
    g_queried.clear();
    int status = -1;
    std::string out = RunWith(row.args, &status);
    EXPECT_EQ(Visible(out), Visible(row.out)) << row.name;
    EXPECT_EQ(status, row.status) << row.name;
    EXPECT_EQ(g_queried, row.queried) << row.name;
  }
}

TEST(RunVellomarTest, NoArgumentsAtAll) {
  // A caller that passes no program name either gets the usage line.
  char* argv[] = {nullptr};
  Capture out;
  EXPECT_EQ(RunVellomar(0, argv, out.stream()), 1);
  EXPECT_EQ(out.text(), "Vellomar [-drive <drive>] [-required <bytes>] [-find <file>] [-free] [-help]\n");
}

}  // namespace
