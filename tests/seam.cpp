#include "tests/seam.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <type_traits>

namespace {

// Whether an argument is a path that ends with `end`; only `const char*`
// arguments are paths (a `char*` is a buffer to fill).
bool EndsWith(const char* path, const char* end) {
  const size_t n = strlen(path), m = strlen(end);
  return n >= m && strcmp(path + n - m, end) == 0;
}
template <typename T>
bool EndsWith(T, const char*) {
  return false;
}

template <auto Member>
constexpr bool IsClose() {
  if constexpr (std::is_same_v<decltype(Member), decltype(&PosixCalls::close)>) return Member == &PosixCalls::close;
  return false;
}

// The fault put in the slot `Member`, and the call that gives it, made for
// the slot's signature.
template <auto Member, typename Call = std::remove_reference_t<decltype(g_posix.*Member)>>
struct Faulty;

template <auto Member, typename R, typename... A>
struct Faulty<Member, R (*)(A...)> {
  static inline FailCall fault{""};
  static inline unsigned counted;
  static inline bool reached;  // the nth call was made
  static inline R (*below)(A...);

  static R Call(A... args) {
    bool fails = reached && !fault.once;
    if (!reached && (!fault.pathEnd || (EndsWith(args, fault.pathEnd) || ...)) && ++counted == fault.nth)
      fails = reached = true;
    if (!fails) return below(args...);
    // As on Linux, a close that reports an error has closed the descriptor.
    if constexpr (IsClose<Member>()) below(args...);
    if (fault.err) errno = fault.err;
    if constexpr (std::is_pointer_v<R>) {
      return nullptr;
    } else {
      return (R)fault.result;
    }
  }

  static void Install(const FailCall& f) {
    if (g_posix.*Member == Call) {
      fprintf(stderr, "the slot %s takes one fault at a time\n", f.slot);
      abort();
    }
    fault = f;
    counted = 0;
    reached = false;
    below = g_posix.*Member;
    g_posix.*Member = Call;
  }
};

#define SLOT(name) {#name, Faulty<&PosixCalls::name>::Install}

// Every slot but free, which cannot fail.
const struct {
  const char* name;
  void (*install)(const FailCall&);
} kSlots[] = {
    SLOT(open),          SLOT(write),        SLOT(fsync),          SLOT(fstat),       SLOT(ftruncate),
    SLOT(close),         SLOT(lstat),        SLOT(stat),           SLOT(chmod),       SLOT(unlink),
    SLOT(rename_noreplace), SLOT(rename),    SLOT(statvfs),        SLOT(opendir),     SLOT(readdir),
    SLOT(closedir),      SLOT(malloc),       SLOT(copy_file_range), SLOT(pread),      SLOT(syncfs),
    SLOT(descriptor_flags), SLOT(dup2),      SLOT(uname),          SLOT(ignore_signal), SLOT(pipe_size),
    SLOT(read),          SLOT(mkdir),        SLOT(access),         SLOT(geteuid),     SLOT(lchown),
    SLOT(readlink_fd),   SLOT(link_fd),      SLOT(symlink),        SLOT(statx),       SLOT(start_writeback),
    SLOT(unwritten_bytes),
};

#undef SLOT

static_assert(sizeof(PosixCalls) == (sizeof kSlots / sizeof *kSlots + 1) * sizeof(void (*)()),
              "every slot of the table but free has its name here");

}  // namespace

SeamGuard::SeamGuard(const std::vector<FailCall>& faults) : saved_(g_posix) {
  for (const FailCall& f : faults) {
    bool found = false;
    for (const auto& slot : kSlots)
      if (strcmp(slot.name, f.slot) == 0) slot.install(f), found = true;
    if (!found) {
      fprintf(stderr, "no slot of the system-call table is named %s\n", f.slot);
      abort();
    }
  }
}
