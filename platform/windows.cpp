// The few helpers the Windows build adds to KERNEL32 and the runtime.
#include "platform/platform.h"

// The runtime's standard streams are in text mode already.
FILE* OpenTextStream(FILE* stream) { return stream; }

// Windows has no broken-pipe signal, and a file it opens never takes the
// place of a standard handle.
void PrepareProcess(void) {}
