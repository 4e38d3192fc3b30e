// The figures at /metrics in the Prometheus text exposition format 0.0.4,
// under the node exporter's names where Kelp measures the same thing.
#pragma once

#include <cstdio>

// The rest of the answer after the status and Server lines: the content type,
// the empty line and the body. Shows no more than the pages do.
void metrics_answer(FILE* out);
// The body alone.
void metrics_write(FILE* out);
