// Fuzz target: arbitrary bytes as Vellomar's command line (arguments split
// at NUL bytes) and as a -required value. The program only reads the disk.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "checker/vellomar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* out = fopen("/dev/null", "w");
  std::string text((const char*)data, size);

  std::vector<std::string> args = {"Vellomar"};
  size_t start = 0;
  for (size_t i = 0; i <= size && args.size() < 64; ++i) {
    if (i == size || text[i] == '\0') {
      args.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int status = RunVellomar((int)args.size(), argv.data(), out);
  if (status != 0 && status != 1) abort();

  // A leading "-" negates whatever the rest converts to, modulo 2^64.
  std::string value = text.substr(0, text.find('\0'));
  if (!value.empty() && value[0] >= '0' && value[0] <= '9' &&
      ParseRequired(("-" + value).c_str()) != 0 - ParseRequired(value.c_str()))
    abort();
  return 0;
}
