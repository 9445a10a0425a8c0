// Each entry is judged by the file its target holds: the same bytes, other
// bytes (the first that differs, or the two sizes), nothing, or something
// that is not a file. The content is compared as it streams from the
// package, a piece at a time, so that memory stays the same for an entry of
// any size and a pipe serves as well as a file. A target that a later entry
// installs again is judged by that entry alone, since unpack leaves the
// later content; so the lines wait for the end of the package.
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
#include "platform/posix_tool.h"

namespace {

enum Finding { kSame, kDiffers, kMissing, kNotAFile, kUnreadable, kLater, kFindings };

// One entry as found on disk.
struct Checked {
  std::string name;
  std::string target;
  PlaceKey key;
  Finding finding;
  std::string detail;  // after the name on the entry's line
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
    const long r = ReadSome(c->fd, mine + got, n - got);
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

const char* NotAFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder stands there";
  if (S_ISLNK(mode)) return "a symbolic link stands there";
  if (S_ISFIFO(mode)) return "a FIFO stands there";
  if (S_ISSOCK(mode)) return "a socket stands there";
  return "a device stands there";
}

// Judges one entry, reading its data from the package. False when the
// package fails.
bool CheckEntry(PackageIn* in, uint32_t index, const EntryHeader& h, Checked* c, FILE* err) {
  PathFacts f;
  int fd = -1;
  if (!LookAtPath(c->target.c_str(), false, &f)) {
    c->finding = errno == ENOENT || errno == ENOTDIR ? kMissing : kUnreadable;
    c->detail = c->finding == kMissing ? "" : strerror(errno);
  } else if (!S_ISREG(f.mode)) {
    c->finding = kNotAFile;
    c->detail = NotAFile(f.mode);
  } else if (f.size != h.size) {
    c->finding = kDiffers;
    c->detail =
        std::to_string(f.size) + " bytes installed, " + std::to_string(h.size) + " in the package";
  } else if ((fd = OpenToRead(c->target.c_str())) < 0) {
    c->finding = kUnreadable;
    c->detail = strerror(errno);
  }
  Comparison compare = {fd, 0, kNone, 0};
  const bool read = TakeContent(in, index, h, fd < 0 ? nullptr : ComparePiece, &compare, err);
  if (fd < 0) return read;
  CloseFile(fd);
  c->finding = compare.error ? kUnreadable : compare.differAt != kNone ? kDiffers : kSame;
  if (compare.error) c->detail = strerror(compare.error);
  if (compare.differAt != kNone)
    c->detail = "the first byte that differs is at offset " + std::to_string(compare.differAt);
  return read;
}

const char* const kLabels[kFindings] = {"same      ", "differs   ", "missing   ",
                                        "not a file", "unreadable", "later     "};

// Writes the lines: one per entry, a note after each target that has a
// staged copy beside it (unless an entry installs a file there), and the
// summary. Returns the exit status.
int Report(const std::string& prefix, std::vector<Checked>* checked, bool complete,
           FolderCache* folders, FILE* out) {
  // A target is judged by the last entry that installs it.
  std::map<PlaceKey, size_t> last;
  for (size_t i = 0; i < checked->size(); ++i) last[(*checked)[i].key] = i;
  unsigned counts[kFindings] = {0}, left = 0;
  if (!checked->empty()) {
    const std::string note = PrefixNote(prefix, checked->front().name);
    if (!note.empty()) fprintf(out, "%s\n", note.c_str());
  }
  for (size_t i = 0; i < checked->size(); ++i) {
    Checked& c = (*checked)[i];
    const size_t again = last[c.key];
    if (again != i)
      c.finding = kLater, c.detail = "entry " + std::to_string(again + 1) + " installs it again";
    ++counts[c.finding];
    fprintf(out, "%s %s%s%s\n", kLabels[c.finding], Escaped(c.name).c_str(),
            c.detail.empty() ? "" : ": ", c.detail.c_str());
    // A staged copy is a file; a folder of that name is none of unpack's.
    const std::string staged = c.target + "TMP";
    PathFacts f;
    if (again != i || !LookAtPath(staged.c_str(), false, &f) || !S_ISREG(f.mode) ||
        last.count(KeyOf(folders, staged)))
      continue;
    ++left;
    fprintf(out, "left over  %sTMP: the staged copy of %s, left by a run that was stopped\n",
            Escaped(c.name).c_str(), Escaped(c.name).c_str());
  }
  if (!complete) {
    fputs("malformed\n", out);
    return kFailed;
  }
  fprintf(out, "verified %zu %s: same %u, differs %u, missing %u, not a file %u", checked->size(),
          checked->size() == 1 ? "entry" : "entries", counts[kSame], counts[kDiffers],
          counts[kMissing], counts[kNotAFile]);
  if (counts[kUnreadable]) fprintf(out, ", unreadable %u", counts[kUnreadable]);
  if (counts[kLater]) fprintf(out, ", installed again later %u", counts[kLater]);
  fprintf(out, "; staged copies left %u\n", left);
  return counts[kSame] + counts[kLater] == checked->size() && left == 0 ? 0 : kFailed;
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
