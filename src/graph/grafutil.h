// The graph canvas: a 500 x 150 PNG over gd. Plot coordinates count samples
// back from the newest (x 0..399, drawn at column 450 - x) and height above the
// baseline (y 0..99, drawn at row 125 - y); both are clamped.
//
// An image belongs to the thread that created it; only gd's font is shared.
#pragma once

#include <cstdio>

// Samples a graph shows, one a column from x 0.
constexpr int GRAPH_SLOTS = 400;
// The seconds a graph over ring 0, 1 or 2 spans: a slot holds 1, 10 or 100 seconds.
constexpr int grafutil_span_seconds(int ring) {
    return ring == 0 ? GRAPH_SLOTS : ring == 1 ? 10 * GRAPH_SLOTS : 100 * GRAPH_SLOTS;
}

void* grafutil_createimage();
void grafutil_drawbar(void* imageHandler, int x, int y, int r, int g, int b);
void grafutil_drawhline(void* imageHandler, int y, int r, int g, int b);
void grafutil_drawsegmentline(void* imageHandler, int x1, int y1, int x2, int y2, int r, int g, int b);
void grafutil_gitter(void* i);
void grafutil_title(void* imageHandler, const char* title);
void grafutil_textlefttop(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textleftcenter(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textleftbottom(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textrighttop(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textrightcenter(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textrightbottom(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_dateonrightbottom(void* imageHandler);
// Draws the frame, writes the PNG to out, flushes out and destroys the image.
void grafutil_finish(void* imageHandler, FILE* out);

// The plot height of value on a scale where multi is one hundredth of the top:
// value / multi truncated toward zero. A scale of 0 (or NaN) gives 0, and the
// quotient is bounded to 0..100 before it becomes an int.
int grafutil_height(double value, double multi);
