// Names as pack shows them.
#ifndef PACK_NAMES_H
#define PACK_NAMES_H

#include <string>

// `name` as a listing shows it: control characters and the backslash escaped
// as in C, so that every name takes one line and reads back unambiguously.
std::string Escaped(const std::string& name);

// True when `name` holds the component "..", between any of `separators`.
bool ClimbsUp(const std::string& name, const char* separators);

#endif  // PACK_NAMES_H
