// pack's command line, as its parts read it.
#ifndef PACK_OPTIONS_H
#define PACK_OPTIONS_H

#include <string>
#include <vector>

#include "platform/paths.h"

// Exit statuses besides 0.
const int kFailed = 1, kUsageError = 2;

// A PATH as given, and the -C folder in effect where it was given.
struct Source {
  std::string path;
  const char* dir;
};

struct Options {
  const char* output = nullptr;  // -o
  bool windows = kOsBackslashNames;  // -w, or on Windows unless --slashes
  bool slashes = false;              // --slashes
  bool list = false;             // -t
  bool verbose = false;          // -v
  bool nul = false;              // -0
  bool quiet = false;            // -q: no progress line
  bool help = false;
  bool version = false;
  const char* plan = nullptr;    // --plan PREFIX
  const char* verify = nullptr;  // --verify PREFIX
  bool mkdirs = false;           // --mkdirs
  std::vector<Source> paths;     // in the order given
  std::vector<Source> lists;     // -T files
  bool packOptions = false;      // -o, -C, -T, -0 or -w given
};

#endif  // PACK_OPTIONS_H
