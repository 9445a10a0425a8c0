// Memory over POSIX: LocalAlloc and LocalFree, through the table.
#include "platform/posix_internal.h"

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  (void)flags;
  void* block = g_posix.malloc(bytes ? bytes : 1);
  if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL LocalFree(HLOCAL block) {
  g_posix.free(block);
  return nullptr;
}
