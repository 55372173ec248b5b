// What the launcher would do with the configuration: where it would stop, in the order it meets
// its steps, or that it starts Java. Built from the description alone (configuration.h), with the
// launcher's own failure texts (platform/process.h).
#pragma once

#include <string>

#include "check/configuration.h"
#include "platform/process.h"

namespace launcher::check {

struct Outcome {
  enum class Kind {
    kNotStarted,       // the launcher itself cannot be started, or is no launcher
    kWaits,            // it waits for the lines of init.ini (a FIFO, a terminal)
    kReadsWithoutEnd,  // it reads a line of init.ini that does not end
    kDeviceLines,      // init.ini is a device: it reads whatever lines the device gives
    kReport,           // it ends with exit status 217 and the failure report
    kStartsJava,
  };
  Kind kind = Kind::kStartsJava;
  std::string why;          // for kNotStarted, kWaits, kReadsWithoutEnd: what it would do
  std::string report_line;  // for kReport: the report's second line, "EProcess: ..."
};

// The outcome up to the start of Java; with Java's dry run in the description, a start that fails
// is part of it.
Outcome Predict(const Configuration& configuration);

// The report's second line for an error of the launcher's EProcess.
std::string ProcessReportLine(const ProcessFailureText& text);

}  // namespace launcher::check
