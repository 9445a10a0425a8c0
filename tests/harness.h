// Helpers shared by the tests: package bytes, scratch folders, files, and
// running a built program with given standard input.
#ifndef TESTS_HARNESS_H
#define TESTS_HARNESS_H

#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include <string>
#include <vector>

// One entry of a package: its name and content. `size` overrides the size
// field when set (for streams that lie about their length).
struct PackEntry {
  std::string name;
  std::string data;
  int64_t size = -1;
};

std::string Le32(uint32_t v);
// A package stream: the magic, the count (the number of entries unless
// given) and the entries, each name followed by its NUL.
std::string Package(const std::vector<PackEntry>& entries, int64_t count = -1);

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
// The file's content, or "<absent>" when it cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
mode_t ModeOf(const std::string& path);
void MakeDirs(const std::string& path);
void RemoveTree(const std::string& path);

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number
};

struct RunOptions {
  std::string cwd;           // working folder of the child
  uint64_t addressLimit = 0;  // RLIMIT_AS for the child, when not 0
  std::vector<std::string> env;  // NAME=VALUE entries added to the child's environment
  // Standard descriptors the child starts with closed, or on a pipe whose
  // reader has gone.
  std::vector<int> closedFds;
  std::vector<int> brokenPipeFds;
  // Standard input is a pipe that a writer fills, not a file.
  bool inputOnPipe = false;
};

// True when this program (and so the programs it runs) is built with
// AddressSanitizer, under which an address-space limit cannot be set.
bool SanitizedBuild();

// The read end of a pipe that a child process fills with `data`, then
// closes; -1 when no pipe can be made.
int PipeFilledWith(const std::string& data);

// Runs `argv` (argv[0] is the program's path) with `input` on standard input
// and returns what it wrote and how it ended.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input,
                     const RunOptions& options);

// A stream that reads `data`, then fails (a read error, not the end) once
// `failsAt` bytes are read; it never fails when failsAt is npos. Unbuffered:
// every read of the stream reaches the source.
struct FailingSource {
  std::string data;
  size_t failsAt = std::string::npos;
  size_t at = 0;
};
FILE* OpenFailingSource(FailingSource* source);

inline bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// True when `now` is what a write of the first part of `written` over `old`
// leaves, from the start of the file: its first bytes new, the rest old
// (the direct rewrite cuts the file to its length only once it is whole).
bool WrittenOver(const std::string& now, const std::string& written, const std::string& old);

// Bytes made visible: printable ASCII as is, the rest as \xNN, \r and \n.
std::string Visible(const std::string& bytes);
// Bytes made visible for a failure message: in quotes, and long ones by
// their first 200 bytes and their length.
std::string Shown(const std::string& bytes);

// A stream that keeps what is written to it: a routine's log, or a
// program's standard output or error. It is a file, so that a child process
// may write it too.
class Capture {
 public:
  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  FILE* stream() const { return stream_; }
  // Everything written so far.
  std::string text() const;

 private:
  FILE* stream_;
};

#endif  // TESTS_HARNESS_H
