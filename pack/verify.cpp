// Each entry is judged by the file its target holds: the same bytes, other
// bytes (the first that differs, or the two sizes), nothing, or something
// that is not a file. The content is compared as it streams from the
// package, a piece at a time, so that memory stays the same for an entry of
// any size and a pipe serves as well as a file. A target that a later entry
// installs again is judged by that entry alone, since unpack leaves the
// later content; so the lines wait for the end of the package. A file at
// the name of a target's staged copy, target + "TMP", is compared too: one
// that holds the entry's bytes, or their beginning, is a staged copy that a
// stopped run left; any other is only named like one.
#include "pack/verify.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "pack/disk.h"
#include "pack/names.h"
#include "pack/options.h"
#include "platform/tool.h"

namespace {

enum Finding { kSame, kDiffers, kMissing, kNotAFile, kUnreadable, kLater, kFindings };

// What stands at the name of the target's staged copy.
enum Staged { kNoFile, kStagedCopy, kNamedLike };

// One entry as found on disk.
struct Checked {
  std::string name;
  std::string target;
  PlaceKey key;
  Finding finding;
  std::string detail;  // after the name on the entry's line
  Staged staged;
};

// The installed file read alongside the entry's data.
struct Comparison {
  int fd;
  unsigned long long at;        // bytes compared so far
  unsigned long long differAt;  // the first byte that differs; ~0 while none does
  int error;                    // errno of a failed read, or 0
};

const unsigned long long kNone = ~0ull;

// Compares the next `n` bytes of the entry's data with the installed file's,
// at most a buffer of them.
void CompareSome(Comparison* c, const char* bytes, size_t n) {
  static char mine[1 << 18];
  n = n < sizeof mine ? n : sizeof mine;
  size_t got = 0;
  while (got < n) {
    const long r = OsReadSome(c->fd, mine + got, n - got);
    if (r < 0) c->error = errno;
    if (r <= 0) break;
    got += (size_t)r;
  }
  if (!c->error && got == n && memcmp(mine, bytes, n) == 0) {
    c->at += n;
    return;
  }
  size_t same = 0;
  while (same < got && mine[same] == bytes[same]) ++same;
  if (!c->error) c->differAt = c->at + same;
}

// Compares the next piece of the entry's data.
void ComparePiece(void* context, const char* bytes, size_t n) {
  Comparison* c = (Comparison*)context;
  const unsigned long long start = c->at;
  while (c->differAt == kNone && !c->error && c->at - start < n)
    CompareSome(c, bytes + (c->at - start), n - (size_t)(c->at - start));
}

// The target and the file at the name of its staged copy, each compared
// when open.
struct Comparisons {
  Comparison target, staged;
};

void CompareBoth(void* context, const char* bytes, size_t n) {
  Comparisons* c = (Comparisons*)context;
  if (c->target.fd >= 0) ComparePiece(&c->target, bytes, n);
  if (c->staged.fd >= 0) ComparePiece(&c->staged, bytes, n);
}

// Opens the file at the name of the staged copy of `target` when it is a
// file no larger than the entry, which a stopped run may have left; -1
// otherwise, with `staged` saying whether a file of another size stands there.
int OpenStaged(const std::string& target, uint32_t size, Staged* staged,
               unsigned long long* stagedSize) {
  PathFacts f;
  const std::string path = target + "TMP";
  *staged = kNoFile;
  // A staged copy is a file; a folder of that name is none of unpack's.
  if (!OsLookAtPath(path.c_str(), false, &f) || !S_ISREG(f.mode)) return -1;
  *staged = kNamedLike;
  *stagedSize = f.size;
  return f.size <= size ? OsOpenToRead(path.c_str()) : -1;
}

// What the comparison of the staged copy's name found: the entry's bytes,
// or their beginning (all `size` bytes of the file), are a staged copy.
Staged StagedFinding(const Comparison& c, unsigned long long size) {
  if (c.error) return kNamedLike;
  return c.differAt == kNone || c.differAt == size ? kStagedCopy : kNamedLike;
}

const char* NotAFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder stands there";
  if (S_ISLNK(mode)) return "a symbolic link stands there";
  if (S_ISFIFO(mode)) return "a FIFO stands there";
  if (S_ISSOCK(mode)) return "a socket stands there";
  return "a device stands there";
}

// Judges the target of one entry, before its data is read: `*fd` is left
// open on it when the bytes are to be compared.
void LookAtTarget(const EntryHeader& h, Checked* c, int* fd) {
  PathFacts f;
  if (!OsLookAtPath(c->target.c_str(), false, &f)) {
    c->finding = errno == ENOENT || errno == ENOTDIR ? kMissing : kUnreadable;
    c->detail = c->finding == kMissing ? "" : strerror(errno);
  } else if (!S_ISREG(f.mode)) {
    c->finding = kNotAFile;
    c->detail = NotAFile(f.mode);
  } else if (f.size != h.size) {
    c->finding = kDiffers;
    c->detail =
        std::to_string(f.size) + " bytes installed, " + std::to_string(h.size) + " in the package";
  } else if ((*fd = OsOpenToRead(c->target.c_str())) < 0) {
    c->finding = kUnreadable;
    c->detail = strerror(errno);
  }
}

// Judges one entry, reading its data from the package. False when the
// package fails.
bool CheckEntry(PackageIn* in, uint32_t index, const EntryHeader& h, Checked* c, FILE* err) {
  Comparisons both = {{-1, 0, kNone, 0}, {-1, 0, kNone, 0}};
  unsigned long long stagedSize = 0;
  LookAtTarget(h, c, &both.target.fd);
  both.staged.fd = OpenStaged(c->target, h.size, &c->staged, &stagedSize);
  const bool open = both.target.fd >= 0 || both.staged.fd >= 0;
  const bool read = TakeContent(in, index, h, open ? CompareBoth : nullptr, &both, err);
  if (both.staged.fd >= 0) {
    c->staged = StagedFinding(both.staged, stagedSize);
    OsCloseFile(both.staged.fd);
  }
  const Comparison& compare = both.target;
  if (compare.fd < 0) return read;
  OsCloseFile(compare.fd);
  c->finding = compare.error ? kUnreadable : compare.differAt != kNone ? kDiffers : kSame;
  if (compare.error) c->detail = strerror(compare.error);
  if (compare.differAt != kNone)
    c->detail = "the first byte that differs is at offset " + std::to_string(compare.differAt);
  return read;
}

const char* const kLabels[kFindings] = {"same      ", "differs   ", "missing   ",
                                        "not a file", "unreadable", "later     "};

// Where each target's staged copy goes: for each place, the last entry
// whose staged copy takes its name.
std::map<PlaceKey, size_t> StagedNames(const std::vector<Checked>& checked, FolderCache* folders) {
  std::map<PlaceKey, size_t> staged;
  for (size_t i = 0; i < checked.size(); ++i) staged[KeyOf(folders, checked[i].target + "TMP")] = i;
  return staged;
}

// The summary line, and the exit status: 0 when every entry is the same
// (or installed again later) and no staged copy is left. A file only named
// like a staged copy is none of the package's: it changes no status.
int Summary(const std::vector<Checked>& checked, const unsigned* counts, unsigned left,
            unsigned namedLike, FILE* out) {
  fprintf(out, "verified %zu %s: same %u, differs %u, missing %u, not a file %u", checked.size(),
          checked.size() == 1 ? "entry" : "entries", counts[kSame], counts[kDiffers],
          counts[kMissing], counts[kNotAFile]);
  if (counts[kUnreadable]) fprintf(out, ", unreadable %u", counts[kUnreadable]);
  if (counts[kLater]) fprintf(out, ", installed again later %u", counts[kLater]);
  fprintf(out, "; staged copies left %u", left);
  if (namedLike) fprintf(out, ", files named like one %u", namedLike);
  fputs("\n", out);
  return counts[kSame] + counts[kLater] == checked.size() && left == 0 ? 0 : kFailed;
}

// The line after an entry's on the file at the name of its staged copy
// (unless an entry installs a file there), if one stands there.
void ReportStaged(const Checked& c, const std::map<PlaceKey, size_t>& last, FolderCache* folders,
                  unsigned* left, unsigned* namedLike, FILE* out) {
  if (c.staged == kNoFile || last.count(KeyOf(folders, c.target + "TMP"))) return;
  const std::string name = Escaped(c.name);
  if (c.staged == kStagedCopy) {
    ++*left;
    fprintf(out, "left over  %sTMP: the staged copy of %s, left by a run that was stopped\n",
            name.c_str(), name.c_str());
    return;
  }
  ++*namedLike;
  fprintf(out,
          "named like %sTMP: a file named like the staged copy of %s, holding other bytes; unpack "
          "removes it when it next replaces %s\n",
          name.c_str(), name.c_str(), name.c_str());
}

// Writes the lines: one per entry, a note after each target that has a
// file at the name of its staged copy, and the summary. Returns the exit
// status.
int Report(const std::string& prefix, std::vector<Checked>* checked, bool complete,
           FolderCache* folders, FILE* out) {
  // A target is judged by the last entry that installs it.
  std::map<PlaceKey, size_t> last;
  for (size_t i = 0; i < checked->size(); ++i) last[(*checked)[i].key] = i;
  const std::map<PlaceKey, size_t> staged = StagedNames(*checked, folders);
  unsigned counts[kFindings] = {0}, left = 0, namedLike = 0;
  if (!checked->empty()) {
    const std::string note = PrefixNote(prefix, checked->front().name);
    if (!note.empty()) fprintf(out, "%s\n", note.c_str());
  }
  for (size_t i = 0; i < checked->size(); ++i) {
    Checked& c = (*checked)[i];
    const size_t again = last[c.key];
    const auto taker = staged.find(c.key);
    if (again != i)
      c.finding = kLater, c.detail = "entry " + std::to_string(again + 1) + " installs it again";
    else if (c.finding == kMissing && taker != staged.end() && taker->second > i)
      c.detail = "entry " + std::to_string(taker->second + 1) + " (" +
                 Escaped((*checked)[taker->second].name) + ") takes this name for its staged copy";
    ++counts[c.finding];
    fprintf(out, "%s %s%s%s\n", kLabels[c.finding], Escaped(c.name).c_str(),
            c.detail.empty() ? "" : ": ", c.detail.c_str());
    if (again == i) ReportStaged(c, last, folders, &left, &namedLike, out);
  }
  if (!complete) {
    fputs("malformed\n", out);
    return kFailed;
  }
  return Summary(*checked, counts, left, namedLike, out);
}

}  // namespace

int VerifyPackage(const char* prefix, PackageIn* in, FILE* out, FILE* err) {
  std::vector<Checked> checked;
  FolderCache folders;
  bool ok = TakeHead(in, err);
  for (uint32_t i = 1; ok && i <= in->count; ++i) {
    EntryHeader h;
    Checked c;
    ok = TakeHeader(in, i, &h, err);
    if (!ok) break;
    c.name = h.name;
    c.target = std::string(prefix) + h.name;
    c.key = KeyOf(&folders, c.target);
    ok = CheckEntry(in, i, h, &c, err);
    if (ok) checked.push_back(c);
  }
  if (in->progress) ClearProgress(in->progress);
  return FinishOutput(out, Report(prefix, &checked, ok, &folders, out), err);
}
