/* Loaded with LD_PRELOAD into a run (and, inherited, into its workers): lets
 * the N-th file-system call that changes something under one folder kill the
 * process (as kill -9, the OOM killer or a power cut would at that instant) or
 * fail with EIO or ENOSPC. Counted per process; one fault per run, however
 * many processes: the first to get there leaves a mark and the rest go on.
 *
 *   VARNHOLT_FAULT_AT     N, from 1
 *   VARNHOLT_FAULT_UNDER  only calls on paths under this folder count
 *   VARNHOLT_FAULT_CALLS  only these calls count, e.g. "renameat,write" (all
 *                         of them when unset)
 *   VARNHOLT_FAULT_KIND   kill (the default), eio or enospc
 *   VARNHOLT_FAULT_MARK   a file made when the fault happens, naming the call
 *   VARNHOLT_FAULT_COUNTER  a file of 8 zero bytes: calls are counted across
 *                         all processes of the run, in the order they come,
 *                         so a call of each of two racing workers is reached
 *                         by some N (counted per process without it)
 *
 * Only calls made through the dynamic linker are seen: our own and Qt's, not
 * those glibc makes inside itself (ImageMagick's fopen), which are the
 * writing of a pair's files long before anything is renamed into place. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static long gOwnCalls;

static long *Counter(void) {
  static long *shared;
  if (shared) return shared;
  const char *file = getenv("VARNHOLT_FAULT_COUNTER");
  if (!file) return &gOwnCalls;
  static int (*real_open)(const char *, int, ...);
  if (!real_open) real_open = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
  const int fd = real_open(file, O_RDWR | O_CLOEXEC);
  void *map = fd < 0 ? MAP_FAILED : mmap(NULL, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (fd >= 0) close(fd);
  shared = map == MAP_FAILED ? &gOwnCalls : (long *)map;
  return shared;
}

static int Under(const char *path) {
  const char *root = getenv("VARNHOLT_FAULT_UNDER");
  if (!root || !*root || !path) return 0;
  const size_t n = strlen(root);
  return strncmp(path, root, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

/* The path a file descriptor stands for, or a name relative to one. */
static void Resolve(int dirfd, const char *name, char *out, size_t size) {
  char link[64], base[PATH_MAX] = "";
  out[0] = '\0';
  if (name && name[0] == '/') {
    int fd = 0, used = 0;
    /* What a process reaches through its own handles, as its tools do. */
    if (sscanf(name, "/proc/self/fd/%d%n", &fd, &used) == 1) {
      Resolve(fd, NULL, base, sizeof base);
      snprintf(out, size, "%s%s", base, name + used);
    } else {
      snprintf(out, size, "%s", name);
    }
    return;
  }
  if (dirfd == AT_FDCWD) {
    if (!getcwd(base, sizeof base)) return;
  } else {
    snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    const ssize_t len = readlink(link, base, sizeof base - 1);
    if (len < 0) return;
    base[len] = '\0';
  }
  if (name) snprintf(out, size, "%s/%s", base, name);
  else snprintf(out, size, "%s", base);
}

/* Nonzero: the call is not to be made, errno says why. */
static int Fault(const char *call, int dirfd, const char *name) {
  const char *at = getenv("VARNHOLT_FAULT_AT");
  if (!at) return 0;
  const char *calls = getenv("VARNHOLT_FAULT_CALLS");
  if (calls) {
    const size_t n = strlen(call);
    const char *found = calls;
    while ((found = strstr(found, call)) &&
           !((found == calls || found[-1] == ',') && (found[n] == ',' || found[n] == '\0')))
      found += n;
    if (!found) return 0;
  }
  char path[PATH_MAX * 2];
  Resolve(dirfd, name, path, sizeof path);
  if (!Under(path)) return 0;
  if (__atomic_add_fetch(Counter(), 1, __ATOMIC_SEQ_CST) != atol(at)) return 0;
  const char *mark = getenv("VARNHOLT_FAULT_MARK");
  if (mark) {
    static int (*real_open)(const char *, int, ...);
    if (!real_open) real_open = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    const int fd = real_open(mark, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return 0; /* another process of the run had the fault */
    dprintf(fd, "%s %s in process %d\n", call, path, (int)getpid());
    close(fd);
  }
  const char *kind = getenv("VARNHOLT_FAULT_KIND");
  if (kind && strcmp(kind, "eio") == 0) errno = EIO;
  else if (kind && strcmp(kind, "enospc") == 0) errno = ENOSPC;
  else kill(getpid(), SIGKILL);
  return 1;
}

#define REAL(type, name, args) \
  static type(*real) args;     \
  if (!real) real = (type(*) args)dlsym(RTLD_NEXT, #name)

int renameat(int from, const char *a, int to, const char *b) {
  REAL(int, renameat, (int, const char *, int, const char *));
  return Fault("renameat", to, b) ? -1 : real(from, a, to, b);
}

int renameat2(int from, const char *a, int to, const char *b, unsigned flags) {
  REAL(int, renameat2, (int, const char *, int, const char *, unsigned));
  return Fault("renameat2", to, b) ? -1 : real(from, a, to, b, flags);
}

int rename(const char *a, const char *b) {
  REAL(int, rename, (const char *, const char *));
  return Fault("rename", AT_FDCWD, b) ? -1 : real(a, b);
}

int unlinkat(int dirfd, const char *name, int flags) {
  REAL(int, unlinkat, (int, const char *, int));
  return Fault("unlinkat", dirfd, name) ? -1 : real(dirfd, name, flags);
}

int unlink(const char *name) {
  REAL(int, unlink, (const char *));
  return Fault("unlink", AT_FDCWD, name) ? -1 : real(name);
}

int rmdir(const char *name) {
  REAL(int, rmdir, (const char *));
  return Fault("rmdir", AT_FDCWD, name) ? -1 : real(name);
}

int linkat(int from, const char *a, int to, const char *b, int flags) {
  REAL(int, linkat, (int, const char *, int, const char *, int));
  return Fault("linkat", to, b) ? -1 : real(from, a, to, b, flags);
}

int link(const char *a, const char *b) {
  REAL(int, link, (const char *, const char *));
  return Fault("link", AT_FDCWD, b) ? -1 : real(a, b);
}

int mkdirat(int dirfd, const char *name, mode_t mode) {
  REAL(int, mkdirat, (int, const char *, mode_t));
  return Fault("mkdirat", dirfd, name) ? -1 : real(dirfd, name, mode);
}

static int Writes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0; }

#define OPEN_AT(fn)                                                   \
  int fn(int dirfd, const char *name, int flags, ...) {               \
    va_list args;                                                     \
    va_start(args, flags);                                            \
    const mode_t mode = (mode_t)va_arg(args, int);                    \
    va_end(args);                                                     \
    REAL(int, fn, (int, const char *, int, ...));                     \
    if (Writes(flags) && Fault(#fn, dirfd, name)) return -1;          \
    return real(dirfd, name, flags, mode);                            \
  }
OPEN_AT(openat)
OPEN_AT(openat64)

#define OPEN(fn)                                                      \
  int fn(const char *name, int flags, ...) {                          \
    va_list args;                                                     \
    va_start(args, flags);                                            \
    const mode_t mode = (mode_t)va_arg(args, int);                    \
    va_end(args);                                                     \
    REAL(int, fn, (const char *, int, ...));                          \
    if (Writes(flags) && Fault(#fn, AT_FDCWD, name)) return -1;       \
    return real(name, flags, mode);                                   \
  }
OPEN(open)
OPEN(open64)

int fsync(int fd) {
  REAL(int, fsync, (int));
  return Fault("fsync", fd, NULL) ? -1 : real(fd);
}

int fdatasync(int fd) {
  REAL(int, fdatasync, (int));
  return Fault("fdatasync", fd, NULL) ? -1 : real(fd);
}

/* Writes to files under the folder: the journal. Pipes and terminals are
 * named otherwise and never count. */
ssize_t write(int fd, const void *data, size_t size) {
  REAL(ssize_t, write, (int, const void *, size_t));
  return Fault("write", fd, NULL) ? -1 : real(fd, data, size);
}
