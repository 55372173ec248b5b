// Stands in for `java` in end-to-end tests. It writes what it received to the file named by
// FAKE_JAVA_RECORD, one "key<TAB>value" line per item, values escaped (see Escape):
//   arg       each argument, argument 0 first
//   cwd       the working directory
//   env       each environment entry, in order
//   fd        each open descriptor: "<number> <link target>"
//   sig       each signal that is not at its default action: "<number> ignore|handler"
//   blocked   each blocked signal number
//   pgrp      "<own process group> <foreground process group of descriptor 0 or -1>"
//   altstack  the alternate signal stack: "disabled", or "enabled" when one is in place
//   exe       the program file that runs (the target of "/proc/self/exe")
// Then it behaves as the environment asks: FAKE_JAVA_OUT (text written to standard output),
// FAKE_JAVA_SLEEP_MS (sleep), FAKE_JAVA_SIGNAL (raise that signal with its default action, and
// without a core dump), FAKE_JAVA_EXIT (exit status; 0 by default). It ends with the exit system
// call, not exit_group (the two end a process of one thread alike), so that a trace tells its end
// from the launcher's. Descriptors are listed before it opens anything.
// FAKE_JAVA_DELAY_MS makes it sleep before it does anything else, the record included.
// The record also has a "pid" line (its own process ID). FAKE_JAVA_CATCH (signal numbers,
// comma-separated) installs, before the record is written, a handler for each of them that appends
// "<number>\n" to the file named by FAKE_JAVA_CAUGHT and returns (the record then lists them as
// "handler"); FAKE_JAVA_READ_STDIN reads standard input until its end before the sleep; a sleep
// that a caught signal interrupts goes on for the rest of its time.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string Escape(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < 0x20 || *p >= 0x7F || *p == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", *p);
      out += hex;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out;
}

std::vector<std::string> OpenDescriptors() {
  std::vector<std::string> lines;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return lines;
  const int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd == own) continue;
    char target[PATH_MAX + 1] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, PATH_MAX);
    if (n > 0) target[n] = '\0';
    lines.push_back(std::to_string(fd) + " " + Escape(target));
  }
  closedir(dir);
  return lines;
}

const char* g_caught_path = nullptr;

// Appends the signal's number to FAKE_JAVA_CAUGHT (async-signal-safe: open, write, close).
void RecordCaughtSignal(int sig) {
  const int saved_errno = errno;
  char text[8];
  int length = 0;
  char digits[4];
  int count = 0;
  for (int value = sig; value > 0 && count < 4; value /= 10) {
    digits[count++] = static_cast<char>('0' + value % 10);
  }
  while (count > 0) text[length++] = digits[--count];
  text[length++] = '\n';
  const int fd = open(g_caught_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    if (write(fd, text, static_cast<size_t>(length)) < 0) {
      // Nothing to do: the test sees the missing line.
    }
    close(fd);
  }
  errno = saved_errno;
}

void InstallCatchers() {
  const char* list = std::getenv("FAKE_JAVA_CATCH");
  g_caught_path = std::getenv("FAKE_JAVA_CAUGHT");
  if (list == nullptr || g_caught_path == nullptr) return;
  for (const char* p = list; *p != '\0';) {
    char* end = nullptr;
    const long sig = std::strtol(p, &end, 10);
    if (end == p) break;
    struct sigaction action {};
    action.sa_handler = RecordCaughtSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(static_cast<int>(sig), &action, nullptr);
    p = *end == ',' ? end + 1 : end;
  }
}

void SleepMs(long ms) {
  timespec rest{ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

void ReadUntilEnd(int fd) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EINTR)) return;
  }
}

// The environment as the kernel received it from execve, entry by entry in order, from
// /proc/self/environ. A program run by qemu-user sees in `environ` the emulator's copy of it,
// which drops entries without '=' and keeps a single entry per name; /proc/self/environ shows what
// was passed. Without /proc, `environ`.
std::vector<std::string> ReceivedEnvironment() {
  std::vector<std::string> entries;
  const int fd = open("/proc/self/environ", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
    return entries;
  }
  std::string block;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    block.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  for (std::size_t start = 0; start < block.size();) {
    const std::size_t end = block.find('\0', start);
    entries.push_back(block.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return entries;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* delay_ms = std::getenv("FAKE_JAVA_DELAY_MS")) {
    usleep(static_cast<useconds_t>(std::atoi(delay_ms)) * 1000);
  }
  const std::vector<std::string> descriptors = OpenDescriptors();
  InstallCatchers();
  if (const char* record_path = std::getenv("FAKE_JAVA_RECORD")) {
    std::string record;
    auto add = [&](const char* key, const std::string& value) {
      record += key;
      record += '\t';
      record += value;
      record += '\n';
    };
    for (int i = 0; i < argc; ++i) add("arg", Escape(argv[i]));
    char cwd[PATH_MAX + 1] = {};
    add("cwd", Escape(getcwd(cwd, sizeof cwd) ? cwd : "?"));
    for (const std::string& entry : ReceivedEnvironment()) add("env", Escape(entry.c_str()));
    for (const std::string& fd : descriptors) add("fd", fd);
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    for (int sig = 1; sig < NSIG; ++sig) {
      struct sigaction action {};
      if (sigaction(sig, nullptr, &action) != 0) continue;
      if (action.sa_handler == SIG_IGN)
        add("sig", std::to_string(sig) + " ignore");
      else if (action.sa_handler != SIG_DFL)
        add("sig", std::to_string(sig) + " handler");
      if (sigismember(&blocked, sig) == 1) add("blocked", std::to_string(sig));
    }
    add("pgrp", std::to_string(getpgrp()) + " " + std::to_string(tcgetpgrp(0)));
    stack_t alternate{};
    sigaltstack(nullptr, &alternate);
    add("altstack", (alternate.ss_flags & SS_DISABLE) != 0 ? "disabled" : "enabled");
    add("pid", std::to_string(getpid()));
    char exe[PATH_MAX + 1] = {};
    if (readlink("/proc/self/exe", exe, PATH_MAX) > 0) add("exe", Escape(exe));
    // Written to a new file and renamed, so a reader never sees half a record.
    const std::string temporary = std::string(record_path) + ".part";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) return 90;
    std::fwrite(record.data(), 1, record.size(), file);
    std::fclose(file);
    std::rename(temporary.c_str(), record_path);
  }
  if (const char* out = std::getenv("FAKE_JAVA_OUT")) {
    if (write(1, out, std::strlen(out)) < 0) return 91;
  }
  if (std::getenv("FAKE_JAVA_READ_STDIN") != nullptr) ReadUntilEnd(0);
  if (const char* sleep_ms = std::getenv("FAKE_JAVA_SLEEP_MS")) SleepMs(std::atol(sleep_ms));
  if (const char* sig = std::getenv("FAKE_JAVA_SIGNAL")) {
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    signal(std::atoi(sig), SIG_DFL);
    raise(std::atoi(sig));
  }
  const char* status = std::getenv("FAKE_JAVA_EXIT");
  std::fflush(nullptr);
  syscall(SYS_exit, status ? std::atoi(status) : 0);
  return 127;  // not reached
}
