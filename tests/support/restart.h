// Process-wide state back to its start, for fixtures that want a fresh daemon.
#pragma once

#include <string>

// The configuration back to its built-in values, then config_lines read as a
// file the way -f reads it (its messages to standard error are dropped); no
// interface remembered, the tick counter at its start, empty rings, and the
// module list registered and initialised anew.
void restart(const std::string& config_lines = "");
