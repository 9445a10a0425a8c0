#include <stdio.h>

#include "extractor/unpack.h"
#include "platform/os.h"

int main(int argc, char** argv) {
  OsPrepareProcess();
  // A large buffer lets small entries come in few reads; large ones are read
  // straight into their own buffer.
  static char inputBuffer[1 << 16];
  setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);
  FILE* log = OsOpenTextStream(stderr);
  int status = RunUnpack(argc, argv, stdin, log ? log : stderr);
  fflush(log ? log : stderr);
  return status;
}
