// The process entry.
#pragma once

namespace launcher {

using Driver = void (*)();

// Sets up the process, runs `driver` and ends the process through Shutdown, in this order:
//   1. FaultSignalHandler for SIGFPE, SIGSEGV, SIGBUS and SIGILL;
//   2. the standard streams (flush-each-write when a terminal);
//   3. the own-path record;
//   4. the error hooks and the pre-created error objects;
//   5. the driver;
//   6. Shutdown, with the exit status (or the signal) that the driver left in ExitCode (and
//      ExitSignal): 0 unless it set one.
// Every other signal keeps the disposition the launcher inherited, and the signal mask is left
// as it is. Start-up writes nothing, creates no file and changes no terminal attribute.
[[noreturn]] void StartUp(Driver driver);

}  // namespace launcher
