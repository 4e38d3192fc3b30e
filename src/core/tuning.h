// What one C library alone offers to keep Kelp's memory small and its graphs
// cheap. The build picks the unit for the platform: tuning_glibc.cpp where
// the C library is glibc, tuning_none.cpp (which does nothing) elsewhere.
#pragma once

// At start-up, before any other thread exists: allocator settings.
void tuning_init();
