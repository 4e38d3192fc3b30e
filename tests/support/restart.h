// Process-wide state back to its start, for fixtures that want a fresh daemon.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// The configuration back to its built-in values, then config_lines read as a
// file the way -f reads it (its messages to standard error are dropped); no
// interface and no CPU time remembered, the tick counter at its start, empty
// rings, and the module list registered and initialised anew.
void restart(const std::string& config_lines = "");
// Only the reading of config_lines, over what is set already.
void read_config(const std::string& config_lines);

// While it lives, what is written to the descriptor fd (1 or 2) goes to
// /dev/null.
class silenced {
public:
    explicit silenced(int fd);
    ~silenced();
    silenced(const silenced&) = delete;
    silenced& operator=(const silenced&) = delete;

private:
    int fd, saved;
};

// What write wrote to a stream.
std::string capture(const std::function<void(FILE*)>& write);
