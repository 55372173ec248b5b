#include "check/check.h"

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/descriptor.h"
#include "check/dry_run.h"
#include "check/options.h"
#include "check/problem.h"
#include "check/scan.h"
#include "check/text.h"
#include "check/verdict.h"
#include "launcher/java_command.h"
#include "launcher/settings.h"
#include "platform/errors.h"
#include "platform/own_path.h"
#include "platform/process.h"
#include "platform/report.h"
#include "platform/streams.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

std::vector<std::string> g_arguments;

constexpr std::array<std::string_view, 4> kMeaning = {"Java installation", "module path",
                                                      "modules to add", "main class"};

// The environment variables from which java takes options of its own.
constexpr std::array<const char*, 3> kJavaOptionVariables = {"JDK_JAVA_OPTIONS",
                                                             "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

// Where Debian and most distributions keep their Java installations.
constexpr char kJvmDirectory[] = "/usr/lib/jvm";

void Say(std::initializer_list<std::string_view> pieces) { StdOut().WriteLine(pieces); }

// Each line of `text` (another program's words), made safe to show, after `prefix`.
void SayLines(std::string_view prefix, std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    Say({prefix, Printable(text.substr(0, end))});
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
}

// One row of a section: a label in a column of its own, then the text.
void Row(std::string_view label, std::string_view text) {
  std::string padded(label);
  padded.resize(std::max<std::size_t>(padded.size() + 1, 14), ' ');
  Say({"  ", padded, text});
}

// A value or path in a sentence: a shell word, of at most 200 bytes.
std::string Word(std::string_view text) {
  constexpr std::size_t kShown = 200;
  if (text.size() <= kShown) return ShellWord(text);
  return ShellWord(text.substr(0, kShown)) + "...(" + std::to_string(text.size()) + " bytes)";
}

std::size_t Index(int line) { return static_cast<std::size_t>(line - 1); }
std::string_view Meaning(int line) { return kMeaning[Index(line)]; }

// The reason as the launcher's failure report gives it.
std::string ErrorText(int error) {
  char unknown[32];
  return ErrorDescription(error, unknown);
}

// The longest argument Linux passes to a program: 32 pages, its terminating zero included.
std::size_t MaxArgument() {
  const long page = sysconf(_SC_PAGESIZE);
  return static_cast<std::size_t>(page > 0 ? page : 4096) * 32 - 1;
}

bool Exists(const char* path) {
  struct stat status {};
  return Sys([&] { return ::stat(path, &status); }).Ok();
}

bool Executable(const char* path) { return Sys([&] { return ::access(path, X_OK); }).Ok(); }

// Whether the program `path` is for this processor: an ELF file of its machine, or no ELF file at
// all (a script, say). An installation of another processor's Java is no hint to give.
bool ForThisProcessor(const char* path) {
#if defined(__aarch64__)
  constexpr unsigned kMachine = EM_AARCH64;
#else
  constexpr unsigned kMachine = EM_X86_64;
#endif
  const SysResult opened = Sys([&] { return ::open(path, O_RDONLY | O_CLOEXEC); });
  if (!opened.Ok()) return false;
  const Descriptor file(static_cast<int>(opened.value));
  unsigned char header[20] = {};  // e_ident, e_type, e_machine (little-endian on both)
  const SysResult read = Sys([&] { return ::read(file.get(), header, sizeof header); });
  if (!read.Ok() || read.value < 20 || std::string_view(reinterpret_cast<char*>(header), 4) !=
                                            std::string_view(ELFMAG, SELFMAG)) {
    return true;
  }
  return (header[18] | header[19] << 8) == kMachine;
}

// The Java installations in kJvmDirectory (directories, not links, with an executable bin/java
// for this processor), as a hint: "; Java installations here: A, B".
std::string InstalledJavas() {
  struct Closer {
    void operator()(DIR* dir) const noexcept { closedir(dir); }
  };
  const std::unique_ptr<DIR, Closer> dir(opendir(kJvmDirectory));
  if (!dir) return "";
  std::vector<std::string> found;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string path = std::string(kJvmDirectory) + "/" + entry->d_name;
    struct stat status {};
    if (entry->d_name[0] == '.' || !Sys([&] { return ::lstat(path.c_str(), &status); }).Ok() ||
        !S_ISDIR(status.st_mode)) {
      continue;
    }
    const std::string java = path + "/bin/java";
    if (ProgramExists(java.c_str()) && Executable(java.c_str()) && ForThisProcessor(java.c_str())) {
      found.push_back(path);
    }
  }
  if (found.empty()) return "";
  std::sort(found.begin(), found.end());
  std::string hint = "; Java installations on this machine: ";
  for (std::size_t i = 0; i < found.size(); ++i) hint += (i ? ", " : "") + ShellWord(found[i]);
  return hint;
}

std::string_view LineEndName(LineEnd end) {
  switch (end) {
    case LineEnd::kLf:
      return "LF";
    case LineEnd::kCrLf:
      return "CR LF";
    case LineEnd::kCr:
      return "CR";
    default:
      return "none";
  }
}

class Check {
 public:
  explicit Check(Options options) : options_(std::move(options)) {}

  // Runs the check from its first section to its last. Returns the exit status, 0 or 1.
  int Run(const ByteString& launcher_path);

 private:
  void ReadInitIni();
  void ShowInitIni() const;
  void ShowLineEnds() const;
  void LookUpJava();
  void ShowJava() const;
  void ShowCommand() const;
  void AskJava();
  void CheckFile();
  void CheckValues();
  void CheckJavaHome();
  void CheckModulePath();
  void CheckMainClass();
  void ShowProblems();

  // Where the launcher would stop, in the order it meets them.
  enum class Stage { kStart, kSettings, kLookup, kExecute, kArguments, kNone };
  // Records how the launcher would fail at `stage`; the earliest stage is the one it meets.
  void Fail(Stage stage, std::string how) {
    if (stage < failure_stage_) {
      failure_stage_ = stage;
      failure_ = std::move(how);
    }
  }

  void Add(int line, std::string what, std::string fix, std::string subject = "") {
    problems_.push_back({line, std::move(subject), std::move(what), "", std::move(fix)});
  }
  // Whether init.ini gives the launcher nothing to read, so that every value is empty.
  bool NothingRead() const {
    return scan_.kind != FileKind::kRegular && scan_.kind != FileKind::kCharDevice &&
           scan_.kind != FileKind::kBlockDevice;
  }
  std::string_view Value(int line) const { return values_[Index(line)].view(); }
  LineEnd EndOf(int line) const { return scan_.ends[Index(line)]; }
  // The value as the program started receives it: up to its first NUL byte.
  std::string_view Received(const ByteString& value) const { return value.c_str(); }

  Options options_;
  std::string cwd_;
  ByteString launcher_path_;  // the launcher's own path, links resolved
  ByteString launcher_dir_;   // its directory part, the class path without the final "/"
  SettingsScan scan_;
  std::array<ByteString, 4> values_;  // lines 1 to 4 as the launcher reads them
  ByteString java_executable_;
  JavaArguments arguments_;
  bool java_found_ = false;
  ByteString java_path_;  // where the lookup found it
  bool java_runs_ = false;  // found, executable, and every argument within Linux's limit
  std::optional<DryRun> dry_run_;
  std::vector<Problem> problems_;
  std::string failure_;  // how the launcher would fail, when it would not start Java
  Stage failure_stage_ = Stage::kNone;
};

int Check::Run(const ByteString& launcher_path) {
  launcher_path_ = launcher_path;
  launcher_dir_ = DirectoryPart(launcher_path_);
  char cwd[PATH_MAX];
  cwd_ = getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
  Say({"Checking how the launcher ", ShellWord(options_.launcher), " starts the application from ",
       ShellWord(cwd_), "."});
  if (!Executable(options_.launcher.c_str())) {
    Add(0, ShellWord(options_.launcher) + " cannot be executed (no execute permission)",
        "chmod +x " + ShellWord(options_.launcher), "launcher");
    Fail(Stage::kStart, "it cannot be started itself");
  }

  ReadInitIni();
  ShowInitIni();
  // The launcher's own Java command line, from the launcher's own code.
  ByteString home = values_[0];
  java_executable_ = JavaExecutableFor(home);
  arguments_ = JavaArgumentsFor(values_[1], values_[2], launcher_dir_, values_[3]);
  LookUpJava();
  ShowJava();
  ShowCommand();
  CheckFile();
  CheckValues();
  AskJava();
  CheckMainClass();
  ShowProblems();
  return problems_.empty() ? 0 : 1;
}

void Check::ReadInitIni() {
  scan_ = ScanSettings("init.ini");
  // The launcher's reader takes over wherever it reads a file that ends: it never blocks on a
  // FIFO or reads an endless device here, since those are left to the scan.
  const bool reader_safe = scan_.unfinished_line == 0 && scan_.kind != FileKind::kFifo &&
                           scan_.kind != FileKind::kCharDevice &&
                           scan_.kind != FileKind::kBlockDevice && scan_.kind != FileKind::kSocket;
  if (reader_safe) {
    try {
      ReadSettings(values_[0], values_[1], values_[2], values_[3]);
    } catch (const EInOutError&) {
      // As in the launcher: what was read stays, the rest is empty.
    }
  } else {
    for (std::size_t i = 0; i < 4; ++i) values_[i] = ByteString(scan_.lines[i]);
  }
}

void Check::ShowInitIni() const {
  Say({});
  Say({"init.ini, as the launcher reads it from its working directory:"});
  const std::string path = ShellWord(cwd_ + "/init.ini");
  const std::string link = scan_.link_target.empty()
                               ? ""
                               : " (a link to " + ShellWord(scan_.link_target) + ")";
  switch (scan_.kind) {
    case FileKind::kMissing:
      Row("file", "none in " + ShellWord(cwd_));
      break;
    case FileKind::kDanglingLink:
      Row("file", path + link + ", which leads nowhere");
      break;
    case FileKind::kUnreadable:
      Row("file", path + link + ", which cannot be read: " + ErrorText(scan_.error));
      break;
    case FileKind::kDirectory:
      Row("file", path + link + ", a directory");
      break;
    case FileKind::kFifo:
      Row("file", path + link + ", a FIFO (named pipe), not read by the check");
      break;
    case FileKind::kCharDevice:
    case FileKind::kBlockDevice:
      Row("file", path + link + ", a device");
      break;
    case FileKind::kSocket:
      Row("file", path + link + ", a socket");
      break;
    case FileKind::kRegular:
      Row("file", path + link);
      break;
  }
  for (int line = 1; line <= 4; ++line) {
    std::string label(Meaning(line));
    label.resize(18, ' ');
    std::string shown = Visible(Value(line));
    if (scan_.unfinished_line == line) {
      shown += ", and more: the line does not end within the first " +
               std::to_string(kScanLimit) + " bytes";
    } else if (!NothingRead() && EndOf(line) == LineEnd::kAbsent &&
               scan_.unfinished_line == 0) {
      shown += " (the file has no line " + std::to_string(line) + ")";
    }
    Row("line " + std::to_string(line), label + shown);
  }
  if (!NothingRead()) ShowLineEnds();
}

void Check::ShowLineEnds() const {
  std::string ends;
  int last = 0;
  bool mixed = false;
  for (int line = 1; line <= 4; ++line) {
    const LineEnd end = EndOf(line);
    if (end == LineEnd::kLf || end == LineEnd::kCrLf || end == LineEnd::kCr) {
      if (last != 0 && end != EndOf(last)) mixed = true;
      last = line;
    }
  }
  if (last != 0) {
    if (!mixed) {
      ends = std::string(LineEndName(EndOf(last)));
    } else {
      ends = "mixed:";
      for (int line = 1; line <= last; ++line) {
        ends += std::string(line > 1 ? "," : "") + " line " + std::to_string(line) + " " +
                std::string(LineEndName(EndOf(line)));
      }
    }
  }
  for (int line = 1; line <= 4; ++line) {
    if (EndOf(line) == LineEnd::kEndOfFile) {
      ends += std::string(ends.empty() ? "" : "; ") + "line " + std::to_string(line) +
              " ends the file without a line end";
    }
  }
  if (ends.empty() && scan_.unfinished_line == 0) ends = "none: the file is empty";
  if (!ends.empty()) Row("line ends", ends);
  if (scan_.unfinished_line != 0) return;
  const std::string count = std::to_string(scan_.lines_after);
  if (scan_.cut) {
    Row("after line 4", "at least " + count + " more lines, ignored (the check read " +
                            std::to_string(kScanLimit) + " bytes)");
  } else if (scan_.lines_after > 0) {
    Row("after line 4", count + (scan_.lines_after == 1 ? " more line" : " more lines") +
                            ", ignored by the launcher");
  }
}

void Check::LookUpJava() {
  // The same lookup as the launcher's: it finds nothing for a name that holds a NUL byte.
  java_found_ = FindProgram(java_executable_.view(), java_path_);
  java_runs_ = java_found_ && Executable(java_path_.c_str());
  for (const ByteString& argument : arguments_) {
    if (Received(argument).size() > MaxArgument()) java_runs_ = false;
  }
  if (scan_.unfinished_line != 0 || scan_.kind == FileKind::kFifo) java_runs_ = false;
}

void Check::ShowJava() const {
  Say({});
  Say({"Java:"});
  const bool line1_empty = Value(1).empty();
  if (scan_.unfinished_line == 1) {
    Row("program", "not looked for: line 1 has no end");
  } else if (!java_found_) {
    Row("program", line1_empty ? "not found: no java in the working directory nor in PATH"
                               : "not found: " + Word(java_executable_.view()) +
                                     " does not exist");
  } else {
    std::string why;
    if (java_path_ == java_executable_) {
      why = line1_empty ? "line 1 is empty: the file java in the working directory, which comes "
                          "before PATH"
                        : "line 1, then bin/java";
    } else {
      std::string_view entry = java_path_.view();
      entry.remove_suffix(java_executable_.size());
      if (entry.size() > 1 && entry.back() == '/') entry.remove_suffix(1);
      why = std::string(line1_empty ? "line 1 is empty: " : "line 1, then bin/java: ") +
            "found through PATH, in " + ShellWord(entry);
    }
    std::string shown = ShellWord(java_path_.view()) + " (" + why + ")";
    char real[PATH_MAX];
    if (realpath(java_path_.c_str(), real) != nullptr && java_path_.view() != real &&
        (java_path_.view().find('/') != std::string_view::npos)) {
      shown += ", a link to " + ShellWord(real);
    }
    Row("program", shown);
  }
  if (line1_empty) {
    const char* path = getenv("PATH");
    Row("PATH", path != nullptr ? Visible(path) : "not set");
    if (const char* java_home = getenv("JAVA_HOME")) {
      Row("JAVA_HOME", Visible(java_home) + ", which the launcher does not read");
    }
  }
  Row("class path", ShellWord(arguments_[5].view()) + " (the launcher's directory, then \"/\": " +
                        ShellWord(launcher_path_.view()) + ")");
  for (const char* variable : kJavaOptionVariables) {
    if (const char* value = getenv(variable)) Row(variable, Visible(value) + ", which Java reads");
  }
}

void Check::ShowCommand() const {
  Say({});
  Say({"The command the launcher runs (it can be pasted into a shell):"});
  if (scan_.unfinished_line != 0) {
    Say({"  ", "not shown: line " + std::to_string(scan_.unfinished_line) + " has no end"});
    return;
  }
  std::string program(java_found_ ? java_path_.view() : java_executable_.view());
  if (java_found_ && program.find('/') == std::string::npos) program = "./" + program;
  std::string command = ShellWord(program);
  for (const ByteString& argument : arguments_) {
    if (Received(argument).size() > 1000) {
      command += " " + ShellWord(Received(argument).substr(0, 60)) + "...(" +
                 std::to_string(Received(argument).size()) + " bytes)";
    } else {
      command += " " + ShellWord(Received(argument));
    }
  }
  Say({"  ", command});
}

void Check::AskJava() {
  Say({});
  Say({"Java's verdict: the same command with --dry-run before the main class (Java sets up the "
       "modules and loads the main class, without running it):"});
  if (!java_runs_) {
    Say({"  ", java_found_ ? "not asked: Java cannot be started with this command"
                        : "not asked: there is no java to ask"});
    return;
  }
  std::vector<const char*> argv = {java_executable_.c_str()};
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    if (i + 1 == arguments_.size()) argv.push_back("--dry-run");
    argv.push_back(arguments_[i].c_str());
  }
  dry_run_ = RunDryRun(java_path_.c_str(), argv, options_.timeout_seconds);
  const DryRun& run = *dry_run_;
  switch (run.end) {
    case DryRun::End::kNotStarted:
      Say({"  ", "Java cannot be started: " + ErrorText(run.error)});
      Fail(Stage::kExecute, "EProcess: Failed to execute \"" + std::string(java_path_.view()) +
                                "\": " + ErrorText(run.error));
      Add(1, ShellWord(java_path_.view()) + " cannot be started: " + ErrorText(run.error),
          "name the Java installation on line 1" + InstalledJavas());
      return;
    case DryRun::End::kTimedOut:
      Say({"  ", "Java was still running after " + std::to_string(options_.timeout_seconds) +
                  " seconds: the check stopped it. It wrote:"});
      break;
    case DryRun::End::kSignalled:
      Say({"  ", "Java was ended by signal " + std::to_string(run.status) + ". It wrote:"});
      break;
    case DryRun::End::kExited:
      Say({"  ", "Java ended with exit status " + std::to_string(run.status) +
                  (run.output.empty() ? " and wrote nothing." : ". It wrote:")});
      break;
  }
  SayLines("    | ", run.output);
  if (run.output_cut) Say({"  ", "(and more, which the check did not keep)"});
  if (run.output.empty() && run.end != DryRun::End::kExited) Say({"  ", "(it wrote nothing)"});

  bool options_set = false;
  for (const char* variable : kJavaOptionVariables) options_set |= getenv(variable) != nullptr;
  std::optional<Problem> verdict =
      JavaVerdict(run, {launcher_dir_.view(), options_.timeout_seconds, options_set});
  if (!verdict) return;
  // Java's words go with a problem already found on the same line (an empty line, say), or with
  // the missing init.ini that left every line empty.
  for (Problem& problem : problems_) {
    const bool same_line = verdict->line != 0 && problem.line == verdict->line;
    const bool no_file = problem.subject == "init.ini" && NothingRead() && verdict->line >= 2;
    if ((same_line || no_file) && problem.java.empty()) {
      problem.java = verdict->java;
      return;
    }
  }
  problems_.push_back(std::move(*verdict));
}

void Check::CheckFile() {
  const std::string here = ShellWord(cwd_);
  const std::string empty = ", so the launcher starts Java with four empty values";
  const std::string link = scan_.link_target.empty()
                               ? ""
                               : " (a link to " + Word(scan_.link_target) + ")";
  std::string fix = "write init.ini with its four lines in " + here +
                    ", or start the launcher from the directory that holds it";
  const ByteString own = launcher_dir_ + "init.ini";
  if (std::string_view(launcher_dir_.view()) != cwd_ + "/" && Exists(own.c_str())) {
    fix = "the launcher's directory holds an init.ini: start the launcher from there (cd " +
          ShellWord(launcher_dir_.view()) + "), or copy that file here";
  }
  switch (scan_.kind) {
    case FileKind::kMissing:
      Add(0,
          "there is no init.ini in the working directory " + here +
              " (the launcher reads it from the directory it is started from, not from its own)" +
              empty,
          fix, "init.ini");
      break;
    case FileKind::kDanglingLink:
      Add(0, "init.ini is a link to " + ShellWord(scan_.link_target) + ", which does not exist" +
                 empty,
          "let init.ini lead to the settings file, or write it in its place", "init.ini");
      break;
    case FileKind::kUnreadable:
      Add(0, "init.ini cannot be read (" + ErrorText(scan_.error) + ")" + empty,
          scan_.error == EACCES
              ? "let the user who starts the launcher read it: chmod a+r init.ini (and let them "
                "enter the directories on its way)"
              : "replace init.ini with a readable file",
          "init.ini");
      break;
    case FileKind::kDirectory:
      Add(0, "init.ini is a directory: the launcher reads nothing from it" + empty,
          "put the settings file in its place", "init.ini");
      break;
    case FileKind::kFifo:
      Add(0,
          "init.ini is a FIFO (named pipe): the launcher would wait at its start until another "
          "program writes to it",
          "put a regular file in its place", "init.ini");
      Fail(Stage::kSettings, "it would wait for a writer of init.ini");
      break;
    case FileKind::kCharDevice:
    case FileKind::kBlockDevice:
    case FileKind::kSocket:
      Add(0,
          std::string("init.ini is ") +
              (scan_.kind == FileKind::kSocket ? "a socket" : "a device") + link +
              ", not a regular file",
          "put a regular file in its place", "init.ini");
      break;
    case FileKind::kRegular:
      break;
  }
  if (!NothingRead() && scan_.error != 0) {
    Add(0, "reading init.ini fails part-way (" + ErrorText(scan_.error) +
               "): the launcher keeps what it read before",
        "replace init.ini with a readable copy", "init.ini");
  }
  if (scan_.unfinished_line != 0) {
    const int line = scan_.unfinished_line;
    Add(line,
        "line " + std::to_string(line) + " does not end within the first " +
            std::to_string(kScanLimit) +
            " bytes of init.ini: the launcher reads it to its end (an endless file until its "
            "memory runs out) and cannot hand so long a value to Java",
        "write line " + std::to_string(line) + " as one line of its value");
    Fail(Stage::kSettings, "it would read line " + std::to_string(line) +
                               " to its end and could not hand it to Java");
  }
}

void Check::CheckValues() {
  if (Value(1).starts_with(kByteOrderMark)) {
    Add(1, "init.ini begins with a byte-order mark (\\u{FEFF}), which the launcher takes as the "
           "first three bytes of line 1",
        "save init.ini as UTF-8 without a byte-order mark, or remove it: "
        "sed -i '1s/^\\xEF\\xBB\\xBF//' init.ini");
  }
  for (int line = 1; line <= 4; ++line) {
    if (line == scan_.unfinished_line) continue;  // what was read of it says nothing
    const std::string_view value = Value(line);
    if (value.empty()) {
      if (line == 1 || NothingRead() || scan_.unfinished_line != 0) continue;
      Add(line,
          std::string(MissingValue(line)) + (EndOf(line) == LineEnd::kAbsent
                                                 ? ": init.ini has no line " + std::to_string(line)
                                                 : ": the line is empty"),
          std::string(FillLineFix(line)));
      continue;
    }
    if (value.find('\0') != std::string_view::npos) {
      Add(line,
          "the value holds a NUL byte (\\0): " +
              (line == 1 ? std::string("the launcher finds no java under that name")
                         : "Java receives only what comes before it"),
          "remove the NUL byte from line " + std::to_string(line));
    } else if (HoldsControlByte(value)) {
      Add(line, "the value holds a control byte (shown as \\xNN above)",
          "remove it from line " + std::to_string(line));
    }
    const std::string_view visible = line == 1 && value.starts_with(kByteOrderMark)
                                         ? value.substr(kByteOrderMark.size())
                                         : value;
    if (BeginsWithBlank(visible)) {
      Add(line, "the value begins with a blank or an invisible character, which is part of it",
          "remove the blank at the start of line " + std::to_string(line));
    }
    if (EndsWithBlank(value)) {
      Add(line, "the value ends with a blank or an invisible character, which is part of it",
          "remove the blank at the end of line " + std::to_string(line));
    }
    if (line > 1 && Received(values_[Index(line)]).size() > MaxArgument()) {
      Add(line,
          "the value is " + std::to_string(value.size()) + " bytes long: Linux hands at most " +
              std::to_string(MaxArgument()) + " bytes to a program as one argument",
          "shorten line " + std::to_string(line));
      Fail(Stage::kArguments, "EProcess: Failed to execute \"" +
                                  std::string(java_path_.view()) + "\": " + ErrorText(E2BIG));
    }
  }
  CheckJavaHome();
  CheckModulePath();
}

void Check::CheckJavaHome() {
  const std::string_view home = Value(1);
  if (!java_found_) {
    Fail(Stage::kLookup,
         "EProcess: Executable not found: \"" + std::string(java_executable_.view()) + "\"");
  }
  if (home.empty()) {
    if (!java_found_) {
      Add(1, "the Java installation is empty, and neither the working directory nor a directory "
             "of PATH holds a java",
          "write on line 1 the Java installation to use" + InstalledJavas());
    } else if (java_path_ == java_executable_) {
      Add(1, "the Java installation is empty, so the launcher takes the file java in the "
             "working directory, before any in PATH",
          "name the Java installation on line 1, or remove ./java if it is not the Java meant");
    }
  } else if (home.find('\0') == std::string_view::npos && scan_.unfinished_line != 1 &&
             !(java_found_ && java_path_ == java_executable_)) {
    // Line 1 does not lead to bin/java: say what it names instead.
    const ByteString stored(home);
    std::string what = Word(home);
    struct stat status {};
    if (!Sys([&] { return ::stat(stored.c_str(), &status); }).Ok()) {
      what += " does not exist";
    } else if (!S_ISDIR(status.st_mode)) {
      what += " is not a directory";
      if (home.ends_with("/java")) what += " but seemingly the java program itself";
    } else {
      what += " is a directory without bin/java";
      const ByteString inside = stored + (home.ends_with("/") ? "java" : "/java");
      if (ProgramExists(inside.c_str())) what += " (it seems to be the bin directory itself)";
    }
    what += java_found_ ? "; the launcher finds " + ShellWord(java_path_.view()) +
                              " only through PATH"
                        : "; so the launcher finds no java";
    Add(1, what,
        "write on line 1 the top directory of a Java installation, the one that holds "
        "bin/java" +
            InstalledJavas());
  }
  if (java_found_ && !Executable(java_path_.c_str())) {
    Add(1, ShellWord(java_path_.view()) + " cannot be executed (" + ErrorText(EACCES) + ")",
        "let it be executed (chmod +x), or name another Java installation on line 1" +
            InstalledJavas());
    Fail(Stage::kExecute, "EProcess: Failed to execute \"" + std::string(java_path_.view()) +
                              "\": " + ErrorText(EACCES));
  }
}

void Check::CheckModulePath() {
  std::string_view rest = Received(values_[1]);
  std::string missing;
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string entry(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (!entry.empty() && !Exists(entry.c_str())) {
      missing += (missing.empty() ? "" : ", ") + Visible(entry);
    }
  }
  if (!missing.empty()) {
    Add(2, "the module path names what does not exist: " + missing +
               " (Java passes over it without a word)",
        "correct line 2: directories of modules or modular JAR files, separated by \":\"; a "
        "relative one is taken from the working directory");
  }
}

void Check::CheckMainClass() {
  const std::string_view name = Received(values_[3]);
  if (name.empty() || scan_.unfinished_line != 0) return;
  for (std::string_view extension : {".class", ".java"}) {
    if (name.ends_with(extension) && name.size() > extension.size()) {
      std::string class_name(name.substr(0, name.size() - extension.size()));
      std::replace(class_name.begin(), class_name.end(), '/', '.');
      Add(4, "the value names a file, not a class",
          "write the class's name on line 4: " + ShellWord(class_name));
      return;
    }
  }
  std::string file(launcher_dir_.view());
  for (char c : name) file += c == '.' ? '/' : c;
  file += ".class";
  const bool java_loaded_it = dry_run_ && dry_run_->end == DryRun::End::kExited &&
                              dry_run_->status == 0;
  if (Exists(file.c_str())) {
    if (!Sys([&] { return ::access(file.c_str(), R_OK); }).Ok()) {
      Add(4, "the main class's file " + ShellWord(file) + " cannot be read",
          "let the user who starts the launcher read it (chmod a+r)");
    }
    return;
  }
  if (java_loaded_it) {
    Say({"  ", "Java found the main class in one of the modules added, not below the launcher's "
            "directory."});
    return;
  }
  // Java's own verdict on line 4, if it gave one, says the same: keep the two together.
  for (Problem& problem : problems_) {
    if (problem.line == 4) {
      problem.what += " (no file " + ShellWord(file) + ")";
      return;
    }
  }
  Add(4,
      "there is no class file " + ShellWord(file) + " below the launcher's directory for the main "
      "class " + Visible(name),
      "correct line 4, or put the class file there (a class in a package pkg lies in pkg/ "
      "below the launcher's directory)");
}

void Check::ShowProblems() {
  Say({});
  // The file first, then the lines in their order, then the rest.
  const auto rank = [](const Problem& problem) {
    if (problem.subject == "launcher") return -1;
    if (problem.line != 0) return problem.line;
    return problem.subject == "init.ini" ? 0 : 5;
  };
  std::stable_sort(problems_.begin(), problems_.end(),
                   [&](const Problem& a, const Problem& b) { return rank(a) < rank(b); });
  if (problems_.empty()) {
    Say({"No problem found: the launcher starts the application."});
    return;
  }
  Say({"Problems found: ", std::to_string(problems_.size()), ". Fix them in this order:"});
  for (const Problem& problem : problems_) {
    const std::string where =
        problem.line != 0 ? "line " + std::to_string(problem.line) : problem.subject;
    Say({"  ", where, ": ", problem.what});
    SayLines("    Java: ", problem.java);
    Say({"    fix: ", problem.fix});
  }
  Say({});
  if (!failure_.empty() && failure_.starts_with("EProcess")) {
    Say({"The launcher would not start Java: it would end with exit status 217 and a failure "
         "report on standard error whose second line is"});
    Say({"  ", Printable(failure_)});
  } else if (!failure_.empty()) {
    Say({"The launcher would not start Java: ", failure_, "."});
  } else if (dry_run_ && !(dry_run_->end == DryRun::End::kExited && dry_run_->status == 0)) {
    Say({"The launcher would start Java, and Java would stop as it did above; the launcher "
         "itself would still end with exit status 0."});
  } else {
    Say({"The launcher would start Java, but the problems above may keep the application from "
         "running as meant."});
  }
}

}  // namespace

void SetArguments(int argc, char** argv) {
  g_arguments.assign(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

void RunCheck() {
  const Options options = ParseOptions(g_arguments);
  TextOutStream& err = StdErr();
  if (!options.error.empty()) {
    err.WriteLine({"launcher-check: ", options.error});
    err.WriteLine({kUsage});
    err.WriteLine({"Try 'launcher-check --help' for more."});
    ExitCode = 2;
    return;
  }
  if (options.help) {
    StdOut().Write({kHelp});
    return;
  }
  struct stat status {};
  const SysResult found = Sys([&] { return ::stat(options.launcher.c_str(), &status); });
  char real[PATH_MAX];
  if (!found.Ok() || !S_ISREG(status.st_mode) ||
      realpath(options.launcher.c_str(), real) == nullptr) {
    err.WriteLine({"launcher-check: ", ShellWord(options.launcher), ": ",
                   found.Ok() ? "not a file" : ErrorText(found.error)});
    err.WriteLine({"Run launcher-check from the directory the launcher is started from, and "
                   "name the launcher if it is not ./launcher: launcher-check /opt/app/launcher"});
    ExitCode = 2;
    return;
  }
  Check check(options);
  ExitCode = check.Run(ByteString(real));
}

}  // namespace launcher::check
