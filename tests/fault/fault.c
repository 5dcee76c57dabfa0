/* Loaded with LD_PRELOAD by the end-to-end tests; acts only inside the kolvane program, never in
 * a shell or a helper. KOLVANE_FAULT="CALL:N:ACTION": the Nth call of CALL (open, fstat, lseek,
 * read, write, close, memalign, new, fsync, fdatasync) fails with the errno named by ACTION
 * (ENOSPC, ...), or does "short" (half the bytes), "eintr" (fails once with EINTR) or "zero"
 * (returns 0). Two more actions for a write: "drop" reports the whole block written and moves
 * the position past it, storing nothing (a lost write); "shift" stores the block one block
 * length further on than the position (a misplaced write), the position then following it.
 * A failed close releases the descriptor first, as Linux does.
 * pread and pwrite (and their 64-bit names) are reads and writes: "read:N" counts them with the
 * plain calls, and a positioned write that is dropped or shifted leaves the descriptor's
 * position alone, as a positioned call does.
 * KOLVANE_FAULT_REPORT=FILE gets at exit "fired=F after=A" (A: reads and writes made after an
 * injected failure), then "fd N TARGET" for each descriptor opened during the run and still
 * open. KOLVANE_FAULT_CALLS=FILE gets at exit "read=R pread=P write=W pwrite=Q lseek=L": the
 * calls of each kind the program made. */
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kOpen, kFstat, kLseek, kRead, kWrite, kClose, kMemalign, kNew, kFsync, kFdatasync, kFamilies };
enum { kShort = -1, kEintr = -2, kZero = -3, kDrop = -4, kShift = -5 };
static const char* const kFamilyNames[kFamilies] = {
    "open", "fstat", "lseek", "read", "write", "close", "memalign", "new", "fsync", "fdatasync"};

static struct {
  int active, family, action, fired; /* family -1: nothing to disturb */
  long nth, calls[kFamilies], after;
  long made[kFamilies], positioned[kFamilies]; /* every call, and the pread/pwrite among them */
  char open_at_start[1024];
} g = {.family = -1};

static void scan_descriptors(void (*seen)(int fd, void* arg), void* arg) {
  DIR* d = opendir("/proc/self/fd");
  for (struct dirent* e; d && (e = readdir(d));) {
    if (e->d_name[0] != '.' && atoi(e->d_name) != dirfd(d))
      seen(atoi(e->d_name), arg);
  }
  if (d)
    closedir(d);
}

static void note_at_start(int fd, void* arg) {
  (void)arg;
  if (fd < 1024)
    g.open_at_start[fd] = 1;
}

__attribute__((constructor)) static void start(void) {
  char exe[PATH_MAX] = "", call[16], action[32];
  if (readlink("/proc/self/exe", exe, sizeof exe - 1) <= 0 ||
      strcmp(strrchr(exe, '/') ? strrchr(exe, '/') + 1 : exe, "kolvane") != 0)
    return;
  g.active = 1;
  scan_descriptors(note_at_start, NULL);
  const char* plan = getenv("KOLVANE_FAULT");
  if (!plan || sscanf(plan, "%15[a-z]:%ld:%31s", call, &g.nth, action) != 3)
    return;
  for (int f = 0; f < kFamilies; ++f)
    if (strcmp(call, kFamilyNames[f]) == 0)
      g.family = f;
  g.action = strcmp(action, "short") == 0   ? kShort
             : strcmp(action, "eintr") == 0 ? kEintr
             : strcmp(action, "zero") == 0  ? kZero
             : strcmp(action, "drop") == 0  ? kDrop
             : strcmp(action, "shift") == 0 ? kShift
                                            : 0;
  for (int e = 1; e < 200 && g.action == 0; ++e)
    if (strerrorname_np(e) && strcmp(strerrorname_np(e), action) == 0)
      g.action = e;
  if (g.action == 0)
    g.family = -1; /* an unknown action: the report says fired=0 */
}

static void report_left_open(int fd, void* arg) {
  char target[PATH_MAX] = "?", link[64];
  if (fd <= 2 || fd == fileno(arg) || (fd < 1024 && g.open_at_start[fd]))
    return;
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  if (readlink(link, target, sizeof target - 1) < 0)
    target[1] = '\0';
  fprintf(arg, "fd %d %s\n", fd, target);
}

static void report_calls(void) {
  const char* path = getenv("KOLVANE_FAULT_CALLS");
  FILE* report = g.active && path ? fopen(path, "w") : NULL;
  if (!report)
    return;
  fprintf(report, "read=%ld pread=%ld write=%ld pwrite=%ld lseek=%ld\n",
          g.made[kRead] - g.positioned[kRead], g.positioned[kRead],
          g.made[kWrite] - g.positioned[kWrite], g.positioned[kWrite], g.made[kLseek]);
  fclose(report);
}

__attribute__((destructor)) static void finish(void) {
  report_calls();
  const char* path = getenv("KOLVANE_FAULT_REPORT");
  FILE* report = g.active && path ? fopen(path, "w") : NULL;
  if (!report)
    return;
  fprintf(report, "fired=%d after=%ld\n", g.fired, g.after);
  scan_descriptors(report_left_open, report);
  fclose(report);
}

/* Counts the call; true when it is the one to disturb. */
static int chosen(int family) {
  if (!g.active)
    return 0;
  const int goes_on = g.action == kShort || g.action == kEintr || g.action == kDrop ||
                      g.action == kShift; /* the run is meant to go on after these */
  if (g.fired && !goes_on && (family == kRead || family == kWrite))
    ++g.after;
  ++g.made[family];
  if (family != g.family || ++g.calls[family] != g.nth)
    return 0;
  return g.fired = 1;
}

/* The result of a disturbed call that never reaches the system. */
static long injected(void) {
  if (g.action == kZero)
    return 0;
  errno = g.action == kEintr ? EINTR : g.action;
  return -1;
}

/* The next definition of a symbol: the system's, or a sanitizer's in front of it. */
#define NEXT(real, name)                 \
  if (!(real)) {                         \
    void* next = dlsym(RTLD_NEXT, name); \
    memcpy(&(real), &next, sizeof next); \
  }
#define WRAP(ret, name, family, disturbed, params, args) \
  ret name params {                                      \
    static ret(*real) params;                            \
    NEXT(real, #name);                                   \
    return chosen(family) ? (disturbed) : real args;     \
  }

#define OPEN(name)                                                                      \
  int name(const char* path, int flags, ...) {                                          \
    static int (*real)(const char*, int, ...);                                          \
    NEXT(real, #name);                                                                  \
    va_list ap;                                                                         \
    va_start(ap, flags);                                                                \
    const mode_t mode =                                                                 \
        (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0; \
    va_end(ap);                                                                         \
    return chosen(kOpen) ? (int)injected() : real(path, flags, mode);                   \
  }
OPEN(open)
OPEN(open64)
/* What a fortified open without a mode calls. */
WRAP(int, __open_2, kOpen, (int)injected(), (const char* path, int flags), (path, flags))
WRAP(int, __open64_2, kOpen, (int)injected(), (const char* path, int flags), (path, flags))
WRAP(int, fstat, kFstat, (int)injected(), (int fd, struct stat* st), (fd, st))
WRAP(int, fstat64, kFstat, (int)injected(), (int fd, struct stat64* st), (fd, st))
WRAP(off_t, lseek, kLseek, injected(), (int fd, off_t at, int whence), (fd, at, whence))
WRAP(off64_t, lseek64, kLseek, injected(), (int fd, off64_t at, int whence), (fd, at, whence))
WRAP(ssize_t, read, kRead, g.action == kShort ? real(fd, buffer, n > 1 ? n / 2 : n) : injected(),
     (int fd, void* buffer, size_t n), (fd, buffer, n))
/* A lost or misplaced write: the position moves on by the block as if it were stored. */
static ssize_t misdirected(int fd, const void* buffer, size_t n,
                           ssize_t (*real)(int, const void*, size_t)) {
  static off_t (*real_lseek)(int, off_t, int);
  NEXT(real_lseek, "lseek");
  if (real_lseek(fd, (off_t)n, SEEK_CUR) < 0)
    return -1;
  if (g.action == kDrop)
    return (ssize_t)n;
  return real(fd, buffer, n);
}
WRAP(ssize_t, write, kWrite,
     g.action == kShort                         ? real(fd, buffer, n > 1 ? n / 2 : n)
     : g.action == kDrop || g.action == kShift ? misdirected(fd, buffer, n, real)
                                                : injected(),
     (int fd, const void* buffer, size_t n), (fd, buffer, n))
/* A positioned write lost or misplaced: the descriptor's position is not the call's to move. */
static ssize_t misdirected_at(int fd, const void* buffer, size_t n, off64_t at,
                              ssize_t (*real)(int, const void*, size_t, off64_t)) {
  if (g.action == kDrop)
    return (ssize_t)n;
  return real(fd, buffer, n, at + (off64_t)n);
}
/* Counts a pread or pwrite as such; then it is a read or write like any other. */
static int chosen_positioned(int family) {
  if (g.active)
    ++g.positioned[family];
  return chosen(family);
}
#define PREAD(name, off)                                                                  \
  ssize_t name(int fd, void* buffer, size_t n, off at) {                                  \
    static ssize_t (*real)(int, void*, size_t, off);                                      \
    NEXT(real, #name);                                                                    \
    if (!chosen_positioned(kRead))                                                        \
      return real(fd, buffer, n, at);                                                     \
    return g.action == kShort ? real(fd, buffer, n > 1 ? n / 2 : n, at) : injected();     \
  }
#define PWRITE(name, off)                                                                 \
  ssize_t name(int fd, const void* buffer, size_t n, off at) {                            \
    static ssize_t (*real)(int, const void*, size_t, off64_t);                            \
    NEXT(real, #name);                                                                    \
    if (!chosen_positioned(kWrite))                                                       \
      return real(fd, buffer, n, at);                                                     \
    return g.action == kShort                          ? real(fd, buffer, n > 1 ? n / 2 : n, at) \
           : g.action == kDrop || g.action == kShift ? misdirected_at(fd, buffer, n, at, real) \
                                                       : injected();                      \
  }
PREAD(pread, off_t)
PREAD(pread64, off64_t)
PWRITE(pwrite, off_t)
PWRITE(pwrite64, off64_t)
WRAP(int, close, kClose, (real(fd), (int)injected()), (int fd), (fd))
WRAP(int, posix_memalign, kMemalign, g.action > 0 ? g.action : ENOMEM,
     (void** memory, size_t alignment, size_t n), (memory, alignment, n))
/* operator new[](std::size_t, const std::nothrow_t&): the iteration plan's allocation. */
WRAP(void*, _ZnamRKSt9nothrow_t, kNew, NULL, (size_t n, const void* tag), (n, tag))
WRAP(int, fsync, kFsync, (int)injected(), (int fd), (fd))
WRAP(int, fdatasync, kFdatasync, (int)injected(), (int fd), (fd))
