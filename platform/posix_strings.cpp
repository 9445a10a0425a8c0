// The KERNEL32 string calls over the C library.
#include <string.h>
#include <strings.h>

#include "platform/posix_internal.h"

LPSTR lstrcpyA(LPSTR to, LPCSTR from) { return strcpy(to, from); }
LPSTR lstrcatA(LPSTR to, LPCSTR from) { return strcat(to, from); }
int lstrcmpA(LPCSTR a, LPCSTR b) { return strcmp(a, b); }
int lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }
