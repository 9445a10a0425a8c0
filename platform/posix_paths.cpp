#include "platform/paths.h"

std::string OsFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

const char kOsSeparators[] = "/";
const bool kOsBackslashNames = false;
