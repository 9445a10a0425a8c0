#include <stdio.h>

#include "checker/vellomar.h"
#include "platform/os.h"

int main(int argc, char** argv) {
  OsPrepareProcess();
  // Standard output stays in text mode: every line ends in CR LF.
  FILE* out = OsOpenTextStream(stdout);
  int status = RunVellomar(argc, argv, out ? out : stdout);
  fflush(out ? out : stdout);
  return status;
}
