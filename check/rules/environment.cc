// The rules about what surrounds the application: a display for a JavaFX application, and Java's
// own verdict on the dry run.
#include "check/facts.h"
#include "check/rules/rules.h"
#include "check/text.h"
#include "check/verdict.h"

namespace launcher::check {
namespace {

bool UsesJavaFx(const Application& application) {
  if (application.main_class.state != MainClassFile::State::kRead) return false;
  for (const std::string& referenced : application.main_class.content.references) {
    if (referenced.starts_with("javafx.")) return true;
  }
  return false;
}

}  // namespace

void DisplayRule(const Configuration& configuration, Problems& problems) {
  const Application& application = configuration.application;
  const Environment& environment = configuration.environment;
  if (!application.analysed || environment.display || environment.wayland_display) return;
  // JavaFX is there to be used: resolved from the module path, or part of the runtime.
  const bool javafx = application.resolved.contains("javafx.graphics") ||
                      application.runtime.modules.contains("javafx.graphics");
  if (!javafx || !UsesJavaFx(application)) return;
  problems.Add("environment",
               "neither DISPLAY nor WAYLAND_DISPLAY is set, and the main class uses JavaFX, which "
               "needs a display: the application would stop with \"Unable to open DISPLAY\" (this "
               "is no fault of init.ini)",
               "start the launcher in a graphical session, or give it a virtual display: "
               "xvfb-run -a " +
                   ShellWord(configuration.launcher.given));
}

void VerdictRule(const Configuration& configuration, Problems& problems) {
  if (!configuration.dry_run) return;
  std::vector<std::string> options;
  for (const auto& [name, value] : configuration.environment.java_options) options.push_back(name);
  std::optional<Problem> verdict =
      JavaVerdict(*configuration.dry_run,
                  {configuration.launcher.directory.view(),
                   static_cast<int>(configuration.timeout.count()), std::move(options)});
  if (verdict) problems.Add(std::move(*verdict));
}

}  // namespace launcher::check
