// The benchmark's measuring program (see run.sh and bench.py).
//
//   harness time ITERATIONS WARMUP SEED LIST
//       LIST holds one command a line: "NAME<TAB>WORKING-DIRECTORY<TAB>PROGRAM". Every iteration
//       runs each command once, in a freshly shuffled order, so that drift of the machine falls
//       on all of them alike; a run is timed from just before the spawn to the end of the wait.
//       Prints "NAME NANOSECONDS" per run after the first WARMUP iterations.
//   harness memory DIRECTORY PROGRAM
//       Starts PROGRAM with descriptor 3 open on a pipe. The stand-in java (sleeper.c) writes its
//       process ID there once it runs, which means the launcher is waiting for it: then the
//       launcher's memory is read from /proc, the child is killed and the launcher collected
//       (which ends as its child did, killed, or with 0 for the floors, which ignore it).
//       Prints "rss_kb anonymous_kb private_kb hwm_kb" of the launcher.
//   harness peak DIRECTORY PROGRAM ERRFILE
//       Runs PROGRAM once with standard error into ERRFILE. Prints "nanoseconds maxrss_kb
//       exit_code signal".
//
// Standard input, output and (except for peak) error of the programs are /dev/null; their
// environment is the harness's own.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static void Die(const char* what) {
  fprintf(stderr, "harness: %s: %s\n", what, strerror(errno));
  exit(2);
}

static uint64_t Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint64_t)now.tv_sec * 1000000000u + (uint64_t)now.tv_nsec;
}

static uint64_t g_random;
static uint64_t NextRandom(void) {  // xorshift64*
  g_random ^= g_random >> 12;
  g_random ^= g_random << 25;
  g_random ^= g_random >> 27;
  return g_random * 2685821657736338717u;
}

// Starts `program` in `directory`; `err_fd` becomes its standard error, `extra_fd` (if not -1)
// its descriptor 3.
static pid_t Spawn(const char* directory, const char* program, int null_fd, int err_fd,
                   int extra_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, null_fd, 0);
  posix_spawn_file_actions_adddup2(&actions, null_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  if (extra_fd != -1) posix_spawn_file_actions_adddup2(&actions, extra_fd, 3);
  posix_spawn_file_actions_addchdir_np(&actions, directory);
  char* const argv[] = {(char*)program, NULL};
  pid_t pid;
  const int error = posix_spawn(&pid, program, &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    Die(program);
  }
  return pid;
}

static int Wait(pid_t pid, struct rusage* usage) {
  int status;
  while (wait4(pid, &status, 0, usage) < 0) {
    if (errno != EINTR) Die("wait4");
  }
  return status;
}

struct Command {
  char name[64];
  char directory[4096];
  char program[4096];
};

static int Time(int iterations, int warmup, const char* list) {
  static struct Command commands[64];
  int count = 0;
  FILE* file = fopen(list, "r");
  if (file == NULL) Die(list);
  char line[8400];
  while (count < 64 && fgets(line, sizeof line, file) != NULL) {
    struct Command* c = &commands[count];
    if (sscanf(line, "%63[^\t]\t%4095[^\t]\t%4095[^\n]", c->name, c->directory, c->program) == 3) {
      ++count;
    }
  }
  fclose(file);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd < 0) Die("/dev/null");
  int order[64];
  for (int i = 0; i < count; ++i) order[i] = i;
  for (int iteration = 0; iteration < warmup + iterations; ++iteration) {
    for (int i = count - 1; i > 0; --i) {  // Fisher-Yates
      const int j = (int)(NextRandom() % (uint64_t)(i + 1));
      const int t = order[i];
      order[i] = order[j];
      order[j] = t;
    }
    for (int i = 0; i < count; ++i) {
      const struct Command* c = &commands[order[i]];
      const uint64_t start = Now();
      const int status = Wait(Spawn(c->directory, c->program, null_fd, null_fd, -1), NULL);
      const uint64_t end = Now();
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "harness: %s ended with status 0x%x\n", c->name, status);
        return 1;
      }
      if (iteration >= warmup) printf("%s %llu\n", c->name, (unsigned long long)(end - start));
    }
  }
  return 0;
}

// The value in kB of the line `key` of a /proc file (such as "Anonymous:"), or -1.
static long ProcField(const char* path, const char* key) {
  FILE* file = fopen(path, "r");
  if (file == NULL) return -1;
  char line[256];
  long value = -1;
  const size_t length = strlen(key);
  while (fgets(line, sizeof line, file) != NULL) {
    if (strncmp(line, key, length) == 0) {
      value = strtol(line + length, NULL, 10);
      break;
    }
  }
  fclose(file);
  return value;
}

static int Memory(const char* directory, const char* program) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) Die("pipe");
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = Spawn(directory, program, null_fd, null_fd, ready[1]);
  close(ready[1]);
  struct pollfd wait_for = {ready[0], POLLIN, 0};
  int child = 0;
  if (poll(&wait_for, 1, 20000) != 1 || read(ready[0], &child, sizeof child) != sizeof child) {
    fprintf(stderr, "harness: %s did not start its child\n", program);
    kill(pid, SIGKILL);
    Wait(pid, NULL);
    return 1;
  }
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/smaps_rollup", (int)pid);
  const long rss = ProcField(path, "Rss:");
  const long anonymous = ProcField(path, "Anonymous:");
  const long private_kb = ProcField(path, "Private_Clean:") + ProcField(path, "Private_Dirty:");
  snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
  const long hwm = ProcField(path, "VmHWM:");
  kill(child, SIGKILL);
  const int status = Wait(pid, NULL);
  printf("%ld %ld %ld %ld\n", rss, anonymous, private_kb, hwm);
  const int ended_as_child = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  return (WIFEXITED(status) && WEXITSTATUS(status) == 0) || ended_as_child ? 0 : 1;
}

static int Peak(const char* directory, const char* program, const char* err_file) {
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int err_fd = open(err_file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (null_fd < 0 || err_fd < 0) Die(err_file);
  struct rusage usage;
  const uint64_t start = Now();
  const int status = Wait(Spawn(directory, program, null_fd, err_fd, -1), &usage);
  const uint64_t end = Now();
  printf("%llu %ld %d %d\n", (unsigned long long)(end - start), usage.ru_maxrss,
         WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 6 && strcmp(argv[1], "time") == 0) {
    g_random = strtoull(argv[4], NULL, 10) | 1;
    return Time(atoi(argv[2]), atoi(argv[3]), argv[5]);
  }
  if (argc == 4 && strcmp(argv[1], "memory") == 0) return Memory(argv[2], argv[3]);
  if (argc == 5 && strcmp(argv[1], "peak") == 0) return Peak(argv[2], argv[3], argv[4]);
  fprintf(stderr,
          "usage: harness time ITERATIONS WARMUP SEED LIST | memory DIR PROGRAM |"
          " peak DIR PROGRAM ERRFILE\n");
  return 2;
}
