// unpack_faults: the Windows build of unpack (and of Vellomar and pack) for the tests,
// never shipped. It makes many runs in one process (under emulation Wine
// takes a second to start one), each as a line of its script says: a run of
// the end-to-end table, or one with the Nth call of one slot of the KERNEL32
// table (platform/windows_calls.h) failing with a chosen error, once or from
// then on, or killing the run there; a run can also write the trace of every
// call it makes.
//
//   unpack_faults SCRIPT [SITES]
//
// SCRIPT holds one run per line, its fields separated by tabs:
//
//   PROGRAM FOLDER INPUT PACKAGE LOG TRACE SLOT NTH MODE ERROR HOLD ARG...
//
// PROGRAM: "unpack", "Vellomar" or "pack". FOLDER: where the run takes place (its
// current folder). INPUT: "file" or "pipe": the package comes as a file, or
// through a pipe (Vellomar reads none). PACKAGE, LOG, TRACE: paths from
// FOLDER; the log receives what unpack writes to standard error, or Vellomar
// to standard output, in text mode; pack's standard output goes to LOG and
// its standard error to LOG.err, both in binary mode as pack.exe writes
// them, and its standard input is PACKAGE; TRACE "-" for none.
// SLOT "-" for a run without a fault. NTH: the call that fails, counted
// among the calls of that slot, or with MODE ending in "@dest" among those
// on the files of the run alone (a path, or a handle opened from one).
// MODE: "once", "from" (that call and every later one), "kill" (the run
// stops there, as a killed process does; what it held open is closed), or
// "short" (a WriteFile or ReadFile that moves half the bytes asked for and
// succeeds). ERROR: the Win32 error of a failed call. HOLD: a path from
// FOLDER that the driver holds open during the run, for reading and
// sharing only reading, as another program may, or "run:" and a path to a
// program the driver starts, suspended, for the run ("-" for none). ARG...: the
// program's arguments.
//
// For each run it prints FOLDER and the run's exit status (137 when it was
// killed) on a line of standard output.
//
// A trace line: SLOT NTH NTH-ON-THE-FILES PATH SITE, where PATH is the path
// the call names or of the handle it is given ("" for none) and SITE the
// address the call was made from. SITES, when given, receives every address
// from which a call that can fail was made in any run, one a line.
#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "checker/vellomar.h"
#include "pack/pack.h"
#include "extractor/unpack.h"
#include "platform/windows_calls.h"

namespace {

enum Mode { kNone, kOnce, kFrom, kKill, kShort };

// The fault of the run in progress, and what it counts.
struct RunState {
  DWORD thread = 0;  // the run's own thread: other threads' calls pass
  int slot = -1;
  long nth = 0;
  bool onFiles = false;
  Mode mode = kNone;
  DWORD error = 0;
  FILE* trace = nullptr;
  std::vector<long> calls, callsOnFiles;  // by slot
  struct Open {
    HANDLE handle;
    std::string path;
    bool search;  // from FindFirstFileA
  };
  std::vector<Open> handles;  // open, with the paths they were opened with
  std::vector<HLOCAL> blocks;                           // allocated, not freed
  std::set<void*> sites;  // where calls that can fail came from, in every run
};

RunState g_run;
WindowsCalls g_system;  // the table as the system filled it

// The slots by name and by number, in the table's order.
const char* const kSlotNames[] = {
#define SLOT_NAME(name) #name,
    WINDOWS_CALL_SLOTS(SLOT_NAME)
#undef SLOT_NAME
};
enum Slot {
#define SLOT_NUMBER(name) k##name,
  WINDOWS_CALL_SLOTS(SLOT_NUMBER)
#undef SLOT_NUMBER
  kSlots
};

int SlotIndex(const char* name) {
  for (int i = 0; i < kSlots; ++i)
    if (strcmp(kSlotNames[i], name) == 0) return i;
  return -1;
}

std::string PathOf(HANDLE h) {
  for (const RunState::Open& open : g_run.handles)
    if (open.handle == h) return open.path;
  return "";
}

// What a failed call of each kind returns. The calls that cannot fail (the
// last-error code, the string calls) are only counted.
template <typename R, int Index>
bool FailureOf(R* value) {
  if constexpr (Index == kGetLastError || Index == kSetLastError ||
                Index == klstrcpyA || Index == klstrcatA ||
                Index == klstrcmpA || Index == klstrcmpiA ||
                Index == kLocalFree) {
    (void)value;
    return false;
  } else if constexpr (Index == kCreateFileA || Index == kFindFirstFileA) {
    *value = INVALID_HANDLE_VALUE;
  } else if constexpr (Index == kGetFileAttributesA) {
    *value = INVALID_FILE_ATTRIBUTES;
  } else if constexpr (Index == kGetFileType) {
    *value = FILE_TYPE_UNKNOWN;
  } else {
    *value = R();  // FALSE, or a null block
  }
  return true;
}

// Whether this call of the slot is the one (or one of those) that fails.
bool Strikes(int slot, bool onFiles, long nth, long nthOnFiles) {
  if (slot != g_run.slot) return false;
  if (g_run.onFiles && !onFiles) return false;
  const long count = g_run.onFiles ? nthOnFiles : nth;
  return g_run.mode == kFrom ? count >= g_run.nth : count == g_run.nth;
}

// The wrapper put in the slot `Member` (the index-th): counts the call,
// traces it, and fails it, kills the run or shortens it when the script
// says so; otherwise the system's own call is made.
template <auto Member, int Index>
struct Faulty;
template <typename R, typename... A, R(WINAPI* WindowsCalls::*Member)(A...), int Index>
struct Faulty<Member, Index> {
  static R WINAPI Call(A... args) {
    auto system = g_system.*Member;
    if (GetCurrentThreadId() != g_run.thread) return system(args...);
    if constexpr (std::is_void_v<R>) {
      ++g_run.calls[Index];
      return system(args...);
    } else {
      return Counted(system, __builtin_return_address(0), args...);
    }
  }

  template <typename System>
  static R Counted(System system, void* site, A... args) {
    using First = std::tuple_element_t<0, std::tuple<A..., void>>;
    std::string path;
    if constexpr (std::is_same_v<First, LPCSTR> && Index != klstrcmpA &&
                  Index != klstrcmpiA) {
      const char* p = std::get<0>(std::tie(args...));
      path = p ? p : "";
    } else if constexpr (Index == kLocalFree) {
      HLOCAL block = std::get<0>(std::tie(args...));
      for (size_t i = 0; i < g_run.blocks.size(); ++i)
        if (g_run.blocks[i] == block) g_run.blocks.erase(g_run.blocks.begin() + i--);
    } else if constexpr (std::is_same_v<First, HANDLE>) {
      path = PathOf(std::get<0>(std::tie(args...)));
    }
    R failure{};
    const bool failable = FailureOf<R, Index>(&failure);
    const long nth = ++g_run.calls[Index];
    const long nthOnFiles = path.empty() ? 0 : ++g_run.callsOnFiles[Index];
    if (failable) g_run.sites.insert(site);
    if (g_run.trace && failable)
      fprintf(g_run.trace, "%s\t%ld\t%ld\t%s\t%p\n", kSlotNames[Index], nth, nthOnFiles, path.c_str(), site);
    if (failable && Strikes(Index, !path.empty(), nth, nthOnFiles)) {
      if (g_run.mode == kKill) ExitThread(137);
      if constexpr (Index == kWriteFile || Index == kReadFile) {
        auto [file, data, count, done, overlapped] = std::tie(args...);
        if (g_run.mode == kShort) return system(file, data, count > 1 ? count / 2 : count, done, overlapped);
        if (done) *done = 0;
      }
      g_system.SetLastError(g_run.error);
      return failure;
    }
    R result = system(args...);
    if constexpr (Index == kCreateFileA || Index == kFindFirstFileA) {
      if (result != INVALID_HANDLE_VALUE)
        g_run.handles.push_back({result, path, Index == kFindFirstFileA});
    } else if constexpr (Index == kCloseHandle || Index == kFindClose) {
      HANDLE closed = std::get<0>(std::tie(args...));
      for (size_t i = 0; result && i < g_run.handles.size(); ++i)
        if (g_run.handles[i].handle == closed) g_run.handles.erase(g_run.handles.begin() + i--);
    } else if constexpr (Index == kLocalAlloc) {
      if (result) g_run.blocks.push_back(result);
    }
    return result;
  }
};
// Every slot of g_win32 gets its wrapper.
void InstallWrappers() {
#define SLOT_WRAPPER(name) g_win32.name = &Faulty<&WindowsCalls::name, k##name>::Call;
  WINDOWS_CALL_SLOTS(SLOT_WRAPPER)
#undef SLOT_WRAPPER
}

struct Run {
  std::string program, folder, input, package, log, trace, slot, mode, hold;
  long nth = 0;
  DWORD error = 0;
  std::vector<std::string> args;
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

// A pipe that holds the whole package, its writing end closed: the run
// reads it as it reads a pipe another program fills. (No thread writes it
// as it is read: under emulation, Wine's pipes do not survive a reader and
// a writer in two threads of one process.)
FILE* PipeHolding(const std::string& package) {
  FILE* from = fopen(package.c_str(), "rb");
  if (!from) return nullptr;
  std::string bytes;
  static char buffer[1 << 16];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, from)) > 0;) bytes.append(buffer, n);
  fclose(from);
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, NULL, (DWORD)bytes.size() + 1)) return nullptr;
  DWORD written = 0;
  const BOOL ok = g_system.WriteFile(writeEnd, bytes.data(), (DWORD)bytes.size(), &written, NULL);
  g_system.CloseHandle(writeEnd);
  if (!ok || written != bytes.size()) return nullptr;
  return _fdopen(_open_osfhandle((intptr_t)readEnd, _O_RDONLY | _O_BINARY), "rb");
}

struct RunContext {
  bool vellomar;
  bool pack;
  std::vector<char*> argv;
  FILE* in;
  FILE* log;
  FILE* err;  // pack's standard error
  int status;
};

DWORD WINAPI RunThread(void* context) {
  RunContext* run = (RunContext*)context;
  const int argc = (int)run->argv.size() - 1;
  run->status = run->vellomar ? RunVellomar(argc, run->argv.data(), run->log)
                : run->pack   ? RunPack(argc, run->argv.data(), run->in, run->log, run->err)
                              : RunUnpack(argc, run->argv.data(), run->in, run->log);
  return 0;
}

int Perform(const Run& r) {
  if (!SetCurrentDirectoryA(r.folder.c_str())) return -1;
  static char inputBuffer[1 << 16];
  const bool vellomar = r.program == "Vellomar";
  FILE* in = vellomar ? nullptr : r.input == "pipe" ? PipeHolding(r.package) : fopen(r.package.c_str(), "rb");
  const bool pack = r.program == "pack";
  FILE* log = fopen(r.log.c_str(), pack ? "wb" : "w");
  FILE* err = pack ? fopen((r.log + ".err").c_str(), "wb") : nullptr;
  if ((!in && !vellomar) || !log || (pack && !err)) return -1;
  // As the program's own streams: its input read through a large buffer,
  // standard error unbuffered.
  if (in) setvbuf(in, inputBuffer, _IOFBF, sizeof inputBuffer);
  if (!vellomar && !pack) setvbuf(log, nullptr, _IONBF, 0);
  if (err) setvbuf(err, nullptr, _IONBF, 0);

  RunContext run;
  run.vellomar = vellomar;
  run.pack = pack;
  run.err = err;
  std::vector<std::string> args = r.args;
  args.insert(args.begin(), r.program);
  for (std::string& a : args) run.argv.push_back(&a[0]);
  run.argv.push_back(nullptr);
  run.in = in;
  run.log = log;
  run.status = 137;

  g_run.slot = r.slot == "-" ? -1 : SlotIndex(r.slot.c_str());
  const std::string mode = r.mode.substr(0, r.mode.find('@'));
  g_run.onFiles = r.mode.find("@dest") != std::string::npos;
  g_run.mode = mode == "once" ? kOnce : mode == "from" ? kFrom : mode == "kill" ? kKill
             : mode == "short" ? kShort : kNone;
  g_run.nth = r.nth;
  g_run.error = r.error;
  g_run.calls.assign(kSlots, 0);
  g_run.callsOnFiles.assign(kSlots, 0);
  g_run.trace = r.trace == "-" ? nullptr : fopen(r.trace.c_str(), "w");
  // "run:PATH": a program started from PATH, held suspended through the run.
  PROCESS_INFORMATION running = {};
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  const bool runs = r.hold.compare(0, 4, "run:") == 0;
  if (runs) CreateProcessA(r.hold.c_str() + 4, NULL, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, &running);
  const HANDLE held = r.hold == "-" || runs ? INVALID_HANDLE_VALUE
                                    : g_system.CreateFileA(r.hold.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                           NULL, OPEN_EXISTING, 0, NULL);
  if (g_run.mode == kKill) {
    // A thread of its own, which ends at the call that kills the run.
    HANDLE thread = CreateThread(NULL, 1 << 20, RunThread, &run, CREATE_SUSPENDED, &g_run.thread);
    ResumeThread(thread);
    WaitForSingleObject(thread, INFINITE);
    g_system.CloseHandle(thread);
  } else {
    g_run.thread = GetCurrentThreadId();
    RunThread(&run);
  }
  g_run.thread = 0;
  // What the run left open goes, as at the end of a process.
  for (const RunState::Open& open : g_run.handles)
    open.search ? g_system.FindClose(open.handle) : g_system.CloseHandle(open.handle);
  g_run.handles.clear();
  for (HLOCAL block : g_run.blocks) g_system.LocalFree(block);
  g_run.blocks.clear();
  if (g_run.trace) fclose(g_run.trace);
  g_run.trace = nullptr;
  if (held != INVALID_HANDLE_VALUE) g_system.CloseHandle(held);
  if (running.hProcess) {
    TerminateProcess(running.hProcess, 0);
    WaitForSingleObject(running.hProcess, INFINITE);
    g_system.CloseHandle(running.hThread);
    g_system.CloseHandle(running.hProcess);
  }
  if (in) fclose(in);
  fclose(log);
  if (err) fclose(err);
  return run.status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    fputs("usage: unpack_faults SCRIPT [SITES]\n", stderr);
    return 2;
  }
  g_system = g_win32;
  InstallWrappers();
  FILE* script = fopen(argv[1], "r");
  if (!script) return 2;
  char start[MAX_PATH];
  GetCurrentDirectoryA(sizeof start, start);
  static char line[1 << 16];
  while (fgets(line, sizeof line, script)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::vector<std::string> f = Fields(text);
    if (f.size() < 11) continue;
    Run r;
    r.program = f[0], r.folder = f[1], r.input = f[2], r.package = f[3], r.log = f[4], r.trace = f[5];
    r.slot = f[6];
    r.nth = atol(f[7].c_str());
    r.mode = f[8];
    r.error = (DWORD)strtoul(f[9].c_str(), nullptr, 10);
    r.hold = f[10];
    r.args.assign(f.begin() + 11, f.end());
    SetCurrentDirectoryA(start);
    printf("%s\t%d\n", r.folder.c_str(), Perform(r));
    fflush(stdout);
  }
  fclose(script);
  SetCurrentDirectoryA(start);
  FILE* sites = argc == 3 ? fopen(argv[2], "w") : nullptr;
  for (void* site : g_run.sites)
    if (sites) fprintf(sites, "%p\n", site);
  if (sites) fclose(sites);
  return 0;
}
