// Swapping the platform's system calls in a test.
#ifndef TESTS_SEAM_H
#define TESTS_SEAM_H

#include "platform/posix_calls.h"

// Saves the platform's system-call table and puts it back when the object
// goes, whatever the test changed in between.
class SeamGuard {
 public:
  SeamGuard() : saved_(g_posix) {}
  ~SeamGuard() { g_posix = saved_; }
  SeamGuard(const SeamGuard&) = delete;
  SeamGuard& operator=(const SeamGuard&) = delete;

 private:
  PosixCalls saved_;
};

#endif  // TESTS_SEAM_H
