#pragma once

#include "app/CommandLine.h"

#include <optional>
#include <ostream>
#include <string>

// Sends a command of the command line to the recorder running in this session and
// says how it went: the exit status, 0 when done and 1 when it could not be (no
// session bus, no recorder, nothing to stop), said on err. Nothing for a --start
// that found no recorder: this process is then to become one and start itself.
std::optional<int> SendRemoteCommand(const RemoteRequest& request, const std::string& programName,
                                     std::ostream& out, std::ostream& err);
