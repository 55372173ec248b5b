// The stand-in java of the memory probe: writes its process ID (4 bytes) to descriptor 3, the
// probe's pipe that the launcher passes on, so that the probe knows the launcher is now waiting;
// then sleeps until the probe kills it, 30 seconds at most.
typedef struct {
  long seconds;
  long nanoseconds;
} Timespec;

static long Syscall3(long number, long a, long b, long c) {
  long result;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "a"(number), "D"(a), "S"(b), "d"(c)
                   : "rcx", "r11", "memory");
  return result;
}

__asm__(
    ".text\n"
    ".globl _start\n"
    "_start:\n"
    "  xor %ebp, %ebp\n"
    "  and $-16, %rsp\n"
    "  call sleeper_main\n"
    "  hlt\n");

__attribute__((used, noreturn)) void sleeper_main(void) {
  const int pid = (int)Syscall3(39, 0, 0, 0);  // getpid
  Syscall3(1, 3, (long)&pid, sizeof pid);      // write
  Syscall3(3, 3, 0, 0);                        // close
  Timespec delay = {30, 0};
  while (Syscall3(35, (long)&delay, (long)&delay, 0) == -4) {  // nanosleep, resumed on EINTR
  }
  Syscall3(231, 0, 0, 0);  // exit_group
  for (;;) {
  }
}
