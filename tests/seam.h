// Swapping the platform's system calls in a test, and failing them.
#ifndef TESTS_SEAM_H
#define TESTS_SEAM_H

#include <vector>

#include "platform/posix_calls.h"

// A fault for one slot of the system-call table, named as its member is
// ("open", "rename", "fsync"...): from the `nth` call on (1 is the first
// after the fault is put in), every call of that slot fails, setting errno
// to `err` and returning -1 (null for a pointer). Only calls with a path
// argument that ends with `pathEnd` are counted, when it is given; the
// calls after the nth fail whatever their path, as a volume that fails, or
// a process out of descriptors, keeps failing. A close that fails has
// closed its descriptor, as on Linux.
//
//   SeamGuard guard({FailCall("write", EDQUOT).Once(), FailCall("open", EMFILE).From("TMP")});
struct FailCall {
  explicit FailCall(const char* slot, int err = 0) : slot(slot), err(err) {}
  // Only the nth call fails; the ones after it reach the slot.
  FailCall Once() const { FailCall f = *this; f.once = true; return f; }
  // The call that fails first is the nth, not the first.
  FailCall Nth(unsigned n) const { FailCall f = *this; f.nth = n; return f; }
  // Counts only the calls on a path that ends with `end`.
  FailCall From(const char* end) const { FailCall f = *this; f.pathEnd = end; return f; }
  // A failing call returns `value` instead of -1, errno untouched unless
  // `err` is given.
  FailCall Returns(long value) const { FailCall f = *this; f.result = value; return f; }

  const char* slot;
  int err;
  unsigned nth = 1;
  bool once = false;
  const char* pathEnd = nullptr;
  long result = -1;
};

// Saves the platform's system-call table, puts the given faults in it, and
// puts the table back when the object goes, whatever the test changed in
// between. A call that does not fail reaches what the slot held before the
// fault; a slot takes one fault at a time.
class SeamGuard {
 public:
  SeamGuard(const std::vector<FailCall>& faults = {});
  ~SeamGuard() { g_posix = saved_; }
  SeamGuard(const SeamGuard&) = delete;
  SeamGuard& operator=(const SeamGuard&) = delete;

 private:
  PosixCalls saved_;
};

#endif  // TESTS_SEAM_H
