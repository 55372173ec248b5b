// The launcher's own logic, run once by start-up: learn where the launcher lives, read init.ini,
// build the Java command line, start Java and wait for its end.
#pragma once

namespace launcher {

// Runs the launch. A missing or unreadable init.ini is tolerated (the values not read stay
// empty); any other error, such as the EProcess of a Java program that cannot be found or
// started, leaves the driver unhandled. Java's exit status is not looked at.
void RunDriver();

}  // namespace launcher
