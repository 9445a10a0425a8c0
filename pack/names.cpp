#include "pack/names.h"

#include <stdio.h>

std::string Escaped(const std::string& name) {
  std::string s;
  for (unsigned char c : name) {
    if (c == '\\') s += "\\\\";
    else if (c == '\n') s += "\\n";
    else if (c == '\t') s += "\\t";
    else if (c == '\r') s += "\\r";
    else if (c < 0x20 || c == 0x7F) {
      char octal[8];
      snprintf(octal, sizeof octal, "\\%03o", c);
      s += octal;
    } else {
      s += (char)c;
    }
  }
  return s;
}
