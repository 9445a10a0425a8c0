// The table of the Windows build's KERNEL32 calls (windows_calls.h), filled
// with the system's own. This file alone sees the calls under their plain
// names: it does not include win32.h.
#include "platform/windows_calls.h"

WindowsCalls g_win32 = {
#define WINDOWS_CALL_ENTRY(name) .name = ::name,
    WINDOWS_CALL_SLOTS(WINDOWS_CALL_ENTRY)
#undef WINDOWS_CALL_ENTRY
};
