// Times launcher-check's reading of what the application brings, step by step, as the check runs
// it: the module path scanned (every JAR's directory and module descriptor read), the modules
// resolved for the roots, the walk of the application's references from its main class, and the
// bounded listing of the class directory's classes. Each step runs REPEATS times; the median and
// the slowest are printed with what the step found.
//
//   classes_bench MODULE_PATH ROOTS CLASS_DIR MAIN_CLASS [REPEATS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "check/classes/module_path.h"
#include "check/classes/references.h"

namespace {

using launcher::check::ClassesBelow;
using launcher::check::FindMissingClasses;
using launcher::check::ModulePath;
using launcher::check::ReferenceScan;
using launcher::check::ResolvedModules;
using launcher::check::ScanModulePath;

void Time(const char* step, int repeats, const std::function<std::string()>& run) {
  std::vector<double> milliseconds;
  std::string found;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    found = run();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    milliseconds.push_back(took.count());
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  std::printf("%-26s median %9.3f ms  slowest %9.3f ms  %s\n", step,
              milliseconds[milliseconds.size() / 2], milliseconds.back(), found.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || argc > 6) {
    std::fprintf(stderr, "usage: classes_bench MODULE_PATH ROOTS CLASS_DIR MAIN_CLASS [REPEATS]\n");
    return 2;
  }
  const std::string module_path = argv[1];
  const std::string roots = argv[2];
  const std::string class_dir = argv[3];
  const std::string main_class = argv[4];
  const int repeats = argc == 6 ? std::max(1, std::atoi(argv[5])) : 20;

  ModulePath path;
  Time("scan the module path", repeats, [&] {
    path = ScanModulePath(module_path);
    return std::to_string(path.modules.size()) + " modules, " +
           std::to_string(path.unreadable.size()) + " unreadable";
  });
  std::set<std::string> resolved;
  Time("resolve the roots", repeats, [&] {
    resolved = ResolvedModules(path, {roots});
    return std::to_string(resolved.size()) + " resolved";
  });
  Time("walk the references", repeats, [&] {
    const ReferenceScan scan = FindMissingClasses(class_dir, main_class, path, resolved);
    std::string found =
        std::to_string(scan.classes_read) + " classes, " + std::to_string(scan.bytes_read / 1024) +
        " kB read, " + std::to_string(scan.missing.size()) + " missing" + (scan.cut ? ", cut" : "");
    if (!scan.missing.empty()) {
      found += " (" + scan.missing[0].referenced + ": " + scan.missing[0].module + ")";
    }
    return found;
  });
  Time("list the class directory", repeats, [&] {
    return std::to_string(ClassesBelow(class_dir, 1000).size()) + " classes (at most 1000)";
  });
  return 0;
}
