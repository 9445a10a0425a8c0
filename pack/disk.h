// The disk as --plan and --verify look at it: folders looked at once each,
// and each target known by where it lands, whatever its spelling.
#ifndef PACK_DISK_H
#define PACK_DISK_H

#include <map>
#include <string>

#include "platform/paths.h"

// How a folder on the way to a target stands.
struct FolderLook {
  int error;    // errno of looking at it (through links); 0 when something is there
  bool folder;  // a folder (or a link to one) is there
  unsigned long long volume;
  unsigned long long index;
};

// Folders by the path they were looked at under.
typedef std::map<std::string, FolderLook> FolderCache;

// The folder `path` names: looked at the first time, remembered after.
const FolderLook& LookAtFolder(FolderCache* cache, const std::string& path);

// Where a target lands: the identity of its folder and its last component,
// so that x, ./x and sub/../x are one place. When its folder cannot be
// seen, the path itself stands in.
struct PlaceKey {
  unsigned long long volume;
  unsigned long long index;
  std::string rest;
  bool operator<(const PlaceKey& o) const;
};
PlaceKey KeyOf(FolderCache* cache, const std::string& target);

// The last component of `target` ("" when it ends in "/"); its folder is
// OsFolderOf(target).
std::string LastPart(const std::string& target);

#endif  // PACK_DISK_H
