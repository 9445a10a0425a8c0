// The plan's verdict on one entry: what unpack will do with it, judged
// against the disk as the entries before it will have left it.
#ifndef PACK_PLAN_ENTRY_H
#define PACK_PLAN_ENTRY_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "pack/disk.h"
#include "platform/tool.h"

// What unpack does with an entry.
enum Road {
  kNew,      // creates the file
  kReplace,  // replaces the file through its staged copy
  kRewrite,  // cannot make the staged copy: rewrites the file in place
  kStops,    // ends the run
};

// A file that the install of an entry removes and no entry puts back in
// its place: whatever stands at the name of its staged copy.
struct Removed {
  bool any;
  PlaceKey key;
  size_t entry;      // the entry whose file it is, from 1; 0 for a file of the disk
  bool freesInode;   // it goes with its last name
};

struct Verdict {
  Road road;
  int line;                     // kStops: the line unpack ends with
  std::string text;             // the plan's line for the entry, from its label to its reason
  std::string note;             // the line after it, on the file its install removes, or ""
  unsigned long long oldBytes;  // what the file it replaces or rewrites takes on disk
  // The road holds unless what only trying can tell (a program this user
  // cannot see) stops unpack at `line`; with `line` 0, the plan could not
  // look at what the entry meets.
  bool unsure;
  Removed removed;
  long inodes;  // the inodes the entry takes (less those it gives back)
};

// A file an entry leaves: which entry, and what it takes on disk.
struct Written {
  size_t entry;  // from 1
  unsigned long long bytes;
};

// An entry's file that a later entry takes away for its staged copy.
struct TakenAway {
  size_t entry;  // whose file it was
  size_t by;     // the entry that removes it
};

// The disk as the plan sees it while it goes through the entries.
struct PlanDisk {
  std::string prefix;
  bool mkdirs;
  VolumeFacts volume;  // of the prefix's nearest folder that exists
  bool volumeKnown;    // false when no folder of the prefix could tell it
  FolderCache folders;
  std::map<PlaceKey, Written> written;    // the files the entries judged so far leave
  std::map<PlaceKey, size_t> removed;     // the files they remove, by the entry that does
  std::map<PlaceKey, TakenAway> takenAway;  // entries' files removed, and not put back since
  std::vector<std::string> names;         // every entry's name, in package order
  // The free inodes of the prefix's volume, as the entries judged so far
  // leave them, on a volume with a fixed number of them (not btrfs).
  bool inodesCounted;
  unsigned long long volumeId;  // the prefix's volume, as a folder's `volume` names it
  long long freeInodes;
  std::map<std::string, size_t> targets;  // every entry's target, as text: no folder is made there
  // With --mkdirs: the folders made, and those that could not be, with why.
  std::vector<std::string> toMake, made;
  std::vector<std::pair<std::string, std::string>> notMade;
  // What could not be looked at while the entry in hand was judged, and
  // why: a failing device, no descriptor left... "" while all could.
  std::string unseen;
};

// Prepares the disk for entries with these names (in package order).
void OpenPlanDisk(PlanDisk* disk, const std::string& prefix, bool mkdirs,
                  const std::vector<std::string>& names);

// Judges entry `index` (from 1), and records what it leaves on `disk`.
// With --mkdirs, makes the folders it needs first; failures go to `err`.
Verdict JudgeEntry(PlanDisk* disk, size_t index, const std::string& name, uint32_t size, FILE* err);

#endif  // PACK_PLAN_ENTRY_H
