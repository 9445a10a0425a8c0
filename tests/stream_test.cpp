// The read primitives and the entry header, on in-memory streams and on a
// stream that fails on demand.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include "extractor/stream.h"
#include "format/reader.h"
#include "tests/harness.h"

namespace {

// A stream that delivers `data` and then, when `fails`, reports a read error
// instead of the end of the stream.
struct ReadCase {
  const char* name;
  std::string data;
  bool fails;
  bool full;        // StreamReadFull rather than StreamRead
  DWORD n;
  int calls;        // how many times in a row
  BOOL result;      // of the last call
  DWORD count;      // of the last call
  std::string got;  // all bytes stored, in order
};

const ReadCase kReads[] = {
    {"read 4 of 3 left", "abc", false, false, 4, 1, TRUE, 3, "abc"},
    {"read after the end", "abc", false, false, 4, 2, TRUE, 0, "abc"},
    {"read 0", "abc", false, false, 0, 1, TRUE, 0, ""},
    {"read error", "ab", true, false, 4, 1, FALSE, 2, "ab"},
    {"read again after an error", "ab", true, false, 4, 2, FALSE, 0, "ab"},
    {"full 10 of 6 left", "abcdef", false, true, 10, 1, TRUE, 6, "abcdef"},
    {"full 0 reads nothing", "abcdef", false, true, 0, 1, TRUE, 0, ""},
    {"full exactly", "abcdef", false, true, 6, 1, TRUE, 6, "abcdef"},
    {"full fails in the middle", "abcde", true, true, 10, 1, FALSE, 5, "abcde"},
};

TEST(StreamReadTest, Table) {
  for (const ReadCase& c : kReads) {
    SCOPED_TRACE(c.name);
    FailingSource source{c.data, c.fails ? c.data.size() : std::string::npos};
    FILE* f = OpenFailingSource(&source);
    std::string got;
    BOOL result = FALSE;
    DWORD count = 12345;
    for (int i = 0; i < c.calls; ++i) {
      std::string buf(c.n, '\0');
      result = c.full ? StreamReadFull(f, &buf[0], c.n, &count) : StreamRead(f, &buf[0], c.n, &count);
      got += buf.substr(0, count);
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(got, c.got);
    EXPECT_FALSE(ferror(f)) << "a failed read clears the error indicator";
    fclose(f);
  }
}

TEST(StreamReadTest, NullStreamFailsWithInvalidHandle) {
  char buf[4];
  DWORD count = 7;
  SetLastError(0);
  EXPECT_FALSE(StreamRead(nullptr, buf, 4, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(GetLastError(), 6u);
  SetLastError(0);
  EXPECT_FALSE(StreamReadFull(nullptr, buf, 4, &count));
  EXPECT_EQ(GetLastError(), 6u);
  EXPECT_TRUE(StreamRead(fmemopen(buf, 4, "r"), buf, 0, nullptr)) << "count is optional";
}

struct HeaderCase {
  const char* name;
  std::string data;
  FormatRead result;
  uint32_t size;
  std::string entryName;
  std::string rest;  // what the stream still holds afterwards
};

std::string Stream(std::initializer_list<std::string> parts) {
  std::string s;
  for (const std::string& p : parts) s += p;
  return s;
}

const std::string kName259(259, 'n');

const HeaderCase kHeaders[] = {
    {"plain", Stream({Le32(5), "a.txt", std::string(1, '\0'), "hello"}), kFormatComplete, 5, "a.txt",
     "hello"},
    {"empty name", Stream({Le32(0), std::string(1, '\0'), "next"}), kFormatComplete, 0, "", "next"},
    {"name of 259 characters", Stream({Le32(1), kName259, std::string(1, '\0'), "x"}),
     kFormatComplete, 1, kName259, "x"},
    {"name of 260 characters", Stream({Le32(1), kName259 + "n", std::string(1, '\0')}),
     kFormatNameTooLong, 1, "", std::string(1, '\0')},
    {"nothing at all", "", kFormatEnded, 0, "", ""},
    {"size cut", "\x05\x00", kFormatCut, 0, "", ""},
    {"name cut", Stream({Le32(5), "abc"}), kFormatCut, 5, "", ""},
};

TEST(ReadEntryHeaderTest, Table) {
  for (const HeaderCase& c : kHeaders) {
    SCOPED_TRACE(c.name);
    FailingSource source{c.data};
    FILE* f = OpenFailingSource(&source);
    EntryHeader header = {};
    const FormatRead result = ReadEntryHeader(f, &header);
    EXPECT_EQ(result, c.result);
    if (result == kFormatComplete) {
      EXPECT_EQ(header.size, c.size);
      EXPECT_EQ(std::string(header.name), c.entryName);
    }
    EXPECT_LT(strlen(header.name), sizeof header.name) << "the name stays terminated";
    std::string rest(64, '\0');
    rest.resize(fread(&rest[0], 1, rest.size(), f));
    EXPECT_EQ(rest, c.rest);
    fclose(f);
  }
}

}  // namespace
