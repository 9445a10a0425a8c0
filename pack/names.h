// Names as pack shows them.
#ifndef PACK_NAMES_H
#define PACK_NAMES_H

#include <string>

// `name` as a listing shows it: control characters and the backslash escaped
// as in C, so that every name takes one line and reads back unambiguously.
std::string Escaped(const std::string& name);

#endif  // PACK_NAMES_H
