// The plan's report: the entries' verdicts (plan_entry.cpp), the folders, the
// space the install needs and what unpack would end with.
#include "pack/plan.h"

#include <algorithm>
#include <string>
#include <vector>

#include "pack/names.h"
#include "pack/options.h"
#include "pack/plan_entry.h"
#include "platform/tool.h"

namespace {

struct PlanEntry {
  std::string name;
  uint32_t size;
};

// The free space an install takes, entry by entry, and the most it takes at
// once. One at a time, a replacement's staged copy stands beside the old
// file until the old one goes; grouped commits need no more, since a group
// that meets a full volume is committed before the entry is tried again.
struct SpaceCount {
  unsigned long block;
  long long used;
  long long peak;
};

void CountSpace(SpaceCount* s, const Verdict& v, uint32_t size) {
  const long long bytes =
      (long long)((size + (unsigned long long)s->block - 1) / s->block * s->block);
  const long long old = (long long)v.oldBytes;
  if (v.road == kRewrite) {
    // Written over the old file: it grows to the larger of the two.
    s->used += bytes > old ? bytes - old : 0;
    s->peak = std::max(s->peak, s->used);
    s->used -= old > bytes ? old - bytes : 0;
    return;
  }
  s->used += bytes;
  s->peak = std::max(s->peak, s->used);
  if (v.road == kReplace) s->used -= old;
}

void ReportFolders(const PlanDisk& d, FILE* out) {
  if (!d.mkdirs && !d.toMake.empty()) {
    fputs("folders to make:\n", out);
    for (const std::string& folder : d.toMake) fprintf(out, "  %s\n", Escaped(folder).c_str());
  }
  if (!d.made.empty()) fputs("folders made:\n", out);
  for (const std::string& folder : d.made) fprintf(out, "  %s\n", Escaped(folder).c_str());
  if (!d.notMade.empty()) fputs("folders not made:\n", out);
  for (const auto& folder : d.notMade)
    fprintf(out, "  %s: %s\n", Escaped(folder.first).c_str(), folder.second.c_str());
}

// The free bytes this process may use on the prefix's volume: root may
// use those kept for root too.
unsigned long long RoomOf(const PlanDisk& d) {
  return OsPrivileged() ? d.volume.free : d.volume.available;
}

// True when the volume is known to hold fewer free bytes than the install
// takes at its most: then staged copies may not fit, and only trying tells
// how unpack ends.
bool ShortOfRoom(const PlanDisk& d, const SpaceCount& space) {
  return d.volumeKnown && (unsigned long long)space.peak > RoomOf(d);
}

// The space line, what it assumes, and, for a user who is not root, the
// free bytes that user may use when they are fewer than all free bytes,
// which Vellomar counts; then whether they are too few.
void ReportSpace(const PlanDisk& d, const SpaceCount& space, FILE* out) {
  fprintf(out, "free space needed: %lld\n", space.peak);
  fprintf(out,
          "  (the most the install takes at once, one entry at a time: each staged copy beside its "
          "old file, in blocks of %lu bytes)\n",
          space.block);
  if (!OsPrivileged() && d.volume.available < d.volume.free)
    fprintf(out,
            "free space for this user: %llu of the %llu bytes free; Vellomar counts them all, the "
            "rest is kept for root\n",
            d.volume.available, d.volume.free);
  if (ShortOfRoom(d, space))
    fprintf(out,
            "not enough room: %llu bytes free; a staged copy that does not fit is written over its "
            "old file in place, a file that does not fit at all stops unpack\n",
            RoomOf(d));
}

// The entries whose files a later entry removes for its staged copy, and
// that no entry after puts back, by an entry that unpack reaches. Such an
// install ends with OK, but not as the package says: the plan fails.
size_t ReportTakenAway(const PlanDisk& d, size_t reached, FILE* out) {
  std::vector<TakenAway> taken;
  for (const auto& place : d.takenAway)
    if (place.second.by <= reached) taken.push_back(place.second);
  std::sort(taken.begin(), taken.end(),
            [](const TakenAway& a, const TakenAway& b) { return a.entry < b.entry; });
  for (const TakenAway& t : taken)
    fprintf(out, "taken away: entry %zu (%s), by the staged copy of entry %zu (%s)\n", t.entry,
            Escaped(d.names[t.entry - 1]).c_str(), t.by, Escaped(d.names[t.by - 1]).c_str());
  return taken.size();
}

// The last line: where unpack stops, or that only trying can tell whether
// it stops at the first entry the plan is unsure of, or on a volume short of
// room, or that it ends with OK.
void ReportVerdict(size_t stopAt, size_t unsureAt, bool shortOfRoom, int line, size_t count, FILE* out) {
  if (stopAt)
    fprintf(out, "unpack would stop at entry %zu of %zu: line %d\n", stopAt, count, line);
  else if (unsureAt && !line)
    fprintf(out, "cannot tell without trying: entry %zu of %zu could not be looked at\n", unsureAt, count);
  else if (unsureAt)
    fprintf(out, "cannot tell without trying: unpack may stop at entry %zu of %zu: line %d\n",
            unsureAt, count, line);
  else if (shortOfRoom)
    fputs("cannot tell without trying: the volume has less room than the install needs\n", out);
  else
    fputs("unpack would end with OK\n", out);
}

int RunPlan(const std::string& prefix, bool mkdirs, const std::vector<PlanEntry>& entries,
            FILE* out, FILE* err) {
  std::vector<std::string> names;
  for (const PlanEntry& e : entries) names.push_back(e.name);
  PlanDisk disk;
  OpenPlanDisk(&disk, prefix, mkdirs, names);
  const std::string note = PrefixNote(prefix, entries.front().name);
  if (!note.empty()) fprintf(out, "%s\n", note.c_str());
  SpaceCount space = {disk.volume.blockSize, 0, 0};
  // The first entry at which unpack stops, or may stop, from 1.
  size_t stopAt = 0, unsureAt = 0;
  int line = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Verdict v = JudgeEntry(&disk, i + 1, entries[i].name, entries[i].size, err);
    fprintf(out, "%s\n", v.text.c_str());
    if (!v.note.empty()) fprintf(out, "%s\n", v.note.c_str());
    if (v.road != kStops) CountSpace(&space, v, entries[i].size);
    if (!stopAt && !unsureAt && (v.road == kStops || v.unsure))
      (v.unsure ? unsureAt : stopAt) = i + 1, line = v.line;
  }
  ReportFolders(disk, out);
  ReportSpace(disk, space, out);
  const size_t taken = ReportTakenAway(disk, stopAt ? stopAt - 1 : entries.size(), out);
  const bool shortOfRoom = ShortOfRoom(disk, space);
  ReportVerdict(stopAt, unsureAt, shortOfRoom, line, entries.size(), out);
  return stopAt || unsureAt || shortOfRoom || taken || !disk.notMade.empty() ? kFailed : 0;
}

}  // namespace

int PlanPackage(const char* prefix, bool mkdirs, PackageIn* in, FILE* out, FILE* err) {
  std::vector<PlanEntry> entries;
  bool ok = TakeHead(in, err);
  for (uint32_t i = 1; ok && i <= in->count; ++i) {
    EntryHeader h;
    ok = TakeHeader(in, i, &h, err) && TakeContent(in, i, h, nullptr, nullptr, err);
    if (ok) entries.push_back({h.name, h.size});
  }
  if (in->progress) ClearProgress(in->progress);
  if (!ok) {
    fputs("malformed\n", out);
    return FinishOutput(out, kFailed, err);
  }
  return FinishOutput(out, RunPlan(prefix, mkdirs, entries, out, err), err);
}
