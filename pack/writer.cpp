// Every file is found and checked before the first byte is written: a name
// must fit the name field, a file must hold less than 4 GiB and be readable,
// and devices, FIFOs and sockets are refused, so that a refusal writes
// nothing. Entries are in byte order of their names as written with "/"; a
// file named twice is packed once, and two files given one name are both
// packed, in the order given, with a warning. Content is copied in pieces,
// so the size of a file does not matter to memory. With -o the package goes
// to FILE.partial, renamed to FILE once complete and removed on failure.
#include "pack/writer.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "format/package_format.h"
#include "pack/names.h"
#include "pack/progress.h"
#include "platform/tool.h"

namespace {

// The size field is 32 bits wide.
const uint64_t kMaxSize = 0xFFFFFFFFu;
// The name field holds the name and its NUL.
const size_t kMaxName = kNameField - 1;
const size_t kPiece = 1 << 18;

// One file to pack: its entry name (with "/"), where it is, and its size,
// mode and identity when it was checked.
struct Item {
  std::string name;
  std::string path;
  uint32_t size;
  mode_t mode;
  unsigned long long volume;
  unsigned long long index;
};

// A folder on the way down from a PATH, to notice a link that leads back up.
struct FolderId {
  unsigned long long volume;
  unsigned long long index;
};

bool CannotRead(const std::string& path, FILE* err) {
  fprintf(err, "pack: cannot read %s: %s\n", Escaped(path).c_str(), strerror(errno));
  return false;
}

// `folder` followed by `child`, with one "/" between them.
std::string Join(const std::string& folder, const std::string& child) {
  if (folder.empty() || OsIsSeparator(folder.back())) return folder + child;
  return folder + "/" + child;
}

// Where a path given under -C is looked up: in DIR, unless it is absolute.
std::string LookedUp(const Source& source) {
  const std::string& p = source.path;
  return source.dir && !OsIsSeparator(p[0]) ? Join(source.dir, p) : p;
}

const char* KindOf(mode_t mode) {
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

bool AddPath(const std::string& name, const std::string& path, std::vector<FolderId>* up,
             std::vector<Item>* items, FILE* err);

// Adds every file under the folder at `path`, which is named `name`.
bool AddFolder(const std::string& name, const std::string& path, std::vector<FolderId>* up,
               std::vector<Item>* items, FILE* err) {
  std::vector<std::string> children;
  if (!OsListFolder(path.c_str(), &children)) return CannotRead(path, err);
  // Sorted, so that of two faults the same one is always reported.
  std::sort(children.begin(), children.end());
  for (const std::string& child : children)
    if (!AddPath(name == "." ? child : Join(name, child), Join(path, child), up, items, err))
      return false;
  return true;
}

// Refuses what the format cannot carry: a file of 4 GiB or more, a name
// longer than the name field.
bool FitsTheFormat(const std::string& name, const std::string& path, const PathFacts& f,
                   FILE* err) {
  if (f.size > kMaxSize) {
    fprintf(err, "pack: %s holds %llu bytes; an entry holds at most %llu\n", Escaped(path).c_str(), f.size,
            (unsigned long long)kMaxSize);
    return false;
  }
  if (name.size() > kMaxName) {
    fprintf(err, "pack: the name %s is %zu bytes long; a name holds at most %zu\n", Escaped(name).c_str(),
            name.size(), kMaxName);
    return false;
  }
  return true;
}

// Adds the file at `path` under `name`, or the files under it if it is a
// folder. Returns false, the reason written to `err`, for anything that
// cannot be packed.
bool AddPath(const std::string& name, const std::string& path, std::vector<FolderId>* up,
             std::vector<Item>* items, FILE* err) {
  PathFacts f;
  if (!OsLookAtPath(path.c_str(), true, &f)) return CannotRead(path, err);
  if (S_ISDIR(f.mode)) {
    for (const FolderId& id : *up) {
      if (id.volume == f.volume && id.index == f.index) {
        fprintf(err, "pack: %s leads back into a folder being packed\n", Escaped(path).c_str());
        return false;
      }
    }
    up->push_back({f.volume, f.index});
    const bool ok = AddFolder(name, path, up, items, err);
    up->pop_back();
    return ok;
  }
  if (!S_ISREG(f.mode)) {
    fprintf(err, "pack: %s is %s, not a file or folder\n", Escaped(path).c_str(), KindOf(f.mode));
    return false;
  }
  if (!FitsTheFormat(name, path, f, err)) return false;
  const int fd = OsOpenToRead(path.c_str());
  if (fd < 0) return CannotRead(path, err);
  OsCloseFile(fd);
  items->push_back({name, path, (uint32_t)f.size, f.mode, f.volume, f.index});
  return true;
}

// The name as the package holds it.
std::string NameInPackage(const Item& item, bool windows) {
  std::string name = item.name;
  for (char& c : name)
    if (OsIsSeparator(c)) c = windows ? '\\' : '/';
  return name;
}

// What unpack will make of an entry that the user should know before: the
// package is written all the same, as an installer may mean it.
void Warn(const Item& item, FILE* err) {
  const std::string name = Escaped(item.name);
  if (OsIsSeparator(item.name[0]))
    fprintf(
        err,
        "pack: warning: %s is an absolute name: unpack installs it there only without -destdir; "
        "-destdir DIR puts it at DIR%s\n",
        name.c_str(), name.c_str());
  else if (ClimbsUp(item.name, kOsSeparators))
    fprintf(
        err,
        "pack: warning: %s has a .. component: unpack installs it outside the -destdir folder\n",
        name.c_str());
  if (item.mode & 0111)
    fprintf(err, "pack: warning: %s is executable, and a package carries no file modes\n",
            name.c_str());
}

// Warns of each name that is another's followed by TMP: unpack takes it for
// the staged copy of the other, and removes whatever stands there whenever
// it replaces the other. In this package the other comes first (names are
// in byte order), so both stay; a later install of the other alone, or a
// run stopped in between, does not leave this one as packed.
void WarnOfStagedNames(const std::vector<Item>& items, bool windows, FILE* err) {
  std::set<std::string> names, warned;
  for (const Item& item : items) names.insert(NameInPackage(item, windows));
  for (const Item& item : items) {
    const std::string name = NameInPackage(item, windows);
    const std::string other = name.substr(0, name.size() - 3);
    if (name.size() <= 3 || name.compare(other.size(), 3, "TMP") != 0 || !names.count(other) ||
        !warned.insert(name).second)
      continue;
    fprintf(err,
            "pack: warning: %s is named like the staged copy of %s: unpack removes a file of that "
            "name whenever it replaces %s\n",
            Escaped(name).c_str(), Escaped(other).c_str(), Escaped(other).c_str());
  }
}

// Adds the PATHs that the list file `list` names, one per line (or per NUL
// with -0), to `paths`; `in` is standard input, for "-".
bool ReadList(const Source& list, bool nul, FILE* in, std::vector<Source>* paths, FILE* err) {
  const bool standardInput = list.path == "-";
  const std::string where = standardInput ? list.path : LookedUp(list);
  const int fd = standardInput ? OsDescriptorOf(in) : OsOpenToRead(where.c_str());
  if (fd < 0) return CannotRead(where, err);
  std::string text;
  static char piece[kPiece];
  long n;
  while ((n = OsReadSome(fd, piece, sizeof piece)) > 0) text.append(piece, (size_t)n);
  const int error = errno;
  if (!standardInput) OsCloseFile(fd);
  errno = error;
  if (n < 0) return CannotRead(standardInput ? "standard input" : where, err);
  const char separator = nul ? '\0' : '\n';
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find(separator, at), text.size());
    if (end > at) paths->push_back({text.substr(at, end - at), list.dir});
    at = end + 1;
  }
  return true;
}

// Puts the items in the package's order, each file once under each name; a
// name given to two files keeps both, in the order given, with a warning:
// unpack installs both, the later over the earlier, as tar extracts both.
void Order(std::vector<Item>* items, bool windows, FILE* err) {
  std::stable_sort(items->begin(), items->end(),
                   [](const Item& a, const Item& b) { return a.name < b.name; });
  std::vector<Item> kept;
  std::map<std::string, std::vector<size_t>> byName;  // the name as written -> its items in `kept`
  for (const Item& item : *items) {
    const std::string written = NameInPackage(item, windows);
    std::vector<size_t>& same = byName[written];
    if (std::any_of(same.begin(), same.end(), [&](size_t k) {
          return kept[k].volume == item.volume && kept[k].index == item.index;
        }))
      continue;
    if (!same.empty())
      fprintf(err,
              "pack: warning: %s is the name of two files (%s, then %s): unpack installs both, and "
              "the second stays\n",
              Escaped(written).c_str(), Escaped(kept[same.back()].path).c_str(), Escaped(item.path).c_str());
    same.push_back(kept.size());
    kept.push_back(item);
  }
  items->swap(kept);
}

// Refuses an output that is one of the inputs, by file identity.
bool OutputIsAnInput(const char* output, const std::vector<Item>& items, FILE* err) {
  for (const std::string& out : {std::string(output), std::string(output) + ".partial"}) {
    PathFacts f;
    if (!OsLookAtPath(out.c_str(), true, &f) || !S_ISREG(f.mode)) continue;
    for (const Item& item : items) {
      if (item.volume == f.volume && item.index == f.index) {
        fprintf(err, "pack: the output %s is also an input (%s); nothing was written\n",
                Escaped(out).c_str(), Escaped(item.path).c_str());
        return true;
      }
    }
  }
  return false;
}

// Finds and checks every file the PATHs (and the lists) name, in the order
// of the package; refuses an output that is one of them.
bool CollectItems(const Options& o, FILE* in, std::vector<Item>* items, FILE* err) {
  std::vector<Source> paths = o.paths;
  for (const Source& list : o.lists)
    if (!ReadList(list, o.nul, in, &paths, err)) return false;
  std::vector<FolderId> up;
  for (const Source& source : paths) {
    if (source.path.empty()) {
      fputs("pack: an empty path names no file\n", err);
      return false;
    }
    if (!AddPath(source.path, LookedUp(source), &up, items, err)) return false;
  }
  if (items->empty()) {
    fputs("pack: no files to pack under the paths given\n", err);
    return false;
  }
  Order(items, o.windows, err);
  if (o.output && OutputIsAnInput(o.output, *items, err)) return false;
  for (const Item& item : *items) Warn(item, err);
  WarnOfStagedNames(*items, o.windows, err);
  return true;
}

// The package being written: to a descriptor through a buffer, under a
// name for messages, with the progress.
struct PackageOut {
  int fd;
  const char* name;
  Progress progress;
  size_t held;  // the bytes the buffer holds, not yet written
};

char g_outBuffer[kPiece];

bool CannotWrite(PackageOut* out, FILE* err) {
  ClearProgress(&out->progress);
  fprintf(err, "pack: cannot write %s: %s\n", Escaped(out->name).c_str(), strerror(errno));
  return false;
}

// Writes what the buffer holds.
bool Drain(PackageOut* out, FILE* err) {
  const size_t n = out->held;
  out->held = 0;
  return OsWriteAll(out->fd, g_outBuffer, n) || CannotWrite(out, err);
}

// Adds `n` bytes to the package: through the buffer, or straight on once it
// is drained for a piece as large as it.
bool Put(PackageOut* out, const void* bytes, size_t n, FILE* err) {
  if (out->held + n > sizeof g_outBuffer && out->held > 0 && !Drain(out, err)) return false;
  if (n >= sizeof g_outBuffer) {
    if (!OsWriteAll(out->fd, bytes, n)) return CannotWrite(out, err);
  } else {
    memcpy(g_outBuffer + out->held, bytes, n);
    out->held += n;
  }
  AddProgress(&out->progress, n);
  return true;
}

bool PutLe32(PackageOut* out, uint32_t v, FILE* err) {
  unsigned char bytes[4];
  EncodeLe32(v, bytes);
  return Put(out, bytes, sizeof bytes, err);
}

// Writes one entry: its size, its name and its content, read in pieces. A
// file whose content no longer matches the size it had when it was checked
// is a failure.
bool PutEntry(PackageOut* out, const Item& item, bool windows, FILE* err) {
  const int fd = OsOpenToRead(item.path.c_str());
  if (fd < 0) return ClearProgress(&out->progress), CannotRead(item.path, err);
  const std::string name = NameInPackage(item, windows);
  bool ok = PutLe32(out, item.size, err) && Put(out, name.c_str(), name.size() + 1, err);
  uint64_t total = 0;
  static char piece[kPiece];
  while (ok) {
    const long n = OsReadSome(fd, piece, sizeof piece);
    if (n < 0) ok = (ClearProgress(&out->progress), CannotRead(item.path, err));
    if (n <= 0) break;
    total += (uint64_t)n;
    if (total > item.size) break;
    ok = Put(out, piece, (size_t)n, err);
  }
  OsCloseFile(fd);
  if (ok && total != item.size) {
    ClearProgress(&out->progress);
    fprintf(err, "pack: %s changed while being packed (its size was %u bytes)\n", Escaped(item.path).c_str(),
            item.size);
    ok = false;
  }
  return ok;
}

// Writes the package, listing each entry on `listing` when given.
bool PutPackage(PackageOut* out, const std::vector<Item>& items, const Options& o, FILE* listing,
                FILE* err) {
  unsigned long long total = 8;
  for (const Item& item : items) total += 4 + item.name.size() + 1 + item.size;
  StartProgress(&out->progress, err, o.quiet, total);
  bool ok = PutLe32(out, kPackageMagic, err) && PutLe32(out, (uint32_t)items.size(), err);
  for (size_t i = 0; ok && i < items.size(); ++i) {
    ok = PutEntry(out, items[i], o.windows, err);
    if (ok && listing) {
      ClearProgressBefore(&out->progress, listing);
      fprintf(listing, "%s\n", Escaped(items[i].name).c_str());
    }
  }
  // What was put goes out after a failure too, as a stream's buffer would.
  ok = Drain(out, err) && ok;
  ClearProgress(&out->progress);
  return ok;
}

// Writes the package to the file named by -o: through FILE.partial, renamed
// over FILE once complete, so that a failure leaves FILE as it was. A device
// or FIFO (such as /dev/null) is written in place: there is nothing to rename.
bool PutPackageFile(const Options& o, const std::vector<Item>& items, FILE* listing, FILE* err) {
  PathFacts f;
  const bool inPlace = OsLookAtPath(o.output, true, &f) && !S_ISREG(f.mode);
  const std::string target = inPlace ? o.output : std::string(o.output) + ".partial";
  PackageOut out = {OsCreateToWrite(target.c_str()), target.c_str(), Progress(), 0};
  if (out.fd < 0) {
    fprintf(err, "pack: cannot create %s: %s\n", Escaped(target).c_str(), strerror(errno));
    return false;
  }
  bool ok = PutPackage(&out, items, o, listing, err);
  if (ok && !inPlace && !OsFlushFile(out.fd)) ok = CannotWrite(&out, err);
  if (!OsCloseFile(out.fd) && ok) ok = CannotWrite(&out, err);
  if (inPlace) return ok;
  if (ok && !OsRenameFile(target.c_str(), o.output)) {
    fprintf(err, "pack: cannot rename %s to %s: %s\n", Escaped(target).c_str(), Escaped(o.output).c_str(),
              strerror(errno));
    ok = false;
  }
  if (!ok) OsRemoveFile(target.c_str());
  return ok;
}

}  // namespace

int PackFiles(const Options& o, FILE* in, FILE* out, FILE* err) {
  std::vector<Item> items;
  if (!CollectItems(o, in, &items, err)) return kFailed;
  if (o.output) return PutPackageFile(o, items, o.verbose ? out : nullptr, err) ? 0 : kFailed;
  if (isatty(fileno(out))) {
    fputs(
        "pack: refusing to write a package to a terminal; use -o FILE or redirect standard "
        "output\n",
        err);
    return kUsageError;
  }
  PackageOut package = {OsDescriptorOf(out), "standard output", Progress(), 0};
  return PutPackage(&package, items, o, o.verbose ? err : nullptr, err) ? 0 : kFailed;
}
