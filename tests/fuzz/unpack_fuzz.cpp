// Fuzz target: arbitrary bytes as a package stream, through the stream
// reading, the driver's loop and the installation, into a scratch folder.
//
// The installation uses names verbatim, so a name with ".." could reach
// outside the scratch folder: the platform's file calls are wrapped to refuse
// any path that does. Blocks over 16 MiB are refused as if memory ran out,
// so that a large size field exercises the allocation failure instead of
// the fuzzer's memory limit.
#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "extractor/unpack.h"
#include "platform/posix_calls.h"

namespace {

std::string g_root;  // the scratch folder, with a trailing '/'
PosixCalls g_real;

bool Inside(const char* path) {
  return strncmp(path, g_root.c_str(), g_root.size()) == 0 && !strstr(path, "/../") &&
         !(strlen(path) >= 3 && strcmp(path + strlen(path) - 3, "/..") == 0);
}

#define GUARD(path) \
  if (!Inside(path)) return errno = EACCES, -1

void EmptyScratch() {
  nftw(
      g_root.c_str(),
      [](const char* p, const struct stat*, int, struct FTW* ftw) {
        if (ftw->level > 0) {
          chmod(p, 0755);
          remove(p);
        }
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
}

void Sandbox() {
  char pattern[] = "/tmp/unpack-fuzz-XXXXXX";
  g_root = std::string(mkdtemp(pattern)) + "/";
  g_real = g_posix;
  g_posix.open = [](const char* p, int flags, mode_t mode) {
    GUARD(p);
    return g_real.open(p, flags, mode);
  };
  g_posix.unlink = [](const char* p) {
    GUARD(p);
    return g_real.unlink(p);
  };
  g_posix.chmod = [](const char* p, mode_t mode) {
    GUARD(p);
    return g_real.chmod(p, mode);
  };
  g_posix.rename_noreplace = [](const char* from, const char* to) {
    GUARD(from);
    GUARD(to);
    return g_real.rename_noreplace(from, to);
  };
  g_posix.malloc = [](size_t n) -> void* { return n > (16u << 20) ? nullptr : malloc(n); };
  atexit([] {
    EmptyScratch();
    rmdir(g_root.c_str());
  });
}

struct Input {
  const uint8_t* data;
  size_t size;
  size_t at;
};

ssize_t ReadInput(void* cookie, char* buf, size_t n) {
  Input* in = (Input*)cookie;
  size_t k = n < in->size - in->at ? n : in->size - in->at;
  memcpy(buf, in->data + in->at, k);
  in->at += k;
  return (ssize_t)k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* log = fopen("/dev/null", "w");
  if (g_root.empty()) Sandbox();
  Input input = {data, size, 0};
  cookie_io_functions_t io = {ReadInput, nullptr, nullptr, nullptr};
  FILE* in = fopencookie(&input, "r", io);
  char* argv[] = {(char*)"unpack", (char*)"-destdir", (char*)g_root.c_str(), nullptr};
  RunUnpack(3, argv, in, log);
  fclose(in);
  EmptyScratch();
  return 0;
}
