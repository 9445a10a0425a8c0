// Names as pack shows them.
#ifndef PACK_NAMES_H
#define PACK_NAMES_H

#include <string>

// `name` as a listing shows it: control characters and the backslash escaped
// as in C, so that every name takes one line and reads back unambiguously.
// Once ShowBackslashes(true) is called, every / and \ is shown as one
// backslash instead, as Windows writes a path (pack.exe without --slashes).
std::string Escaped(const std::string& name);
void ShowBackslashes(bool on);

// True when `name` holds the component "..", between any of `separators`.
bool ClimbsUp(const std::string& name, const char* separators);

// What --plan and --verify say once when `prefix` is not empty, does not
// end in "/" and `firstName` does not begin with one: that names are
// appended to the prefix as they are. Empty otherwise.
std::string PrefixNote(const std::string& prefix, const std::string& firstName);

#endif  // PACK_NAMES_H
