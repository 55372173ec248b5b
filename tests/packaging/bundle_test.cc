// The movable bundle (examples/bundle) through the real launcher: packed by launcher-pack, moved
// to another directory, its desktop entry rewritten for the new place by the line the README gives,
// and started as a desktop starts it: the entry's command in the entry's working directory, under
// a virtual X server (xvfb-run). The application must show its window with the text of its own
// module, run on the bundle's own Java, and load JavaFX's native libraries from the bundle alone,
// as the memory map of the Java process shows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/helpers.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Where the bundle cannot be made for the build's processor, the test says why.
#if defined(BUNDLE_MISSING)

TEST(MovableBundle, StartsFromItsDesktopEntryAfterAMove) { GTEST_SKIP() << BUNDLE_MISSING; }

#else

// The file names of JavaFX's native libraries (Debian: libopenjfx-jni).
const std::set<std::string> kJavaFxLibraries = {"libdecora_sse.so",
                                                "libfxplugins.so",
                                                "libglass.so",
                                                "libglassgtk2.so",
                                                "libglassgtk3.so",
                                                "libgstreamer-lite.so",
                                                "libjavafx_font.so",
                                                "libjavafx_font_freetype.so",
                                                "libjavafx_font_pango.so",
                                                "libjavafx_iio.so",
                                                "libjfxmedia.so",
                                                "libjfxwebkit.so",
                                                "libprism_common.so",
                                                "libprism_es2.so",
                                                "libprism_sw.so"};

// The keys of a desktop entry's group [Desktop Entry].
struct DesktopEntry {
  std::string path;               // Path=
  std::vector<std::string> exec;  // Exec=, split into arguments
  std::string icon;               // Icon=
};

// Splits an Exec= value into its arguments: separated by blanks, an argument in double quotes
// may hold blanks, and inside quotes a backslash takes the next character literally.
std::vector<std::string> ExecArguments(const std::string& value) {
  std::vector<std::string> arguments;
  std::string current;
  bool in_argument = false;
  bool quoted = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else {
        current += c == '\\' && i + 1 < value.size() ? value[++i] : c;
      }
    } else if (c == ' ') {
      if (in_argument) arguments.push_back(current);
      current.clear();
      in_argument = false;
    } else {
      in_argument = true;
      if (c == '"') {
        quoted = true;
      } else {
        current += c;
      }
    }
  }
  if (in_argument) arguments.push_back(current);
  return arguments;
}

DesktopEntry ReadDesktopEntry(const std::string& file) {
  DesktopEntry entry;
  bool in_group = false;
  for (const std::string& line : SplitLines(ReadFile(file))) {
    if (!line.empty() && line[0] == '[') in_group = line == "[Desktop Entry]";
    if (!in_group) continue;
    if (line.rfind("Path=", 0) == 0) entry.path = line.substr(5);
    if (line.rfind("Exec=", 0) == 0) entry.exec = ExecArguments(line.substr(5));
    if (line.rfind("Icon=", 0) == 0) entry.icon = line.substr(5);
  }
  return entry;
}

// Watches for a process that runs `program` and collects every file it has mapped, reading its
// memory map over and over while it runs.
class MapWatch {
 public:
  explicit MapWatch(std::string program) : program_(std::move(program)) {
    thread_ = std::thread([this] { Watch(); });
  }
  ~MapWatch() { Stop(); }

  // Stops watching; afterwards the results are complete.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool Seen() const { return seen_; }
  const std::set<std::string>& MappedFiles() const { return mapped_; }

 private:
  void Watch() {
    while (!stop_) {
      std::error_code ignored;
      for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        if (fs::read_symlink(entry.path() / "exe", ignored) != program_) continue;
        seen_ = true;
        Collect(entry.path() / "maps");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // A line of the map: address range, permissions, offset, device, inode, then the file's path
  // (which may hold blanks), the only field that starts with a slash.
  void Collect(const fs::path& maps) {
    std::error_code ignored;
    if (!fs::exists(maps, ignored)) return;
    std::string text;
    try {
      text = ReadFile(maps);
    } catch (...) {
      return;  // the process has just ended
    }
    for (const std::string& line : SplitLines(text)) {
      const std::size_t slash = line.find('/');
      if (slash != std::string::npos) mapped_.insert(line.substr(slash));
    }
  }

  const std::string program_;
  std::atomic<bool> stop_ = false;
  std::atomic<bool> seen_ = false;
  std::set<std::string> mapped_;  // the watching thread's until Stop
  std::thread thread_;
};

bool Below(const std::string& path, const std::string& directory) {
  return path.rfind(directory + "/", 0) == 0;
}

constexpr char kShown[] =
    "BundleApp showed a window with the label \"Hello from a movable bundle\" from module "
    "bundle.words\n";

// The README's line that installs the desktop entry for the bundle in the directory DIR.
constexpr char kInstallEntry[] =
    R"(sed -e "s|^Path=.*|Path=$DIR|" -e "s|^Exec=.*|Exec=\"$DIR/launcher\"|" )"
    R"(-e "s|^Icon=.*|Icon=$DIR/bundle-app.png|" )"
    R"("$DIR/bundle-app.desktop" >~/.local/share/applications/bundle-app.desktop)";

class MovableBundle : public ::testing::Test {
 protected:
  RunResult Run(const std::string& program, const std::vector<std::string>& argv,
                const std::string& cwd = "") const {
    RunOptions options;
    options.argv = argv;
    options.cwd = cwd;
    options.env = {"PATH=/usr/bin:/bin", "HOME=" + dir_ / "home", "TMPDIR=" + dir_.path()};
    options.timeout_seconds = 200;
    return RunProgram(program, options);
  }

  // desktop-file-validate accepts the entry: it prints nothing and ends with 0.
  void ExpectValid(const std::string& entry) const {
    const RunResult result = Run(DESKTOP_FILE_VALIDATE, {DESKTOP_FILE_VALIDATE, entry});
    EXPECT_EQ(result.exit_code, 0) << entry << ":\n" << result.out << result.err;
    EXPECT_EQ(result.out + result.err, "") << entry;
  }

  TempDir dir_;
};

TEST_F(MovableBundle, StartsFromItsDesktopEntryAfterAMove) {
  // Packed in one place, as the build packs it, with an entry for that place.
  MakeDirs(dir_ / "made");
  const std::string made = dir_ / "made/bundle-app";
  const RunResult make = Run(
      LAUNCHER_PACK,
      {LAUNCHER_PACK, "--name", "Launcher bundle example", "--linux-package-name", "bundle-app",
       "--main-class", "bundle.app.BundleApp", "--input", BUNDLE_BUILD "/classes",
       "--module-path", BUNDLE_BUILD "/modules", "--icon", BUNDLE_ICON, "--jdk", JAVA_HOME,
       "--javafx-modules", OPENJFX_LIB, "--javafx-natives", OPENJFX_JNI, "--dest", dir_ / "made"});
  ASSERT_EQ(make.exit_code, 0) << make.out << make.err;
  ExpectValid(made + "/bundle-app.desktop");
  const DesktopEntry as_made = ReadDesktopEntry(made + "/bundle-app.desktop");
  EXPECT_EQ(as_made.path, made);
  EXPECT_EQ(as_made.exec, std::vector<std::string>{made + "/launcher"});
  EXPECT_EQ(ReadFile(made + "/init.ini"),
            "runtime\nmodules\nbundle.words,java.base,javafx.controls\nbundle.app.BundleApp\n");

  // Moved to a directory whose path holds a blank, and the entry installed for the new place by
  // the README's line.
  MakeDirs(dir_ / "moved here");
  const std::string moved = fs::canonical(dir_ / "moved here").string() + "/app";
  fs::rename(made, moved);
  fs::remove(dir_ / "made");
  MakeDirs(dir_ / "home/.local/share/applications");
  const RunResult rewrite =
      Run("/bin/sh", {"sh", "-c", std::string("DIR=$1\n") + kInstallEntry, "sh", moved});
  ASSERT_EQ(rewrite.exit_code, 0) << rewrite.err;
  EXPECT_NE(ReadFile(README).find(kInstallEntry), std::string::npos)
      << "README.md does not give the line this test runs:\n"
      << kInstallEntry;
  const std::string installed = dir_ / "home/.local/share/applications/bundle-app.desktop";
  ExpectValid(installed);
  const DesktopEntry entry = ReadDesktopEntry(installed);
  ASSERT_EQ(entry.path, moved);
  ASSERT_EQ(entry.exec, std::vector<std::string>{moved + "/launcher"});
  EXPECT_EQ(entry.icon, moved + "/bundle-app.png");
  EXPECT_TRUE(fs::is_regular_file(entry.icon)) << entry.icon;

  // Started as a desktop starts it, while the Java process's memory map is watched.
  const std::string java = moved + "/runtime/bin/java";
  MapWatch watch(java);
  std::vector<std::string> argv = {XVFB_RUN, "-a"};
  argv.insert(argv.end(), entry.exec.begin(), entry.exec.end());
  const RunResult result = Run(XVFB_RUN, argv, entry.path);
  watch.Stop();
  ASSERT_FALSE(result.timed_out);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, kShown + ("java.home " + moved + "/runtime\n")) << result.err;
  EXPECT_EQ(result.err.find("Exception"), std::string::npos) << result.err;

  ASSERT_TRUE(watch.Seen()) << "no process ran " << java;
  std::set<std::string> loaded;
  for (const std::string& file : watch.MappedFiles()) {
    const std::string name = fs::path(file).filename();
    if (kJavaFxLibraries.count(name) != 0) {
      EXPECT_TRUE(Below(file, moved + "/runtime/lib")) << "JavaFX library from outside: " << file;
      loaded.insert(name);
    }
    EXPECT_FALSE(Below(file, JAVA_HOME)) << "a file of the system's Java: " << file;
  }
  for (const char* name : {"libglass.so", "libglassgtk3.so", "libjavafx_font.so"}) {
    EXPECT_EQ(loaded.count(name), 1u)
        << name << " was not seen loaded; loaded: " << testing::PrintToString(loaded);
  }
  EXPECT_TRUE(loaded.count("libprism_es2.so") + loaded.count("libprism_sw.so") > 0)
      << "no rendering pipeline was seen loaded";
}

#endif

}  // namespace
}  // namespace e2e
