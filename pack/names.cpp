#include "pack/names.h"

#include <stdio.h>

#include <algorithm>

#include "platform/paths.h"

namespace {
bool g_backslashes = false;
}  // namespace

void ShowBackslashes(bool on) { g_backslashes = on; }

std::string Escaped(const std::string& name) {
  std::string s;
  for (unsigned char c : name) {
    if (g_backslashes && (c == '\\' || c == '/')) s += '\\';
    else if (c == '\\') s += "\\\\";
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

bool ClimbsUp(const std::string& name, const char* separators) {
  for (size_t at = 0; at <= name.size();) {
    const size_t end = std::min(name.find_first_of(separators, at), name.size());
    if (end - at == 2 && name.compare(at, 2, "..") == 0) return true;
    at = end + 1;
  }
  return false;
}

std::string PrefixNote(const std::string& prefix, const std::string& firstName) {
  if (prefix.empty() || OsIsSeparator(prefix.back()) || OsIsSeparator(firstName[0])) return std::string();
  const std::string shown = Escaped(prefix);
  return shown + " does not end in /: names are appended to it (" + shown + Escaped(firstName) + ")";
}
