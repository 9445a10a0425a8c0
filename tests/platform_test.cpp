// The POSIX side of the platform layer: the Win32 contract it keeps.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix_calls.h"
#include "platform/wildcard.h"
#include "tests/memfs/memfs.h"
#include "tests/harness.h"
#include "tests/seam.h"

namespace {

TEST(PlatformTest, FindFirstFileTellsPresence) {
  ScratchDir dir;
  WriteFile(dir / "a.txt", "");
  WriteFile(dir / "b.log", "");
  WriteFile(dir / "[x]", "");
  MakeDirs(dir / "sub");
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  const struct {
    const char* pattern;
    bool present;
    DWORD error;  // when absent
  } rows[] = {
      {"a.txt", true, 0},       {"A.TXT", false, 2},      {"*.txt", true, 0},
      {"?.log", true, 0},       {"??.log", true, 0},     {"*", true, 0},
      {"a*t", true, 0},         {"c*", false, 2},         {"[x]", true, 0},
      {"[*", true, 0},          {"[a]*", false, 2},       {"sub", true, 0},
      {"dangling", true, 0},    {"a.txt/", false, 2},     {"missing/a", false, 3},
      {"missing/*", false, 3},  {"sub/*", true, 0},       {"", false, 2},
  };
  for (const auto& row : rows) {
    std::string path = row.pattern[0] ? dir / row.pattern : dir.path() + "/";
    WIN32_FIND_DATAA data;
    SetLastError(0);
    HANDLE h = FindFirstFileA(path.c_str(), &data);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, row.present) << row.pattern;
    if (h != INVALID_HANDLE_VALUE)
      EXPECT_TRUE(FindClose(h));
    else
      EXPECT_EQ(GetLastError(), row.error) << row.pattern;
  }
}

// However the wildcards are placed, matching looks at each pair of positions
// in the pattern and a name a bounded number of times: no name in a folder
// can make a search slow. 200 names of 250 characters against patterns of
// 240 wildcards, each of which could match in many ways.
TEST(PlatformTest, MatchingTakesPatternTimesNameSteps) {
  ScratchDir dir;
  for (int i = 100; i < 300; ++i) WriteFile(dir / (std::string(247, 'n') + std::to_string(i)), "");
  for (char wildcard : {'<', '*', '>', '?'}) {
    const std::string pattern = std::string(240, wildcard) + "Z";
    const unsigned long long before = MatchingSteps();
    EXPECT_EQ(FindFirstFileA((dir / pattern).c_str(), nullptr), INVALID_HANDLE_VALUE) << wildcard;
    // Three looks per pair: its own, and one from each neighbour.
    EXPECT_LE(MatchingSteps() - before, 3ull * 202 * (pattern.size() + 1) * 251) << wildcard;
  }
}

TEST(PlatformTest, FileCallsKeepTheWin32Contract) {
  ScratchDir dir;
  WriteFile(dir / "ro", "old", 0444);
  WriteFile(dir / "exe", "x", 0755);
  WriteFile(dir / "other", "o");
  MakeDirs(dir / "d");

  SetLastError(0);
  EXPECT_EQ(CreateFileA((dir / "ro").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 5u) << "a read-only file is not opened for writing";
  EXPECT_EQ(CreateFileA((dir / "d").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 5u) << "nor a directory";
  EXPECT_EQ(CreateFileA((dir / "no/f").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 3u);
  EXPECT_EQ(CreateFileA((dir / "other").c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 80u) << "a create that must be new";
  // A pipe with a reader opens for writing; what is opened is looked at,
  // and refused, before anything is truncated or written.
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  const int reader = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
  for (DWORD disposition : {CREATE_ALWAYS, OPEN_EXISTING}) {
    EXPECT_EQ(CreateFileA((dir / "fifo").c_str(), GENERIC_WRITE, 0, NULL, disposition, 0, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 5u) << "a pipe is not a file to write";
  }
  close(reader);
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 0, NULL, NULL));
  EXPECT_EQ(GetLastError(), 6u);

  EXPECT_FALSE(DeleteFileA((dir / "ro").c_str()));
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_FALSE(DeleteFileA((dir / "d").c_str()));
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_FALSE(MoveFileA((dir / "exe").c_str(), (dir / "other").c_str()));
  EXPECT_EQ(GetLastError(), 183u) << "never replaces";
  EXPECT_EQ(ReadFile(dir / "other"), "o");

  DWORD ro = GetFileAttributesA((dir / "ro").c_str());
  EXPECT_EQ(ro & 0xFFFF, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(GetFileAttributesA((dir / "d").c_str()) & 0xFFFF, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA((dir / "other").c_str()) & 0xFFFF, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesA((dir / "none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(SetFileAttributesA((dir / "ro").c_str(), ro & ~FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ModeOf(dir / "ro"), 0644u) << "clearing read-only gives owner write back";
  EXPECT_TRUE(SetFileAttributesA((dir / "other").c_str(), GetFileAttributesA((dir / "exe").c_str())));
  EXPECT_EQ(ModeOf(dir / "other"), 0755u) << "the word carries the permission bits";
  EXPECT_TRUE(SetFileAttributesA((dir / "other").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ModeOf(dir / "other"), 0555u);
  EXPECT_FALSE(SetFileAttributesA((dir / "other").c_str(), INVALID_FILE_ATTRIBUTES & ~1u));
}

TEST(PlatformTest, FullDeviceGivesDiskFull) {
  HANDLE h = CreateFileA("/dev/full", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 1;
  EXPECT_FALSE(WriteFile(h, "abc", 3, &written, NULL));
  EXPECT_EQ(GetLastError(), 112u);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(PlatformTest, TextStreamPutsCarriageReturnBeforeLineFeed) {
  ScratchDir dir;
  FILE* file = fopen((dir / "out").c_str(), "w");
  FILE* text = OpenTextStream(file);
  ASSERT_NE(text, nullptr);
  fputs("a\nb\r\n\n", text);
  fputs(std::string(20000, '\n').c_str(), text);
  fclose(text);
  fclose(file);
  std::string expected = "a\r\nb\r\r\n\r\n";
  for (int i = 0; i < 20000; ++i) expected += "\r\n";
  EXPECT_TRUE(ReadFile(dir / "out") == expected);
}

TEST(PlatformTest, DriveRootsNameTheRootFileSystem) {
  struct statvfs root;
  ASSERT_EQ(statvfs("/", &root), 0);
  for (const char* path : {"C:\\", "c:", "D:/", "/"}) {
    ULARGE_INTEGER total;
    EXPECT_TRUE(GetDiskFreeSpaceExA(path, NULL, &total, NULL)) << path;
    EXPECT_EQ(total.QuadPart, (unsigned long long)root.f_blocks * root.f_frsize) << path;
  }
  ULARGE_INTEGER free;
  EXPECT_FALSE(GetDiskFreeSpaceExA("C:\\x", NULL, NULL, &free)) << "not a bare root";
  EXPECT_FALSE(GetDiskFreeSpaceExA("C:\\\\", NULL, NULL, &free));
}

TEST(PlatformTest, LocalAllocGivesABlockForZeroBytes) {
  HLOCAL block = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_NE(block, nullptr);
  EXPECT_EQ(LocalFree(block), nullptr);
  SeamGuard guard({FailCall("malloc", ENOMEM)});
  SetLastError(0);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, 10), nullptr);
  EXPECT_EQ(GetLastError(), 8u);
}

// The places of the slots of a system-call table that hold nothing. Every
// member of the table is a function pointer.
std::vector<size_t> EmptySlots(const PosixCalls& calls) {
  using Slot = void (*)();
  static_assert(sizeof(PosixCalls) % sizeof(Slot) == 0, "the table holds function pointers only");
  Slot slots[sizeof(PosixCalls) / sizeof(Slot)];
  memcpy(slots, &calls, sizeof slots);
  std::vector<size_t> empty;
  for (size_t i = 0; i < sizeof slots / sizeof *slots; ++i)
    if (!slots[i]) empty.push_back(i);
  return empty;
}

TEST(SystemCallTable, NoSlotIsLeftEmpty) {
  EXPECT_EQ(EmptySlots(g_posix), std::vector<size_t>()) << "the system's table";
  SeamGuard guard;
  MemFsInstall();
  EXPECT_EQ(EmptySlots(g_posix), std::vector<size_t>()) << "the in-memory file system's";
  MemFsUninstall();
}

}  // namespace
