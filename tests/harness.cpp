#include "tests/harness.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

bool WrittenOver(const std::string& now, const std::string& written, const std::string& old) {
  // Past the old file's end it can only be the first part of `written`.
  if (now.size() != old.size()) return now.size() > old.size() && StartsWith(written, now);
  size_t same = 0;  // how far `now` follows `written` from the start
  while (same < now.size() && same < written.size() && now[same] == written[same]) ++same;
  size_t tail = now.size();  // from where `now` follows `old` to the end
  while (tail > 0 && now[tail - 1] == old[tail - 1]) --tail;
  return tail <= same;
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = (char)(v >> (8 * i));
  return s;
}

std::string Package(const std::vector<PackEntry>& entries, int64_t count) {
  std::string s = Le32(0x04D150DDu);
  s += Le32(count < 0 ? (uint32_t)entries.size() : (uint32_t)count);
  for (const PackEntry& e : entries) {
    s += Le32(e.size < 0 ? (uint32_t)e.data.size() : (uint32_t)e.size);
    s += e.name;
    s += '\0';
    s += e.data;
  }
  return s;
}

ScratchDir::ScratchDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/unpack-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ReadFile(const std::string& path) {
  if (IsDirectory(path)) return "<directory>";
  std::ifstream f(path, std::ios::binary);
  if (!f) return "<absent>";
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    f << content;
  }
  chmod(path.c_str(), mode);
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

void RemoveTree(const std::string& path) {
  nftw(
      path.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) {
        chmod(p, 0755);
        return remove(p) == 0 ? 0 : 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
}

namespace {

std::string Slurp(int fd) {
  std::string s;
  lseek(fd, 0, SEEK_SET);
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, (size_t)n);
  return s;
}

int TempFile() {
  char name[] = "/tmp/unpack-io-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(name);
  return fd;
}

}  // namespace

int PipeFilledWith(const std::string& data) {
  int ends[2];
  if (pipe(ends) != 0) return -1;
  if (fork() == 0) {
    close(ends[0]);
    for (size_t done = 0; done < data.size();) {
      ssize_t n = write(ends[1], data.data() + done, data.size() - done);
      if (n <= 0) break;
      done += (size_t)n;
    }
    _exit(0);
  }
  close(ends[1]);
  return ends[0];
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input,
                     const RunOptions& options) {
  // Files, not pipes, on all three streams: nothing can block, whatever the
  // sizes.
  int in = TempFile(), out = TempFile(), err = TempFile();
  if (write(in, input.data(), input.size()) != (ssize_t)input.size())
    throw std::runtime_error("cannot stage stdin");
  lseek(in, 0, SEEK_SET);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The sanitizer reserves far more address space than any limit allows; its
  // allocator refuses large blocks instead.
  const bool limitByAllocator = options.addressLimit && SanitizedBuild();
  const std::string allocatorLimit =
      "ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=" +
      std::to_string(options.addressLimit >> 20);
  fflush(nullptr);
  // The writer of a pipe is this process's child, not the program's: a
  // program (or a tracer around it) that waits for its children must not
  // wait for a writer that waits for a reader it killed.
  if (options.inputOnPipe) {
    const int pipeIn = PipeFilledWith(input);
    dup2(pipeIn, in);
    close(pipeIn);
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (int fd : options.brokenPipeFds) {
      int ends[2];
      if (pipe(ends) != 0) _exit(126);
      close(ends[0]);
      dup2(ends[1], fd);
      close(ends[1]);
    }
    for (int fd : options.closedFds) close(fd);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    for (const std::string& e : options.env) putenv(const_cast<char*>(e.c_str()));
    if (limitByAllocator) {
      putenv(const_cast<char*>(allocatorLimit.c_str()));
    } else if (options.addressLimit) {
      struct rlimit limit = {options.addressLimit, options.addressLimit};
      setrlimit(RLIMIT_AS, &limit);
    }
    execvp(args[0], args.data());
    _exit(127);
  }
  RunResult r;
  int status = 0;
  waitpid(pid, &status, 0);
  close(in);
  if (options.inputOnPipe) wait(nullptr);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Slurp(out);
  r.err = Slurp(err);
  if (limitByAllocator) {
    // Drop the allocator's own warning about the refused block.
    size_t at = r.err.find("==");
    size_t end = at == std::string::npos ? at : r.err.find('\n', at);
    if (end != std::string::npos && r.err.find("failed to allocate", at) < end)
      r.err.erase(at, end + 1 - at);
  }
  close(out), close(err);
  return r;
}

FILE* OpenFailingSource(FailingSource* source) {
  cookie_io_functions_t io = {};
  io.read = [](void* cookie, char* buf, size_t n) -> ssize_t {
    FailingSource* s = (FailingSource*)cookie;
    const size_t end = std::min(s->failsAt, s->data.size());
    if (s->at >= s->failsAt) return -1;
    if (s->at == end) return 0;
    const size_t k = std::min(n, end - s->at);
    memcpy(buf, s->data.data() + s->at, k);
    s->at += k;
    return (ssize_t)k;
  };
  FILE* f = fopencookie(source, "r", io);
  setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

bool SanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

std::string Visible(const std::string& bytes) {
  std::string s;
  char buf[8];
  for (unsigned char c : bytes) {
    if (c == '\r') s += "\\r";
    else if (c == '\n') s += "\\n";
    else if (c >= 0x20 && c < 0x7f && c != '\\') s += (char)c;
    else {
      snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    }
  }
  return s;
}

std::string Shown(const std::string& bytes) {
  if (bytes.size() <= 400) return "\"" + Visible(bytes) + "\"";
  return "\"" + Visible(bytes.substr(0, 200)) + "\"... (" + std::to_string(bytes.size()) +
         " bytes)";
}

Capture::Capture() : stream_(tmpfile()) {
  if (!stream_) throw std::runtime_error("tmpfile failed");
}

Capture::~Capture() { fclose(stream_); }

std::string Capture::text() const {
  fflush(stream_);
  std::string s;
  char buf[65536];
  for (ssize_t n; (n = pread(fileno(stream_), buf, sizeof buf, (off_t)s.size())) > 0;) s.append(buf, (size_t)n);
  return s;
}
