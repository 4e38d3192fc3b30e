// The C library's defaults serve as they are.
#include "core/tuning.h"

void tuning_init() {}
