// The floor under Kelp's load graph: the same 500 x 150 picture drawn with
// plain gd calls, nothing else, and encoded with the same gdImagePngPtr.
// What Kelp spends per graph request beyond this is its own.
//
//   graph_reference -i KELP_PNG [-n DRAWS] [-o OUT_PNG]
//
// KELP_PNG is a /MOD_LOAD?grafinterval_1 answer from a running Kelp. The bar
// heights and the mean line are read back from its pixels, and so are the
// texts that change from graph to graph (the max, avg and cur figures and the
// date): each character cell is matched against gd's small font. Both
// programs thus draw and compress the same picture. Prints the CPU time per
// draw and encode, the size of the PNG, how many pixels differ from Kelp's
// and whether the PNG bytes are Kelp's.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <malloc.h>
#include <string>
#include <vector>

#include <gd.h>
#include <gdfonts.h>

namespace {

constexpr int BARS = 400;

int rgb(int r, int g, int b) { return gdTrueColor(r, g, b); }

// A text as it lies on the canvas: where it starts, its colour and its characters.
struct placed_text {
    int x = 0, y = 0, colour = 0;
    std::string chars;
};

struct picture {
    int height[BARS];  // bar x (0 = newest, drawn at column 450) in pixels, 0..99
    int mean;          // row of the mean line above the baseline
    placed_text max, avg, cur, date;
};

const int background = rgb(248, 248, 248);

// The character whose glyph sets exactly the cell's foreground pixels; a
// blank cell is a space. Glyphs that look alike draw alike, so the first
// match will do. -1 when no glyph fits. *colour gets the foreground colour.
int read_cell(gdImagePtr im, int x, int y, int* colour) {
    const gdFontPtr f = gdFontSmall;
    std::vector<bool> set(static_cast<size_t>(f->w * f->h));
    int found = background;
    for (int py = 0; py < f->h; ++py)
        for (int px = 0; px < f->w; ++px) {
            int c = gdImageGetTrueColorPixel(im, x + px, y + py);
            set[py * f->w + px] = c != background;
            if (c == background) continue;
            if (found != background && c != found) return -1;
            found = c;
        }
    if (found == background) return ' ';
    *colour = found;
    for (int ch = 32; ch < f->offset + f->nchars; ++ch) {
        if (ch < f->offset) continue;
        const char* glyph = f->data + (ch - f->offset) * f->w * f->h;
        bool same = true;
        for (int i = 0; same && i < f->w * f->h; ++i) same = (glyph[i] != 0) == set[i];
        if (same) return ch;
    }
    return -1;
}

// The text in the row of cells at y from column `from`, `cells` cells
// towards `step` (+1 rightwards, -1 leftwards), blanks at its far end
// dropped: a space draws nothing.
placed_text read_text(gdImagePtr im, int from, int y, int step, int cells) {
    const int w = gdFontSmall->w;
    placed_text t;
    t.y = y;
    std::string got;
    for (int i = 0; i < cells; ++i) {
        int x = step > 0 ? from + i * w : from - (i + 1) * w;
        int ch = read_cell(im, x, y, &t.colour);
        got.push_back(ch < 0 ? '?' : static_cast<char>(ch));
    }
    if (step < 0) got.assign(got.rbegin(), got.rend());
    size_t first = got.find_first_not_of(' '), last = got.find_last_not_of(' ');
    if (first == std::string::npos) return t;
    t.chars = got.substr(first, last - first + 1);
    t.x = (step > 0 ? from : from - cells * w) + static_cast<int>(first) * w;
    return t;
}

// Column 450 - x holds bar x: its top is the highest green pixel between the
// rows 26 and 125. A grid dot or the mean line on top of a bar hides its top
// pixel in Kelp's picture and in this one alike; bar 0 lies under the frame
// and is taken to equal bar 1. Column 51 has no grid dot to hide the mean line.
picture read_back(gdImagePtr im) {
    picture p{};
    const int green = rgb(0, 255, 0), orange = rgb(255, 128, 0);
    for (int x = 1; x < BARS; ++x) {
        int col = 450 - x;
        for (int row = 26; row <= 125; ++row)
            if (gdImageGetTrueColorPixel(im, col, row) == green) {
                p.height[x] = 125 - row;
                break;
            }
    }
    p.height[0] = p.height[1];
    for (int row = 26; row <= 125; ++row)
        if (gdImageGetTrueColorPixel(im, 51, row) == orange) {
            p.mean = 125 - row;
            break;
        }
    // The figures end at column 46 left of the plot and start at 454 right of
    // it; the date ends at 446 under the plot. Every cell that fits the canvas.
    const int h = gdFontSmall->h, w = gdFontSmall->w;
    p.max = read_text(im, 46, h + 28, -1, 46 / w);
    p.avg = read_text(im, 46, 76, -1, 46 / w);
    p.cur = read_text(im, 454, 76, +1, (500 - 454) / w);
    p.date = read_text(im, 446, 129, -1, 446 / w);
    return p;
}

void text(gdImagePtr im, int x, int y, const char* s, int c) {
    gdImageString(im, gdFontSmall, x, y, reinterpret_cast<unsigned char*>(const_cast<char*>(s)), c);
}

void text(gdImagePtr im, const placed_text& t) {
    if (!t.chars.empty()) text(im, t.x, t.y, t.chars.c_str(), t.colour);
}

int width(const char* s) { return static_cast<int>(std::strlen(s)) * gdFontSmall->w; }

// One graph as Kelp draws it: background, plot area, bars, mean line, grid,
// title, the labels on both sides, the date and the frame.
gdImagePtr draw(const picture& p) {
    gdImagePtr im = gdImageCreateTrueColor(500, 150);
    if (!im) return nullptr;
    gdImageFilledRectangle(im, 0, 0, 499, 149, rgb(248, 248, 248));
    gdImageFilledRectangle(im, 50, 25, 450, 125, rgb(255, 255, 255));

    const int green = rgb(0, 255, 0);
    for (int x = 0; x < BARS; ++x) gdImageLine(im, 450 - x, 125, 450 - x, 125 - p.height[x], green);
    gdImageLine(im, 50, 125 - p.mean, 449, 125 - p.mean, rgb(255, 128, 0));

    const int grey = rgb(128, 128, 128);
    for (int c = 2; c <= 396; c += 2)
        for (int row : {50, 75, 100}) gdImageSetPixel(im, 50 + c, row, grey);
    for (int c = 10; c <= 390; c += 10)
        for (int row = 27; row <= 123; row += 2) gdImageSetPixel(im, 50 + c, row, grey);

    const int h = gdFontSmall->h;
    const char* title = "System Load last 400 seconds";
    text(im, 250 - width(title) / 2, 12 - h / 2, title, rgb(0, 0, 0));

    text(im, 46 - width("max"), 25, "max", green);
    text(im, p.max);
    text(im, 46 - width("avg"), 74 - h, "avg", rgb(255, 128, 0));
    text(im, p.avg);
    text(im, 46 - width("0.00"), 122 - 2 * h, "0.00", green);
    text(im, 46 - width("min"), 125 - h, "min", green);
    text(im, 454, 74 - h, "cur", rgb(0, 128, 0));
    text(im, p.cur);
    text(im, p.date);

    gdImageRectangle(im, 50, 25, 450, 126, rgb(0, 0, 0));
    return im;
}

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    long draws = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "-i") == 0) in = argv[i + 1];
        else if (std::strcmp(argv[i], "-o") == 0) out = argv[i + 1];
        else if (std::strcmp(argv[i], "-n") == 0) draws = std::atol(argv[i + 1]);
    }
    if (!in || draws < 1 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: graph_reference -i KELP_PNG [-n DRAWS] [-o OUT_PNG]\n");
        return 2;
    }

    std::vector<char> kelp_png;
    if (FILE* f = std::fopen(in, "rb")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) kelp_png.insert(kelp_png.end(), buf, buf + n);
        std::fclose(f);
    }
    gdImagePtr kelp = kelp_png.empty() ? nullptr
                                       : gdImageCreateFromPngPtr(static_cast<int>(kelp_png.size()), kelp_png.data());
    if (!kelp || gdImageSX(kelp) != 500 || gdImageSY(kelp) != 150) {
        std::fprintf(stderr, "graph_reference: %s is not a 500 x 150 PNG\n", in);
        return 1;
    }
    const picture p = read_back(kelp);

    // One picture to compare and to measure the size of.
    gdImagePtr im = draw(p);
    if (!im) return 1;
    long differing = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 500; ++x)
            if (gdImageGetTrueColorPixel(im, x, y) != gdImageGetTrueColorPixel(kelp, x, y)) ++differing;
    int png_bytes = 0;
    void* png = gdImagePngPtr(im, &png_bytes);
    const bool same_bytes = png && static_cast<size_t>(png_bytes) == kelp_png.size() &&
                            std::memcmp(png, kelp_png.data(), kelp_png.size()) == 0;
    if (out && png) {
        if (FILE* o = std::fopen(out, "wb")) {
            std::fwrite(png, 1, static_cast<size_t>(png_bytes), o);
            std::fclose(o);
        }
    }
    gdFree(png);
    gdImageDestroy(im);
    gdImageDestroy(kelp);

    // Kelp encodes into memory and writes that into the connection's stream;
    // a stream that discards the bytes keeps the encoder's work and drops
    // only the network's.
    // The floor is gd's work on memory that stays mapped from one pass to
    // the next. With glibc's defaults every pass would give its 800 kB back
    // when it frees them and fault them in again at the next: over 160 page
    // faults a graph, which are the allocator's cost, not gd's.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    FILE* sink = std::fopen("/dev/null", "wb");
    if (!sink) {
        std::perror("/dev/null");
        return 1;
    }
    double start = cpu_seconds();
    for (long i = 0; i < draws; ++i) {
        gdImagePtr g = draw(p);
        if (!g) return 1;
        int size = 0;
        void* bytes = gdImagePngPtr(g, &size);
        gdImageDestroy(g);
        if (!bytes) return 1;
        std::fwrite(bytes, 1, static_cast<size_t>(size), sink);
        std::fflush(sink);
        gdFree(bytes);
    }
    double per_draw = (cpu_seconds() - start) / static_cast<double>(draws);
    std::fclose(sink);
    std::printf("draws=%ld cpu_us_per_graph=%.1f png_bytes=%d differing_pixels=%ld same_png_bytes=%s\n", draws,
                per_draw * 1e6, png_bytes, differing, same_bytes ? "yes" : "no");
    return 0;
}
