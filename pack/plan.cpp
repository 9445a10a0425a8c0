#include "pack/plan.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <map>
#include <set>

// The presence test and the attributes come from the same calls unpack
// makes, so that the plan cannot drift from what it does.
#include "format/package_format.h"
#include "pack/names.h"
#include "platform/platform.h"

namespace {

// What unpack does with an entry.
enum Road { kNew, kReplace, kStops };

struct Volume {
  unsigned long long block = 4096;
};

unsigned long long Blocks(unsigned long long bytes, const Volume& v) {
  return (bytes + v.block - 1) / v.block * v.block;
}

// Why `name` lands outside the prefix, or null. On Windows, where unpack
// may run, a backslash separates folders too.
const char* Outside(const std::string& name) {
  if (name[0] == '/' || name[0] == '\\') return "an absolute name";
  if (name.size() >= 2 && name[1] == ':') return "a drive letter";
  if (ClimbsUp(name, "/\\")) return "a .. component";
  return nullptr;
}

// The folders on the way to `target` that are missing, parents first, added
// to `missing`. Returns false, with the folder in `blocked`, when a file
// stands where one of them should be.
bool MissingFolders(const std::string& target, std::vector<std::string>* missing,
                    std::string* blocked) {
  for (size_t slash = target.find('/', 1); slash != std::string::npos;
       slash = target.find('/', slash + 1)) {
    const std::string folder = target.substr(0, slash);
    const size_t last = folder.rfind('/') + 1;
    const std::string component = folder.substr(last);
    if (component.empty() || component == "." || component == "..") continue;
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
      missing->push_back(folder);
    else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return *blocked = folder, false;
  }
  return true;
}

// The volume that holds `prefix`: its nearest folder that exists.
Volume VolumeOf(const std::string& prefix) {
  std::string folder = prefix.substr(0, prefix.rfind('/') + 1);
  Volume v;
  struct statvfs st;
  while (statvfs(folder.empty() ? "." : folder.c_str(), &st) != 0 && !folder.empty()) {
    folder.pop_back();
    folder = folder.substr(0, folder.rfind('/') + 1);
  }
  if (statvfs(folder.empty() ? "." : folder.c_str(), &st) == 0 && st.f_frsize) v.block = st.f_frsize;
  return v;
}

}  // namespace

int RunPlan(const char* prefix, bool mkdirs, const std::vector<PlanEntry>& entries, FILE* out,
            FILE* err) {
  const Volume volume = VolumeOf(prefix);
  std::map<std::string, unsigned long long> installed;  // by earlier entries: target -> bytes
  std::vector<std::string> toMake;
  std::set<std::string> seen;
  long long used = 0, peak = 0;
  size_t stopAt = 0;  // the first entry at which unpack stops, from 1
  for (size_t i = 0; i < entries.size(); ++i) {
    const PlanEntry& e = entries[i];
    const std::string name = e.name, target = prefix + name;
    std::string line;
    const std::string shown = Escaped(name);
    Road road = kNew;
    if (target.size() > kTargetPathMax) {
      line = "too long   " + shown + ": the target path is over 256 characters (unpack stops: line 150)";
      road = kStops;
    } else if (installed.count(target) || EntryPresent(target.c_str())) {
      const DWORD attributes = installed.count(target) ? FILE_ATTRIBUTE_ARCHIVE : GetFileAttributesA(target.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        line = "folder     " + shown + ": a folder stands where the file goes (unpack stops: line 252)";
        road = kStops;
      } else {
        road = kReplace;
        line = "replace    " + shown;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
          line += " (read-only: replaced all the same)";
      }
    } else {
      std::vector<std::string> missing;
      std::string blocked;
      if (!MissingFolders(target, &missing, &blocked)) {
        line = "no folder  " + shown + ": a file stands where the folder " + blocked +
               " should be (unpack stops: line 181)";
        road = kStops;
      } else if (!missing.empty()) {
        bool made = mkdirs;
        for (const std::string& folder : missing) {
          if (seen.insert(folder).second) toMake.push_back(folder);
          if (mkdirs && mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            fprintf(err, "pack: cannot make the folder %s: %s\n", folder.c_str(), strerror(errno));
            made = false;
          }
        }
        line = (made ? "new        " : "no folder  ") + shown;
        if (!made) line += ": the folder " + missing.front() + " is missing (unpack stops: line 181)";
        road = made ? kNew : kStops;
      } else {
        line = "new        " + shown;
      }
    }
    if (const char* why = Outside(name)) line += std::string(" [") + why + ": installed outside the prefix]";
    fprintf(out, "%s\n", line.c_str());
    if (road == kStops) {
      if (!stopAt) stopAt = i + 1;
      continue;
    }
    // One at a time, a replacement's staged copy stands beside the old file
    // until the old one goes; grouped commits need no more, since a group
    // that meets a full volume is committed before the entry is tried again.
    used += (long long)Blocks(e.size, volume);
    peak = std::max(peak, used);
    if (road == kReplace) {
      struct stat st;
      const auto earlier = installed.find(target);
      if (earlier != installed.end())
        used -= (long long)earlier->second;
      else if (stat(target.c_str(), &st) == 0)
        used -= (long long)st.st_blocks * 512;
    }
    installed[target] = Blocks(e.size, volume);
  }
  if (!toMake.empty()) {
    fprintf(out, "folders to %s:\n", mkdirs ? "make (made)" : "make");
    for (const std::string& folder : toMake) fprintf(out, "  %s\n", folder.c_str());
  }
  fprintf(out, "free space needed: %lld\n", peak);
  if (stopAt)
    fprintf(out, "unpack would stop at entry %zu of %zu\n", stopAt, entries.size());
  else
    fputs("unpack would end with OK\n", out);
  return stopAt ? 1 : 0;
}
