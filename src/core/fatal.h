// The one way out for a start-up step that cannot complete.
#pragma once

// Prints "what: why" and a line end (what alone, as it is, when why is null)
// to standard error and ends the process with status 1.
[[noreturn]] void fatal_error(const char* what, const char* why);
// The same with the system error message of errno, as perror prints it.
[[noreturn]] void fatal_perror(const char* what);
