#include <stdio.h>

#include "pack/pack.h"
#include "platform/tool.h"

int main(int argc, char** argv) {
  OsUseBinaryStandardStreams();
  return RunPack(argc, argv, stdin, stdout, stderr);
}
