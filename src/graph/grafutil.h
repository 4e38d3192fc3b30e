// The graph canvas: a 500 x 150 PNG over gd. Plot coordinates count samples
// back from the newest (x 0..399, drawn at column 450 - x) and height above the
// baseline (y 0..99, drawn at row 125 - y); both are clamped.
//
// An image belongs to the thread that created it; only gd's font is shared.
#pragma once

#include <cstdint>
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
// The title of a graph over ring: "<what> last <seconds> seconds", followed by
// " (<name>)" when there is a name.
void grafutil_span_title(void* image, const char* what, int ring, const char* name = nullptr);
void grafutil_textlefttop(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textleftcenter(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textleftbottom(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textrighttop(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textrightcenter(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_textrightbottom(void* i, const char* atext, const char* btext, int r, int g, int b);
void grafutil_dateonrightbottom(void* imageHandler);
// A label and the byte count it names, in the colour of its series.
struct grafutil_corner_text {
    const char* label;
    uint64_t bytes;
    int r, g, b;
};
// The corners of a graph of byte counts, left top, center and bottom, then
// right top, center and bottom: each label above its count, but at the bottom
// the count above the label.
void grafutil_corner_texts(void* image, const grafutil_corner_text (&corners)[6]);
// Draws the frame, writes the PNG to out, flushes out and destroys the image.
void grafutil_finish(void* imageHandler, FILE* out);

// The plot height of value on a scale where multi is one hundredth of the top:
// value / multi truncated toward zero. A scale of 0 (or NaN) gives 0, and the
// quotient is bounded to 0..100 before it becomes an int.
int grafutil_height(double value, double multi);
