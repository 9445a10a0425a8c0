// Fuzz target: unpack's driver and installation on an in-memory file system,
// with the outcome checked after every run.
//
// The first six bytes of an input set the scene; the rest is the package
// stream, installed with "-destdir /memfs/dest/".
//   0-1  the fixtures that stand in the destination (bits of kFixtures);
//        bit 15 makes the run privileged (permission bits do not bar writing)
//   2    free room on the volume: that many bytes below 128, else unlimited
//   3    the call that fails: 0 for none, else 1 + its row in kErrors
//        (modulo 16)
//   4    which call of that kind fails: 0 is the first
//   5    its error: an index into the call's row of kErrors

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "extractor/unpack.h"
#include "platform/posix_calls.h"
#include "tests/memfs/memfs.h"
#include "tests/seam.h"

namespace {

const char kDest[] = "/memfs/dest/";
const char kVictim[] = "/memfs/victim";  // outside the destination
const char kVictimText[] = "victim";
const size_t kHeader = 6;

struct Fixture {
  int bit;
  const char* name;  // under the destination
  mode_t mode;
  const char* data;
};

const Fixture kFixtures[] = {
    {0, "a", S_IFREG | 0644, "old a"},  {1, "r", S_IFREG | 0444, "old r"},
    {2, "d", S_IFDIR | 0755, ""},       {2, "d/f", S_IFREG | 0644, "old d/f"},
    {3, "x", S_IFREG | 0644, "old x"},  {3, "xTMP", S_IFREG | 0644, "stale x"},
    {4, "y", S_IFREG | 0644, "old y"},  {4, "yTMP", S_IFDIR | 0755, ""},
    {5, "z", S_IFREG | 0644, "old z"},  {5, "zTMP", S_IFLNK | 0777, "../victim"},
    {6, "p", S_IFIFO | 0644, ""},       {7, "l", S_IFLNK | 0777, "a"},
    {8, "q", S_IFREG | 0644, "old q"},  {8, "qTMP", S_IFIFO | 0644, ""},
    {9, "s", S_IFLNK | 0777, "d"},      {10, "w", S_IFLNK | 0777, "../victim"},
    {11, "e", S_IFREG | 0755, "old e"}, {12, "o", S_IFIFO | 0644, "reader"},
};

// Errors each call really gives on Linux, by the slot of the system-call
// table that makes it; a row ends at its first 0.
const struct {
  const char* slot;
  int errors[7];
} kErrors[] = {
    {"open", {EIO, ENOSPC, EDQUOT, EACCES, EMFILE, ENOENT, ELOOP}},
    {"write", {EIO, ENOSPC, EDQUOT}},
    {"fsync", {EIO, ENOSPC, EDQUOT}},
    {"fstat", {EIO}},
    {"ftruncate", {EIO, EPERM}},
    {"close", {EIO}},
    {"lstat", {EIO, ENOENT, ELOOP, EACCES}},
    {"stat", {EIO, ENOENT, ELOOP, EACCES}},
    {"chmod", {EIO, EACCES, EPERM}},
    {"unlink", {EIO, EACCES, EPERM, EBUSY}},
    {"rename", {EIO, EXDEV, EBUSY, EACCES}},
    {"opendir", {EIO, ENOENT, EACCES}},
    {"readdir", {EIO}},
    {"syncfs", {EIO, ENOSPC, EDQUOT}},
    {"rename_noreplace", {EIO, EXDEV, EBUSY, EACCES}},
};
const unsigned kCalls = sizeof kErrors / sizeof *kErrors;

struct Entry {
  const char* name;  // in the input, NUL-terminated there
  const uint8_t* data;
  uint32_t size;
};

// The package as the harness reads it: the entries that are there in full.
struct Package {
  std::vector<Entry> entries;
  uint32_t count;
  bool climbs;  // some name holds ".."
};

struct Input {
  const uint8_t* data;
  size_t size, at;
};

std::string g_log;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

const char* InDest(const char* name) {
  static char path[512];
  snprintf(path, sizeof path, "%s%s", kDest, name);
  return path;
}

void Parse(const uint8_t* p, const uint8_t* end, Package* pkg) {
  pkg->entries.clear();
  pkg->count = 0;
  pkg->climbs = false;
  if (end - p < 8 || Le32(p) != 0x04D150DDu) return;
  pkg->count = Le32(p + 4);
  for (p += 8; pkg->entries.size() < pkg->count && end - p >= 4;) {
    uint32_t size = Le32(p);
    const char* name = (const char*)p + 4;
    const char* nul = (const char*)memchr(name, '\0', end - p - 4 < 260 ? end - p - 4 : 260);
    if (!nul) return;
    pkg->climbs = pkg->climbs || strstr(name, "..");
    p = (const uint8_t*)nul + 1;
    if ((size_t)(end - p) < size) return;
    pkg->entries.push_back(Entry{name, p, size});
    p += size;
  }
}

// Sets the scene; returns the call that fails, if any.
std::vector<FailCall> SetScene(const uint8_t* head) {
  unsigned bits = head[0] | head[1] << 8;
  MemFsReset(bits & 0x8000);
  MemFsMake("/memfs", S_IFDIR | 0755, "", 0);
  MemFsMake(kDest, S_IFDIR | 0755, "", 0);
  MemFsMake(kVictim, S_IFREG | 0644, kVictimText, strlen(kVictimText));
  for (const Fixture& f : kFixtures)
    if (bits >> f.bit & 1) MemFsMake(InDest(f.name), f.mode, f.data, strlen(f.data));
  if (head[2] < 128) MemFsSetFree(head[2]);
  unsigned kind = head[3] % (kCalls + 1), n = 1;
  if (kind == 0) return {};
  const int* errors = kErrors[kind - 1].errors;
  while (n < 7 && errors[n]) ++n;
  return {FailCall(kErrors[kind - 1].slot, errors[head[5] % n]).Nth(head[4] + 1u).Once()};
}

ssize_t ReadInput(void* cookie, char* buf, size_t n) {
  Input* in = (Input*)cookie;
  size_t k = n < in->size - in->at ? n : in->size - in->at;
  memcpy(buf, in->data + in->at, k);
  in->at += k;
  return (ssize_t)k;
}

ssize_t WriteLog(void*, const char* buf, size_t n) {
  g_log.append(buf, n);
  return (ssize_t)n;
}

void Require(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "unpack_fuzz: %s\n-- log --\n%s-- end of log --\n", what, g_log.c_str());
  abort();
}

bool Logged(const char* text) { return g_log.find(text) != std::string::npos; }

bool EndsWith(const std::string& s, const char* tail) {
  size_t n = strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool Holds(const std::string& data, const Entry& e) {
  return data.size() == e.size && memcmp(data.data(), e.data, e.size) == 0;
}

// A file that stood before the run holds its old content or the whole of
// some entry's; once the direct rewrite has opened an old file (line 221),
// the first part of an entry's at worst. It may be gone only where the
// program removes it by design: a staged name, or a link or one of several
// names that the direct rewrite deletes (the fixtures have none whose
// content could be lost so).
void CheckOldFile(const char* path, const char* old, const Package& pkg) {
  // A staged name is the program's own: a leftover there is removed, and a
  // failed staged copy that cannot be removed may stay, partly written.
  if (EndsWith(path, "TMP")) return;
  mode_t mode = 0;
  const std::string* data = MemFsLook(path, false, &mode);
  Require(data != nullptr, "a file that stood before the run is gone");
  const bool rewritten = Logged("Line: 221 ");
  bool known = S_ISREG(mode) && *data == old;
  for (size_t i = 0; i < pkg.entries.size() && !known; ++i)
    known = S_ISREG(mode) && (Holds(*data, pkg.entries[i]) ||
                              (rewritten && data->size() <= pkg.entries[i].size &&
                               memcmp(data->data(), pkg.entries[i].data, data->size()) == 0));
  const std::string what = std::string(path) + ", a file that stood before the run, holds neither its old content nor an entry's";
  Require(known, what.c_str());
}

void CheckLog(const Package& pkg) {
  Require(EndsWith(g_log, "\r\n"), "the log does not end in CR LF");
  // Names are printed with their control characters as "?": none can make
  // a line of its own, or forge the closing "OK".
  for (size_t i = g_log.find('\n'); i != std::string::npos; i = g_log.find('\n', i + 1))
    Require(i > 0 && g_log[i - 1] == '\r', "a log line does not end in CR LF");
  if (!EndsWith(g_log, "\nOK\r\n")) return;
  Require(pkg.count > 0 && pkg.entries.size() == pkg.count, "OK, but the package is not whole");
  mode_t mode = 0;
  const std::string* data = MemFsLook(InDest(pkg.entries.back().name), true, &mode);
  Require(data && S_ISREG(mode) && Holds(*data, pkg.entries.back()),
          "OK, but the last entry's target does not hold its content");
}

void Check(const uint8_t* head, const Package& pkg) {
  Require(MemFsOpenCount() == 0, "a descriptor is left open");
  CheckLog(pkg);
  mode_t mode = 0;
  const std::string* victim = MemFsLook(kVictim, false, &mode);
  Require(pkg.climbs || (victim && *victim == kVictimText && mode == (S_IFREG | 0644)),
          "the file outside the destination changed");
  unsigned bits = head[0] | head[1] << 8;
  for (const Fixture& f : kFixtures)
    if ((bits >> f.bit & 1) && S_ISREG(f.mode)) CheckOldFile(InDest(f.name), f.data, pkg);
  CheckOldFile(kVictim, kVictimText, pkg);
}

// Blocks over 1 MiB are refused as if memory ran out, so that a large size
// field exercises the allocation failure, and no run pays for poisoning and
// unpoisoning megabytes that the sanitizer's heap would hand out.
void* LimitedMalloc(size_t n) { return n > (1u << 20) ? nullptr : malloc(n); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* log = nullptr;
  static Package pkg;
  static char buffer[1 << 16];  // as the program's standard input has
  if (!log) {
    MemFsInstall();
    g_posix.malloc = LimitedMalloc;
    log = fopencookie(nullptr, "w", cookie_io_functions_t{nullptr, WriteLog, nullptr, nullptr});
  }
  if (size < kHeader) return 0;
  const std::vector<FailCall> faults = SetScene(data);
  Parse(data + kHeader, data + size, &pkg);
  Input input = {data + kHeader, size - kHeader, 0};
  FILE* in = fopencookie(&input, "r", cookie_io_functions_t{ReadInput, nullptr, nullptr, nullptr});
  setvbuf(in, buffer, _IOFBF, sizeof buffer);
  char* argv[] = {(char*)"unpack", (char*)"-destdir", (char*)kDest, nullptr};
  g_log.clear();
  int status;
  {
    SeamGuard guard(faults);
    status = RunUnpack(3, argv, in, log);
  }
  fclose(in);
  fflush(log);
  Require(status == 0, "the run returned non-zero");
  Check(data, pkg);
  // What the run allocated goes now: the fuzzer's leak check runs again any
  // input that ends with more blocks than it began with.
  MemFsReset(false);
  return 0;
}
