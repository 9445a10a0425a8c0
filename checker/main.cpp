#include <stdio.h>

#include "checker/vellomar.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  PrepareProcess();
  // Standard output stays in text mode: every line ends in CR LF.
  FILE* out = OpenTextStream(stdout);
  int status = RunVellomar(argc, argv, out ? out : stdout);
  fflush(out ? out : stdout);
  return status;
}
