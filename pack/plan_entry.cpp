// unpack's roads, as the plan foresees them. A target that is absent is
// created: that needs every folder on the way, a name that names a file,
// the right to create files in its folder and a free inode (line 181
// otherwise). One that is present is replaced through a staged copy,
// target + "TMP", which needs the right to create in the folder, no folder
// at target + "TMP", a name that fits, a free inode and a leftover that may
// be removed (whatever stands at that name is removed first, an entry's
// file too); the copy is renamed over the old file, which fails for a
// folder, in a folder with the sticky bit for a file this user does not
// own, for a file or folder whose flags forbid it, and for a mount point
// (line 252). Without the staged copy, unpack rewrites the old file in
// place, or puts a new file in the place of a symbolic link or of one name
// of a file with several (lines 205 and 221); a file it may not open for
// writing, a name it may not remove, or a device, which cannot be cut to
// length, stops it (lines 223 and 229).
#include "pack/plan_entry.h"

#include <ctype.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "format/package_format.h"
#include "pack/names.h"
#include "pack/obstacles.h"
#include "platform/os.h"
#include "platform/win32.h"
#include "platform/tool.h"

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
std::string ComparablePath(const std::string& path) {
  std::string comparable;
  for (size_t at = 0; at <= path.size();) {
    const size_t end = std::min(path.find_first_of(kOsSeparators, at), path.size());
    const std::string part = path.substr(at, end - at);
    if (at == 0 && part.empty())
      comparable = "/";
    else if (!part.empty() && part != ".")
      comparable += (comparable.empty() || OsIsSeparator(comparable.back()) ? "" : "/") + part;
    at = end + 1;
  }
  return comparable;
}

// For --mkdirs: makes the missing `folder` (once). True when it stands now.
bool MakeMissing(PlanDisk* d, const std::string& folder, FILE* err) {
  if (std::find(d->made.begin(), d->made.end(), folder) != d->made.end()) return true;
  for (const auto& failed : d->notMade)
    if (failed.first == folder) return false;
  const auto target = d->targets.find(ComparablePath(folder));
  if (target != d->targets.end()) {
    fprintf(err, "pack: not making the folder %s: entry %zu puts a file there\n",
            Escaped(folder).c_str(), target->second);
    d->notMade.push_back(
        {folder, "entry " + std::to_string(target->second) + " puts a file there"});
    return false;
  }
  if (!OsMakeFolder(folder.c_str())) {
    fprintf(err, "pack: cannot make the folder %s: %s\n", Escaped(folder).c_str(), strerror(errno));
    d->notMade.push_back({folder, strerror(errno)});
    return false;
  }
  d->made.push_back(folder);
  d->folders.erase(folder);
  if (d->inodesCounted) --d->freeInodes;
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
  for (size_t slash = target.find_first_of(kOsSeparators, 1); slash != std::string::npos;
       slash = target.find_first_of(kOsSeparators, slash + 1)) {
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

Verdict Goes(Road road, const std::string& text) {
  Verdict v = {};
  v.road = road;
  v.text = text;
  return v;
}

Verdict Stop(int line, const std::string& text) {
  Verdict v = Goes(kStops, text);
  v.line = line;
  return v;
}

// Notes, for the entry in hand, a look at `path` that failed with `error`
// for another reason than an answer: only trying can tell what unpack
// meets there.
void NoteUnseen(PlanDisk* d, const std::string& path, int error) {
  if (d->unseen.empty()) d->unseen = Escaped(path) + " could not be looked at: " + strerror(error);
}

// True when a failed question about rights was answered: the rights, the
// volume's mount or another program forbid it. Any other failure (a device
// that fails, no descriptor left) tells nothing.
bool Answered(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == EBUSY || error == ETXTBSY;
}

// Whether something stands at `path`, as unpack looks for it. A look that
// fails for another reason than absence is asked again as pack looks, and
// noted when that fails too (but for a name too long to be there), or finds
// something.
bool Present(PlanDisk* d, const std::string& path) {
  if (OsEntryPresent(path.c_str())) return true;
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return false;
  PathFacts f;
  if (OsLookAtPath(path.c_str(), false, &f))
    NoteUnseen(d, path, EIO);
  else if (errno != ENOENT && errno != ENOTDIR && errno != ENAMETOOLONG)
    NoteUnseen(d, path, errno);
  return false;
}

// True when the inodes of `target`'s volume are counted: it is the prefix's.
bool Counted(PlanDisk* d, const std::string& target) {
  if (!d->inodesCounted) return false;
  const FolderLook& folder = LookAtFolder(&d->folders, OsFolderOf(target));
  return folder.folder && folder.volume == d->volumeId;
}

// An absent target: created, or line 181.
Verdict JudgeNew(PlanDisk* d, const Way& way, const std::string& target,
                 const std::string& shown) {
  const std::string at = Escaped(way.at), folder = OsFolderOf(target);
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
  if (last.size() > d->volume.nameMax)
    return Stop(181, "too long   " + shown + ": its last component is over " +
                         std::to_string(d->volume.nameMax) + " bytes (unpack stops: line 181)");
  if (!OsMayCreateIn(folder.c_str())) {
    const int error = errno;
    if (!Answered(error)) NoteUnseen(d, folder, error);
    if (error == EROFS)
      return Stop(181, "read-only  " + shown + ": the volume of " + Escaped(folder) +
                           " is mounted read-only (unpack stops: line 181)");
    return Stop(181, "no access  " + shown + ": this user may not create files in " +
                         Escaped(folder) + ": " + strerror(error) + " (unpack stops: line 181)");
  }
  const bool counted = Counted(d, target);
  if (counted && d->freeInodes <= 0)
    return Stop(181, "no inode   " + shown + ": no free inode is left on the volume of " +
                         Escaped(folder) + " (unpack stops: line 181)");
  Verdict v = Goes(kNew, "new        " + shown);
  v.inodes = counted ? 1 : 0;
  return v;
}

// The staged copy of a present target: why it cannot be made ("" when it
// can), and the file at its name that unpack removes first, if any.
struct Staging {
  std::string why;
  bool noRoom;  // no free inode is left for it
  Removed removed;
};

// What stands at `temp` as the entries judged so far leave it: nothing, an
// entry's file, or what is on disk. A folder there is why no staged copy
// can be made.
void LookAtLeftover(PlanDisk* d, const std::string& temp, Staging* s) {
  Removed& r = s->removed;
  const auto entry = d->written.find(r.key);
  if (entry != d->written.end()) {
    r = Removed{true, r.key, entry->second.entry, true};
    return;
  }
  if (d->removed.count(r.key)) return;
  const DWORD attributes = GetFileAttributesA(temp.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    s->why = "a folder stands at " + Escaped(temp);
    return;
  }
  PathFacts f;
  if (Present(d, temp) && OsLookAtPath(temp.c_str(), false, &f))
    r = Removed{true, r.key, 0, f.links <= 1 || S_ISLNK(f.mode)};
}

Staging StageFor(PlanDisk* d, const std::string& target) {
  const std::string temp = target + "TMP", folder = OsFolderOf(target);
  Staging s = {std::string(), false, Removed{false, KeyOf(&d->folders, temp), 0, false}};
  if (!OsMayCreateIn(folder.c_str())) {
    const int error = errno;
    if (!Answered(error)) NoteUnseen(d, folder, error);
    s.why = error == EROFS ? "the volume is mounted read-only"
                           : "this user may not create files in " + Escaped(folder);
    return s;
  }
  if (LastPart(temp).size() > d->volume.nameMax) {
    s.why = "the name of " + Escaped(temp) + " is over " + std::to_string(d->volume.nameMax) +
            " bytes";
    return s;
  }
  LookAtLeftover(d, temp, &s);
  if (!s.why.empty()) return s;
  const Removal leftover = s.removed.any ? LookAtRemoval(temp, s.removed.entry != 0) : Removal{kFree, ""};
  if (leftover.hold != kFree) {
    s.removed.any = false;
    s.why = "the leftover " + Escaped(temp) + " cannot be removed: " + leftover.why;
    return s;
  }
  // Removed first, a leftover gives its inode to the staged copy.
  if (Counted(d, target) && d->freeInodes + (s.removed.any && s.removed.freesInode) <= 0)
    s.noRoom = true, s.why = "no free inode is left on the volume";
  return s;
}

// Why a name that unpack would give a new file of its own (a link, or one
// name of a file with several), `kind` saying which, cannot have one, or "".
std::string NoRenewal(PlanDisk* d, const std::string& target, const std::string& kind,
                      bool noRoom, bool needsInode) {
  if (noRoom) return kind + ", and unpack makes no new file where the staged copy found no room";
  const Removal r = LookAtRemoval(target, false);
  if (r.hold == kRights) return kind + ", and this user may not remove the name: " + r.why;
  if (r.hold != kFree) return kind + ", and " + r.why;
  // The last name of a file gives its inode back, one of several does not.
  if (needsInode && Counted(d, target) && d->freeInodes <= 0)
    return kind + ", and no free inode is left for a new file";
  return std::string();
}

// Why the old file cannot be opened for writing, or "". `unsure` is set
// when a program this user cannot see may run from it.
std::string NoOpening(PlanDisk* d, const std::string& target, const PathFacts& f, bool* unsure) {
  PathFlags flags = {};
  OsLookAtFlags(target.c_str(), &flags);
  const bool device = S_ISCHR(f.mode) || S_ISBLK(f.mode);
  VolumeFacts volume = {};
  if (device && OsLookAtVolume(target.c_str(), &volume) && volume.noDevices)
    return "its volume is mounted nodev: no device on it may be opened";
  if (flags.immutable) return "it is immutable (chattr +i)";
  if (flags.appendOnly && S_ISREG(f.mode)) return "it is append-only (chattr +a)";
  if (!OsMayWrite(target.c_str())) {
    const int error = errno;
    if (!Answered(error)) NoteUnseen(d, target, error);
    return error == EROFS   ? "the volume is mounted read-only"
           : error == EBUSY ? "another program holds it open without sharing"
                            : "this user may not write it";
  }
  const Running running = ProgramRunsFrom(f);
  if (running == kRunning) return "a program runs from it";
  *unsure = running == kUnseen;
  return std::string();
}

// Why the old file at `target` can be neither rewritten in place nor given
// a new file of its own, or "".
std::string NoRewrite(PlanDisk* d, const std::string& target, DWORD attributes,
                      const PathFacts& f, bool noRoom, bool* unsure) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return NoRenewal(d, target, "it is a symbolic link", noRoom, false);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  if (S_ISFIFO(f.mode)) return "it is a FIFO";
  if (S_ISSOCK(f.mode)) return "it is a socket";
  if (attributes & FILE_ATTRIBUTE_READONLY) return "it is read-only";
  const std::string closed = NoOpening(d, target, f, unsure);
  if (!closed.empty()) return closed;
  if (f.links > 1)
    return NoRenewal(d, target, "it has " + std::to_string(f.links) + " names", noRoom, true);
  return std::string();
}

// A present target whose staged copy can be made: replaced, or line 252.
Verdict JudgeRename(const std::string& target, const std::string& shown, bool entryFile,
                    DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return Stop(252, "folder     " + shown +
                         ": a folder stands where the file goes (unpack stops: line 252)");
  // Linux's rename replaces a read-only file as any other.
  const Removal old = LookAtRemoval(target, entryFile);
  switch (old.hold) {
    case kRights:
      return Stop(252, "no access  " + shown + ": this user may not replace the old file: " +
                           old.why + " (unpack stops: line 252)");
    case kFlags:
      return Stop(252, "locked     " + shown + ": " + old.why +
                           ", so the old file cannot be replaced (unpack stops: line 252)");
    case kMounted:
      return Stop(252, "mounted    " + shown +
                           ": a file system is mounted on the old file, which cannot be "
                           "replaced (unpack stops: line 252)");
    case kFree:
      break;
  }
  const bool readOnly = !entryFile && (attributes & FILE_ATTRIBUTE_READONLY);
  return Goes(kReplace,
              "replace    " + shown + (readOnly ? " (read-only: replaced all the same)" : ""));
}

// A present target without its staged copy: rewritten in place, given a new
// file of its own, or line 223 or 229.
Verdict JudgeRewrite(PlanDisk* d, const std::string& target, const std::string& shown,
                     bool entryFile, DWORD attributes, const PathFacts& f, const Staging& s) {
  const std::string none = "no staged copy (" + s.why + ")";
  const bool renewed = !entryFile && ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || f.links > 1);
  const std::string rewrite = renewed
                                  ? "; unpack gives the name a new file of its own (lines 205 and 221)"
                                  : "; unpack rewrites the file in place (lines 205 and 221)";
  bool unsure = false;
  const std::string cannot =
      entryFile ? std::string() : NoRewrite(d, target, attributes, f, s.noRoom, &unsure);
  if (!cannot.empty())
    return Stop(223, "kept       " + shown + ": " + none + ", and no rewrite in place (" + cannot +
                         ") (unpack stops: line 223)");
  if ((S_ISCHR(f.mode) || S_ISBLK(f.mode)) && f.links <= 1)
    return Stop(229, "device     " + shown + ": " + none +
                         "; unpack writes the content into the device, which cannot be cut to "
                         "its length (unpack stops: line 229)");
  if (!unsure) return Goes(kRewrite, "rewrite    " + shown + ": " + none + rewrite);
  Verdict v = Goes(kRewrite, "cannot tell without trying: " + shown + ": " + none + rewrite +
                                 ", unless a program runs from it, and this user cannot see "
                                 "every running program (then unpack stops: line 223)");
  v.unsure = true, v.line = 223;
  return v;
}

// The inodes a replacement takes: its staged copy's, less what the leftover
// and the old file give back; a new file in the place of one name of
// several takes one.
long InodesOf(const Verdict& v, const PathFacts& f, bool entryFile) {
  const long leftover = v.removed.any && v.removed.freesInode ? 1 : 0;
  const bool lastName = entryFile || f.links <= 1 || S_ISLNK(f.mode);
  if (v.road == kReplace) return 1 - leftover - (lastName ? 1 : 0);
  if (v.road == kRewrite && !lastName) return 1 - leftover;
  return -leftover;
}

// A present target: replaced, rewritten in place, or line 252, 223 or 229.
// `earlier` is the file an earlier entry leaves there, if one does.
Verdict JudgeReplacement(PlanDisk* d, const std::string& target, const std::string& shown,
                         const Written* earlier) {
  PathFacts f = {};
  f.links = 1;
  DWORD attributes = earlier ? FILE_ATTRIBUTE_ARCHIVE : GetFileAttributesA(target.c_str());
  // Attributes that could not be read, the file seen all the same, are an
  // I/O error's.
  if (!earlier && !OsLookAtPath(target.c_str(), false, &f))
    NoteUnseen(d, target, errno);
  else if (attributes == INVALID_FILE_ATTRIBUTES)
    NoteUnseen(d, target, EIO);
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
  const Staging s = StageFor(d, target);
  Verdict v = s.why.empty() ? JudgeRename(target, shown, earlier != nullptr, attributes)
                            : JudgeRewrite(d, target, shown, earlier != nullptr, attributes, f, s);
  v.oldBytes = earlier ? earlier->bytes : S_ISREG(f.mode) ? f.allocated : 0;
  v.removed = s.removed;
  if (Counted(d, target)) v.inodes = InodesOf(v, f, earlier != nullptr);
  return v;
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
  disk->names = names;
  // The volume of the prefix: that of its nearest folder that exists.
  std::string folder = prefix.substr(0, prefix.find_last_of(kOsSeparators) + 1);
  VolumeFacts& v = disk->volume;
  bool known;
  while (!(known = OsLookAtVolume(folder.empty() ? "." : folder.c_str(), &v)) && !folder.empty()) {
    folder.pop_back();
    folder = folder.substr(0, folder.find_last_of(kOsSeparators) + 1);
  }
  disk->volumeKnown = known;
  if (!known) v = VolumeFacts{false, 4096, 255, 0, 0, 0, 0, false};
  if (!v.blockSize) v.blockSize = 4096;
  if (!v.nameMax) v.nameMax = 255;
  const FolderLook& look = LookAtFolder(&disk->folders, folder.empty() ? "." : folder);
  disk->inodesCounted = known && v.inodes > 0 && look.folder;
  disk->volumeId = look.volume;
  disk->freeInodes = (long long)v.freeInodes;
  // The first entry to put a file there, as the --mkdirs message names it.
  for (size_t i = names.size(); i > 0; --i) {
    const std::string target = prefix + names[i - 1];
    if (!target.empty() && !OsIsSeparator(target.back())) disk->targets[ComparablePath(target)] = i;
  }
}

namespace {

// The line on the file that the install of entry `index` (named `name`)
// removes at the name of its staged copy.
std::string RemovedNote(const PlanDisk& d, const std::string& name, const Removed& r) {
  const std::string staged = Escaped(name) + "TMP", of = "the staged copy of " + Escaped(name);
  if (!r.entry) return "  removes  " + staged + ": " + of + " takes its name";
  return "  removes  " + Escaped(d.names[r.entry - 1]) + ", which entry " +
         std::to_string(r.entry) + " installs: " + of + " takes its name";
}

// Records what entry `index` leaves at `key`, and what its install removes.
void Record(PlanDisk* d, size_t index, const PlaceKey& key, const Verdict& v, uint32_t size) {
  d->written[key] = Written{index, Blocks(size, d->volume.blockSize)};
  d->removed.erase(key);
  d->takenAway.erase(key);
  d->freeInodes -= v.inodes;
  if (!v.removed.any) return;
  d->removed[v.removed.key] = index;
  if (!v.removed.entry) return;
  d->written.erase(v.removed.key);
  d->takenAway[v.removed.key] = TakenAway{v.removed.entry, index};
}

}  // namespace

Verdict JudgeEntry(PlanDisk* d, size_t index, const std::string& name, uint32_t size, FILE* err) {
  const std::string target = d->prefix + name;
  const std::string shown = Escaped(name) + WhereNote(d->prefix, name);
  if (target.size() > kTargetPathMax)
    return Stop(150, "too long   " + shown +
                         ": the target path is over 256 characters (unpack stops: line 150)");
  const Way way = WalkFolders(d, target, err);
  const PlaceKey key = KeyOf(&d->folders, target);
  const auto earlier = d->written.find(key);
  d->unseen.clear();
  const bool present = way.state == kClear && (earlier != d->written.end() ||
                                               (!d->removed.count(key) && Present(d, target)));
  Verdict v = present ? JudgeReplacement(d, target, shown,
                                         earlier != d->written.end() ? &earlier->second : nullptr)
                      : JudgeNew(d, way, target, shown);
  if (!d->unseen.empty()) {
    v = Stop(0, "unseen     " + shown + ": " + d->unseen + " (only trying can tell)");
    v.unsure = true;
    return v;
  }
  if (v.removed.any) v.note = RemovedNote(*d, name, v.removed);
  if (v.road != kStops) Record(d, index, key, v, size);
  return v;
}
