#include "check/verdict.h"

#include <string.h>

#include <vector>

#include "check/classes/files.h"
#include "check/text.h"

namespace launcher::check {
namespace {

constexpr char kJavaFxFix[] =
    "put the directory of the JavaFX modules on line 2 (with Debian's openjfx: "
    "/usr/share/openjfx/lib), and javafx.controls on line 3";

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

// The first line of `lines` that contains `needle`, with everything before `needle` dropped; an
// empty view when there is none.
std::string_view From(const std::vector<std::string_view>& lines, std::string_view needle) {
  for (std::string_view line : lines) {
    const std::size_t at = line.find(needle);
    if (at != std::string_view::npos) return line.substr(at);
  }
  return {};
}

// The text after the first `prefix` in `text`, up to the next `end` (or to its end); empty when
// `text` holds no `prefix`.
std::string_view Between(std::string_view text, std::string_view prefix, std::string_view end) {
  const std::size_t at = text.find(prefix);
  if (at == std::string_view::npos) return {};
  text.remove_prefix(at + prefix.size());
  return text.substr(0, text.find(end));
}

std::string ClassName(std::string_view internal_name) {
  std::string name(internal_name);
  for (char& c : name) {
    if (c == '/') c = '.';
  }
  return name;
}

Problem Make(int line, std::string what, std::string_view java, std::string fix,
             std::string topic) {
  Problem problem;
  problem.line = line;
  problem.subject = line == 0 ? "java" : "";
  problem.what = std::move(what);
  problem.java = std::string(java);
  problem.fix = std::move(fix);
  problem.topic = std::move(topic);
  problem.precision = Precision::kJava;
  return problem;
}

// "JDK_JAVA_OPTIONS" or "JDK_JAVA_OPTIONS and JAVA_TOOL_OPTIONS" or "A, B and C".
std::string Listed(const std::vector<std::string>& names) {
  std::string listed;
  for (std::size_t i = 0; i < names.size(); ++i) {
    listed += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  return listed;
}

std::optional<Problem> MainClassProblem(const std::vector<std::string_view>& lines,
                                        std::string_view error, const VerdictContext& context) {
  const std::string_view name = Between(error, "Error: Could not find or load main class ", "\n");
  const std::string_view cause = From(lines, "Caused by: ");
  const std::string java = std::string(error) + (cause.empty() ? "" : "\n") + std::string(cause);
  const std::string_view no_class_def = "Caused by: java.lang.NoClassDefFoundError: ";
  if (cause.starts_with(no_class_def)) {
    const std::string_view missing = Between(cause, no_class_def, " ");
    const std::string_view wrong = Between(cause, "(wrong name: ", ")");
    if (cause.find("(wrong name: ") != std::string_view::npos) {
      const std::string real = ClassName(wrong);
      return Make(4, "the class file of " + Visible(name) + " holds the class " + Printable(real),
                  java,
                  "write " + Printable(real) + " on line 4, and keep its class file at " +
                      Printable(std::string(context.class_dir) + std::string(wrong) + ".class"),
                  "main class");
    }
    if (missing.starts_with("javafx/")) {
      return Make(3, "the main class needs JavaFX, whose modules are not added", java, kJavaFxFix,
                  "javafx");
    }
    return Make(3,
                "the main class needs the class " + Printable(ClassName(missing)) +
                    ", which is in none of the modules added",
                java, "add the module that holds it on line 3, and its directory on line 2",
                "class " + ClassName(missing));
  }
  if (name.empty()) {
    return Make(4, std::string(MissingValue(4)) + ": the line is empty", java,
                std::string(FillLineFix(4)), "empty line 4");
  }
  return Make(4,
              "there is no class " + Visible(name) + " below the launcher's directory " +
                  Printable(context.class_dir) + ", nor in the modules added",
              java,
              "correct line 4: a class in a package is written with dots (app.Main), and its "
              "class file lies below the launcher's directory in the package's directories "
              "(app/Main.class)",
              "main class");
}

}  // namespace

std::string_view MissingValue(int line) {
  switch (line) {
    case 2:
      return "there is no module path";
    case 3:
      return "there are no modules to add";
    default:
      return "there is no main class";
  }
}

std::string_view FillLineFix(int line) {
  switch (line) {
    case 2:
      return "write on line 2 the directory that holds the application's modules (several are "
             "separated by \":\")";
    case 3:
      return "write on line 3 the modules to add, separated by commas (for example app.greeting)";
    default:
      return "write the main class on line 4, for example Main or app.Main";
  }
}

std::optional<Problem> JavaVerdict(const DryRun& run, const VerdictContext& context) {
  if (run.end == DryRun::End::kTimedOut) {
    std::string fix =
        "give it more time with --timeout=SECONDS on a slow or busy machine; a Java that hangs "
        "every time would hang the application as well";
    if (!context.java_options.empty()) {
      fix += "; " + Listed(context.java_options) +
             (context.java_options.size() == 1 ? " is" : " are") +
             " set, and an option there can keep Java waiting (a debugger's suspend=y, say): "
             "try without";
    }
    return Make(0,
                "Java did not finish its dry run within " +
                    std::to_string(context.timeout_seconds) + " seconds: the check stopped it",
                "", fix, "timeout");
  }
  if (run.end == DryRun::End::kSignalled) {
    const char* abbreviation = sigabbrev_np(run.status);
    return Make(0,
                "Java was ended by signal " + std::to_string(run.status) +
                    (abbreviation ? std::string(" (SIG") + abbreviation + ")" : ""),
                "", "see Java's output above; try another Java installation on line 1", "signal");
  }
  if (run.end == DryRun::End::kNotAsked) {
    return Make(0,
                "the check could not ask Java for its verdict (" + Printable(Describe(run.error)) +
                    "), so it knows less of what Java would say",
                "",
                "run the check again with more processes or descriptors allowed (ulimit -u, "
                "ulimit -n)",
                "");
  }
  if (run.end != DryRun::End::kExited || run.status == 0) return std::nullopt;

  const std::vector<std::string_view> lines = Lines(run.output);
  if (std::string_view said = From(lines, "Error: --module-path requires"); !said.empty()) {
    return Make(2, std::string(MissingValue(2)) + ": the line is empty", said,
                std::string(FillLineFix(2)), "empty line 2");
  }
  if (std::string_view said = From(lines, "Error: --add-modules requires"); !said.empty()) {
    return Make(3, std::string(MissingValue(3)) + ": the line is empty", said,
                std::string(FillLineFix(3)), "empty line 3");
  }
  if (std::string_view said = From(lines, "java.lang.module.FindException: Module ");
      !said.empty() && said.find(" not found") != std::string_view::npos) {
    // "Module NAME not found" or "Module NAME not found, required by OTHER"; a name may hold
    // blanks taken over from line 3.
    const std::size_t not_found = said.rfind(" not found");
    const std::string_view prefix = "java.lang.module.FindException: Module ";
    const std::string_view name = said.substr(prefix.size(), not_found - prefix.size());
    const std::string module = Visible(name);
    const std::size_t required = said.find(", required by ", not_found);
    if (required != std::string_view::npos) {
      const std::string by = Visible(said.substr(required + 14));
      return Make(
          2, "module " + by + " needs module " + module + ", which is not on the module path", said,
          "add the directory that holds module " + module +
              " to line 2 (directories are separated by \":\")",
          "module " + std::string(name));
    }
    return Make(3, "there is no module " + module + " on the module path of line 2", said,
                "correct the module's name on line 3, or put the directory that holds module " +
                    module + " on line 2",
                "module " + std::string(name));
  }
  if (std::string_view said = From(lines, "Error occurred during initialization of boot layer");
      !said.empty()) {
    const std::string_view next = From(lines, "java.lang.");
    return Make(2, "Java cannot set up the modules of lines 2 and 3", next.empty() ? said : next,
                "Java's message above names the module or file at fault: correct line 2 or 3",
                "boot layer");
  }
  if (std::string_view said = From(lines, "Error: Could not find or load main class ");
      !said.empty()) {
    return MainClassProblem(lines, said, context);
  }
  if (std::string_view said = From(lines, "Error: Main method not found in class ");
      !said.empty()) {
    std::string_view name = Between(said, "Error: Main method not found in class ", ",");
    return Make(4, "the class " + Visible(name) + " has no main method", said,
                "name on line 4 the class that has public static void main(String[] args)",
                "main class");
  }
  if (std::string_view said = From(lines, "Error: JavaFX runtime components are missing");
      !said.empty()) {
    return Make(3, "the main class is a JavaFX application, and JavaFX's modules are not added",
                said, kJavaFxFix, "javafx");
  }
  if (std::string_view said = From(lines, "UnsupportedClassVersionError"); !said.empty()) {
    return Make(1, "the main class was compiled for a newer Java than the one that runs it", said,
                "name a newer Java installation on line 1, or compile the application for this "
                "Java (javac --release VERSION)",
                "class version");
  }
  std::string_view unknown = From(lines, "Unrecognized option: --module-path");
  if (unknown.empty()) unknown = From(lines, "Unrecognized option: --add-modules");
  if (unknown.empty()) unknown = From(lines, "Unrecognized option: --dry-run");
  if (std::string_view said = unknown; !said.empty()) {
    return Make(1, "this Java is too old for the launcher: it knows no modules", said,
                "name a Java installation of version 9 or later on line 1", "java version");
  }
  std::string_view said = From(lines, "Unrecognized option: ");
  if (said.empty()) said = From(lines, "Error: Could not create the Java Virtual Machine.");
  if (!said.empty()) {
    if (!context.java_options.empty()) {
      Problem problem =
          Make(0, "Java cannot start with the options it takes from the environment", said,
               "correct or unset " + Listed(context.java_options), "java options");
      problem.subject = "environment";
      return problem;
    }
    return Make(1, "Java cannot start its virtual machine", said,
                "see Java's output above; try another Java installation on line 1", "java start");
  }
  return Make(0, "Java ended with exit status " + std::to_string(run.status), "",
              "see Java's output above", "java exit");
}

}  // namespace launcher::check
