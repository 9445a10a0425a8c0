// What stops unpack where permission bits allow it: flags that forbid a
// change to a file (chattr), a file system mounted on one, and a program
// running from one.
#ifndef PACK_OBSTACLES_H
#define PACK_OBSTACLES_H

#include <string>

#include "platform/tool.h"

// Why the file at `path` can be neither removed nor renamed over.
enum Hold {
  kFree,     // it can
  kRights,   // this user may not (a folder closed to them, the sticky bit)
  kFlags,    // its flags or its folder's forbid it, root too, or (Windows) another
             // program holds it open without sharing
  kMounted,  // a file system is mounted on it
};
struct Removal {
  Hold hold;
  std::string why;  // for the plan's line; empty when kFree
};
// `entryFile`: a file that an earlier entry of the package makes there, new
// and this user's, so that only its folder's flags can hold it.
Removal LookAtRemoval(const std::string& path, bool entryFile);

// Whether a program runs from the file `f` describes: one that does may not
// be opened for writing (ETXTBSY). kUnseen when this user may not see every
// running program (those of other users) and sees none running from it.
enum Running { kNotRunning, kRunning, kUnseen };
Running ProgramRunsFrom(const PathFacts& f);

#endif  // PACK_OBSTACLES_H
