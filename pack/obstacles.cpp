#include "pack/obstacles.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "pack/disk.h"
#include "pack/names.h"

Removal LookAtRemoval(const std::string& path, bool entryFile) {
  const std::string folder = OsFolderOf(path);
  PathFlags in = {}, at = {};
  if (OsLookAtFlags(folder.c_str(), &in) && (in.immutable || in.appendOnly))
    return Removal{kFlags, "its folder " + Escaped(folder) + " is " +
                               (in.immutable ? "immutable (chattr +i)" : "append-only (chattr +a)")};
  if (entryFile) return Removal{kFree, std::string()};
  if (!OsMayRemove(path.c_str())) {
    // Windows: another program has it open and does not share its removal.
    if (errno == EBUSY) return Removal{kFlags, "another program holds it open without sharing"};
    return Removal{kRights, std::string("this user may not remove it: ") + strerror(errno)};
  }
  // Windows: nor a file another program holds open without sharing its
  // writing, as a program that runs from it does.
  if (!OsMayWrite(path.c_str()) && errno == EBUSY)
    return Removal{kFlags, "another program holds it open without sharing"};
  if (!OsLookAtFlags(path.c_str(), &at)) return Removal{kFree, std::string()};
  if (at.immutable) return Removal{kFlags, "it is immutable (chattr +i)"};
  if (at.appendOnly) return Removal{kFlags, "it is append-only (chattr +a)"};
  if (at.mountPoint) return Removal{kMounted, "a file system is mounted on it"};
  return Removal{kFree, std::string()};
}

// Each process's program is at /proc/PID/exe, which only root, or the user
// the process runs as, may look through. A program starts only from a file
// with an execute bit; one that lost its bits while it runs goes unseen.
Running ProgramRunsFrom(const PathFacts& f) {
  if (!S_ISREG(f.mode) || !(f.mode & 0111)) return kNotRunning;
  std::vector<std::string> entries;
  if (!OsListFolder("/proc", &entries)) return kUnseen;
  Running seen = kNotRunning;
  for (const std::string& pid : entries) {
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    PathFacts program;
    if (OsLookAtPath(("/proc/" + pid + "/exe").c_str(), true, &program)) {
      if (program.volume == f.volume && program.index == f.index) return kRunning;
    } else if (errno == EACCES || errno == EPERM) {
      seen = kUnseen;
    }
  }
  return seen;
}
