#include "pack/progress.h"

#include <unistd.h>

#include "platform/tool.h"

namespace {

// Work shorter than this shows nothing; the line is redrawn at this pace.
const double kQuietSeconds = 1.0;
const double kRedrawSeconds = 0.25;

// `bytes` with a binary unit, in `text`.
const char* InUnits(unsigned long long bytes, char text[32]) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = (double)bytes;
  int unit = 0;
  while (value >= 1024 && unit < 4) value /= 1024, ++unit;
  snprintf(text, 32, unit ? "%.1f %s" : "%.0f %s", value, units[unit]);
  return text;
}

void Draw(Progress* p, double now) {
  char done[32], total[32], rate[32], line[128];
  const double seconds = now > p->start ? now - p->start : 1e-9;
  InUnits((unsigned long long)((double)p->done / seconds), rate);
  int n;
  if (p->total)
    n = snprintf(line, sizeof line, "pack: %s of %s (%d%%), %s/s", InUnits(p->done, done),
                 InUnits(p->total, total), (int)(p->done * 100 / p->total), rate);
  else
    n = snprintf(line, sizeof line, "pack: %s, %s/s", InUnits(p->done, done), rate);
  // Spaces cover what is left of a longer line before.
  fprintf(p->err, "\r%s%*s", line, p->width > n ? p->width - n : 0, "");
  fflush(p->err);
  if (n > p->width) p->width = n;
  p->shownAt = now;
}

}  // namespace

double (*g_progressClock)(void) = OsMonotonicSeconds;

void StartProgress(Progress* p, FILE* err, bool quiet, unsigned long long total) {
  *p = Progress();
  const int fd = err ? fileno(err) : -1;
  if (quiet || fd < 0 || !isatty(fd)) return;
  p->err = err;
  p->total = total;
  p->start = g_progressClock();
}

void AddProgress(Progress* p, unsigned long long bytes) {
  p->done += bytes;
  if (!p->err) return;
  const double now = g_progressClock();
  if (now - p->start >= kQuietSeconds && now - p->shownAt >= kRedrawSeconds) Draw(p, now);
}

void ClearProgress(Progress* p) {
  if (!p->err || p->width == 0) return;
  fprintf(p->err, "\r%*s\r", p->width, "");
  fflush(p->err);
  p->width = 0;
}

void ClearProgressBefore(Progress* p, FILE* stream) {
  if (p->width == 0) return;
  const int fd = fileno(stream);
  if (stream == p->err || (fd >= 0 && isatty(fd))) ClearProgress(p);
}
