#include "format/reader.h"

#include <errno.h>

FormatRead ReadBytes(FILE* in, void* bytes, size_t n, size_t* got) {
  *got = 0;
  if (n == 0) return kFormatComplete;
  if (feof(in)) return kFormatEnded;
  *got = fread(bytes, 1, n, in);
  if (ferror(in)) {
    const int err = errno;
    clearerr(in);
    errno = err;
    return kFormatFailed;
  }
  return *got == n ? kFormatComplete : *got == 0 ? kFormatEnded : kFormatCut;
}

FormatRead ReadBytes(ByteSource* in, void* bytes, size_t n, size_t* got) {
  *got = 0;
  if (n == 0) return kFormatComplete;
  if (in->ended) return kFormatEnded;
  while (*got < n) {
    const long r = in->readSome(in->context, (char*)bytes + *got, n - *got);
    if (r < 0) return kFormatFailed;
    if (r == 0) {
      in->ended = true;
      break;
    }
    *got += (size_t)r;
  }
  return *got == n ? kFormatComplete : *got == 0 ? kFormatEnded : kFormatCut;
}

namespace {

template <typename In>
FormatRead FieldFrom(In in, uint32_t* value, size_t* got) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  const FormatRead result = ReadBytes(in, bytes, sizeof bytes, got);
  *value = DecodeLe32(bytes);
  return result;
}

template <typename In>
FormatRead HeaderFrom(In in, EntryHeader* header) {
  size_t got = 0;
  header->name[0] = '\0';
  const FormatRead size = FieldFrom(in, &header->size, &got);
  if (size != kFormatComplete) return size;
  for (uint32_t i = 0; i < kNameField; ++i) {
    const FormatRead r = ReadBytes(in, &header->name[i], 1, &got);
    if (r != kFormatComplete) {
      header->name[i] = '\0';
      return r == kFormatEnded ? kFormatCut : r;
    }
    if (header->name[i] == '\0') return kFormatComplete;
  }
  header->name[kNameField - 1] = '\0';
  return kFormatNameTooLong;
}

}  // namespace

FormatRead ReadField(FILE* in, uint32_t* value, size_t* got) { return FieldFrom(in, value, got); }
FormatRead ReadField(ByteSource* in, uint32_t* value, size_t* got) { return FieldFrom(in, value, got); }
FormatRead ReadEntryHeader(FILE* in, EntryHeader* header) { return HeaderFrom(in, header); }
FormatRead ReadEntryHeader(ByteSource* in, EntryHeader* header) { return HeaderFrom(in, header); }
