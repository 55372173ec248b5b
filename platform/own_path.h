// Where the launcher's own executable lies, from the kernel's "/proc/self/exe" link only: not
// from argument 0, PATH or the working directory.
#pragma once

#include "platform/byte_string.h"

namespace launcher {

// Reads the whole target of "/proc/self/exe", however long, into the own-path record. The record
// stays empty when the link cannot be read or its target does not begin with "/". Start-up calls
// it once, before the driver runs.
void RecordOwnPath();

// A copy of the own-path record (empty if none).
ByteString OwnPath();

// `path` up to and including its last separator ("/" or "\"), or empty when it holds none.
ByteString DirectoryPart(const ByteString& path);

}  // namespace launcher
