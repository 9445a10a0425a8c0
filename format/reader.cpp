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

FormatRead ReadField(FILE* in, uint32_t* value, size_t* got) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  const FormatRead result = ReadBytes(in, bytes, sizeof bytes, got);
  *value = DecodeLe32(bytes);
  return result;
}

FormatRead ReadEntryHeader(FILE* in, EntryHeader* header) {
  size_t got = 0;
  header->name[0] = '\0';
  const FormatRead size = ReadField(in, &header->size, &got);
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
