// Byte counts as the graphs show them: a number right-aligned in five places
// followed by its unit, " B", "kB", "MB" or "GB".
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the widest text: 2^64 - 1 bytes are 17179869183GB, 13 characters.
constexpr size_t BYTETEXT_SIZE = 16;

// Writes v as "%5llu%s" into dst (size bytes, always terminated). The number
// stays at most 99998 while a larger unit is left; the divisions truncate.
void bytetext_format(char* dst, size_t size, uint64_t v);
