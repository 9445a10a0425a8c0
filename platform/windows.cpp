// The few helpers the Windows build adds to KERNEL32 and the runtime.
#include "platform/platform.h"

// The runtime's standard streams are in text mode already.
FILE* OpenTextStream(FILE* stream) { return stream; }
