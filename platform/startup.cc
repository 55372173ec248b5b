#include "platform/startup.h"

#include "platform/fault.h"
#include "platform/own_path.h"
#include "platform/report.h"
#include "platform/streams.h"

namespace launcher {

void StartUp(Driver driver) {
  // Not a step of its own: an error that nothing catches ends in std::terminate, whose handler
  // takes the fallback path until step 4 has set the hooks.
  InstallUnhandledErrorHandler();
  InstallFaultSignalHandlers();
  SetUpStandardStreams();
  RecordOwnPath();
  SetUpErrorHooks();
  driver();
  Shutdown();
}

}  // namespace launcher
