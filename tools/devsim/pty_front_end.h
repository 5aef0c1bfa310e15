// The device on a pseudo-terminal: the line, its timing, signals, dump and log.
#pragma once

#include "options.h"

namespace rqm5::devsim {

// Serves until SIGTERM/SIGINT or a --hangup-after; returns the exit status.
int runSimulator(const SimulatorOptions& options);

}  // namespace rqm5::devsim
