// Where the Linux build decides that a file is read-only, and makes one so.
//
// Windows keeps read-only as an attribute of its own; Linux has none, and
// reads it from the permission bits: a file or a folder whose owner may not
// write it is read-only, whoever runs the program, root included. Links,
// devices, pipes and sockets are never read-only.
#include <sys/stat.h>

#include "platform/posix_internal.h"

namespace posix_layer {

bool IsReadOnly(mode_t mode) {
  return (S_ISREG(mode) || S_ISDIR(mode)) && !(mode & S_IWUSR);
}

mode_t WithReadOnly(mode_t mode, bool readOnly) {
  // Read-only takes every write bit away; clearing it gives the owner's back.
  return readOnly ? mode & (mode_t)~0222 : mode | S_IWUSR;
}

}  // namespace posix_layer
