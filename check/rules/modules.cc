// The rules about lines 2 and 3: the module path, the modules named, and what the application's
// classes need of them.

#include <algorithm>

#include "check/classes/files.h"
#include "check/facts.h"
#include "check/rules/rules.h"
#include "check/text.h"

namespace launcher::check {
namespace {

bool IsJavaFx(std::string_view class_name) { return class_name.starts_with("javafx."); }

// Line 3 with `root` written as `replacement`.
std::string Line3Replacing(const Configuration& configuration, const std::string& root,
                           const std::string& replacement) {
  std::string line;
  for (const std::string& other : configuration.application.roots) {
    line += (line.empty() ? "" : ",") + (other == root ? replacement : other);
  }
  return line;
}

}  // namespace

void ModulePathRule(const Configuration& configuration, Problems& problems) {
  if (!ValuesKnown(configuration)) return;
  std::string_view rest = configuration.Received(2);
  std::string missing;
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string entry(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (!entry.empty() && !Exists(entry)) missing += (missing.empty() ? "" : ", ") + Visible(entry);
  }
  if (!missing.empty()) {
    Problem& problem = problems.Add(
        2,
        "the module path names what does not exist: " + missing +
            " (Java passes over it without a word)",
        "correct line 2: directories of modules or modular JAR files, separated by \":\"; a "
        "relative one is taken from the working directory");
    problem.topic = "module path entries";
    // A module Java then does not find is most likely in the entry that is not there, unless line
    // 3 names one close to a module that is found (see ModuleNameRule).
    for (const std::string& root : UnknownRoots(configuration)) {
      if (!ClosestModule(configuration, root)) problem.claims.push_back("module " + root);
    }
  }
  for (const std::string& unreadable : configuration.application.module_path.unreadable) {
    Problem& problem =
        problems.Add(2, "Java cannot use an entry of the module path: " + Printable(unreadable),
                     "replace or remove it: Java stops at a module file it cannot read");
    problem.topic = "boot layer";
  }
}

void ModuleNameRule(const Configuration& configuration, Problems& problems) {
  const bool entry_missing = ModulePathEntryMissing(configuration);
  for (const std::string& root : UnknownRoots(configuration)) {
    const std::optional<std::string> closest = ClosestModule(configuration, root);
    if (entry_missing && !closest) continue;  // the missing entry of line 2 explains it
    Problem& problem = problems.Add(
        3,
        "there is no module " + Visible(root) +
            " on the module path of line 2, nor in the Java runtime" +
            (closest ? "; did you mean " + Visible(*closest) + "?" : ""),
        closest ? "write " + Visible(*closest) +
                      " on line 3: " + Visible(Line3Replacing(configuration, root, *closest))
                : "correct the module's name on line 3, or put the directory that holds module " +
                      Visible(root) + " on line 2");
    problem.topic = "module " + root;
    // The module meant is the one the application's classes may miss.
    if (closest) problem.claims.push_back("module " + *closest);
  }
}

void OwnModuleRule(const Configuration& configuration, Problems& problems) {
  const Application& application = configuration.application;
  if (!application.analysed || !application.own_module) return;
  const std::string& name = application.own_module->name;
  const auto named = std::find(application.roots.begin(), application.roots.end(), name);
  if (named == application.roots.end() || application.module_path.Find(name) != nullptr) return;
  // What the application's own module needs is what line 3 is for: the fix adds it, and so
  // explains that the application's classes miss it.
  std::vector<std::string> added;
  std::string needed;
  for (const std::string& required : application.own_module->required) {
    if (required == "java.base" || required == name) continue;
    const auto is_static = std::find(application.own_module->required_static.begin(),
                                     application.own_module->required_static.end(), required);
    if (is_static != application.own_module->required_static.end()) continue;
    if (std::find(application.roots.begin(), application.roots.end(), required) !=
        application.roots.end())
      continue;
    needed += "," + required;
    added.push_back("module " + required);
  }
  std::string line3 = Line3Without(configuration, name) + needed;
  if (!line3.empty() && line3.front() == ',') line3.erase(0, 1);
  Problem& problem = problems.Add(
      3,
      "module " + Visible(name) +
          " is the application's own module, whose module-info.class lies "
          "beside the launcher: its classes are on the class path, in no module, so Java does not "
          "find it as a module and it is not needed on line 3",
      line3.empty() ? "name on line 3 the modules the application uses instead (java.base when "
                      "it needs none beyond the Java runtime's)"
                    : "remove it from line 3: " + Visible(line3));
  problem.precision = Precision::kDiagnosis;
  problem.topic = "module " + name;
  problem.claims = std::move(added);
}

void MainClassModuleRule(const Configuration& configuration, Problems& problems) {
  const Application& application = configuration.application;
  if (!application.analysed || application.references.main_found ||
      application.main_class.state != MainClassFile::State::kAbsent) {
    return;
  }
  const std::string main_class = MainClassName(configuration);
  const Module* module = application.module_path.OfPackage(PackageOf(main_class));
  if (module == nullptr || application.resolved.contains(module->descriptor.name)) return;
  const std::string& name = module->descriptor.name;
  Problem& problem = problems.Add(
      3,
      "the main class " + Visible(main_class) + " is in module " + Visible(name) +
          " on the module path of line 2, which line 3 does not add",
      "add " + Visible(name) + " to line 3: " + Visible(Line3With(configuration, name)));
  problem.precision = Precision::kDiagnosis;
  problem.claims.push_back("main class");
}

void MissingClassRule(const Configuration& configuration, Problems& problems) {
  const Application& application = configuration.application;
  if (!application.analysed) return;
  const std::string main_class = MainClassName(configuration);
  for (const std::string& unreadable : application.references.unreadable) {
    // "NAME (WHERE): WHY"; the main class's own file is line 4's (see MainClassRule).
    const std::string name = unreadable.substr(0, unreadable.find(" ("));
    if (name == main_class) continue;
    Problem& problem = problems.Add(
        "classes", "Java cannot load a class the application uses: " + Printable(unreadable),
        "put in its place the class file the application was built with");
    problem.topic = "class " + name;
  }
  for (const MissingClass& missing : application.references.missing) {
    if (!missing.module.empty()) {
      Problem& problem = problems.Add(
          3,
          "the application's class " + Printable(missing.by) + " uses " +
              Printable(missing.referenced) + ", from module " + Visible(missing.module) +
              " on the module path, which line 3 does not add: Java would stop with "
              "NoClassDefFoundError when it comes to it",
          "add " + Visible(missing.module) +
              " to line 3: " + Visible(Line3With(configuration, missing.module)));
      problem.topic = "module " + missing.module;
      problem.claims.push_back("class " + missing.referenced);
      if (IsJavaFx(missing.referenced)) problem.claims.push_back("javafx");
      continue;
    }
    Problem& problem = problems.Add(
        "classes",
        "the application's class " + Printable(missing.by) + " uses " +
            Printable(missing.referenced) +
            (missing.in_module.empty()
                 ? ", which is missing from the application's classes below the launcher's "
                   "directory"
                 : ", which module " + Visible(missing.in_module) +
                       " of the module path lacks (another version of it than the one the "
                       "application was compiled against?)"),
        missing.in_module.empty()
            ? "copy all of the application's classes below the launcher's directory"
            : "put on line 2 the version of module " + Visible(missing.in_module) +
                  " the application was built with");
    problem.topic = "class " + missing.referenced;
  }
}

}  // namespace launcher::check
