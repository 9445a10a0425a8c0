#include "pack/disk.h"

#include <errno.h>
#include <sys/stat.h>

#include <tuple>

#include "platform/tool.h"

const FolderLook& LookAtFolder(FolderCache* cache, const std::string& path) {
  const auto known = cache->find(path);
  if (known != cache->end()) return known->second;
  FolderLook look = {0, false, 0, 0};
  PathFacts f;
  if (OsLookAtPath(path.c_str(), true, &f)) {
    look.folder = S_ISDIR(f.mode);
    look.volume = f.volume;
    look.index = f.index;
  } else {
    look.error = errno;
  }
  return (*cache)[path] = look;
}

bool PlaceKey::operator<(const PlaceKey& o) const {
  return std::tie(volume, index, rest) < std::tie(o.volume, o.index, o.rest);
}

PlaceKey KeyOf(FolderCache* cache, const std::string& target) {
  const FolderLook& folder = LookAtFolder(cache, OsFolderOf(target));
  if (!folder.folder) return PlaceKey{0, 0, target};
  return PlaceKey{folder.volume, folder.index, LastPart(target)};
}

std::string LastPart(const std::string& target) {
  return target.substr(target.find_last_of(kOsSeparators) + 1);
}
