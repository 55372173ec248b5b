// The launcher's own logic, run once by start-up: learn where the launcher lives, read init.ini,
// build the Java command line, start Java and wait for its end.
#pragma once

namespace launcher {

// Runs the launch. A missing or unreadable init.ini is tolerated (the values not read stay
// empty); any other error, such as the EProcess of a Java program that cannot be found or
// started, leaves the driver unhandled. Once Java has ended, its end becomes the launcher's:
// Java's exit code is the exit status with which Shutdown ends the process, and a signal that
// ended Java ends the launcher as well (ExitCode, ExitSignal).
void RunDriver();

}  // namespace launcher
