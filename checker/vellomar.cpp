// Vellomar: tells whether a volume has enough free bytes and whether a file
// is present.
//
// Usage: Vellomar [-drive <drive>] [-required <bytes>] [-find <file>] [-free] [-help]
//
// Options are matched without regard to case; an option's value is the very
// next argument, whatever it looks like, and a later value replaces an
// earlier one. The volume (C:\ unless -drive names another) is queried in
// every run that parses cleanly. A present -find file passes whatever the
// free space; otherwise the free byte count is compared with -required. The
// verdict is one line on the output, "OK" or a message starting with
// "Vellomar - "; a run that asks for neither test ends with status 1 and no
// verdict.
#include "checker/vellomar.h"

#include <cinttypes>
#include <string.h>

#include "platform/os.h"
#include "platform/win32.h"

namespace {

const int kFailure = 1;
const int kSuccess = 0;

// The longest volume path its buffer holds, the terminating NUL aside.
const size_t kVolumePathMax = MAX_PATH - 1;

// What the command line asks for.
struct Request {
  char volume[MAX_PATH];  // the path handed to the volume query
  bool volumeTooLong;     // the last -drive value did not fit `volume`
  uint64_t required;
  bool requiredGiven;
  int findIndex;  // position in argv of the name to look for
  bool findGiven;
  bool freeRequested;
};

// Writes the usage line and returns the exit status of a usage error.
int Usage(FILE* out) {
  fputs("Vellomar [-drive <drive>] [-required <bytes>] [-find <file>] [-free] [-help]\n", out);
  return kFailure;
}

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Takes a -drive value. One that does not fit the volume path buffer is not
// copied; it is refused after parsing unless a later -drive replaces it.
void SetVolume(Request* request, const char* value) {
  request->volumeTooLong = strlen(value) > kVolumePathMax;
  if (!request->volumeTooLong) lstrcpyA(request->volume, value);
}

// Parses the options in one pass from the first argument to the last.
// Returns false after an argument that is not an option (or -help), once the
// usage line is written; nothing parsed before it counts.
bool ParseArguments(int argc, char** argv, Request* request, FILE* out) {
  bool requiredPending = false, findPending = false, drivePending = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (requiredPending) {
      request->required = ParseRequired(arg);
      request->requiredGiven = true;
      requiredPending = false;
    } else if (findPending) {
      request->findIndex = i;
      request->findGiven = true;
      findPending = false;
    } else if (drivePending) {
      SetVolume(request, arg);
      drivePending = false;
    } else if (lstrcmpiA(arg, "-required") == 0) {
      requiredPending = true;
    } else if (lstrcmpiA(arg, "-find") == 0) {
      findPending = true;
    } else if (lstrcmpiA(arg, "-drive") == 0) {
      drivePending = true;
    } else if (lstrcmpiA(arg, "-free") == 0) {
      request->freeRequested = true;
    } else {
      if (lstrcmpiA(arg, "-help") != 0) fprintf(out, "Vellomar - don't know \"%s\"\n", arg);
      Usage(out);
      return false;
    }
  }
  return true;
}

}  // namespace

uint64_t ParseRequired(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (IsWhiteSpace(*p)) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // Unsigned arithmetic wraps modulo 2^64, which is the rule for overflow.
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + (uint64_t)(*p - '0');
  return negative ? 0 - value : value;
}

int RunVellomar(int argc, char** argv, FILE* out) {
  if (argc < 2) return Usage(out);
  Request request = {"C:\\", false, 0, false, 0, false, false};
  if (!ParseArguments(argc, argv, &request, out)) return kFailure;
  if (request.volumeTooLong) {
    fprintf(out, "Vellomar - drive path longer than %u characters\n", (unsigned)kVolumePathMax);
    return kFailure;
  }

  ULARGE_INTEGER totalFree;
  if (!GetDiskFreeSpaceExA(request.volume, NULL, NULL, &totalFree)) {
    fprintf(out, "Vellomar - can't access drive \"%s\"\n", request.volume);
    return kFailure;
  }
  // The whole 64-bit count: volumes beyond 4 GiB are common.
  const uint64_t freeBytes = (uint64_t)totalFree.QuadPart;
  if (request.freeRequested)
    fprintf(out, "Vellomar - drive %s has %" PRIu64 " bytes free\n", request.volume, freeBytes);

  if (request.findGiven) {
    const char* name = argv[request.findIndex];
    if (OsPathPresent(name)) {
      fputs("OK\n", out);
      return kSuccess;
    }
    if (!request.requiredGiven) {
      fprintf(out, "Vellomar - %s not found\n", name);
      return kFailure;
    }
  } else if (!request.requiredGiven) {
    return kFailure;
  }

  if (request.required > freeBytes) {
    fprintf(out, "Vellomar - not enough free space ( %" PRIu64 " bytes )\n", freeBytes);
    return kFailure;
  }
  fputs("OK\n", out);
  return kSuccess;
}
