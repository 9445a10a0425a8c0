#include "tests/memfs/memfs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "platform/posix_calls.h"

namespace {

struct Node {
  mode_t mode;       // kind and permission bits
  int parent;        // the folder that holds it; -1 once unlinked
  int opens;         // descriptors on it
  std::string name;
  std::string data;  // a file's content, a link's target, a FIFO's reader mark
};

struct Descriptor {
  int node;  // -1 once closed
  bool writable;
  size_t offset;
};

struct Stream {
  int node;
  size_t next;  // 0 is ".", 1 is "..", k > 1 is node k - 1 when it is a child
  struct dirent entry;
};

// Where a path leads: the folder that holds its last component, and the
// entry of that name, if there is one.
struct Where {
  int dir, node;
  bool dirOnly;      // the path ends in a separator
  bool dot;          // the last component is ".", ".." or none at all ("/")
  const char* last;  // the last component, `length` bytes
  size_t length;
};

// A call that changed the tree, as the power-cut model replays it.
enum OpKind { kCreate, kUnlink, kRename, kChmod, kWrite, kTruncate, kFlushFile, kFlushVolume };
struct Op {
  OpKind kind;
  int node;
  int dir = -1;         // create, rename: the folder it goes to
  std::string name = {};  // create, rename: the name it takes
  int replaced = -1;    // rename: the entry it replaced
  mode_t mode = 0;      // create, chmod
  size_t at = 0;        // write: where; truncate: the length
  std::string data = {};  // write
};

struct State {
  std::vector<Node> nodes;      // nodes[0] is the root; numbers are not reused
  std::vector<Descriptor> fds;  // descriptor 3 + i
  int streams;
  uint64_t capacity, used;
  bool privileged;
  PosixCalls saved;
  bool recording;
  std::vector<Node> recorded;  // the tree when recording began
  std::vector<Op> ops;
} g;

void Record(const Op& op) {
  if (g.recording) g.ops.push_back(op);
}

const int kMaxHops = 40;  // links followed in one resolution, as on Linux

int Error(int err) { return errno = err, -1; }

bool IsDir(int node) { return S_ISDIR(g.nodes[node].mode); }
uint64_t Free() { return g.used < g.capacity ? g.capacity - g.used : 0; }

void Resize(Node& e, size_t size) {
  g.used = g.used + size - e.data.size();
  e.data.resize(size);
}

// A file that no folder names gives its room back once nothing holds it.
void Release(int node) {
  Node& e = g.nodes[node];
  if (e.parent < 0 && e.opens == 0 && S_ISREG(e.mode)) Resize(e, 0);
}

int Child(int dir, const char* name, size_t n) {
  if (n == 0 || (n == 1 && name[0] == '.')) return dir;
  if (n == 2 && name[0] == '.' && name[1] == '.') return g.nodes[dir].parent;
  for (size_t i = 1; i < g.nodes.size(); ++i) {
    const Node& e = g.nodes[i];
    if (e.parent == dir && e.name.size() == n && memcmp(e.name.data(), name, n) == 0) return (int)i;
  }
  return -1;
}

int Walk(int at, const char* path, bool follow, int* hops, Where* w);

// Resolves the link `node` found in folder `dir`; a separator after the
// link's name still asks for a folder.
int Follow(int dir, int node, int* hops, Where* w) {
  if (++*hops > kMaxHops) return ELOOP;
  bool dirOnly = w->dirOnly;
  int err = Walk(dir, g.nodes[node].data.c_str(), true, hops, w);
  w->dirOnly = w->dirOnly || dirOnly;
  return err;
}

int Walk(int at, const char* path, bool follow, int* hops, Where* w) {
  if (*path == '\0') return ENOENT;
  if (strlen(path) >= PATH_MAX) return ENAMETOOLONG;
  if (*path == '/') at = 0;
  for (const char* p = path;;) {
    while (*p == '/') ++p;
    const char* end = strchrnul(p, '/');
    const char* next = end;
    while (*next == '/') ++next;
    size_t n = (size_t)(end - p);
    if (n > NAME_MAX) return ENAMETOOLONG;
    int node = Child(at, p, n);
    bool link = node >= 0 && S_ISLNK(g.nodes[node].mode);
    if (*next == '\0') {
      bool dot = n == 0 || (p[0] == '.' && (n == 1 || (n == 2 && p[1] == '.')));
      *w = Where{at, node, *end == '/', dot, p, n};
      return link && (follow || w->dirOnly) ? Follow(at, node, hops, w) : 0;
    }
    Where target = {};
    int err = link ? Follow(at, node, hops, &target) : 0;
    if (err) return err;
    if (link) node = target.node;
    if (node < 0) return ENOENT;
    if (!IsDir(node)) return ENOTDIR;
    at = node;
    p = next;
  }
}

int Resolve(const char* path, bool follow, Where* w) {
  int hops = 0;
  return Walk(0, path, follow, &hops, w);
}

// As Resolve, for an entry that must exist (a folder, when the path ends in
// a separator).
int Find(const char* path, bool follow, Where* w) {
  int err = Resolve(path, follow, w);
  if (!err && w->node < 0) err = ENOENT;
  return err ? err : w->dirOnly && !IsDir(w->node) ? ENOTDIR : 0;
}

// The name is copied before the table grows: it may lie in a link's target.
int NewNode(const Where& w, mode_t mode) {
  std::string name(w.last, w.length);
  g.nodes.push_back(Node{mode, w.dir, 0, name, std::string()});
  const int node = (int)g.nodes.size() - 1;
  Record(Op{kCreate, node, w.dir, name, -1, mode});
  return node;
}

int Describe(int node, struct stat* st) {
  const Node& e = g.nodes[node];
  memset(st, 0, sizeof *st);
  st->st_dev = 1;
  st->st_ino = (ino_t)node + 1;
  st->st_mode = e.mode;
  st->st_nlink = 1;
  st->st_size = S_ISFIFO(e.mode) ? 0 : (off_t)e.data.size();
  return 0;
}

int StatPath(const char* path, bool follow, struct stat* st) {
  Where w;
  int err = Find(path, follow, &w);
  return err ? Error(err) : Describe(w.node, st);
}

Descriptor* FdOf(int fd) {
  size_t i = (size_t)fd - 3;
  return fd >= 3 && i < g.fds.size() && g.fds[i].node >= 0 ? &g.fds[i] : nullptr;
}

// Descriptor numbers are not reused before the next reset.
int Attach(int node, bool writable) {
  g.fds.push_back(Descriptor{node, writable, 0});
  ++g.nodes[node].opens;
  return (int)g.fds.size() + 2;
}

// Nothing reads a FIFO unless its mark says so, and a blocking open would
// wait for ever: either way it fails as the non-blocking open does.
int OpenExisting(int node, int flags) {
  Node& e = g.nodes[node];
  bool writing = (flags & O_ACCMODE) != O_RDONLY;
  // O_PATH with O_NOFOLLOW opens a link itself, for fstat alone.
  if (S_ISLNK(e.mode)) return flags & O_PATH ? Attach(node, false) : Error(ELOOP);
  if (S_ISDIR(e.mode) && writing) return Error(EISDIR);
  if (S_ISFIFO(e.mode) && writing && e.data.empty()) return Error(ENXIO);
  if (writing && !g.privileged && !(e.mode & S_IWUSR)) return Error(EACCES);
  if (S_ISREG(e.mode) && writing && (flags & O_TRUNC)) {
    Resize(e, 0);
    Record(Op{kTruncate, node});
  }
  return Attach(node, writing);
}

int FakeOpen(const char* path, int flags, mode_t mode) {
  bool create = flags & O_CREAT, exclusive = create && (flags & O_EXCL);
  Where w;
  int err = Resolve(path, !exclusive && !(flags & O_NOFOLLOW), &w);
  if (err) return Error(err);
  if (create && w.dirOnly) return Error(EISDIR);
  if (w.node < 0 && !create) return Error(ENOENT);
  if (w.node >= 0 && w.dirOnly && !IsDir(w.node)) return Error(ENOTDIR);
  if (w.node >= 0) return exclusive ? Error(EEXIST) : OpenExisting(w.node, flags);
  // A new file gets the usual umask, 022.
  return Attach(NewNode(w, S_IFREG | (mode & 0755)), (flags & O_ACCMODE) != O_RDONLY);
}

// As on Linux, a write stores what fits and returns the short count; the
// next one finds no room and fails.
ssize_t FakeWrite(int fd, const void* data, size_t count) {
  Descriptor* d = FdOf(fd);
  if (!d || !d->writable) return Error(EBADF);
  Node& e = g.nodes[d->node];
  if (S_ISFIFO(e.mode)) return (ssize_t)count;
  uint64_t room = e.data.size() + Free();
  size_t n = d->offset + count <= room ? count : room > d->offset ? room - d->offset : 0;
  if (n == 0 && count > 0) return Error(ENOSPC);
  if (d->offset + n > e.data.size()) Resize(e, d->offset + n);
  memcpy(&e.data[0] + d->offset, data, n);
  Op op{kWrite, d->node};
  op.at = d->offset;
  op.data.assign((const char*)data, n);
  Record(op);
  d->offset += n;
  return (ssize_t)n;
}

int FakeFsync(int fd) {
  if (!FdOf(fd)) return Error(EBADF);
  Record(Op{kFlushFile, FdOf(fd)->node});
  return 0;
}

// A volume's flush fails where a file's would.
int FakeSyncfs(int fd) {
  if (!FdOf(fd)) return Error(EBADF);
  Record(Op{kFlushVolume, -1});
  return 0;
}

// Starting a file's writeback changes nothing a cut may leave: data not yet
// flushed may reach the disk at any moment anyway.
int FakeStartWriteback(int fd) { return FdOf(fd) ? 0 : Error(EBADF); }

// A quiet volume: nothing but the run's own files waits to be written.
long long FakeUnwrittenBytes() { return 0; }

// The package is never a file here (it comes from a stream without a
// descriptor): nothing is copied from it.
ssize_t FakeCopyFileRange(int, off_t*, int, off_t*, size_t, unsigned) { return Error(EBADF); }

ssize_t FakePread(int fd, void* data, size_t count, off_t offset) {
  Descriptor* d = FdOf(fd);
  if (!d || offset < 0) return Error(d ? EINVAL : EBADF);
  const std::string& content = g.nodes[d->node].data;
  const size_t at = (size_t)offset < content.size() ? (size_t)offset : content.size();
  const size_t n = count < content.size() - at ? count : content.size() - at;
  memcpy(data, content.data() + at, n);
  return (ssize_t)n;
}

int FakeFstat(int fd, struct stat* st) {
  return FdOf(fd) ? Describe(FdOf(fd)->node, st) : Error(EBADF);
}

// Growing takes room as if written, where Linux would leave a hole.
int FakeFtruncate(int fd, off_t length) {
  Descriptor* d = FdOf(fd);
  if (!d) return Error(EBADF);
  if (length < 0 || !d->writable || !S_ISREG(g.nodes[d->node].mode)) return Error(EINVAL);
  Resize(g.nodes[d->node], (size_t)length);
  Op op{kTruncate, d->node};
  op.at = (size_t)length;
  Record(op);
  return 0;
}

// As on Linux, a close that reports an error has closed the descriptor.
int FakeClose(int fd) {
  Descriptor* d = FdOf(fd);
  if (!d) return Error(EBADF);
  --g.nodes[d->node].opens;
  Release(d->node);
  d->node = -1;
  return 0;
}

int FakeLstat(const char* path, struct stat* st) { return StatPath(path, false, st); }
int FakeStat(const char* path, struct stat* st) { return StatPath(path, true, st); }

int FakeChmod(const char* path, mode_t mode) {
  Where w;
  int err = Find(path, true, &w);
  if (err) return Error(err);
  g.nodes[w.node].mode = (g.nodes[w.node].mode & S_IFMT) | (mode & 07777);
  Record(Op{kChmod, w.node, -1, "", -1, g.nodes[w.node].mode});
  return 0;
}

int FakeUnlink(const char* path) {
  Where w;
  int err = Find(path, false, &w);
  if (err) return Error(err);
  if (w.dot || IsDir(w.node)) return Error(EISDIR);
  Record(Op{kUnlink, w.node});
  g.nodes[w.node].parent = -1;
  Release(w.node);
  return 0;
}

bool HasChildren(int dir) {
  for (const Node& e : g.nodes)
    if (e.parent == dir && &e != &g.nodes[0]) return true;
  return false;
}

// Renames `from` to `to`; an entry at `to` is replaced when `replace`, as
// rename(2) replaces a file (or an empty folder with a folder).
int Move(const char* from, const char* to, bool replace) {
  Where a, b;
  int err = Resolve(from, false, &a);
  if (!err) err = Resolve(to, false, &b);
  if (!err && a.dot) err = EBUSY;
  if (!err && a.node < 0) err = ENOENT;
  if (!err && b.node >= 0 && b.node == a.node) return 0;
  if (!err && b.node >= 0 && !replace) err = EEXIST;
  if (!err && b.node >= 0 && IsDir(b.node) != IsDir(a.node)) err = IsDir(b.node) ? EISDIR : ENOTDIR;
  if (!err && b.node >= 0 && IsDir(b.node) && HasChildren(b.node)) err = ENOTEMPTY;
  if (!err && !IsDir(a.node) && (a.dirOnly || b.dirOnly)) err = ENOTDIR;
  for (int dir = b.dir; !err && dir > 0; dir = g.nodes[dir].parent)
    if (dir == a.node) err = EINVAL;  // a folder into itself
  if (err) return Error(err);
  Record(Op{kRename, a.node, b.dir, std::string(b.last, b.length), b.node});
  if (b.node >= 0) {
    g.nodes[b.node].parent = -1;
    Release(b.node);
  }
  g.nodes[a.node].parent = b.dir;
  g.nodes[a.node].name.assign(b.last, b.length);
  return 0;
}

int FakeRename(const char* from, const char* to) { return Move(from, to, false); }
int FakeRenameOver(const char* from, const char* to) { return Move(from, to, true); }

int FakeStatvfs(const char*, struct statvfs*) { return Error(ENOSYS); }

// Nothing here has flags or mounts, and nothing asks: pack alone does.
int FakeStatx(int, const char*, int, unsigned, struct statx*) { return Error(ENOSYS); }

DIR* FakeOpendir(const char* path) {
  Where w;
  int err = Find(path, true, &w);
  if (!err && !IsDir(w.node)) err = ENOTDIR;
  if (err) return errno = err, nullptr;
  ++g.streams;
  return reinterpret_cast<DIR*>(new Stream{w.node, 0, {}});
}

struct dirent* FakeReaddir(DIR* dir) {
  Stream* s = reinterpret_cast<Stream*>(dir);
  for (;; ++s->next) {
    size_t k = s->next;
    if (k > 1 && k - 1 >= g.nodes.size()) return nullptr;
    const Node& e = g.nodes[k < 2 ? s->node : k - 1];
    if (k > 1 && e.parent != s->node) continue;
    const char* name = k == 0 ? "." : k == 1 ? ".." : e.name.c_str();
    s->entry.d_ino = (ino_t)(k < 2 ? s->node : k - 1) + 1;
    s->entry.d_type = IFTODT(e.mode);
    memcpy(s->entry.d_name, name, strlen(name) + 1);
    ++s->next;
    return &s->entry;
  }
}

// No owners here: every file is the caller's.
int FakeLchown(const char*, uid_t, gid_t) { return 0; }

ssize_t FakeReadlinkFd(int fd, char* target, size_t size) {
  Descriptor* d = FdOf(fd);
  if (!d || !S_ISLNK(g.nodes[d->node].mode)) return Error(d ? EINVAL : EBADF);
  const std::string& data = g.nodes[d->node].data;
  const size_t n = data.size() < size ? data.size() : size;
  memcpy(target, data.data(), n);
  return (ssize_t)n;
}

// An entry has one name here: a file cannot be given another.
int FakeLinkFd(int, const char*) { return Error(EMLINK); }

int FakeSymlink(const char* target, const char* path) {
  Where w;
  int err = Resolve(path, false, &w);
  if (err) return Error(err);
  if (w.node >= 0) return Error(EEXIST);
  const int node = NewNode(w, S_IFLNK | 0777);
  g.nodes[node].data = target;
  Op op{kWrite, node};
  op.at = 0;
  op.data = target;
  Record(op);
  return 0;
}

int FakeClosedir(DIR* dir) {
  --g.streams;
  delete reinterpret_cast<Stream*>(dir);
  return 0;
}

}  // namespace

void MemFsInstall() {
  g.saved = g_posix;
  g_posix = PosixCalls{
      .open = FakeOpen,
      .write = FakeWrite,
      .fsync = FakeFsync,
      .fstat = FakeFstat,
      .ftruncate = FakeFtruncate,
      .close = FakeClose,
      .lstat = FakeLstat,
      .stat = FakeStat,
      .chmod = FakeChmod,
      .unlink = FakeUnlink,
      .rename_noreplace = FakeRename,
      .rename = FakeRenameOver,
      .statvfs = FakeStatvfs,
      .opendir = FakeOpendir,
      .readdir = FakeReaddir,
      .closedir = FakeClosedir,
      .malloc = g.saved.malloc,
      .free = g.saved.free,
      .copy_file_range = FakeCopyFileRange,
      .pread = FakePread,
      .syncfs = FakeSyncfs,
      .descriptor_flags = g.saved.descriptor_flags,
      .dup2 = g.saved.dup2,
      .uname = g.saved.uname,
      .ignore_signal = g.saved.ignore_signal,
      .pipe_size = g.saved.pipe_size,
      .read = g.saved.read,
      .mkdir = g.saved.mkdir,
      .access = g.saved.access,
      .geteuid = g.saved.geteuid,
      .lchown = FakeLchown,
      .readlink_fd = FakeReadlinkFd,
      .link_fd = FakeLinkFd,
      .symlink = FakeSymlink,
      .statx = FakeStatx,
      .start_writeback = FakeStartWriteback,
      .unwritten_bytes = FakeUnwrittenBytes,
  };
  MemFsReset(false);
}

void MemFsUninstall() { g_posix = g.saved; }

void MemFsReset(bool privileged) {
  g.nodes.clear();
  g.nodes.push_back(Node{S_IFDIR | 0755, 0, 0, std::string(), std::string()});
  g.fds.clear();
  g.streams = 0;
  g.used = 0;
  g.capacity = (uint64_t)1 << 62;  // as good as unlimited, and far from overflow
  g.privileged = privileged;
  g.recording = false;
  g.ops.clear();
}

bool MemFsMake(const char* path, mode_t mode, const char* data, size_t size) {
  Where w;
  int err = Resolve(path, false, &w);
  if (!err && w.node >= 0) err = EEXIST;
  if (err) return errno = err, false;
  g.nodes[NewNode(w, mode)].data.assign(data, size);
  if (S_ISREG(mode)) g.used += size;
  return true;
}

void MemFsSetFree(uint64_t bytes) { g.capacity = g.used + bytes; }

const std::string* MemFsLook(const char* path, bool follow, mode_t* mode) {
  Where w;
  if (Find(path, follow, &w) != 0) return nullptr;
  *mode = g.nodes[w.node].mode;
  return &g.nodes[w.node].data;
}

int MemFsOpenCount() {
  int open = g.streams;
  for (const Descriptor& d : g.fds) open += d.node >= 0;
  return open;
}

namespace {

// The content of `node` once the calls before `end` are made.
std::string ContentAt(int node, size_t end) {
  std::string data = node < (int)g.recorded.size() ? g.recorded[node].data : std::string();
  for (size_t i = 0; i < end; ++i) {
    const Op& op = g.ops[i];
    if (op.node != node || (op.kind != kWrite && op.kind != kTruncate)) continue;
    if (op.kind == kTruncate || data.size() < op.at + op.data.size())
      data.resize(op.kind == kTruncate ? op.at : op.at + op.data.size());
    data.replace(op.at, op.data.size(), op.data);
  }
  return data;
}

// What file `node` holds after a power cut before call `cut`: what it held
// at its last flush (of the file, or of the volume) since it was made; else
// what it held before the run, if nothing wrote to it; else one of the
// `part`-th sample of what a volume may keep of writes it was not asked to
// flush: a block holds what was written or what it held before (zeros where
// the file grew: the room was taken, the data never came), at the length
// before or after.
std::string ContentAfterCut(int node, size_t cut, int part) {
  long made = node < (int)g.recorded.size() ? -1 : 0, flushed = -1;
  bool written = false;
  for (size_t i = 0; i < cut; ++i) {
    const Op& op = g.ops[i];
    if (op.kind == kCreate && op.node == node) made = (long)i;
    if ((op.kind == kFlushVolume || (op.kind == kFlushFile && op.node == node)) && (long)i > made)
      flushed = (long)i;
    written = written || ((op.kind == kWrite || op.kind == kTruncate) && op.node == node);
  }
  if (flushed >= 0) return ContentAt(node, (size_t)flushed);
  const std::string before = made < 0 ? g.recorded[node].data : std::string();
  if (!written) return before;
  const std::string now = ContentAt(node, cut);
  const size_t half = now.size() / 2;
  // Past `from`, what was there before, and zeros where the file grew.
  auto rest = [&](size_t from) {
    std::string tail = from < before.size() ? before.substr(from, now.size() - std::min(now.size(), from)) : "";
    return tail + std::string(now.size() > from + tail.size() ? now.size() - from - tail.size() : 0, '\0');
  };
  switch (part) {
    case 0: return before;                           // nothing reached the disk
    case 1: return now.substr(0, half) + (before.size() > half ? before.substr(half) : "");
    case 2: return now;                              // all of it did
    case 3: return rest(0);                          // the length, not the data
    default: return now.substr(0, half) + rest(half);  // the length, half the data
  }
}

// The tree after a power cut before call `cut`, when the changes to the
// namespace before call `persisted` reached the disk.
std::vector<Node> CrashState(size_t persisted, size_t cut, int part) {
  std::vector<Node> nodes = g.recorded;
  for (size_t i = 0; i < persisted; ++i) {
    const Op& op = g.ops[i];
    if (op.kind == kCreate) {
      if (nodes.size() <= (size_t)op.node) nodes.resize((size_t)op.node + 1, Node{0, -1, 0, "", ""});
      nodes[op.node] = Node{op.mode, op.dir, 0, op.name, std::string()};
    } else if (op.kind == kUnlink) {
      nodes[op.node].parent = -1;
    } else if (op.kind == kRename) {
      if (op.replaced >= 0) nodes[op.replaced].parent = -1;
      nodes[op.node].parent = op.dir;
      nodes[op.node].name = op.name;
    } else if (op.kind == kChmod) {
      nodes[op.node].mode = op.mode;
    }
  }
  for (size_t n = 0; n < nodes.size(); ++n) {
    nodes[n].opens = 0;
    if (S_ISREG(nodes[n].mode) && nodes[n].parent >= 0) nodes[n].data = ContentAfterCut((int)n, cut, part);
  }
  return nodes;
}

// What tells two trees apart: every entry a folder names, and what it holds.
std::string Described(const std::vector<Node>& nodes) {
  std::string key;
  for (size_t n = 1; n < nodes.size(); ++n) {
    const Node& e = nodes[n];
    if (e.parent < 0) continue;
    key += std::to_string(e.parent) + "/" + e.name + ":" + std::to_string(e.mode) + ":" +
           std::to_string(std::hash<std::string>()(e.data)) + ";";
  }
  return key;
}

}  // namespace

void MemFsRecord() {
  g.recorded = g.nodes;
  g.ops.clear();
  g.recording = true;
}

size_t MemFsPowerCuts(const std::function<void()>& visit) {
  g.recording = false;
  const uint64_t capacity = g.capacity;
  std::set<std::string> seen;
  size_t states = 0, lastFlush = 0;
  for (size_t cut = 0; cut <= g.ops.size(); ++cut) {
    if (cut > 0 && (g.ops[cut - 1].kind == kFlushFile || g.ops[cut - 1].kind == kFlushVolume))
      lastFlush = cut;
    for (size_t persisted = lastFlush; persisted <= cut; ++persisted) {
      for (int part = 0; part <= 4; ++part) {
        std::vector<Node> nodes = CrashState(persisted, cut, part);
        if (!seen.insert(Described(nodes)).second) continue;
        g.fds.clear();
        g.streams = 0;
        g.nodes = std::move(nodes);
        g.used = 0;
        for (const Node& e : g.nodes)
          if (S_ISREG(e.mode) && e.parent >= 0) g.used += e.data.size();
        g.capacity = capacity;
        ++states;
        visit();
      }
    }
  }
  return states;
}

std::map<std::string, std::string> MemFsFiles() {
  std::map<std::string, std::string> files;
  for (size_t n = 1; n < g.nodes.size(); ++n) {
    std::string path;
    int at = (int)n;
    for (; at > 0 && g.nodes[at].parent >= 0; at = g.nodes[at].parent)
      path = g.nodes[at].name + (path.empty() ? "" : "/" + path);
    if (at != 0) continue;  // not reachable from the root
    const Node& e = g.nodes[n];
    files[path] = S_ISDIR(e.mode) ? "<directory>" : S_ISLNK(e.mode) ? "<symlink> " + e.data : e.data;
  }
  return files;
}
