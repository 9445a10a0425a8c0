// The package stream's layout, shared by its reader and its writer.
//
//   magic   u32  0x04D150DD (the bytes DD 50 D1 04)
//   count   u32  number of entries, at least 1
//   then per entry:
//     size  u32  length of data
//     name       1 to 260 bytes: the name and its NUL
//     data       size bytes, as is
//
// Integers are little-endian; there is no padding, trailer or checksum.
#ifndef FORMAT_PACKAGE_FORMAT_H
#define FORMAT_PACKAGE_FORMAT_H

#include <stdint.h>

const uint32_t kPackageMagic = 0x04D150DDu;
// The name field holds at most this many bytes, its NUL included.
const uint32_t kNameField = 260;
// A target path may hold this many characters, so that the path of its staged
// copy (target + "TMP") fits a 260-byte buffer.
const uint32_t kTargetPathMax = kNameField - 4;

// Decodes one of the format's integers from its four bytes.
inline uint32_t DecodeLe32(const unsigned char bytes[4]) {
  return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
         (uint32_t)bytes[3] << 24;
}

// Encodes one of the format's integers into its four bytes.
inline void EncodeLe32(uint32_t value, unsigned char bytes[4]) {
  for (int i = 0; i < 4; ++i) bytes[i] = (unsigned char)(value >> (8 * i));
}

#endif  // FORMAT_PACKAGE_FORMAT_H
