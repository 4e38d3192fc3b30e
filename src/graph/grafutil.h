// The graph canvas: a 500 x 150 PNG over gd. Plot coordinates count samples
// back from the newest (x 0..399, drawn at column 450 - x) and height above the
// baseline (y 0..99, drawn at row 125 - y); both are clamped.
//
// An image belongs to the thread that created it; only gd's font is shared.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/history.h"
#include "graph/bytetext.h"

// Samples a graph shows, one a column from x 0.
constexpr int GRAPH_SLOTS = 400;
// The seconds a graph over a ring spans.
constexpr int grafutil_span_seconds(int ring) { return GRAPH_SLOTS * history_interval(ring); }

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

// The texts of one corner of the plot, atext above btext; either may be null.
struct grafutil_label {
    const char* atext;
    const char* btext;
    int r, g, b;
};
// How every graph ends once its bars and lines are drawn: the grid over them,
// the title "<what> last <seconds> seconds" (with " (<name>)" when there is a
// name), the labels of the corners left top, center and bottom, then right
// top, center and bottom, the date stamp, and the PNG into out.
void grafutil_complete(void* image, FILE* out, const char* what, int ring, const char* name,
                       const grafutil_label (&labels)[6]);

// A label and the byte count it names, in the colour of its series.
struct grafutil_corner_text {
    const char* label;
    uint64_t bytes;
    int r, g, b;
};
// The corner labels of a graph of byte counts, each count written by the
// byte-text rule: each label above its count, but at the bottom the count
// above the label.
struct grafutil_byte_labels {
    char bytes[6][BYTETEXT_SIZE];
    grafutil_label labels[6];
    explicit grafutil_byte_labels(const grafutil_corner_text (&corners)[6]);
};

// The plot height of value on a scale where multi is one hundredth of the top:
// value / multi truncated toward zero. A scale of 0 (or NaN) gives 0, and the
// quotient is bounded to 0..100 before it becomes an int.
int grafutil_height(double value, double multi);
