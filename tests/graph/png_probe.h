// Reading back what the graph layer wrote: PNG decoding and pixel checks.
#pragma once

#include <gd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "restart.h"
#include "stat/stat_wrapper.h"

namespace png_probe {

struct gd_image_deleter {
    void operator()(gdImagePtr im) const {
        if (im) gdImageDestroy(im);
    }
};
using gd_image = std::unique_ptr<gdImage, gd_image_deleter>;

struct file_closer {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using unique_file = std::unique_ptr<FILE, file_closer>;

constexpr int rgb(int r, int g, int b) { return (r << 16) | (g << 8) | b; }

constexpr int BACKGROUND = rgb(248, 248, 248);
constexpr int WHITE = rgb(255, 255, 255);
constexpr int BLACK = rgb(0, 0, 0);
constexpr int GREY = rgb(128, 128, 128);
// The modules' series: bars and maxima, means, and the second series.
constexpr int GREEN = rgb(0, 255, 0);
constexpr int ORANGE = rgb(255, 128, 0);
constexpr int DARK_GREEN = rgb(0, 128, 0);
constexpr int BLUE = rgb(0, 0, 200);
constexpr int DARK_BLUE = rgb(0, 0, 128);

// The colour at (x, y) without the alpha bits.
int pixel(gdImagePtr im, int x, int y);

// Decodes the PNG that f holds.
gd_image decode(FILE* f);

// Runs grafutil_finish on the handle into a temporary file and decodes it.
gd_image finish_and_decode(void* handle);

// A response as a module wrote it: everything up to and including the empty
// line, and the body.
struct answer {
    int handled = 0;
    std::string header;
    std::string body;
};
answer request(const char* url, const char* param);
// The body of the answer decoded as PNG (null if it is none).
gd_image image_of(const answer& a);
// A module's graph: the request must be answered with a PNG, here decoded.
gd_image graph(const char* url, const char* param);

// True when text in colour c, drawn with gd's small font with its top-left
// corner at (x, y), is exactly what the image holds over the text's cells:
// glyph pixels in c, the rest of the cells in some other colour.
::testing::AssertionResult text_at(gdImagePtr im, int x, int y, const std::string& text, int c);

// Pixels of colour c inside the rectangle (x0, y0)..(x1, y1), inclusive.
int count(gdImagePtr im, int c, int x0 = 0, int y0 = 0, int x1 = 499, int y1 = 149);

// Pixels of colour c that text_at(x, y, text, c) accounts for.
int glyph_pixels(const std::string& text, int x, int y, int c);

// Stores n records into ring, the oldest first, so that the one made with
// age 0 ends up newest. Each record starts cleared.
void fill_ring(int ring, int n, const std::function<void(stat_struct&, int age)>& make);

// Each module graph test starts from a fresh daemon.
class module_graph : public ::testing::Test {
protected:
    void SetUp() override { restart(); }
};

// The corners grafutil_text<corner> draws at, and a pair drawn there: a above b.
enum corner_at { LEFT_TOP, LEFT_CENTER, LEFT_BOTTOM, RIGHT_TOP, RIGHT_CENTER, RIGHT_BOTTOM };
struct corner_pair {
    corner_at at;
    const char* a;
    const char* b;
    int colour;
};
// A module graph's title, centred in black on the top row, and the pairs at
// its corners: left ones end at column 46, right ones start at 454.
void expect_texts(gdImagePtr im, const std::string& title, const std::vector<corner_pair>& pairs);

// The labels of a graph of byte counts, corner by corner in the order above,
// and their colours; the bottom corners put the count above the label.
struct byte_labels {
    const char* label[6];
    int colour[6];
};
void expect_bytes(gdImagePtr im, const std::string& title, const byte_labels& labels, const char* const (&bytes)[6]);

// A graph request and what it must draw: the title and one corner pair, or,
// with no title, nothing at all and the request declined.
struct graph_case {
    const char* url;
    const char* param;
    const char* title;
    corner_pair pair;
};
void expect_graphs(const std::vector<graph_case>& cases);

}  // namespace png_probe
