#include "pack/listing.h"

#include <errno.h>
#include <string.h>

#include <algorithm>

#include "pack/names.h"
#include "pack/options.h"
#include "platform/tool.h"

namespace {

// Data passes in pieces of this size: memory stays the same whatever an
// entry holds.
const size_t kPiece = 1 << 18;

char g_buffer[kPiece];

// Reads through the buffer, or straight into `bytes` for a large piece
// (an entry's data) once the buffer is empty.
long ReadBuffered(void* context, void* bytes, size_t n) {
  PackageIn* in = (PackageIn*)context;
  if (in->at == in->end) {
    if (n >= sizeof g_buffer / 4) return OsReadSome(in->fd, bytes, n);
    const long got = OsReadSome(in->fd, g_buffer, sizeof g_buffer);
    if (got <= 0) return got;
    in->at = 0;
    in->end = (size_t)got;
  }
  n = std::min(n, in->end - in->at);
  memcpy(bytes, g_buffer + in->at, n);
  in->at += n;
  return (long)n;
}

// The error stream, with the progress line cleared off the terminal first.
FILE* ClearedErrorStream(PackageIn* in, FILE* err) {
  if (in->progress) ClearProgress(in->progress);
  return err;
}

bool CannotRead(PackageIn* in, FILE* err) {
  fprintf(ClearedErrorStream(in, err), "pack: cannot read %s: %s\n", Escaped(in->name).c_str(), strerror(errno));
  return false;
}

void Count(PackageIn* in, size_t bytes) {
  if (in->progress) AddProgress(in->progress, bytes);
}

}  // namespace

void StartReading(PackageIn* in, int fd, const char* name) {
  *in = PackageIn();
  in->source = {ReadBuffered, in, false};
  in->fd = fd;
  in->name = name;
}

bool TakeHead(PackageIn* in, FILE* err) {
  uint32_t magic = 0;
  size_t got = 0;
  if (ReadField(&in->source, &magic, &got) == kFormatFailed) return CannotRead(in, err);
  if (got < 4) {
    fprintf(ClearedErrorStream(in, err),
            "pack: not a package: the stream ends after %zu of the 4 bytes of its magic\n", got);
    return false;
  }
  if (magic != kPackageMagic) {
    unsigned char field[4];
    EncodeLe32(magic, field);
    fprintf(ClearedErrorStream(in, err),
            "pack: not a package: it begins %02X %02X %02X %02X, not %02X %02X %02X %02X\n",
            field[0], field[1], field[2], field[3], kPackageMagic & 0xFF, kPackageMagic >> 8 & 0xFF,
            kPackageMagic >> 16 & 0xFF, kPackageMagic >> 24);
    return false;
  }
  if (ReadField(&in->source, &in->count, &got) == kFormatFailed) return CannotRead(in, err);
  if (got < 4) {
    fprintf(ClearedErrorStream(in, err), "pack: the stream ends after %zu of the 4 bytes of the entry count\n",
            got);
    return false;
  }
  if (in->count == 0) {
    fputs("pack: the entry count is 0; a package holds at least 1 entry\n", ClearedErrorStream(in, err));
    return false;
  }
  Count(in, 8);
  return true;
}

bool TakeHeader(PackageIn* in, uint32_t index, EntryHeader* header, FILE* err) {
  switch (ReadEntryHeader(&in->source, header)) {
    case kFormatComplete:
      Count(in, 4 + strlen(header->name) + 1);
      return true;
    case kFormatFailed:
      return CannotRead(in, err);
    case kFormatEnded:
      fprintf(ClearedErrorStream(in, err), "pack: the stream ends after %u of the %u entries it declares\n",
              index - 1, in->count);
      return false;
    case kFormatNameTooLong:
      fprintf(ClearedErrorStream(in, err), "pack: entry %u of %u: no NUL ends its name within %u bytes\n", index,
              in->count, kNameField);
      return false;
    case kFormatCut:
      break;
  }
  fprintf(ClearedErrorStream(in, err), "pack: entry %u of %u: the stream ends inside its header\n", index,
          in->count);
  return false;
}

bool TakeContent(PackageIn* in, uint32_t index, const EntryHeader& header, TakeData take,
                 void* context, FILE* err) {
  static char piece[kPiece];
  uint32_t left = header.size;
  while (left > 0) {
    const size_t want = std::min<size_t>(left, sizeof piece);
    size_t got = 0;
    if (ReadBytes(&in->source, piece, want, &got) == kFormatFailed) return CannotRead(in, err);
    left -= (uint32_t)got;
    Count(in, got);
    if (take && got > 0) take(context, piece, got);
    if (got < want) break;
  }
  if (left == 0) return true;
  fprintf(ClearedErrorStream(in, err),
          "pack: entry %u of %u (%s): the stream ends after %u of its %u data bytes\n", index,
          in->count, Escaped(header.name).c_str(), header.size - left, header.size);
  return false;
}

namespace {

// unpack stops after the last entry; what follows it is noted, no more.
bool TakeTail(PackageIn* in, FILE* err) {
  static char piece[kPiece];
  unsigned long long extra = 0;
  size_t got = 0;
  FormatRead r;
  while ((r = ReadBytes(&in->source, piece, sizeof piece, &got)) != kFormatFailed && got > 0)
    extra += got;
  if (r == kFormatFailed) return CannotRead(in, err);
  if (extra > 0)
    fprintf(ClearedErrorStream(in, err), "pack: warning: %llu bytes follow the last entry; unpack ignores them\n",
            extra);
  return true;
}

}  // namespace

int ListPackage(PackageIn* in, bool verbose, FILE* out, FILE* err) {
  unsigned long long total = 0;
  bool ok = TakeHead(in, err);
  for (uint32_t i = 1; ok && i <= in->count; ++i) {
    EntryHeader header;
    ok = TakeHeader(in, i, &header, err) && TakeContent(in, i, header, nullptr, nullptr, err);
    if (ok && in->progress) ClearProgressBefore(in->progress, out);
    if (ok && verbose) fprintf(out, "%10u %s\n", header.size, Escaped(header.name).c_str());
    if (ok && !verbose) fprintf(out, "%s\n", Escaped(header.name).c_str());
    total += ok ? header.size : 0;
  }
  ok = ok && TakeTail(in, err);
  if (ok)
    fprintf(out,
            "well formed: %u %s, %llu bytes of content; the structure is checked, not the content "
            "(the format has no checksum)\n",
            in->count, in->count == 1 ? "entry" : "entries", total);
  else
    fputs("malformed\n", out);
  return FinishOutput(out, ok ? 0 : kFailed, err);
}

int FinishOutput(FILE* out, int status, FILE* err) {
  if (fflush(out) == 0) return status;
  fprintf(err, "pack: cannot write standard output: %s\n", strerror(errno));
  return kFailed;
}
