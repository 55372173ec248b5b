// The floor: the least any launcher of this kind can do, for measuring only. It makes the
// launcher's own system calls and nothing else (readlink of /proc/self/exe; open, read and close
// of init.ini; access and stat for the program lookup; the child's creation and execve, the wait,
// the exit), with no signal set-up and no error report.
//
// It takes the same four lines, builds the same command line and finds java the same way (the
// name itself, then PATH), so that its work is the launcher's work without the launcher's costs.
//
// Built two ways:
//   - freestanding and static, with no C library at all and vfork by hand: the floor of the
//     processor and the kernel;
//   - with -DFLOOR_LIBC, static-pie on the system's C library, starting the child with
//     posix_spawn: the floor of any program on a supported C library, with the C library's own
//     start-up and its careful child creation (signals blocked, handlers reset), as the launcher.

#ifdef FLOOR_LIBC

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static long Open(const char* name) { return open(name, O_RDONLY); }
static long Read(long fd, char* buffer, size_t size) { return read((int)fd, buffer, size); }
static void Close(long fd) { close((int)fd); }
static long Readlink(const char* path, char* buffer, size_t size) {
  return readlink(path, buffer, size);
}
static int Access(const char* name) { return access(name, F_OK); }
// 1 when `name` is a directory, 0 when it is not, -1 when the query fails.
static int IsDirectory(const char* name) {
  struct stat status;
  if (stat(name, &status) != 0) return -1;
  return S_ISDIR(status.st_mode);
}
static long Spawn(const char* path, char* const* argv, char* const* envp) {
  pid_t pid;
  return posix_spawn(&pid, path, 0, 0, argv, envp) == 0 ? pid : -1;
}
static void Wait(long pid) {
  int status;
  while (waitpid((pid_t)pid, &status, 0) < 0 && errno == EINTR) {
  }
}
__attribute__((noreturn)) static void Exit(int status) { _exit(status); }

#else

typedef unsigned long size_t;

enum {
  kRead = 0,
  kOpen = 2,
  kClose = 3,
  kStat = 4,
  kAccess = 21,
  kVfork = 58,
  kExecve = 59,
  kExitGroup = 231,
  kWait4 = 61,
  kReadlink = 89,
};

static long Syscall3(long number, long a, long b, long c) {
  long result;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "a"(number), "D"(a), "S"(b), "d"(c)
                   : "rcx", "r11", "memory");
  return result;
}

static long Syscall4(long number, long a, long b, long c, long d) {
  long result;
  register long r10 __asm__("r10") = d;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10)
                   : "rcx", "r11", "memory");
  return result;
}

// vfork, then in the child execve(path, argv, envp) and exit_group(127) if that returns. The
// child runs only this code and never returns into C, so the shared stack stays intact.
long floor_spawn(const char* path, char* const* argv, char* const* envp);
__asm__(
    ".text\n"
    ".globl floor_spawn\n"
    ".type floor_spawn, @function\n"
    "floor_spawn:\n"
    "  mov $58, %eax\n"
    "  syscall\n"
    "  test %rax, %rax\n"
    "  jnz 1f\n"
    "  mov $59, %eax\n"
    "  syscall\n"
    "  mov $231, %eax\n"
    "  mov $127, %edi\n"
    "  syscall\n"
    "1:\n"
    "  ret\n"
    ".size floor_spawn, .-floor_spawn\n");

static long Open(const char* name) { return Syscall3(kOpen, (long)name, 0, 0); }
static long Read(long fd, char* buffer, size_t size) {
  return Syscall3(kRead, fd, (long)buffer, (long)size);
}
static void Close(long fd) { Syscall3(kClose, fd, 0, 0); }
static long Readlink(const char* path, char* buffer, size_t size) {
  return Syscall3(kReadlink, (long)path, (long)buffer, (long)size);
}
static int Access(const char* name) { return (int)Syscall3(kAccess, (long)name, 0, 0); }

struct KernelStat {
  unsigned long dev, ino, nlink;
  unsigned int mode, uid, gid, pad0;
  unsigned long rdev;
  long size, blksize, blocks;
  unsigned long times[6];
  long unused[3];
};

static int IsDirectory(const char* name) {
  struct KernelStat status;
  if (Syscall3(kStat, (long)name, (long)&status, 0) != 0) return -1;
  return (status.mode & 0170000) == 0040000;
}
static long Spawn(const char* path, char* const* argv, char* const* envp) {
  return floor_spawn(path, argv, envp);
}
static void Wait(long pid) {
  int status;
  while (Syscall4(kWait4, pid, (long)&status, 0, 0) == -4) {
  }
}
__attribute__((noreturn)) static void Exit(int status) {
  Syscall3(kExitGroup, status, 0, 0);
  for (;;) {
  }
}

void floor_main(long* stack);

// The process entry: hands the initial stack pointer (argc, argv..., 0, envp..., 0) to
// floor_main.
__asm__(
    ".text\n"
    ".globl _start\n"
    "_start:\n"
    "  xor %ebp, %ebp\n"
    "  mov %rsp, %rdi\n"
    "  and $-16, %rsp\n"
    "  call floor_main\n"
    "  hlt\n");

#endif

// Small buffers, packed together: the floor touches as few pages as it can.
#define kLineMax 1024
#define kPathMax 1024

static struct {
  char block[256];
  char self[kPathMax];
  char lines[4][kLineMax];
  char java[kLineMax + 16];
  char classpath[kPathMax + 2];
  char candidate[kPathMax * 2];
} g;

static size_t Length(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

static char* Copy(char* to, const char* from, size_t n) {
  for (size_t i = 0; i < n; ++i) to[i] = from[i];
  return to + n;
}

// Reads up to four lines of init.ini through 256-byte reads; LF, CR LF and a lone CR end a line.
static void ReadSettings(void) {
  const long fd = Open("init.ini");
  if (fd < 0) return;
  int line = 0;
  size_t used = 0;
  int after_cr = 0;
  while (line < 4) {
    const long got = Read(fd, g.block, sizeof g.block);
    if (got <= 0) break;
    for (long i = 0; i < got && line < 4; ++i) {
      const char byte = g.block[i];
      if (after_cr && byte == '\n') {
        after_cr = 0;
        continue;
      }
      after_cr = 0;
      if (byte == '\n' || byte == '\r') {
        g.lines[line++][used] = 0;
        used = 0;
        after_cr = byte == '\r';
      } else if (used + 1 < kLineMax) {
        g.lines[line][used++] = byte;
      }
    }
  }
  if (line < 4) g.lines[line][used] = 0;
  Close(fd);
}

static int Exists(const char* name) {
  if (Access(name) != 0) return 0;
  return IsDirectory(name) != 1;
}

// The name itself, then each non-empty PATH element with "/" and the name appended.
static const char* Find(const char* name, char* const* envp) {
  if (Exists(name)) return name;
  const char* path = 0;
  for (; *envp; ++envp) {
    const char* e = *envp;
    if (e[0] == 'P' && e[1] == 'A' && e[2] == 'T' && e[3] == 'H' && e[4] == '=') {
      path = e + 5;
      break;
    }
  }
  const size_t name_length = Length(name);
  while (path && *path) {
    const char* end = path;
    while (*end && *end != ':') ++end;
    const size_t n = (size_t)(end - path);
    if (n > 0 && n + name_length + 2 < sizeof g.candidate) {
      char* at = Copy(g.candidate, path, n);
      if (at[-1] != '/') *at++ = '/';
      at = Copy(at, name, name_length);
      *at = 0;
      if (Exists(g.candidate)) return g.candidate;
    }
    path = *end ? end + 1 : end;
  }
  return 0;
}

__attribute__((noreturn)) static void Launch(char* const* envp) {
  long n = Readlink("/proc/self/exe", g.self, sizeof g.self - 1);
  size_t dir = 0;
  for (long i = 0; i < n; ++i) {
    if (g.self[i] == '/') dir = (size_t)i + 1;
  }
  char* at = Copy(g.classpath, g.self, dir);
  at[0] = '/';
  at[1] = 0;

  ReadSettings();

  const char* home = g.lines[0];
  const size_t home_length = Length(home);
  if (home_length == 0) {
    Copy(g.java, "java", 5);
  } else {
    at = Copy(g.java, home, home_length);
    if (at[-1] != '/') *at++ = '/';
    Copy(at, "bin/java", 9);
  }

  char* args[] = {g.java,          "--module-path", g.lines[1],
                  "--add-modules", g.lines[2],      "-classpath",
                  g.classpath,     g.lines[3],      0};
  const char* program = Find(g.java, envp);
  if (program != 0) {
    const long pid = Spawn(program, args, envp);
    if (pid > 0) Wait(pid);
  }
  Exit(program != 0 ? 0 : 217);
}

#ifdef FLOOR_LIBC
int main(int argc, char** argv, char** envp) {
  (void)argc;
  (void)argv;
  Launch(envp);
}
#else
__attribute__((used, noreturn)) void floor_main(long* stack) {
  char** argv = (char**)(stack + 1);
  Launch(argv + stack[0] + 1);
}
#endif
