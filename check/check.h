// launcher-check: tells a person how the launcher would start the application from the current
// directory, and what keeps it from starting, using the launcher's own code for init.ini, the
// Java command line and the lookup of java.
#pragma once

namespace launcher::check {

// The command line, kept by the process entry before start-up runs the check.
void SetArguments(int argc, char** argv);

// The check, run by start-up as its driver. Writes its findings to standard output (a wrong
// command line to standard error) and sets the exit status: 0 when the launcher would start the
// application, 1 when a problem was found, 2 for a wrong command line.
void RunCheck();

}  // namespace launcher::check
