// unpack's roads, as the plan foresees them. A target that is absent is
// created: that needs every folder on the way, a name that names a file,
// and the right to create files in its folder (line 181 otherwise). One
// that is present is replaced through a staged copy, target + "TMP", which
// needs the right to create in the folder, no folder at target + "TMP", a
// name that fits and a leftover that may be removed; the copy is renamed
// over the old file, which fails for a folder, and in a folder with the
// sticky bit for a file this user does not own (line 252). Without the staged copy, unpack
// rewrites the old file in place, or puts a new file in the place of a
// symbolic link (lines 205 and 221); a file it may not write, or a link it
// may not remove, stops it (line 223).
#include "pack/verdict.h"

#include <ctype.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "format/package_format.h"
#include "pack/names.h"
#include "platform/platform.h"
#include "platform/posix_tool.h"

namespace {

// How the folders on the way to a target stand.
enum WayState { kClear, kMissing, kFileThere, kEntryFileThere, kUnreachable };
struct Way {
  WayState state;
  std::string at;  // the folder in question
  size_t entry;    // kEntryFileThere: the entry that puts a file there
  int error;       // kUnreachable: why
};

unsigned long long Blocks(unsigned long long bytes, unsigned long block) {
  return (bytes + block - 1) / block * block;
}

// `path` without "." components and repeated separators, to compare the
// text of two paths.
std::string Plain(const std::string& path) {
  std::string plain;
  for (size_t at = 0; at <= path.size();) {
    const size_t end = std::min(path.find('/', at), path.size());
    const std::string part = path.substr(at, end - at);
    if (at == 0 && part.empty())
      plain = "/";
    else if (!part.empty() && part != ".")
      plain += (plain.empty() || plain.back() == '/' ? "" : "/") + part;
    at = end + 1;
  }
  return plain;
}

// For --mkdirs: makes the missing `folder` (once). True when it stands now.
bool MakeMissing(PlanDisk* d, const std::string& folder, FILE* err) {
  if (std::find(d->made.begin(), d->made.end(), folder) != d->made.end()) return true;
  for (const auto& failed : d->notMade)
    if (failed.first == folder) return false;
  const auto target = d->targets.find(Plain(folder));
  if (target != d->targets.end()) {
    fprintf(err, "pack: not making the folder %s: entry %zu puts a file there\n",
            Escaped(folder).c_str(), target->second);
    d->notMade.push_back(
        {folder, "entry " + std::to_string(target->second) + " puts a file there"});
    return false;
  }
  if (!MakeFolder(folder.c_str())) {
    fprintf(err, "pack: cannot make the folder %s: %s\n", Escaped(folder).c_str(), strerror(errno));
    d->notMade.push_back({folder, strerror(errno)});
    return false;
  }
  d->made.push_back(folder);
  d->folders.erase(folder);
  return true;
}

// Lists `folder` among the folders to make, once.
void NoteMissing(PlanDisk* d, const std::string& folder) {
  if (std::find(d->toMake.begin(), d->toMake.end(), folder) == d->toMake.end())
    d->toMake.push_back(folder);
}

// Walks the folders on the way to `target`, as the earlier entries leave
// them, making the missing ones with --mkdirs.
Way WalkFolders(PlanDisk* d, const std::string& target, FILE* err) {
  Way way = {kClear, std::string(), 0, 0};
  for (size_t slash = target.find('/', 1); slash != std::string::npos;
       slash = target.find('/', slash + 1)) {
    const std::string folder = target.substr(0, slash);
    const std::string part = LastPart(folder);
    if (part.empty() || part == "." || part == "..") continue;
    // Below a missing folder every folder is missing too.
    if (way.state == kMissing) {
      NoteMissing(d, folder);
      continue;
    }
    const auto written = d->written.find(KeyOf(&d->folders, folder));
    if (written != d->written.end()) return Way{kEntryFileThere, folder, written->second.entry, 0};
    const FolderLook& look = LookAtFolder(&d->folders, folder);
    if (look.folder) continue;
    if (look.error == 0 || look.error == ENOTDIR) return Way{kFileThere, folder, 0, 0};
    if (look.error != ENOENT) return Way{kUnreachable, folder, 0, look.error};
    NoteMissing(d, folder);
    if (!d->mkdirs || !MakeMissing(d, folder, err)) way = Way{kMissing, folder, 0, 0};
  }
  return way;
}

Verdict Stop(int line, const std::string& text) {
  return Verdict{kStops, line, text, 0};
}

// An absent target: created, or line 181.
Verdict JudgeNew(const PlanDisk& d, const Way& way, const std::string& target,
                 const std::string& shown) {
  const std::string at = Escaped(way.at), folder = FolderPart(target);
  switch (way.state) {
    case kMissing:
      return Stop(181, "no folder  " + shown + ": the folder " + at +
                           " is missing (unpack stops: line 181)");
    case kFileThere:
      return Stop(181, "no folder  " + shown + ": a file stands where the folder " + at +
                           " should be (unpack stops: line 181)");
    case kEntryFileThere:
      return Stop(181, "no folder  " + shown + ": entry " + std::to_string(way.entry) +
                           " puts a file where the folder " + at +
                           " should be (unpack stops: line 181)");
    case kUnreachable:
      return Stop(181, "no folder  " + shown + ": the folder " + at + " cannot be reached: " +
                           strerror(way.error) + " (unpack stops: line 181)");
    case kClear:
      break;
  }
  const std::string last = LastPart(target);
  if (last.empty())
    return Stop(181, "no file    " + shown + ": the target path " +
                         (target.empty() ? "is empty" : "ends in /") + " (unpack stops: line 181)");
  if (last.size() > d.volume.nameMax)
    return Stop(181, "too long   " + shown + ": its last component is over " +
                         std::to_string(d.volume.nameMax) + " bytes (unpack stops: line 181)");
  if (!MayCreateIn(folder.c_str())) {
    const int error = errno;
    if (error == EROFS)
      return Stop(181, "read-only  " + shown + ": the volume of " + Escaped(folder) +
                           " is mounted read-only (unpack stops: line 181)");
    return Stop(181, "no access  " + shown + ": this user may not create files in " +
                         Escaped(folder) + ": " + strerror(error) + " (unpack stops: line 181)");
  }
  return Verdict{kNew, 0, "new        " + shown, 0};
}

// Why the staged copy of `target` cannot be made, or "" when it can.
std::string NoStagedCopy(const PlanDisk& d, const std::string& target) {
  const std::string temp = target + "TMP", folder = FolderPart(target);
  if (!MayCreateIn(folder.c_str()))
    return errno == EROFS ? "the volume is mounted read-only"
                          : "this user may not create files in " + Escaped(folder);
  const DWORD leftover = GetFileAttributesA(temp.c_str());
  if (leftover != INVALID_FILE_ATTRIBUTES && (leftover & FILE_ATTRIBUTE_DIRECTORY) &&
      !(leftover & FILE_ATTRIBUTE_REPARSE_POINT))
    return "a folder stands at " + Escaped(temp);
  if (LastPart(temp).size() > d.volume.nameMax)
    return "the name of " + Escaped(temp) + " is over " + std::to_string(d.volume.nameMax) +
           " bytes";
  if (!EntryPresent(temp.c_str())) return std::string();
  if (!MayRemove(temp.c_str()))
    return "the leftover " + Escaped(temp) + " cannot be removed: " + strerror(errno);
  return std::string();
}

// Why the old file at `target` cannot be rewritten in place, or "".
std::string NoRewrite(const std::string& target, DWORD attributes, const PathFacts& f) {
  // A link is removed, and a new file made in its place.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return MayRemove(target.c_str()) ? std::string()
                                     : "it is a symbolic link this user may not remove";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  if (S_ISFIFO(f.mode)) return "it is a FIFO";
  if (S_ISSOCK(f.mode)) return "it is a socket";
  if (attributes & FILE_ATTRIBUTE_READONLY) return "it is read-only";
  if (!MayWrite(target.c_str()))
    return errno == EROFS ? "the volume is mounted read-only"
                          : std::string("this user may not write it");
  return std::string();
}

// A present target: replaced, rewritten in place, or line 252 or 223.
// `earlier` is the file an earlier entry leaves there, if one does.
Verdict JudgeReplacement(const PlanDisk& d, const std::string& target, const std::string& shown,
                         const Written* earlier) {
  PathFacts f = {};
  const DWORD attributes = earlier ? FILE_ATTRIBUTE_ARCHIVE : GetFileAttributesA(target.c_str());
  if (!earlier) LookAtPath(target.c_str(), false, &f);
  const unsigned long long oldBytes = earlier ? earlier->bytes : S_ISREG(f.mode) ? f.allocated : 0;
  const bool folder =
      (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  const std::string why = NoStagedCopy(d, target);
  if (why.empty() && folder)
    return Stop(252, "folder     " + shown +
                         ": a folder stands where the file goes (unpack stops: line 252)");
  const bool readOnly = !earlier && (attributes & FILE_ATTRIBUTE_READONLY);
  // Linux's rename replaces a read-only file as any other.
  if (why.empty() && !earlier && !MayRemove(target.c_str()))
    return Stop(252, "no access  " + shown + ": this user may not replace the old file: " +
                         strerror(errno) + " (unpack stops: line 252)");
  if (why.empty()) {
    return Verdict{kReplace, 0,
                   "replace    " + shown + (readOnly ? " (read-only: replaced all the same)" : ""),
                   oldBytes};
  }
  const std::string cannot = earlier ? std::string() : NoRewrite(target, attributes, f);
  if (cannot.empty())
    return Verdict{kRewrite, 0,
                   "rewrite    " + shown + ": no staged copy (" + why +
                       "); unpack rewrites the file in place (lines 205 and 221)",
                   oldBytes};
  return Stop(223, "kept       " + shown + ": no staged copy (" + why +
                       "), and no rewrite in place (" + cannot + ") (unpack stops: line 223)");
}

// Where a name lands that is not under the prefix: with a prefix, the line
// shows the target; without one, why it lands elsewhere. "" for the rest.
std::string WhereNote(const std::string& prefix, const std::string& name) {
  const bool absolute = name[0] == '/' || name[0] == '\\';
  const bool drive = name.size() >= 2 && isalpha((unsigned char)name[0]) && name[1] == ':';
  if ((absolute || drive) && !prefix.empty()) return " (at " + Escaped(prefix + name) + ")";
  if (absolute) return " [an absolute name: installed there]";
  if (drive) return " [a drive letter: on Windows, installed on that drive]";
  if (ClimbsUp(name, "/\\"))
    return prefix.empty() ? " [a .. component: installed outside the current folder]"
                          : " [a .. component: installed outside the prefix]";
  return std::string();
}

}  // namespace

void OpenPlanDisk(PlanDisk* disk, const std::string& prefix, bool mkdirs,
                  const std::vector<std::string>& names) {
  disk->prefix = prefix;
  disk->mkdirs = mkdirs;
  // The volume of the prefix: that of its nearest folder that exists.
  std::string folder = prefix.substr(0, prefix.rfind('/') + 1);
  VolumeFacts& v = disk->volume;
  bool known;
  while (!(known = LookAtVolume(folder.empty() ? "." : folder.c_str(), &v)) && !folder.empty()) {
    folder.pop_back();
    folder = folder.substr(0, folder.rfind('/') + 1);
  }
  if (!known) v = VolumeFacts{false, 4096, 255, 0, 0};
  if (!v.blockSize) v.blockSize = 4096;
  if (!v.nameMax) v.nameMax = 255;
  // The first entry to put a file there, as the --mkdirs message names it.
  for (size_t i = names.size(); i > 0; --i) {
    const std::string target = prefix + names[i - 1];
    if (!target.empty() && target.back() != '/') disk->targets[Plain(target)] = i;
  }
}

Verdict JudgeEntry(PlanDisk* d, size_t index, const std::string& name, uint32_t size, FILE* err) {
  const std::string target = d->prefix + name;
  const std::string shown = Escaped(name) + WhereNote(d->prefix, name);
  if (target.size() > kTargetPathMax)
    return Stop(150, "too long   " + shown +
                         ": the target path is over 256 characters (unpack stops: line 150)");
  const Way way = WalkFolders(d, target, err);
  const PlaceKey key = KeyOf(&d->folders, target);
  const auto earlier = d->written.find(key);
  const bool present =
      way.state == kClear && (earlier != d->written.end() || EntryPresent(target.c_str()));
  const Verdict v = present
                        ? JudgeReplacement(*d, target, shown,
                                           earlier != d->written.end() ? &earlier->second : nullptr)
                        : JudgeNew(*d, way, target, shown);
  if (v.road != kStops) d->written[key] = Written{index, Blocks(size, d->volume.blockSize)};
  return v;
}
