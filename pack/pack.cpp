// pack: writes a package stream of the named files, or checks one.
//
// Usage: pack [-w] [-C DIR] [-o FILE] PATH...
//        pack -t < PACKAGE
//
// Each PATH names a file or a folder; a folder stands for every file under it,
// at any depth. An entry's name is the file's path as given, looked up under
// DIR when -C is used (DIR itself is not part of the names), with "/" between
// folders, or "\" with -w for packages meant for Windows. The folder "." gives
// its files' names without a leading "./". Entries are in byte order of their
// names as written with "/", whether or not -w is used, and a file named twice
// is packed once, so the same tree always gives the same bytes. Folders are
// not entries; a symbolic link is packed as what it points to.
//
// Every path is checked before the first byte is written: a name must fit the
// name field, a file must hold less than 4 GiB and be readable, and devices,
// FIFOs and sockets are refused. Content is copied in chunks, so the size of
// a file does not matter to memory. The package goes to standard output (never
// a terminal), or with -o to FILE.partial, renamed to FILE once complete and
// removed on failure; an -o that names a device or FIFO is written in place.
//
// pack -t reads a package from standard input, lists each entry's size and
// name, and ends with a verdict line: "well formed: ..." and exit status 0, or
// "malformed" and exit status 1 after a message that says why. Bytes after the
// last entry draw a warning only, since unpack never reads them.
//
// Messages go to the error stream, each starting "pack: ".
#include "pack/pack.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format/reader.h"
#include "pack/names.h"
#include "pack/plan.h"

namespace {

const char kUsage[] =
    "usage: pack [-0vw] [-C DIR] [-o FILE] [-T LIST] PATH...\n"
    "       pack -t [PACKAGE]\n"
    "       pack --plan PREFIX [--mkdirs] [PACKAGE]\n";
const char kHelp[] =
    "Writes a package of the files the PATHs name (a folder stands for every\n"
    "file under it), checks one, or tells what installing one would do.\n"
    "\n"
    "  -o, --output=FILE       write the package to FILE (through FILE.partial)\n"
    "                          instead of standard output\n"
    "  -C, --directory=DIR     look up the PATHs that follow under DIR; their\n"
    "                          names in the package leave DIR out\n"
    "  -T, --files-from=LIST   read more PATHs from the file LIST (- for\n"
    "                          standard input), one per line\n"
    "  -0, --null              the PATHs of -T are separated by NUL bytes\n"
    "  -w, --windows           write \\ between folders in names, for Windows\n"
    "  -v, --verbose           list each entry as it is packed (on standard\n"
    "                          error when the package goes to standard output)\n"
    "  -t, --list              check the package in PACKAGE (or on standard\n"
    "                          input) and list its entries\n"
    "      --plan=PREFIX       tell what unpack -destdir PREFIX would do here\n"
    "                          with each entry of PACKAGE, the folders to make\n"
    "                          and the free space it needs; changes nothing\n"
    "      --mkdirs            with --plan: make the missing folders\n"
    "  -h, --help              show this help\n"
    "      --version           show the version\n"
    "  --                      what follows is a PATH, even if it begins with -\n"
    "\n"
    "Names are listed with control characters and \\ escaped as in C.\n"
    "Exit status: 0 success, 1 a malformed package or a failed run, 2 a usage error.\n";
const char kVersionText[] = "pack 1.1\n";
// The size field is 32 bits wide.
const uint64_t kMaxSize = 0xFFFFFFFFu;
// The name field holds the name and its NUL.
const size_t kMaxName = kNameField - 1;
const size_t kChunk = 1 << 16;
// Exit statuses.
const int kFailed = 1, kUsageError = 2;

// A PATH as given, and the -C folder in effect where it was given.
struct Source {
  std::string path;
  const char* dir;
};

struct Options {
  const char* output = nullptr;  // -o
  bool windows = false;          // -w
  bool list = false;             // -t
  bool verbose = false;          // -v
  bool nul = false;              // -0
  bool help = false;
  bool version = false;
  const char* plan = nullptr;  // --plan PREFIX
  bool mkdirs = false;         // --mkdirs
  std::vector<Source> paths;   // in the order given
  std::vector<Source> lists;   // -T files
  bool packOptions = false;    // -o, -C, -T, -0, -w or -v given
};

// One file to pack: its entry name (with "/"), where it is, and its size,
// mode and identity when it was checked.
struct Item {
  std::string name;
  std::string path;
  uint32_t size;
  mode_t mode;
  dev_t dev;
  ino_t ino;
};

// A folder on the way down from a PATH, to notice a link that leads back up.
struct FolderId {
  dev_t dev;
  ino_t ino;
};

bool Usage(FILE* err, const std::string& message) {
  fprintf(err, "pack: %s\n%s", message.c_str(), kUsage);
  return false;
}

bool ParseArguments(int argc, char** argv, Options* o, FILE* err) {
  enum { kPlan = 256, kMkdirs, kVersion };
  static const struct option kLong[] = {
      {"output", required_argument, nullptr, 'o'},     {"directory", required_argument, nullptr, 'C'},
      {"files-from", required_argument, nullptr, 'T'}, {"null", no_argument, nullptr, '0'},
      {"windows", no_argument, nullptr, 'w'},          {"verbose", no_argument, nullptr, 'v'},
      {"list", no_argument, nullptr, 't'},             {"plan", required_argument, nullptr, kPlan},
      {"mkdirs", no_argument, nullptr, kMkdirs},       {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},     {nullptr, 0, nullptr, 0}};
  const char* dir = nullptr;
  // "-": the PATHs come back in their place among the options, so that a -C
  // applies to those after it; ":": a missing value is told apart.
  optind = 0;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "-:o:C:T:0wvth", kLong, nullptr)) != -1;) {
    switch (c) {
      case 1: o->paths.push_back({optarg, dir}); break;
      case 'o': o->output = optarg; o->packOptions = true; break;
      case 'C': dir = optarg; o->packOptions = true; break;
      case 'T': o->lists.push_back({optarg, dir}); o->packOptions = true; break;
      case '0': o->nul = o->packOptions = true; break;
      case 'w': o->windows = o->packOptions = true; break;
      case 'v': o->verbose = o->packOptions = true; break;
      case 't': o->list = true; break;
      case kPlan: o->plan = optarg; break;
      case kMkdirs: o->mkdirs = true; break;
      case 'h': o->help = true; break;
      case kVersion: o->version = true; break;
      case ':': return Usage(err, std::string("option ") + argv[optind - 1] + " needs a value");
      default:
        if (optopt) return Usage(err, std::string("unknown option -") + (char)optopt);
        return Usage(err, std::string("unknown option ") + argv[optind - 1]);
    }
  }
  // After "--", the rest are PATHs.
  for (int i = optind; i < argc; ++i) o->paths.push_back({argv[i], dir});
  if (o->help || o->version) return true;
  if (o->list && o->plan) return Usage(err, "-t and --plan do not go together");
  if (o->mkdirs && !o->plan) return Usage(err, "--mkdirs goes with --plan");
  if (o->list || o->plan) {
    const char* mode = o->list ? "-t" : "--plan";
    if (o->packOptions) return Usage(err, std::string(mode) + " takes none of the options that write a package");
    if (o->paths.size() > 1) return Usage(err, std::string(mode) + " reads one package");
    return true;
  }
  if (o->nul && o->lists.empty()) return Usage(err, "-0 goes with -T");
  if (o->paths.empty() && o->lists.empty()) return Usage(err, "no path given");
  return true;
}

bool CannotRead(const std::string& path, FILE* err) {
  fprintf(err, "pack: cannot read %s: %s\n", path.c_str(), strerror(errno));
  return false;
}

// `folder` followed by `child`, with one "/" between them.
std::string Join(const std::string& folder, const std::string& child) {
  if (folder.empty() || folder.back() == '/') return folder + child;
  return folder + "/" + child;
}

// Where a path given under -C is looked up: in DIR, unless it is absolute.
std::string LookedUp(const Source& source) {
  const std::string& p = source.path;
  return source.dir && p[0] != '/' ? Join(source.dir, p) : p;
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
  DIR* dir = opendir(path.c_str());
  if (!dir) return CannotRead(path, err);
  std::vector<std::string> children;
  for (;;) {
    errno = 0;
    const struct dirent* e = readdir(dir);
    if (!e) break;
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) children.push_back(e->d_name);
  }
  const int readError = errno;
  closedir(dir);
  if (readError) {
    errno = readError;
    return CannotRead(path, err);
  }
  // Sorted, so that of two faults the same one is always reported.
  std::sort(children.begin(), children.end());
  for (const std::string& child : children)
    if (!AddPath(name == "." ? child : Join(name, child), Join(path, child), up, items, err))
      return false;
  return true;
}

// Adds the file at `path` under `name`, or the files under it if it is a
// folder. Returns false, the reason written to `err`, for anything that
// cannot be packed.
bool AddPath(const std::string& name, const std::string& path, std::vector<FolderId>* up,
             std::vector<Item>* items, FILE* err) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return CannotRead(path, err);
  if (S_ISDIR(st.st_mode)) {
    for (const FolderId& f : *up) {
      if (f.dev == st.st_dev && f.ino == st.st_ino) {
        fprintf(err, "pack: %s leads back into a folder being packed\n", path.c_str());
        return false;
      }
    }
    up->push_back({st.st_dev, st.st_ino});
    const bool ok = AddFolder(name, path, up, items, err);
    up->pop_back();
    return ok;
  }
  if (!S_ISREG(st.st_mode)) {
    fprintf(err, "pack: %s is %s, not a file or folder\n", path.c_str(), KindOf(st.st_mode));
    return false;
  }
  if ((uint64_t)st.st_size > kMaxSize) {
    fprintf(err, "pack: %s holds %llu bytes; an entry holds at most %llu\n", path.c_str(),
            (unsigned long long)st.st_size, (unsigned long long)kMaxSize);
    return false;
  }
  if (name.size() > kMaxName) {
    fprintf(err, "pack: the name %s is %zu bytes long; a name holds at most %zu\n", name.c_str(),
            name.size(), kMaxName);
    return false;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return CannotRead(path, err);
  close(fd);
  items->push_back({name, path, (uint32_t)st.st_size, st.st_mode, st.st_dev, st.st_ino});
  return true;
}

// What unpack will make of an entry that the user should know before: the
// package is written all the same, as an installer may mean it.
void Warn(const Item& item, FILE* err) {
  const std::string name = Escaped(item.name);
  if (item.name[0] == '/')
    fprintf(err, "pack: warning: %s is an absolute name: unpack installs it there, whatever -destdir says\n",
            name.c_str());
  else if (ClimbsUp(item.name, "/"))
    fprintf(err, "pack: warning: %s has a .. component: unpack installs it outside the -destdir folder\n",
            name.c_str());
  if (item.mode & 0111)
    fprintf(err, "pack: warning: %s is executable, and a package carries no file modes\n", name.c_str());
}

// Adds the PATHs that the list file `list` names, one per line (or per NUL
// with -0), to `paths`; `in` is standard input, for "-".
bool ReadList(const Source& list, bool nul, FILE* in, std::vector<Source>* paths, FILE* err) {
  const bool standardInput = list.path == "-";
  const std::string where = standardInput ? list.path : LookedUp(list);
  FILE* f = standardInput ? in : fopen(where.c_str(), "rb");
  if (!f) return CannotRead(where, err);
  std::string text;
  char chunk[kChunk];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
  const bool failed = ferror(f);
  if (!standardInput) fclose(f);
  if (failed) return CannotRead(standardInput ? "standard input" : where, err);
  const char separator = nul ? '\0' : '\n';
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find(separator, at), text.size());
    if (end > at) paths->push_back({text.substr(at, end - at), list.dir});
    at = end + 1;
  }
  return true;
}

// Finds and checks every file the PATHs (and the lists) name, in the order
// of the package; refuses an output that is one of them.
bool CollectItems(const Options& o, FILE* in, std::vector<Item>* items, FILE* err) {
  std::vector<Source> paths = o.paths;
  for (const Source& list : o.lists)
    if (!ReadList(list, o.nul, in, &paths, err)) return false;
  std::vector<FolderId> up;
  for (const Source& source : paths) {
    const std::string& p = source.path;
    if (p.empty()) {
      fputs("pack: an empty path names no file\n", err);
      return false;
    }
    const std::string path = LookedUp(source);
    if (!AddPath(p, path, &up, items, err)) return false;
  }
  std::sort(items->begin(), items->end(),
            [](const Item& a, const Item& b) { return a.name < b.name; });
  items->erase(std::unique(items->begin(), items->end(),
                           [](const Item& a, const Item& b) { return a.name == b.name; }),
               items->end());
  if (items->empty()) {
    fputs("pack: no files to pack under the paths given\n", err);
    return false;
  }
  if (o.output) {
    for (const std::string& out : {std::string(o.output), std::string(o.output) + ".partial"}) {
      struct stat st;
      if (stat(out.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      for (const Item& item : *items) {
        if (item.dev == st.st_dev && item.ino == st.st_ino) {
          fprintf(err, "pack: the output %s is also an input (%s); nothing was written\n",
                  out.c_str(), item.path.c_str());
          return false;
        }
      }
    }
  }
  for (const Item& item : *items) Warn(item, err);
  return true;
}

bool Put(FILE* out, const char* outName, const void* bytes, size_t n, FILE* err) {
  if (fwrite(bytes, 1, n, out) == n) return true;
  fprintf(err, "pack: cannot write %s: %s\n", outName, strerror(errno));
  return false;
}

bool PutLe32(FILE* out, const char* outName, uint32_t v, FILE* err) {
  unsigned char bytes[4];
  EncodeLe32(v, bytes);
  return Put(out, outName, bytes, sizeof bytes, err);
}

// Writes one entry: its size, its name and its content, read in chunks. A
// file whose content no longer matches the size it had when it was checked
// is a failure.
bool PutEntry(FILE* out, const char* outName, const Item& item, bool windows, FILE* err) {
  const int fd = open(item.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return CannotRead(item.path, err);
  std::string name = item.name;
  if (windows) std::replace(name.begin(), name.end(), '/', '\\');
  bool ok = PutLe32(out, outName, item.size, err) &&
            Put(out, outName, name.c_str(), name.size() + 1, err);
  uint64_t total = 0;
  char chunk[kChunk];
  while (ok) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = CannotRead(item.path, err);
    if (n <= 0) break;
    total += (uint64_t)n;
    if (total > item.size) break;
    ok = Put(out, outName, chunk, (size_t)n, err);
  }
  close(fd);
  if (ok && total != item.size) {
    fprintf(err, "pack: %s changed while being packed (its size was %u bytes)\n", item.path.c_str(),
            item.size);
    ok = false;
  }
  return ok;
}

// Writes the package to `out`, listing each entry on `listing` when given.
bool PutPackage(FILE* out, const char* outName, const std::vector<Item>& items, bool windows,
                FILE* listing, FILE* err) {
  bool ok = PutLe32(out, outName, kPackageMagic, err) &&
            PutLe32(out, outName, (uint32_t)items.size(), err);
  for (size_t i = 0; ok && i < items.size(); ++i) {
    ok = PutEntry(out, outName, items[i], windows, err);
    if (ok && listing) fprintf(listing, "%s\n", Escaped(items[i].name).c_str());
  }
  if (ok && fflush(out) != 0) {
    fprintf(err, "pack: cannot write %s: %s\n", outName, strerror(errno));
    ok = false;
  }
  return ok;
}

// Writes the package to the file named by -o: through FILE.partial, renamed
// over FILE once complete, so that a failure leaves FILE as it was. A device
// or FIFO (such as /dev/null) is written in place: there is nothing to rename.
bool PutPackageFile(const Options& o, const std::vector<Item>& items, FILE* listing, FILE* err) {
  struct stat st;
  const bool inPlace = stat(o.output, &st) == 0 && !S_ISREG(st.st_mode);
  const std::string target = inPlace ? o.output : std::string(o.output) + ".partial";
  FILE* f = fopen(target.c_str(), "wb");
  if (!f) {
    fprintf(err, "pack: cannot create %s: %s\n", target.c_str(), strerror(errno));
    return false;
  }
  bool ok = PutPackage(f, target.c_str(), items, o.windows, listing, err);
  if (ok && !inPlace && fsync(fileno(f)) != 0) {
    fprintf(err, "pack: cannot write %s: %s\n", target.c_str(), strerror(errno));
    ok = false;
  }
  if (fclose(f) != 0 && ok) {
    fprintf(err, "pack: cannot write %s: %s\n", target.c_str(), strerror(errno));
    ok = false;
  }
  if (inPlace) return ok;
  if (ok && rename(target.c_str(), o.output) != 0) {
    fprintf(err, "pack: cannot rename %s to %s: %s\n", target.c_str(), o.output, strerror(errno));
    ok = false;
  }
  if (!ok) unlink(target.c_str());
  return ok;
}

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
  return PutPackage(out, "standard output", items, o.windows, o.verbose ? err : nullptr, err) ? 0 : kFailed;
}

// The package being read, as messages name it.
const char* g_packageName = "standard input";

bool CannotReadInput(FILE* err) {
  fprintf(err, "pack: cannot read %s: %s\n", g_packageName, strerror(errno));
  return false;
}

// Reads the magic and the count. Returns false, with a message, unless the
// stream begins as a package does.
bool TakeHead(FILE* in, uint32_t* count, FILE* err) {
  uint32_t magic = 0;
  size_t got = 0;
  if (ReadField(in, &magic, &got) == kFormatFailed) return CannotReadInput(err);
  if (got < 4) {
    fprintf(err, "pack: not a package: the stream ends after %zu of the 4 bytes of its magic\n",
            got);
    return false;
  }
  if (magic != kPackageMagic) {
    unsigned char field[4];
    EncodeLe32(magic, field);
    fprintf(err, "pack: not a package: it begins %02X %02X %02X %02X, not %02X %02X %02X %02X\n",
            field[0], field[1], field[2], field[3], kPackageMagic & 0xFF, kPackageMagic >> 8 & 0xFF,
            kPackageMagic >> 16 & 0xFF, kPackageMagic >> 24);
    return false;
  }
  if (ReadField(in, count, &got) == kFormatFailed) return CannotReadInput(err);
  if (got < 4) {
    fprintf(err, "pack: the stream ends after %zu of the 4 bytes of the entry count\n", got);
    return false;
  }
  if (*count == 0) {
    fputs("pack: the entry count is 0; a package holds at least 1 entry\n", err);
    return false;
  }
  return true;
}

// Reads entry `index` (from 1) of `count`, its data skipped. Returns false,
// with a message, when the entry is cut short or malformed.
bool TakeEntry(FILE* in, uint32_t index, uint32_t count, EntryHeader* entry, FILE* err) {
  EntryHeader& header = *entry;
  switch (ReadEntryHeader(in, &header)) {
    case kFormatComplete:
      break;
    case kFormatFailed:
      return CannotReadInput(err);
    case kFormatEnded:
      fprintf(err, "pack: the stream ends after %u of the %u entries it declares\n", index - 1,
              count);
      return false;
    case kFormatNameTooLong:
      fprintf(err, "pack: entry %u of %u: no NUL ends its name within %u bytes\n", index, count,
              kNameField);
      return false;
    case kFormatCut:
      fprintf(err, "pack: entry %u of %u: the stream ends inside its header\n", index, count);
      return false;
  }
  uint32_t left = header.size;
  char chunk[kChunk];
  while (left > 0) {
    const size_t want = std::min<size_t>(left, sizeof chunk);
    size_t got = 0;
    if (ReadBytes(in, chunk, want, &got) == kFormatFailed) return CannotReadInput(err);
    left -= (uint32_t)got;
    if (got < want) break;
  }
  if (left > 0) {
    fprintf(err, "pack: entry %u of %u (%s): the stream ends after %u of its %u data bytes\n",
            index, count, Escaped(header.name).c_str(), header.size - left, header.size);
    return false;
  }
  return true;
}

// Reads the whole package: its entries, or false after a message.
bool TakePackage(FILE* in, std::vector<EntryHeader>* entries, FILE* err) {
  uint32_t count = 0;
  if (!TakeHead(in, &count, err)) return false;
  for (uint64_t i = 1; i <= count; ++i) {
    EntryHeader header;
    if (!TakeEntry(in, (uint32_t)i, count, &header, err)) return false;
    entries->push_back(header);
  }
  return true;
}

int ListPackage(FILE* in, FILE* out, FILE* err) {
  uint32_t count = 0;
  uint64_t total = 0;
  bool ok = TakeHead(in, &count, err);
  for (uint64_t i = 1; ok && i <= count; ++i) {
    EntryHeader header;
    ok = TakeEntry(in, (uint32_t)i, count, &header, err);
    if (ok) fprintf(out, "%10u %s\n", header.size, Escaped(header.name).c_str());
    total += ok ? header.size : 0;
  }
  if (ok) {
    // unpack stops after the last entry; what follows it is noted, no more.
    uint64_t extra = 0;
    char chunk[kChunk];
    size_t got = 0;
    FormatRead r;
    while ((r = ReadBytes(in, chunk, sizeof chunk, &got)) != kFormatFailed && got > 0) extra += got;
    if (r == kFormatFailed) ok = CannotReadInput(err);
    if (ok && extra > 0)
      fprintf(err, "pack: warning: %llu bytes follow the last entry; unpack ignores them\n",
              (unsigned long long)extra);
  }
  if (ok)
    fprintf(out, "well formed: %u %s, total size %llu\n", count, count == 1 ? "entry" : "entries",
            (unsigned long long)total);
  else
    fputs("malformed\n", out);
  if (fflush(out) != 0) {
    fprintf(err, "pack: cannot write standard output: %s\n", strerror(errno));
    return kFailed;
  }
  return ok ? 0 : kFailed;
}

int PlanPackage(const Options& o, FILE* in, FILE* out, FILE* err) {
  std::vector<EntryHeader> headers;
  if (!TakePackage(in, &headers, err)) {
    fputs("malformed\n", out);
    return kFailed;
  }
  std::vector<PlanEntry> entries;
  for (const EntryHeader& h : headers) entries.push_back({h.name, h.size});
  return RunPlan(o.plan, o.mkdirs, entries, out, err);
}

}  // namespace

int RunPack(int argc, char** argv, FILE* in, FILE* out, FILE* err) {
  Options o;
  if (!ParseArguments(argc, argv, &o, err)) return kUsageError;
  if (o.help) {
    fputs(kUsage, out);
    fputs(kHelp, out);
    return 0;
  }
  if (o.version) return fputs(kVersionText, out), 0;
  if (!o.list && !o.plan) return PackFiles(o, in, out, err);
  // A package to read: the one named, or standard input, never a terminal.
  FILE* package = in;
  const char* name = g_packageName = o.paths.empty() ? "standard input" : o.paths[0].path.c_str();
  if (!o.paths.empty() && !(package = fopen(name, "rb"))) return CannotRead(name, err), kFailed;
  if (o.paths.empty() && isatty(fileno(in))) {
    fputs("pack: refusing to read a package from a terminal; give PACKAGE or redirect standard input\n",
          err);
    return kUsageError;
  }
  const int status = o.list ? ListPackage(package, out, err) : PlanPackage(o, package, out, err);
  if (package != in) fclose(package);
  return status;
}