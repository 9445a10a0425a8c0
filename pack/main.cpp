#include <stdio.h>

#include "pack/pack.h"

int main(int argc, char** argv) {
  return RunPack(argc, argv, stdin, stdout, stderr);
}
